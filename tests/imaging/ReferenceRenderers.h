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

// The channel renderer on one pixel (noise off).
inline void channelPixel(std::uint8_t* px, const imaging::AdjustmentState& s,
                         const imaging::SliderValues& sl) {
    int c[3] = {px[1], px[2], px[3]};
    for (int& v : c) {
        if (s.exposureOn == 1) {
            const double f = s.exposureValue / 100.0;
            v = v * f > 255 ? 255 : trunc(v * f);
        }
        if (s.quantOn == 1 && s.quantValue != 0) v = (v / s.quantValue) * s.quantValue;
        if (s.inverseOn == 1) v = 255 - v;
    }
    const int R0 = c[0], G0 = c[1], B0 = c[2];
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
    if (s.toneOn == 1) {
        if (s.toneType == 1) {
            J = trunc(roundHalfAway(J * 0.88));
            K = trunc(roundHalfAway(K * 0.75));
        } else if (s.toneType == 2) {
            J = trunc(roundHalfAway(J * 0.93));
            K = trunc(roundHalfAway(K * 0.65));
        } else if (s.toneType == 3) {
            I = trunc(I * (s.tintR / 255.0));
            J = trunc(J * (s.tintG / 255.0));
            K = trunc(K * (s.tintB / 255.0));
        }
    }
    if (s.alphaOn == 1) {
        const double al = s.alphaValue / 100.0;
        const double be = (100 - s.alphaValue) / 100.0;
        I = trunc(I * al + R0 * be);
        J = trunc(J * al + G0 * be);
        K = trunc(K * al + B0 * be);
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
        int c[3] = {px[1], px[2], px[3]};
        for (int& v : c) {
            const double f = s.exposureValue / 100.0;
            v = v * f > 255 ? 255 : trunc(v * f);
            if (s.quantOn == 1 && s.quantValue != 0) v = (v / s.quantValue) * s.quantValue;
            if (s.inverseOn == 1) v = 255 - v;
        }
        const int c0[3] = {c[0], c[1], c[2]};
        const int g = bandGrey(c[0] + c[1] + c[2], sl.slider1, sl.slider2);
        if (g >= 0) c[0] = c[1] = c[2] = g;
        if (s.toneType == 1) {
            c[1] = trunc(roundHalfAway(c[1] * 0.88));
            c[2] = trunc(roundHalfAway(c[2] * 0.75));
        } else if (s.toneType == 2) {
            c[1] = trunc(roundHalfAway(c[1] * 0.93));
            c[2] = trunc(roundHalfAway(c[2] * 0.65));
        } else if (s.toneType == 3) {
            c[0] = trunc(c[0] * (s.tintR / 255.0));
            c[1] = trunc(c[1] * (s.tintG / 255.0));
            c[2] = trunc(c[2] * (s.tintB / 255.0));
        }
        const double a = s.alphaValue / 100.0;
        const double b = (100 - s.alphaValue) / 100.0;
        for (int k = 0; k < 3; ++k) c[k] = trunc(c[k] * a + c0[k] * b);
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
