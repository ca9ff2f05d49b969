#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

namespace share::test {

inline void appendBigEndian(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char((v >> shift) & 0xff));
}

inline void appendChunk(std::string& out, const std::string& type, const std::string& data) {
    appendBigEndian(out, std::uint32_t(data.size()));
    const std::string body = type + data;
    out += body;
    appendBigEndian(out, std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                             uInt(body.size()))));
}

// A PNG's frame: signature, IHDR, one IDAT of any bytes and IEND; enough
// for the service, which reads the header and never the pixels.
inline std::string pngBytes(std::uint32_t width, std::uint32_t height, int depth = 8,
                            int colourType = 6, const std::string& idat = std::string(64, 'x')) {
    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string ihdr;
    appendBigEndian(ihdr, width);
    appendBigEndian(ihdr, height);
    ihdr += char(depth);
    ihdr += char(colourType);
    ihdr += std::string(3, '\0');
    appendChunk(png, "IHDR", ihdr);
    appendChunk(png, "IDAT", idat);
    appendChunk(png, "IEND", "");
    return png;
}

}  // namespace share::test
