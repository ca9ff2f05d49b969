#include "platform/PictureStructure.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>

#include "platform/PngDepth.h"

namespace platform {
namespace {

std::uint32_t bigEndian32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

bool isLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

PictureFault checkHeaderChunk(const unsigned char* data, std::uint32_t length) {
    if (length != 13) return PictureFault::Damaged;
    const std::uint32_t width = bigEndian32(data);
    const std::uint32_t height = bigEndian32(data + 4);
    if (width == 0 || height == 0) return PictureFault::NoPixels;
    if (width > 0x7fffffffu || height > 0x7fffffffu) return PictureFault::Damaged;
    if (!platform::pngDepthAllowed(data[9], data[8]) || data[10] != 0 || data[11] != 0 ||
        data[12] > 1) {
        return PictureFault::Damaged;
    }
    return PictureFault::None;
}

// Chunk by chunk from the header to the end chunk, each checked against its CRC.
PictureFault checkPng(const unsigned char* data, std::size_t size) {
    std::size_t position = 8;
    bool first = true;
    bool palette = false;
    bool paletteSeen = false;
    bool dataSeen = false;
    for (;;) {
        if (size - position < 12) return PictureFault::Truncated;
        const std::uint32_t length = bigEndian32(data + position);
        const unsigned char* type = data + position + 4;
        if (length > 0x7fffffffu) return PictureFault::Damaged;
        if (!isLetter(type[0]) || !isLetter(type[1]) || !isLetter(type[2]) || !isLetter(type[3])) {
            return PictureFault::Damaged;
        }
        if (size - position - 12 < length) return PictureFault::Truncated;
        const uLong crc = crc32(crc32(0L, Z_NULL, 0), type, uInt(length + 4));
        if (crc != bigEndian32(type + 4 + length)) return PictureFault::Damaged;
        const bool header = std::memcmp(type, "IHDR", 4) == 0;
        if (first != header) return PictureFault::Damaged;
        if (header) {
            if (const PictureFault fault = checkHeaderChunk(type + 4, length);
                fault != PictureFault::None) {
                return fault;
            }
            palette = type[4 + 9] == 3;
        }
        // The decoder gives up on pixel data before the palette it needs, or on an end
        // without any pixel data.
        paletteSeen = paletteSeen || std::memcmp(type, "PLTE", 4) == 0;
        if (std::memcmp(type, "IDAT", 4) == 0) {
            if (palette && !paletteSeen) return PictureFault::Damaged;
            dataSeen = true;
        }
        if (std::memcmp(type, "IEND", 4) == 0) {
            return dataSeen ? PictureFault::None : PictureFault::Damaged;
        }
        first = false;
        position += 12 + std::size_t(length);
    }
}

bool standalone(unsigned char marker) {
    return marker == 0x01 || marker == 0xd8 || (marker >= 0xd0 && marker <= 0xd7);
}

// Marker segments up to the first scan, then the end marker somewhere after it: inside
// the scans a 0xFF byte is always followed by 0x00 or a restart marker, so an end marker
// found there is the real one, whatever follows the picture (some cameras append data).
PictureFault checkJpeg(const unsigned char* data, std::size_t size) {
    std::size_t position = 2;
    for (;;) {
        // Bytes between segments are skipped, as the decoder does (it only warns).
        while (position < size && data[position] != 0xff) ++position;
        while (position < size && data[position] == 0xff) ++position;
        if (position >= size) return PictureFault::Truncated;
        const unsigned char marker = data[position++];
        if (marker == 0xd9) return PictureFault::Damaged;  // ends before any scan
        if (standalone(marker)) continue;
        if (size - position < 2) return PictureFault::Truncated;
        const std::size_t length = std::size_t(data[position]) << 8 | data[position + 1];
        if (length < 2) return PictureFault::Damaged;
        if (size - position < length) return PictureFault::Truncated;
        position += length;
        if (marker == 0xda) break;
    }
    for (; position + 1 < size; ++position) {
        const void* found = std::memchr(data + position, 0xff, size - position - 1);
        if (found == nullptr) break;
        position = std::size_t(static_cast<const unsigned char*>(found) - data);
        if (data[position + 1] == 0xd9) return PictureFault::None;
    }
    return PictureFault::Truncated;
}

std::uint32_t littleEndian32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

unsigned littleEndian16(const unsigned char* p) { return unsigned(p[0]) | unsigned(p[1]) << 8; }

// Sub-blocks from position up to their terminating empty one; false when the data ends first.
bool skipSubBlocks(const unsigned char* data, std::size_t size, std::size_t& position) {
    for (;;) {
        if (position >= size) return false;
        const std::size_t length = data[position++];
        if (length == 0) return true;
        if (size - position < length) return false;
        position += length;
    }
}

// Block by block, so a file cut inside a block is told from one that merely lacks its
// trailer (which decoders forgive, and some encoders leave out).
PictureFault checkGif(const unsigned char* data, std::size_t size) {
    if (size < 13) return PictureFault::Truncated;
    if (littleEndian16(data + 6) == 0 || littleEndian16(data + 8) == 0) {
        return PictureFault::NoPixels;
    }
    std::size_t position = 13;
    if (data[10] & 0x80) position += 3u << ((data[10] & 7) + 1);
    bool imageSeen = false;
    for (;;) {
        if (position >= size) return imageSeen ? PictureFault::None : PictureFault::Truncated;
        const unsigned char block = data[position++];
        if (block == 0x3b) return imageSeen ? PictureFault::None : PictureFault::Damaged;
        if (block == 0x21) {
            if (position >= size) return PictureFault::Truncated;
            ++position;
        } else if (block == 0x2c) {
            if (size - position < 10) return PictureFault::Truncated;
            const unsigned char flags = data[position + 8];
            position += 9;
            if (flags & 0x80) position += 3u << ((flags & 7) + 1);
            ++position;  // the LZW code size
            imageSeen = true;
        } else {
            return PictureFault::Damaged;
        }
        if (!skipSubBlocks(data, size, position)) return PictureFault::Truncated;
    }
}

// An uncompressed bitmap holds exactly its rows after the pixel offset; compressed ones
// are left to the decoder.
PictureFault checkBmp(const unsigned char* data, std::size_t size) {
    if (size < 18) return PictureFault::Truncated;
    const std::uint32_t pixelOffset = littleEndian32(data + 10);
    const std::uint32_t headerSize = littleEndian32(data + 14);
    if (headerSize < 12) return PictureFault::Damaged;
    if (size < 14 + std::size_t(headerSize)) return PictureFault::Truncated;
    std::int64_t width = 0;
    std::int64_t height = 0;
    unsigned depth = 0;
    std::uint32_t compression = 0;
    if (headerSize == 12) {
        width = littleEndian16(data + 18);
        height = littleEndian16(data + 20);
        depth = littleEndian16(data + 24);
    } else {
        if (headerSize < 20) return PictureFault::Damaged;
        width = std::int32_t(littleEndian32(data + 18));
        height = std::int32_t(littleEndian32(data + 22));
        depth = littleEndian16(data + 28);
        compression = littleEndian32(data + 30);
    }
    if (width == 0 || height == 0) return PictureFault::NoPixels;
    if (width < 0 || (compression != 0 && compression != 3) || depth == 0 || depth > 32) {
        return PictureFault::None;
    }
    const std::uint64_t rowBytes = (std::uint64_t(width) * depth + 31) / 32 * 4;
    const std::uint64_t rows = std::uint64_t(height < 0 ? -height : height);
    if (std::uint64_t(pixelOffset) + rowBytes * rows > size) return PictureFault::Truncated;
    return PictureFault::None;
}

}  // namespace

PictureFault checkPictureStructure(const unsigned char* data, std::size_t size) {
    static const unsigned char pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size >= 8 && std::memcmp(data, pngSignature, 8) == 0) return checkPng(data, size);
    if (size >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff) {
        return checkJpeg(data, size);
    }
    if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0)) {
        return checkGif(data, size);
    }
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return checkBmp(data, size);
    return PictureFault::None;
}

}  // namespace platform
