#pragma once

#include <cmath>
#include <cstdint>

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
// a = alphaValue / 100 and b = (100 - alphaValue) / 100. Both products come
// from tables, so the sum is exactly the one the formula gives.
struct Blend {
    explicit Blend(int alphaValue);
    std::uint8_t operator()(int c, int c0) const {
        return truncToChannel(processed[c] + original[c0]);
    }
    double processed[256];
    double original[256];
};

}  // namespace imaging
