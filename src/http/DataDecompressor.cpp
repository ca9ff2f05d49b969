#include "http/DataDecompressor.h"

#include <QFile>
#include <cstring>

#include "http/CompressionBuffer.h"
#include "http/CompressionFiles.h"

namespace http {

using namespace compression;

namespace {

// Plain bytes leave the decompressor in pieces of at most this size, whatever the ratio.
constexpr qsizetype kOutputPieceSize = 256 * 1024;

}  // namespace

DataDecompressor::DataDecompressor() { std::memset(&zStream_, 0, sizeof(zStream_)); }

DataDecompressor::~DataDecompressor() {
    if (streamReady_) closeStream();
}

std::unique_ptr<DataDecompressor> DataDecompressor::decompressor() {
    auto decompressor = std::make_unique<DataDecompressor>();
    decompressor->setupStream();
    return decompressor;
}

ErrorPtr DataDecompressor::setupStream() {
    if (streamReady_) return nullptr;
    std::memset(&zStream_, 0, sizeof(zStream_));
    // 15-bit window; zlib or gzip header recognised automatically.
    const int status = inflateInit2_(&zStream_, 15 + 32, kZlibVersion, sizeof(z_stream));
    if (status != Z_OK) return inflateErrorWithCode(status);
    streamReady_ = true;
    streamEnded_ = false;
    return nullptr;
}

ErrorPtr DataDecompressor::closeStream() {
    if (!streamReady_) return nullptr;
    streamReady_ = false;
    output_ = {};
    const int status = inflateEnd(&zStream_);
    if (status != Z_OK) return inflateErrorWithCode(status);
    return nullptr;
}

QByteArray DataDecompressor::uncompressBytes(const char* bytes, quint32 length, ErrorPtr* error) {
    QByteArray output;
    const bool ok = uncompressBytes(
        bytes, length,
        [&output](const char* plain, qsizetype size) {
            output.append(plain, size);
            return true;
        },
        error);
    return ok ? output : QByteArray();
}

bool DataDecompressor::uncompressBytes(const char* bytes, quint32 length, const Sink& sink,
                                       ErrorPtr* error) {
    if (length == 0 || streamEnded_) return true;
    if (!streamReady_) {
        report(error, inflateErrorWithCode(Z_STREAM_ERROR));
        return false;
    }
    if (output_.empty()) output_.resize(kOutputPieceSize);
    zStream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
    zStream_.avail_in = length;
    for (;;) {
        zStream_.next_out = reinterpret_cast<Bytef*>(output_.data());
        zStream_.avail_out = static_cast<uInt>(output_.size());
        const int status = inflate(&zStream_, Z_NO_FLUSH);
        // Z_BUF_ERROR only says that this call could make no progress: the input is used up.
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            report(error, inflateErrorWithCode(status));
            return false;
        }
        const qsizetype produced = static_cast<qsizetype>(output_.size() - zStream_.avail_out);
        if (produced > 0 && !sink(output_.data(), produced)) return false;
        if (status == Z_STREAM_END) {
            streamEnded_ = true;
            return true;
        }
        // A buffer left with room means inflate has given all it can from this input.
        if (zStream_.avail_out != 0) return true;
    }
}

QByteArray DataDecompressor::uncompressData(const QByteArray& data, ErrorPtr* error,
                                            quint64 limit) {
    QByteArray output;
    const bool ok = uncompressData(
        data, limit,
        [&output](const char* plain, qsizetype size) {
            output.append(plain, size);
            return true;
        },
        error);
    return ok ? output : QByteArray();
}

bool DataDecompressor::uncompressData(const QByteArray& data, quint64 limit, const Sink& sink,
                                      ErrorPtr* error) {
    if (data.isEmpty()) return true;
    DataDecompressor decompressor;
    if (ErrorPtr setupError = decompressor.setupStream()) {
        report(error, setupError);
        return false;
    }
    quint64 total = 0;
    bool tooLarge = false;
    const bool ok = decompressor.uncompressBytes(
        data.constData(), static_cast<quint32>(data.size()),
        [&](const char* plain, qsizetype size) {
            total += static_cast<quint64>(size);
            if (limit != 0 && total > limit) {
                tooLarge = true;
                return false;
            }
            return sink(plain, size);
        },
        error);
    if (tooLarge) {
        report(error, sizeLimitError(limit));
        return false;
    }
    if (!ok) return false;
    if (!decompressor.streamEnded()) {
        report(error, truncatedStreamError());
        return false;
    }
    return true;
}

bool DataDecompressor::uncompressDataFromFile(const QString& sourcePath,
                                              const QString& destinationPath, ErrorPtr* error) {
    QFile destination(destinationPath);
    if (!destination.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        report(error, cannotCreateError(QStringLiteral("Decompression"), sourcePath,
                                        destinationPath, destination));
        return false;
    }
    return uncompressDataFromFile(sourcePath, destination, destinationPath, error);
}

bool DataDecompressor::uncompressDataFromFile(const QString& sourcePath, QFileDevice& destination,
                                              const QString& destinationName, ErrorPtr* error) {
    DataDecompressor decompressor;
    if (ErrorPtr setupError = decompressor.setupStream()) {
        report(error, setupError);
        return false;
    }
    FileTransform transform{
        QStringLiteral("Decompression"),
        [&](const char* bytes, quint32 length, bool, const Sink& write, ErrorPtr* pieceError) {
            return decompressor.uncompressBytes(bytes, length, write, pieceError);
        },
        [](const Sink&, ErrorPtr*) { return true; }, [&] { return decompressor.streamEnded(); },
        [&] { return decompressor.closeStream(); }};
    return transformFile(sourcePath, destination, destinationName, error, transform);
}

ErrorPtr DataDecompressor::inflateErrorWithCode(int code) {
    return Error::http(
        CompressionError,
        QStringLiteral("Decompression of data failed with code %1").arg(static_cast<short>(code)));
}

ErrorPtr DataDecompressor::truncatedStreamError() {
    return Error::http(
        CompressionError,
        QStringLiteral("Decompression of data failed because the compressed data ended early"));
}

ErrorPtr DataDecompressor::sizeLimitError(quint64 limit) {
    return Error::http(CompressionError,
                       QStringLiteral("Decompression of data failed because the inflated data is "
                                      "larger than the limit of %1 bytes")
                           .arg(limit));
}

}  // namespace http
