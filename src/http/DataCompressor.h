#pragma once

#include <zlib.h>

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

#include "http/Error.h"

namespace http {

// Turns bytes into one gzip stream, piece by piece, a whole block at once, or file to file.
class DataCompressor {
public:
    DataCompressor();
    ~DataCompressor();
    DataCompressor(const DataCompressor&) = delete;
    DataCompressor& operator=(const DataCompressor&) = delete;

    // A compressor whose stream is already set up.
    static std::unique_ptr<DataCompressor> compressor();

    ErrorPtr setupStream();
    ErrorPtr closeStream();
    bool streamReady() const { return streamReady_; }

    // The compressed bytes this piece produced (possibly none until a finishing piece).
    QByteArray compressBytes(const char* bytes, quint32 length, ErrorPtr* error, bool shouldFinish);

    static QByteArray compressData(const QByteArray& data, ErrorPtr* error);
    static bool compressDataFromFile(const QString& sourcePath, const QString& destinationPath,
                                     ErrorPtr* error);
    static ErrorPtr deflateErrorWithCode(int code);

    // Ends the gzip stream when the input ran out exactly at the end of a piece.
    QByteArray finishStream(ErrorPtr* error);

private:
    QByteArray runDeflate(const char* bytes, quint32 length, ErrorPtr* error, int flush);

    std::atomic<bool> streamReady_{false};
    z_stream zStream_;
};

}  // namespace http
