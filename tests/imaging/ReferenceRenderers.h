#pragma once

// Pixel-by-pixel renderers written straight from the description of the two
// renderers, with no tables, no threads and no shortcuts. The library's fast
// passes must give exactly the same bytes.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "imaging/AdjustmentState.h"
#include "imaging/Bitmap.h"
#include "imaging/SliderValues.h"

namespace reference {

inline int trunc(double v) { return int(v); }
inline int roundHalfAway(double v) { return int(std::round(v)); }

struct Lane {
    int value;
    bool outOfRange;
};

inline Lane lightDark(int lane, float light, float dark) {
    const double v = lane;
    double moved;
    if (128 < v && v <= 255) {
        moved = v + double(light) * ((128 - (255 - v)) / 10);
    } else {
        moved = v + double(dark) * ((128 - v) / -10);
    }
    if (moved > 255) return {255, true};
    if (moved < 0) return {0, true};
    return {trunc(moved), false};
}

// Exposure (always in the banded renderer, when switched on in the channel renderer),
// quantisation and inversion of one channel value.
inline int prepare(int v, const imaging::AdjustmentState& s, bool exposure) {
    if (exposure) {
        const double f = s.exposureValue / 100.0;
        v = v * f > 255 ? 255 : trunc(v * f);
    }
    if (s.quantOn == 1 && s.quantValue != 0) v = (v / s.quantValue) * s.quantValue;
    return s.inverseOn == 1 ? 255 - v : v;
}

// Sepia and antique round their factors; the custom tint truncates.
inline void tone(int& r, int& g, int& b, const imaging::AdjustmentState& s) {
    if (s.toneType == 1 || s.toneType == 2) {
        g = roundHalfAway(g * (s.toneType == 1 ? 0.88 : 0.93));
        b = roundHalfAway(b * (s.toneType == 1 ? 0.75 : 0.65));
    } else if (s.toneType == 3) {
        r = trunc(r * (s.tintR / 255.0));
        g = trunc(g * (s.tintG / 255.0));
        b = trunc(b * (s.tintB / 255.0));
    }
}

inline int blend(int v, int original, int alpha) {
    return trunc(v * (alpha / 100.0) + original * ((100 - alpha) / 100.0));
}

// The channel renderer on one pixel (noise off).
inline void channelPixel(std::uint8_t* px, const imaging::AdjustmentState& s,
                         const imaging::SliderValues& sl) {
    const bool exposure = s.exposureOn == 1;
    const int R0 = prepare(px[1], s, exposure), G0 = prepare(px[2], s, exposure),
              B0 = prepare(px[3], s, exposure);
    // Filters 0 to 6 make one grey of the channels; any other keeps them apart.
    const int greys[] = {(R0 + G0 + B0) / 3, R0,           G0, B0, (G0 + B0) / 2,
                         (R0 + B0) / 2,      (R0 + G0) / 2};
    const int f = s.filterType;
    const bool grey = f >= 0 && f <= 6;
    const int a = grey ? greys[f] : R0, b = grey ? greys[f] : G0, cc = grey ? greys[f] : B0;
    // One light/dark pair for all lanes, or a pair per lane.
    const bool lanes = s.colourControls != 0;
    const Lane la = lightDark(a, lanes ? sl.sliderR : sl.slider1, lanes ? sl.sliderR2 : sl.slider2);
    const Lane lb = lightDark(b, lanes ? sl.sliderG : sl.slider1, lanes ? sl.sliderG2 : sl.slider2);
    const Lane lc =
        lightDark(cc, lanes ? sl.sliderB : sl.slider1, lanes ? sl.sliderB2 : sl.slider2);
    int x = la.value, y = lb.value, z = lc.value;
    if (lanes) {
        int P = la.value, Q = lb.value, Rr = lc.value;
        if (lb.outOfRange) P = lb.value;
        if (lc.outOfRange) P = Q = lc.value;
        if (f >= 1 && f <= 3) {
            x = y = z = f == 1 ? P : f == 2 ? Q : Rr;
        } else if (f == 4) {
            x = y = (Q + Rr) / 2;
            z = (Rr + x) / 2;
        } else if (f == 5) {
            x = (P + Rr) / 2;
            y = z = (Rr + x) / 2;
        } else if (f == 6) {
            x = (P + Q) / 2;
            y = (Q + x) / 2;
            z = (y + x) / 2;
        } else {
            x = (P + Q + Rr) / 3;
            y = (Q + Rr + x) / 3;
            z = (x + Rr + y) / 3;
        }
    }
    int I = (x + y + z) / 3;
    int J = (z + y + I) / 3;
    int K = (I + z + J) / 3;
    if (s.toneOn == 1) tone(I, J, K, s);
    if (s.alphaOn == 1) {
        I = blend(I, R0, s.alphaValue);
        J = blend(J, G0, s.alphaValue);
        K = blend(K, B0, s.alphaValue);
    }
    px[1] = std::uint8_t(I);
    px[2] = std::uint8_t(J);
    px[3] = std::uint8_t(K);
}

inline void channelPass(imaging::Bitmap& bitmap, const imaging::AdjustmentState& s,
                        const imaging::SliderValues& sl) {
    for (std::size_t i = 0; i < bitmap.byteCount(); i += 4) channelPixel(bitmap.data() + i, s, sl);
}

// The grey of a channel sum l: the bands below 384 move it by -16 to -1 offsets, those from
// 384 by 1 to 16; the outermost seven bands on each side are clamped.
inline int bandGrey(int l, float slider1, float slider2) {
    static const int firstSums[] = {3,   72,  129, 177, 219, 252, 279, 300, 318, 333, 345,
                                    354, 363, 369, 375, 378, 384, 390, 393, 399, 405, 414,
                                    423, 435, 450, 468, 489, 516, 549, 591, 639, 696, 765};
    if (l == 765) return 255;
    if (l < 3) return -1;  // no change
    int band = 0;
    while (l >= firstSums[band + 1]) ++band;
    const int k = band < 16 ? band - 16 : band - 15;
    const double o = l >= 384 ? double(slider1 * 0.5f) : double(slider2 * 0.5f);
    const int g = roundHalfAway(double(l / 3) + k * o);
    if (k <= -10) return std::max(g, 0);
    if (k >= 10) return std::min(g, 255);
    return g;
}

// The banded renderer over a whole buffer (noise off), walking it linearly
// with the vignette counters.
inline void bandedPass(imaging::Bitmap& bitmap, int p, const imaging::AdjustmentState& s,
                       const imaging::SliderValues& sl) {
    const int Wb = bitmap.width(), Hb = bitmap.height();
    const int hw = Wb / 2, hh = Hb / 2;
    const int D = trunc(std::sqrt(double(hw * hw + hh * hh)));
    int x = 0, y = 1;
    for (std::size_t i = 0; i < bitmap.byteCount(); i += 4) {
        std::uint8_t* px = bitmap.data() + i;
        const int c0[3] = {prepare(px[1], s, true), prepare(px[2], s, true),
                           prepare(px[3], s, true)};
        int c[3] = {c0[0], c0[1], c0[2]};
        const int g = bandGrey(c[0] + c[1] + c[2], sl.slider1, sl.slider2);
        if (g >= 0) c[0] = c[1] = c[2] = g;
        tone(c[0], c[1], c[2], s);
        for (int k = 0; k < 3; ++k) c[k] = blend(c[k], c0[k], s.alphaValue);
        if (s.vigEnabled == 1) {
            x = x + 1;
            if (x == Wb + p + 1) {
                x = 1;
                y = y + 1;
            }
            const int dx = std::abs(x - hw), dy = std::abs(y - hh);
            const int d = trunc(std::sqrt(double(dx * dx + dy * dy)));
            const double k = 1 - (s.vigRadius / -250.0 + 0.4);
            const double t = k * (double(d) / D);
            for (int& v : c) {
                if (s.vigEffect == 2) {
                    const double f = 1 - t;
                    v = roundHalfAway(v / f) > 255 ? 255 : trunc(roundHalfAway(v / f));
                } else {
                    const double f = 1 - 1.5 * t;
                    v = roundHalfAway(v * f) < 0 ? 0 : trunc(roundHalfAway(v * f));
                }
            }
        }
        px[1] = std::uint8_t(c[0]);
        px[2] = std::uint8_t(c[1]);
        px[3] = std::uint8_t(c[2]);
    }
}

}  // namespace reference
