#include "imaging/Picture.h"

#include "platform/PictureDecoder.h"

namespace imaging {

QSize Picture::uprightSize() const {
    const QSize stored = grid.size();
    return swapsSides(orientation) ? stored.transposed() : stored;
}

std::optional<Picture> Picture::fromFile(const QString& path, QString* error) {
    auto decoded = platform::decodePicture(path, error);
    if (!decoded) return std::nullopt;
    return Picture{std::move(decoded->grid), static_cast<Orientation>(decoded->orientation),
                   platform::PhotoMetadata::readFrom(path)};
}

Picture Picture::fromImage(QImage grid, Orientation orientation) {
    const QImage::Format format = grid.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied) {
        grid.convertTo(grid.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                              : QImage::Format_RGB32);
    }
    return Picture{std::move(grid), orientation, nullptr};
}

}  // namespace imaging
