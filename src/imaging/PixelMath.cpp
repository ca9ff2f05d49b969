#include "imaging/PixelMath.h"

namespace imaging {

void buildPreparationTable(std::uint8_t table[256], bool exposure, int exposureValue, bool quant,
                           int quantValue, bool inverse) {
    const double f = exposureValue / 100.0;
    for (int c0 = 0; c0 < 256; ++c0) {
        int c = c0;
        if (exposure) c = c * f > 255 ? 255 : truncToChannel(c * f);
        if (quant && quantValue != 0) c = (c / quantValue) * quantValue;
        if (inverse) c = 255 - c;
        table[c0] = std::uint8_t(c);
    }
}

void buildToneTables(std::uint8_t red[256], std::uint8_t green[256], std::uint8_t blue[256],
                     int toneType, int tintR, int tintG, int tintB) {
    for (int c = 0; c < 256; ++c) {
        red[c] = green[c] = blue[c] = std::uint8_t(c);
        switch (toneType) {
            case 1:
                green[c] = roundToChannel(c * 0.88);
                blue[c] = roundToChannel(c * 0.75);
                break;
            case 2:
                green[c] = roundToChannel(c * 0.93);
                blue[c] = roundToChannel(c * 0.65);
                break;
            case 3:
                red[c] = truncToChannel(c * (tintR / 255.0));
                green[c] = truncToChannel(c * (tintG / 255.0));
                blue[c] = truncToChannel(c * (tintB / 255.0));
                break;
            default:
                break;
        }
    }
}

Blend::Blend(int alphaValue) : table_(256 * 256) {
    const double a = alphaValue / 100.0;
    const double b = (100 - alphaValue) / 100.0;
    double original[256];
    for (int c0 = 0; c0 < 256; ++c0) original[c0] = c0 * b;
    for (int c = 0; c < 256; ++c) {
        const double processed = c * a;
        for (int c0 = 0; c0 < 256; ++c0) {
            table_[std::size_t(c) << 8 | c0] = truncToChannel(processed + original[c0]);
        }
    }
}

}  // namespace imaging
