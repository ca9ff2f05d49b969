#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace imaging {

// Conversions shared by the renderers: truncation toward zero and rounding
// half away from zero, landing on a channel value. Values outside 0..255
// (possible only with adjustments beyond the controls' ranges) are clamped so
// a channel never wraps around.
inline std::uint8_t truncToChannel(double v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    return std::uint8_t(int(v));
}

inline std::uint8_t roundToChannel(double v) { return truncToChannel(std::round(v)); }

// A pixel's four bytes in memory order, as one word for a single load or store.
inline std::uint32_t pixelWord(std::uint8_t a, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    const std::uint8_t bytes[4] = {a, r, g, b};
    std::uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
}

// The per-channel steps both renderers start with, as one table: exposure
// (when applied), quantisation and inversion.
void buildPreparationTable(std::uint8_t table[256], bool exposure, int exposureValue, bool quant,
                           int quantValue, bool inverse);

// Tone tables for one channel each: sepia and antique scale green and blue
// with rounding, a custom tint scales every channel by its component / 255.
// Type 0 (and any unknown type) leaves the channels unchanged.
void buildToneTables(std::uint8_t red[256], std::uint8_t green[256], std::uint8_t blue[256],
                     int toneType, int tintR, int tintG, int tintB);

// The final blend with the colour pixel: trunc(c * a + c0 * b) with
// a = alphaValue / 100 and b = (100 - alphaValue) / 100, for every pair of
// values, so a pixel pays three lookups instead of three sums of products.
// The table is 64 KiB, small enough to stay in the core's cache.
class Blend {
public:
    explicit Blend(int alphaValue);
    std::uint8_t operator()(int c, int c0) const { return table_[std::size_t(c) << 8 | c0]; }

private:
    std::vector<std::uint8_t> table_;
};

}  // namespace imaging
