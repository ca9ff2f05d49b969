#include "imaging/BitmapImage.h"

#include "imaging/OrientedCopy.h"
#include "imaging/ParallelRows.h"

namespace imaging {
namespace {

constexpr int kChunkRows = 64;

void swapRows(std::uint8_t* data, int width, int height, int bytesPerRow) {
    forEachRowChunk(height, kChunkRows, [&](int first, int end, int) {
        for (int y = first; y < end; ++y) {
            auto* px = reinterpret_cast<std::uint32_t*>(data + std::size_t(y) * bytesPerRow);
            for (int x = 0; x < width; ++x) px[x] = swapBitmapOrder(px[x]);
        }
    });
}

}  // namespace

Bitmap bitmapFromImage(const QImage& image) {
    if (image.isNull()) return {};
    QImage converted;
    const QImage* source = &image;
    if (image.format() != QImage::Format_RGB32 &&
        image.format() != QImage::Format_ARGB32_Premultiplied) {
        converted = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        source = &converted;
    }
    Bitmap bitmap = Bitmap::uninitialised(source->width(), source->height());
    orientedCopy(reinterpret_cast<const std::uint32_t*>(source->constBits()), source->width(),
                 source->height(), int(source->bytesPerLine() / 4), Orientation::Up, bitmap);
    return bitmap;
}

QImage imageFromBitmap(const Bitmap& bitmap) {
    if (bitmap.isNull()) return {};
    QImage image(bitmap.width(), bitmap.height(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return {};
    forEachRowChunk(bitmap.height(), kChunkRows, [&](int first, int end, int) {
        for (int y = first; y < end; ++y) {
            const auto* in = reinterpret_cast<const std::uint32_t*>(bitmap.row(y));
            auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
            for (int x = 0; x < bitmap.width(); ++x) out[x] = swapBitmapOrder(in[x]);
        }
    });
    return image;
}

QImage imageFromBitmap(Bitmap&& bitmap) {
    if (bitmap.isNull()) return {};
    const int width = bitmap.width();
    const int height = bitmap.height();
    const int bytesPerRow = bitmap.bytesPerRow();
    swapRows(bitmap.data(), width, height, bytesPerRow);
    std::uint8_t* data = bitmap.release().release();
    return QImage(
        data, width, height, bytesPerRow, QImage::Format_ARGB32_Premultiplied,
        [](void* buffer) { Bitmap::BufferDeleter()(static_cast<std::uint8_t*>(buffer)); }, data);
}

}  // namespace imaging
