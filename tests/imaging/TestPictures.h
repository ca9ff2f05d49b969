#pragma once

#include <QImage>
#include <cstdint>
#include <random>

#include "imaging/Bitmap.h"

namespace testpictures {

// A bitmap of random opaque pixels, padding bytes included (they are walked
// like pixels, so they get random values too).
inline imaging::Bitmap randomBitmap(int width, int height, int bytesPerRow = 0,
                                    std::uint32_t seed = 1) {
    imaging::Bitmap bitmap = imaging::Bitmap::zeroed(width, height, bytesPerRow);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < bitmap.byteCount(); i += 4) {
        bitmap.data()[i] = 255;
        for (int c = 1; c <= 3; ++c) bitmap.data()[i + std::size_t(c)] = std::uint8_t(random());
    }
    return bitmap;
}

// A one-row bitmap whose pixels have the given channel values.
inline imaging::Bitmap pixelRow(std::initializer_list<std::array<int, 3>> pixels) {
    imaging::Bitmap bitmap = imaging::Bitmap::zeroed(int(pixels.size()), 1);
    std::uint8_t* px = bitmap.data();
    for (const auto& p : pixels) {
        px[0] = 255;
        px[1] = std::uint8_t(p[0]);
        px[2] = std::uint8_t(p[1]);
        px[3] = std::uint8_t(p[2]);
        px += 4;
    }
    return bitmap;
}

inline std::array<int, 3> channels(const imaging::Bitmap& bitmap, int x, int y = 0) {
    const std::uint8_t* px = bitmap.pixel(x, y);
    return {px[1], px[2], px[3]};
}

inline imaging::Bitmap greyPicture(int width, int height, int grey, int bytesPerRow = 0) {
    imaging::Bitmap bitmap = imaging::Bitmap::zeroed(width, height, bytesPerRow);
    for (std::size_t i = 0; i < bitmap.byteCount(); i += 4) {
        bitmap.data()[i] = 255;
        for (int c = 1; c <= 3; ++c) bitmap.data()[i + std::size_t(c)] = std::uint8_t(grey);
    }
    return bitmap;
}

// An opaque picture whose every pixel differs from its neighbours.
inline QImage patternImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y,
                           qRgb((x * 37 + y * 11) & 255, (x * 5 + y * 71) & 255, (x ^ y) & 255));
        }
    }
    return image;
}

inline bool sameBytes(const imaging::Bitmap& a, const imaging::Bitmap& b) {
    return a.width() == b.width() && a.height() == b.height() &&
           a.bytesPerRow() == b.bytesPerRow() &&
           std::equal(a.data(), a.data() + a.byteCount(), b.data());
}

}  // namespace testpictures
