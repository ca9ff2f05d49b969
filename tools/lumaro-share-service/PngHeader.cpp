#include "PngHeader.h"

#include <zlib.h>

#include <cstdint>

#include "platform/PngDepth.h"

namespace share {
namespace {

constexpr std::string_view kSignature("\x89PNG\r\n\x1a\n", 8);
constexpr std::string_view kIend("\0\0\0\0IEND\xae\x42\x60\x82", 12);

std::uint32_t bigEndian32(std::string_view bytes, std::size_t at) {
    auto b = [&](std::size_t i) {
        return std::uint32_t(static_cast<unsigned char>(bytes[at + i]));
    };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

}  // namespace

std::optional<PngSize> readPngHeader(std::string_view data) {
    // Signature, IHDR (length, type, 13 bytes, checksum), at least the IEND chunk.
    constexpr std::size_t kIhdrEnd = 8 + 4 + 4 + 13 + 4;
    if (data.size() < kIhdrEnd + kIend.size()) return std::nullopt;
    if (data.substr(0, 8) != kSignature) return std::nullopt;
    if (bigEndian32(data, 8) != 13 || data.substr(12, 4) != "IHDR") return std::nullopt;
    const auto* chunk = reinterpret_cast<const Bytef*>(data.data() + 12);
    if (crc32(crc32(0, nullptr, 0), chunk, 4 + 13) != bigEndian32(data, 29)) return std::nullopt;
    const std::uint32_t width = bigEndian32(data, 16);
    const std::uint32_t height = bigEndian32(data, 20);
    const auto depth = static_cast<unsigned char>(data[24]);
    const auto colourType = static_cast<unsigned char>(data[25]);
    const auto compression = static_cast<unsigned char>(data[26]);
    const auto filter = static_cast<unsigned char>(data[27]);
    const auto interlace = static_cast<unsigned char>(data[28]);
    if (width == 0 || height == 0 || width > 0x7fffffffu || height > 0x7fffffffu) {
        return std::nullopt;
    }
    if (!platform::pngDepthAllowed(colourType, depth) || compression != 0 || filter != 0 ||
        interlace > 1) {
        return std::nullopt;
    }
    // A cut-off transfer lacks the closing chunk.
    if (data.substr(data.size() - kIend.size()) != kIend) return std::nullopt;
    return PngSize{int(width), int(height)};
}

}  // namespace share
