#include "imaging/Intake.h"

#include <algorithm>

#include "imaging/OrientedCopy.h"
#include "imaging/RenderLog.h"
#include "imaging/RowPadding.h"
#include "platform/PictureDecoder.h"

namespace imaging {
namespace {

Bitmap orientedBitmap(const QImage& grid, Orientation orientation, int bytesPerRow = 0) {
    const QSize upright = swapsSides(orientation) ? grid.size().transposed() : grid.size();
    Bitmap bitmap = Bitmap::uninitialised(upright.width(), upright.height(), bytesPerRow);
    orientedCopy(reinterpret_cast<const std::uint32_t*>(grid.constBits()), grid.width(),
                 grid.height(), int(grid.bytesPerLine() / 4), orientation, bitmap);
    return bitmap;
}

void logUpright(const Picture& picture, QSize upright) {
    qCDebug(renderLog).noquote() << QString::number(upright.height());
    qCDebug(renderLog).noquote() << QString::number(upright.width());
    switch (picture.orientation) {
        case Orientation::Up:
            qCDebug(renderLog) << "image orientation up";
            break;
        case Orientation::Down:
            qCDebug(renderLog) << "image orientation down";
            break;
        case Orientation::Left:
            qCDebug(renderLog) << "image orientation left";
            break;
        case Orientation::Right:
            qCDebug(renderLog) << "image orientation right";
            break;
        default:
            break;
    }
}

// The stored grid scaled so that, once oriented, it has the given upright size.
QImage scaledGrid(const Picture& picture, QSize uprightSize) {
    const QSize stored = swapsSides(picture.orientation) ? uprightSize.transposed() : uprightSize;
    if (stored == picture.grid.size()) return picture.grid;
    return picture.grid.scaled(stored, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

FitTarget fitTarget(double w, double h, double outputSize) {
    const double s = outputSize;
    if (w > s && h == w) return {s, s, "C"};
    if (w > s && h > w) return {(w / h) * s, s, "A"};
    if (w > s && h < w) return {s, (h / w) * s, "B"};
    if (w <= s && h > s) return {(w / h) * s, s, "D"};
    return {w, h, ""};
}

QSize fitPixels(const FitTarget& target) {
    return {std::max(1, int(target.width)), std::max(1, int(target.height))};
}

Bitmap fitToOutputSize(const Picture& picture, int outputSize, double devicePixelRatio) {
    if (picture.grid.isNull()) return {};
    const QSize upright = picture.uprightSize();
    const double pixels = outputSize * std::max(1.0, devicePixelRatio);
    const QSize size = fitPixels(fitTarget(upright.width(), upright.height(), pixels));
    const int padding = rowPadding(outputSize, float(size.width()), float(size.height()));
    return orientedBitmap(scaledGrid(picture, size), picture.orientation,
                          4 * (size.width() + padding));
}

Bitmap uprightPicture(const Picture& picture) {
    if (picture.grid.isNull()) return {};
    logUpright(picture, picture.uprightSize());
    return orientedBitmap(picture.grid, picture.orientation);
}

Bitmap uprightPictureFromFile(const QString& path, QString* error) {
    const auto header = platform::readPictureHeader(path, error);
    if (!header) return {};
    const QSize stored = header->storedSize;
    Bitmap storage = Bitmap::uninitialised(stored.width(), stored.height());
    QImage grid(storage.data(), stored.width(), stored.height(), storage.bytesPerRow(),
                QImage::Format_RGB32);
    if (!platform::decodePictureInto(path, grid, error)) return {};
    const Picture picture{grid, static_cast<Orientation>(header->orientation)};
    logUpright(picture, picture.uprightSize());
    if (picture.orientation == Orientation::Up && grid.constBits() == storage.data()) {
        // Decoded in place: only the byte order is left to change.
        orientedCopy(reinterpret_cast<const std::uint32_t*>(storage.data()), storage.width(),
                     storage.height(), storage.bytesPerRow() / 4, Orientation::Up, storage);
        return storage;
    }
    return orientedBitmap(grid, picture.orientation);
}

Bitmap uprightPicture(const Picture& picture, QSize uprightSize) {
    if (picture.grid.isNull() || uprightSize.isEmpty()) return {};
    logUpright(picture, uprightSize);
    return orientedBitmap(scaledGrid(picture, uprightSize), picture.orientation);
}

}  // namespace imaging
