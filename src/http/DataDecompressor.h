#pragma once

#include <zlib.h>

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

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

    // Receives inflated bytes a bounded piece at a time; answers false to stop inflating.
    using Sink = std::function<bool(const char* bytes, qsizetype length)>;

    // The plain bytes this piece produced. Input after the end of the gzip stream is ignored.
    QByteArray uncompressBytes(const char* bytes, quint32 length, ErrorPtr* error);
    // The same, handing the plain bytes to sink through one fixed-size buffer, so that a small
    // piece inflating to gigabytes is never held whole. Answers false on an inflate error
    // (stored in *error) or when sink stopped it.
    bool uncompressBytes(const char* bytes, quint32 length, const Sink& sink, ErrorPtr* error);
    // True once the compressed stream has reached its end. A body that ends before its
    // stream does is cut short, however well its HTTP framing was kept.
    bool streamEnded() const { return streamEnded_; }

    // The whole of data inflated. Nothing, and the error, when it is corrupt, when it ends
    // before its stream does, or when it inflates to more than limit bytes (0: no limit).
    static QByteArray uncompressData(const QByteArray& data, ErrorPtr* error, quint64 limit = 0);
    // The same through sink, holding no more than one buffer of plain bytes at a time.
    static bool uncompressData(const QByteArray& data, quint64 limit, const Sink& sink,
                               ErrorPtr* error);
    static bool uncompressDataFromFile(const QString& sourcePath, const QString& destinationPath,
                                       ErrorPtr* error);
    // Into a file already open for writing; destinationName names it in error texts.
    static bool uncompressDataFromFile(const QString& sourcePath, QFileDevice& destination,
                                       const QString& destinationName, ErrorPtr* error);
    static ErrorPtr inflateErrorWithCode(int code);
    static ErrorPtr truncatedStreamError();
    static ErrorPtr sizeLimitError(quint64 limit);

private:
    std::atomic<bool> streamReady_{false};
    bool streamEnded_ = false;
    z_stream zStream_;
    std::vector<char> output_;
};

}  // namespace http
