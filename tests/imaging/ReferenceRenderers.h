#pragma once

// Pixel-by-pixel renderers written straight from the description of the two
// renderers, with no tables, no threads and no shortcuts. The library's fast
// passes must give exactly the same bytes.

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
    if (s.toneType == 1) {
        g = trunc(roundHalfAway(g * 0.88));
        b = trunc(roundHalfAway(b * 0.75));
    } else if (s.toneType == 2) {
        g = trunc(roundHalfAway(g * 0.93));
        b = trunc(roundHalfAway(b * 0.65));
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
    const int R0 = prepare(px[1], s, s.exposureOn == 1), G0 = prepare(px[2], s, s.exposureOn == 1),
              B0 = prepare(px[3], s, s.exposureOn == 1);
    int a = R0, b = G0, cc = B0;
    switch (s.filterType) {
        case 0:
            a = b = cc = (R0 + G0 + B0) / 3;
            break;
        case 1:
            a = b = cc = R0;
            break;
        case 2:
            a = b = cc = G0;
            break;
        case 3:
            a = b = cc = B0;
            break;
        case 4:
            a = b = cc = (G0 + B0) / 2;
            break;
        case 5:
            a = b = cc = (R0 + B0) / 2;
            break;
        case 6:
            a = b = cc = (R0 + G0) / 2;
            break;
        default:
            break;
    }
    int x, y, z;
    if (s.colourControls == 0) {
        x = lightDark(a, sl.slider1, sl.slider2).value;
        y = lightDark(b, sl.slider1, sl.slider2).value;
        z = lightDark(cc, sl.slider1, sl.slider2).value;
    } else {
        const Lane la = lightDark(a, sl.sliderR, sl.sliderR2);
        const Lane lb = lightDark(b, sl.sliderG, sl.sliderG2);
        const Lane lc = lightDark(cc, sl.sliderB, sl.sliderB2);
        int P = la.value, Q = lb.value, Rr = lc.value;
        if (lb.outOfRange) P = lb.value;
        if (lc.outOfRange) P = Q = lc.value;
        switch (s.filterType) {
            case 1:
                x = y = z = P;
                break;
            case 2:
                x = y = z = Q;
                break;
            case 3:
                x = y = z = Rr;
                break;
            case 4: {
                const int m = (Q + Rr) / 2;
                x = m, y = m, z = (Rr + m) / 2;
                break;
            }
            case 5: {
                const int m = (P + Rr) / 2;
                const int n = (Rr + m) / 2;
                x = m, y = n, z = n;
                break;
            }
            case 6: {
                const int m = (P + Q) / 2;
                const int n = (Q + m) / 2;
                x = m, y = n, z = (n + m) / 2;
                break;
            }
            default: {
                const int sm = (P + Q + Rr) / 3;
                const int t = (Q + Rr + sm) / 3;
                x = sm, y = t, z = (sm + Rr + t) / 3;
                break;
            }
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

inline int bandGrey(int l, float slider1, float slider2) {
    const double m = l / 3;
    const double o = l >= 384 ? double(slider1 * 0.5f) : double(slider2 * 0.5f);
    struct Row {
        int first, last, k, clamp;  // clamp: 0 none, 1 max(0, .), 2 min(255, .)
    };
    static const Row rows[] = {
        {3, 71, -16, 1},    {72, 128, -15, 1},  {129, 176, -14, 1}, {177, 218, -13, 1},
        {219, 251, -12, 1}, {252, 278, -11, 1}, {279, 299, -10, 1}, {300, 317, -9, 0},
        {318, 332, -8, 0},  {333, 344, -7, 0},  {345, 353, -6, 0},  {354, 362, -5, 0},
        {363, 368, -4, 0},  {369, 374, -3, 0},  {375, 377, -2, 0},  {378, 383, -1, 0},
        {384, 389, 1, 0},   {390, 392, 2, 0},   {393, 398, 3, 0},   {399, 404, 4, 0},
        {405, 413, 5, 0},   {414, 422, 6, 0},   {423, 434, 7, 0},   {435, 449, 8, 0},
        {450, 467, 9, 0},   {468, 488, 10, 2},  {489, 515, 11, 2},  {516, 548, 12, 2},
        {549, 590, 13, 2},  {591, 638, 14, 2},  {639, 695, 15, 2},  {696, 764, 16, 2},
    };
    if (l == 765) return 255;
    for (const Row& r : rows) {
        if (l < r.first || l > r.last) continue;
        const int k = std::abs(r.k);
        int g = r.k < 0 ? roundHalfAway(m - k * o) : roundHalfAway(m + k * o);
        if (r.clamp == 1 && g < 0) g = 0;
        if (r.clamp == 2 && g > 255) g = 255;
        return g;
    }
    return -1;  // l <= 2: no change
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
