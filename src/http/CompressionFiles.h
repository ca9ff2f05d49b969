#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

#include "http/Error.h"

class QFileDevice;

namespace http::compression {

// Takes output bytes as they are made; answers false when they could not be written.
using Sink = std::function<bool(const char* bytes, qsizetype length)>;

// One file-to-file pass of a compressor or decompressor, in fixed-size pieces.
struct FileTransform {
    // "Compression" or "Decompression": the first word of every error text.
    QString verb;
    // Turns one piece into output handed to write; lastPiece is set when the source ended
    // inside this piece. Answers false on failure (the error stored, unless write failed).
    std::function<bool(const char* bytes, quint32 length, bool lastPiece, const Sink& write,
                       ErrorPtr* error)>
        piece;
    // Ends the output when the source ended exactly on a piece boundary.
    std::function<bool(const Sink& write, ErrorPtr* error)> finish;
    // Whether the output is whole once the source has ended: a compressed source that stops
    // before the end of its stream is not.
    std::function<bool()> complete;
    // Releases the zlib stream; answers its error, if any.
    std::function<ErrorPtr()> close;
};

bool transformFile(const QString& sourcePath, const QString& destinationPath, ErrorPtr* error,
                   const FileTransform& transform);
// Into a file already open for writing; destinationName names it in error texts.
bool transformFile(const QString& sourcePath, QFileDevice& destination,
                   const QString& destinationName, ErrorPtr* error, const FileTransform& transform);

// "<verb> of <source> failed because we were to create a file at <destination>".
ErrorPtr cannotCreateError(const QString& verb, const QString& sourcePath,
                           const QString& destinationPath, const QFileDevice& destination);

}  // namespace http::compression
