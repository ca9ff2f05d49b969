// Feeds arbitrary bytes to the decompressor, whole and in arbitrary pieces, and checks that
// both ways agree, that plain bytes leave it in bounded pieces, that a limit holds, and that
// only a stream that reached its end counts as whole.

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

#include "http/DataDecompressor.h"

using http::DataDecompressor;
using http::ErrorPtr;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// Keeps a fuzzer's bomb from filling memory: past this the sink stops the inflation.
constexpr qsizetype kMostKept = 1024 * 1024;
constexpr qsizetype kLargestPiece = 256 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t piece = 1 + data[0] * 37u + data[1];
    const quint64 limit = (data[0] & 1) ? 0 : quint64(data[1]) * 4096;
    const QByteArray input(reinterpret_cast<const char*>(data + 2),
                           static_cast<qsizetype>(size - 2));

    ErrorPtr wholeError;
    QByteArray whole;
    bool stopped = false;
    const bool wholeOk = DataDecompressor::uncompressData(
        input, limit,
        [&](const char* bytes, qsizetype length) {
            check(length > 0 && length <= kLargestPiece);
            if (whole.size() + length > kMostKept) {
                stopped = true;
                return false;
            }
            whole.append(bytes, length);
            return true;
        },
        &wholeError);
    check(wholeOk != (wholeError != nullptr) || stopped);
    if (wholeOk && limit != 0) check(static_cast<quint64>(whole.size()) <= limit);
    if (wholeError) check(wholeError->code == http::CompressionError);

    DataDecompressor decompressor;
    check(!decompressor.setupStream());
    QByteArray pieces;
    bool piecesOk = true;
    for (qsizetype at = 0; at < input.size() && piecesOk; at += static_cast<qsizetype>(piece)) {
        const QByteArray part = input.mid(at, static_cast<qsizetype>(piece));
        ErrorPtr error;
        piecesOk = decompressor.uncompressBytes(
            part.constData(), static_cast<quint32>(part.size()),
            [&](const char* bytes, qsizetype length) {
                check(length > 0 && length <= kLargestPiece);
                if (pieces.size() + length > kMostKept) return false;
                pieces.append(bytes, length);
                return true;
            },
            &error);
        if (!piecesOk && error) check(error->code == http::CompressionError);
    }
    // Unlimited and not stopped, the two ways must tell the same story.
    if (limit == 0 && !stopped && piecesOk && pieces.size() < kMostKept) {
        check(wholeOk == (input.isEmpty() || decompressor.streamEnded()));
        check(pieces == whole);
    }
    if (wholeOk && limit == 0 && !stopped && !input.isEmpty()) {
        check(decompressor.streamEnded() || !piecesOk);
        // The piece operation that returns bytes agrees with the one that hands them on.
        DataDecompressor again;
        check(!again.setupStream());
        ErrorPtr error;
        const QByteArray returned =
            again.uncompressBytes(input.constData(), static_cast<quint32>(input.size()), &error);
        check(!error && returned == whole);
    }
    return 0;
}
