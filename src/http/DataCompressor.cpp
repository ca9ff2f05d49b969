#include "http/DataCompressor.h"

#include <cstring>

#include "http/CompressionBuffer.h"
#include "http/CompressionFiles.h"

namespace http {

using namespace compression;

DataCompressor::DataCompressor() { std::memset(&zStream_, 0, sizeof(zStream_)); }

DataCompressor::~DataCompressor() {
    if (streamReady_) closeStream();
}

std::unique_ptr<DataCompressor> DataCompressor::compressor() {
    auto compressor = std::make_unique<DataCompressor>();
    compressor->setupStream();
    return compressor;
}

ErrorPtr DataCompressor::setupStream() {
    if (streamReady_) return nullptr;
    std::memset(&zStream_, 0, sizeof(zStream_));
    // Default level, deflate, 15-bit window with gzip header and trailer, memory level 8.
    const int status = deflateInit2_(&zStream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                                     Z_DEFAULT_STRATEGY, kZlibVersion, sizeof(z_stream));
    if (status != Z_OK) return deflateErrorWithCode(status);
    streamReady_ = true;
    return nullptr;
}

ErrorPtr DataCompressor::closeStream() {
    if (!streamReady_) return nullptr;
    streamReady_ = false;
    const int status = deflateEnd(&zStream_);
    if (status != Z_OK) return deflateErrorWithCode(status);
    return nullptr;
}

QByteArray DataCompressor::compressBytes(const char* bytes, quint32 length, ErrorPtr* error,
                                         bool shouldFinish) {
    if (length == 0) return {};
    return runDeflate(bytes, length, error, shouldFinish ? Z_FINISH : Z_NO_FLUSH);
}

QByteArray DataCompressor::finishStream(ErrorPtr* error) {
    return runDeflate(nullptr, 0, error, Z_FINISH);
}

QByteArray DataCompressor::runDeflate(const char* bytes, quint32 length, ErrorPtr* error,
                                      int flush) {
    const qsizetype growth = growthFor(length);
    QByteArray output(length / 2, Qt::Uninitialized);
    zStream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
    zStream_.avail_in = length;
    zStream_.avail_out = 0;
    const uLong start = zStream_.total_out;
    while (zStream_.avail_out == 0) {
        const qsizetype produced = static_cast<qsizetype>(zStream_.total_out - start);
        if (produced >= output.size()) output.resize(output.size() + growth);
        zStream_.next_out = reinterpret_cast<Bytef*>(output.data() + produced);
        zStream_.avail_out = static_cast<uInt>(output.size() - produced);
        const int status = deflate(&zStream_, flush);
        if (status == Z_STREAM_END) break;
        if (status != Z_OK) {
            report(error, deflateErrorWithCode(status));
            return {};
        }
    }
    output.resize(static_cast<qsizetype>(zStream_.total_out - start));
    return output;
}

QByteArray DataCompressor::compressData(const QByteArray& data, ErrorPtr* error) {
    DataCompressor compressor;
    if (ErrorPtr setupError = compressor.setupStream()) {
        report(error, setupError);
        return {};
    }
    ErrorPtr pieceError;
    QByteArray result = compressor.compressBytes(
        data.constData(), static_cast<quint32>(data.size()), &pieceError, true);
    if (pieceError) {
        report(error, pieceError);
        return {};
    }
    return result;
}

bool DataCompressor::compressDataFromFile(const QString& sourcePath, const QString& destinationPath,
                                          ErrorPtr* error) {
    DataCompressor compressor;
    if (ErrorPtr setupError = compressor.setupStream()) {
        report(error, setupError);
        return false;
    }
    // Deflate output is never much larger than its input: each piece is written whole.
    const auto written = [](const QByteArray& output, const Sink& write, ErrorPtr* pieceError,
                            const ErrorPtr& made) {
        if (made) {
            report(pieceError, made);
            return false;
        }
        return output.isEmpty() || write(output.constData(), output.size());
    };
    FileTransform transform{QStringLiteral("Compression"),
                            [&](const char* bytes, quint32 length, bool lastPiece,
                                const Sink& write, ErrorPtr* pieceError) {
                                ErrorPtr made;
                                const QByteArray output =
                                    compressor.compressBytes(bytes, length, &made, lastPiece);
                                return written(output, write, pieceError, made);
                            },
                            [&](const Sink& write, ErrorPtr* finishError) {
                                ErrorPtr made;
                                const QByteArray output = compressor.finishStream(&made);
                                return written(output, write, finishError, made);
                            },
                            [] { return true; }, [&] { return compressor.closeStream(); }};
    return transformFile(sourcePath, destinationPath, error, transform);
}

ErrorPtr DataCompressor::deflateErrorWithCode(int code) {
    return Error::http(
        CompressionError,
        QStringLiteral("Compression of data failed with code %1").arg(static_cast<short>(code)));
}

}  // namespace http
