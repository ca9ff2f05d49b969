#pragma once

#include <QImage>
#include <array>
#include <cstdint>
#include <random>

#include "imaging/AdjustmentState.h"
#include "imaging/Bitmap.h"

namespace testpictures {

// The adjustments as reset leaves them, rendering at the given output size.
inline imaging::AdjustmentState resetAdjustments(int outputSize = 650) {
    imaging::AdjustmentState s;
    imaging::resetState(s);
    s.outputSize = outputSize;
    return s;
}

// An opaque bitmap whose channels, padding bytes included (they are walked like pixels), take
// the values channel() gives one after the other.
template <typename Channel>
imaging::Bitmap filledBitmap(int width, int height, int bytesPerRow, Channel channel) {
    imaging::Bitmap bitmap = imaging::Bitmap::zeroed(width, height, bytesPerRow);
    for (std::size_t i = 0; i < bitmap.byteCount(); i += 4) {
        bitmap.data()[i] = 255;
        for (std::size_t c = 1; c <= 3; ++c) bitmap.data()[i + c] = std::uint8_t(channel());
    }
    return bitmap;
}

inline imaging::Bitmap randomBitmap(int width, int height, int bytesPerRow = 0,
                                    std::uint32_t seed = 1) {
    std::mt19937 random(seed);
    return filledBitmap(width, height, bytesPerRow, [&] { return random(); });
}

inline imaging::Bitmap greyPicture(int width, int height, int grey, int bytesPerRow = 0) {
    return filledBitmap(width, height, bytesPerRow, [grey] { return grey; });
}

inline imaging::Bitmap onePixel(std::array<int, 3> rgb) {
    int c = 0;
    return filledBitmap(1, 1, 0, [&] { return rgb[std::size_t(c++)]; });
}

inline std::array<int, 3> channels(const imaging::Bitmap& bitmap, int x, int y = 0) {
    const std::uint8_t* px = bitmap.pixel(x, y);
    return {px[1], px[2], px[3]};
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
