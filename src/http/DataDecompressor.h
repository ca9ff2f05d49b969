#pragma once

#include <zlib.h>

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

#include "http/Error.h"

namespace http {

// Turns gzip or zlib data back into plain bytes, piece by piece, whole, or file to file.
class DataDecompressor {
public:
    DataDecompressor();
    ~DataDecompressor();
    DataDecompressor(const DataDecompressor&) = delete;
    DataDecompressor& operator=(const DataDecompressor&) = delete;

    // A decompressor whose stream is already set up.
    static std::unique_ptr<DataDecompressor> decompressor();

    ErrorPtr setupStream();
    ErrorPtr closeStream();
    bool streamReady() const { return streamReady_; }

    // The plain bytes this piece produced. Input after the end of the gzip stream is ignored.
    QByteArray uncompressBytes(const char* bytes, quint32 length, ErrorPtr* error);

    static QByteArray uncompressData(const QByteArray& data, ErrorPtr* error);
    static bool uncompressDataFromFile(const QString& sourcePath, const QString& destinationPath,
                                       ErrorPtr* error);
    static ErrorPtr inflateErrorWithCode(int code);

private:
    std::atomic<bool> streamReady_{false};
    z_stream zStream_;
};

}  // namespace http
