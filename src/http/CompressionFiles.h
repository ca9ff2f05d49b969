#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

#include "http/Error.h"

namespace http::compression {

// One file-to-file pass of a compressor or decompressor, in fixed-size pieces.
struct FileTransform {
    // "Compression" or "Decompression": the first word of every error text.
    QString verb;
    // Turns one piece into output; lastPiece is set when the source ended inside this piece.
    std::function<QByteArray(const char* bytes, quint32 length, bool lastPiece, ErrorPtr* error)>
        piece;
    // Ends the output when the source ended exactly on a piece boundary (may be empty).
    std::function<QByteArray(ErrorPtr* error)> finish;
    // Releases the zlib stream; answers its error, if any.
    std::function<ErrorPtr()> close;
};

bool transformFile(const QString& sourcePath, const QString& destinationPath, ErrorPtr* error,
                   const FileTransform& transform);

}  // namespace http::compression
