#include "http/DataDecompressor.h"

#include <cstring>

#include "http/CompressionBuffer.h"
#include "http/CompressionFiles.h"

namespace http {

using namespace compression;

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
    return nullptr;
}

ErrorPtr DataDecompressor::closeStream() {
    if (!streamReady_) return nullptr;
    streamReady_ = false;
    const int status = inflateEnd(&zStream_);
    if (status != Z_OK) return inflateErrorWithCode(status);
    return nullptr;
}

QByteArray DataDecompressor::uncompressBytes(const char* bytes, quint32 length, ErrorPtr* error) {
    if (length == 0) return {};
    const qsizetype growth = growthFor(length);
    QByteArray output(length + length / 2, Qt::Uninitialized);
    zStream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
    zStream_.avail_in = length;
    zStream_.avail_out = 0;
    const uLong start = zStream_.total_out;
    // Output inflate still holds when the input runs out comes with the next piece: a
    // complete stream always has its trailer after the last deflated byte.
    while (zStream_.avail_in != 0) {
        const qsizetype produced = static_cast<qsizetype>(zStream_.total_out - start);
        if (produced >= output.size()) output.resize(output.size() + growth);
        zStream_.next_out = reinterpret_cast<Bytef*>(output.data() + produced);
        zStream_.avail_out = static_cast<uInt>(output.size() - produced);
        const int status = inflate(&zStream_, Z_NO_FLUSH);
        if (status == Z_STREAM_END) break;
        if (status != Z_OK) {
            report(error, inflateErrorWithCode(status));
            return {};
        }
    }
    output.resize(static_cast<qsizetype>(zStream_.total_out - start));
    return output;
}

QByteArray DataDecompressor::uncompressData(const QByteArray& data, ErrorPtr* error) {
    DataDecompressor decompressor;
    if (ErrorPtr setupError = decompressor.setupStream()) {
        report(error, setupError);
        return {};
    }
    ErrorPtr pieceError;
    QByteArray result = decompressor.uncompressBytes(
        data.constData(), static_cast<quint32>(data.size()), &pieceError);
    if (pieceError) {
        report(error, pieceError);
        return {};
    }
    return result;
}

bool DataDecompressor::uncompressDataFromFile(const QString& sourcePath,
                                              const QString& destinationPath, ErrorPtr* error) {
    DataDecompressor decompressor;
    if (ErrorPtr setupError = decompressor.setupStream()) {
        report(error, setupError);
        return false;
    }
    FileTransform transform{QStringLiteral("Decompression"),
                            [&](const char* bytes, quint32 length, bool, ErrorPtr* pieceError) {
                                return decompressor.uncompressBytes(bytes, length, pieceError);
                            },
                            [](ErrorPtr*) { return QByteArray(); },
                            [&] { return decompressor.closeStream(); }};
    return transformFile(sourcePath, destinationPath, error, transform);
}

ErrorPtr DataDecompressor::inflateErrorWithCode(int code) {
    return Error::http(
        CompressionError,
        QStringLiteral("Decompression of data failed with code %1").arg(static_cast<short>(code)));
}

}  // namespace http
