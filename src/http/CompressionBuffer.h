#pragma once

#include <QtGlobal>

namespace http::compression {

// Files are read in pieces of this size, so no file is ever held whole in memory.
inline constexpr qint64 kFilePieceSize = 262144;

// The zlib version named to its initialisers; zlib only checks the major number.
inline constexpr const char* kZlibVersion = "1.2.5";

// How much an output buffer grows when full: half the input, but never less than this,
// so that a one-byte input can still make room for zlib's headers and trailers.
inline constexpr qsizetype kMinimumGrowth = 1024;

inline qsizetype growthFor(quint32 inputLength) {
    return qMax<qsizetype>(inputLength / 2, kMinimumGrowth);
}

}  // namespace http::compression
