#include "platform/PictureDecoder.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>

namespace platform {
namespace {

// Qt names the EXIF orientations as the transformation that makes the grid
// upright; each one is exactly one of the eight orientations.
PictureOrientation orientationOf(QImageIOHandler::Transformations t) {
    switch (int(t)) {
        case QImageIOHandler::TransformationRotate180:
            return PictureOrientation::Down;
        case QImageIOHandler::TransformationRotate270:
            return PictureOrientation::Left;
        case QImageIOHandler::TransformationRotate90:
            return PictureOrientation::Right;
        case QImageIOHandler::TransformationMirror:
            return PictureOrientation::UpMirrored;
        case QImageIOHandler::TransformationFlip:
            return PictureOrientation::DownMirrored;
        case QImageIOHandler::TransformationFlipAndRotate90:
            return PictureOrientation::LeftMirrored;
        case QImageIOHandler::TransformationMirrorAndRotate90:
            return PictureOrientation::RightMirrored;
        default:
            return PictureOrientation::Up;
    }
}

// Camera pictures of 50 megapixels and more are real; Qt's default cap of
// 128 MB would refuse them, while a cap stays useful against decompression bombs.
constexpr int kAllocationLimitMegabytes = 1024;

std::optional<DecodedPicture> decode(QImageReader& reader, const QString& name, QString* error) {
    QImageReader::setAllocationLimit(kAllocationLimitMegabytes);
    reader.setAutoTransform(false);
    DecodedPicture picture;
    picture.orientation = orientationOf(reader.transformation());
    if (!reader.read(&picture.grid) || picture.grid.isNull()) {
        if (error) *error = QStringLiteral("cannot read %1: %2").arg(name, reader.errorString());
        return std::nullopt;
    }
    const QImage::Format format = picture.grid.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied) {
        picture.grid.convertTo(picture.grid.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                              : QImage::Format_RGB32);
    }
    return picture;
}

bool isFile(const QString& path, QString* error) {
    if (QFileInfo(path).isFile()) return true;
    if (error) *error = QStringLiteral("cannot read %1: no such file").arg(path);
    return false;
}

}  // namespace

std::optional<PictureHeader> readPictureHeader(const QString& path, QString* error) {
    if (!isFile(path, error)) return std::nullopt;
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!reader.canRead() || !size.isValid()) {
        if (error) *error = QStringLiteral("cannot read %1: %2").arg(path, reader.errorString());
        return std::nullopt;
    }
    return PictureHeader{size, orientationOf(reader.transformation())};
}

bool decodePictureInto(const QString& path, QImage& grid, QString* error) {
    if (!isFile(path, error)) return false;
    QImageReader::setAllocationLimit(kAllocationLimitMegabytes);
    QImageReader reader(path);
    reader.setAutoTransform(false);
    if (!reader.read(&grid) || grid.isNull()) {
        if (error) *error = QStringLiteral("cannot read %1: %2").arg(path, reader.errorString());
        return false;
    }
    const QImage::Format format = grid.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied) {
        grid.convertTo(grid.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                              : QImage::Format_RGB32);
    }
    return true;
}

std::optional<DecodedPicture> decodePicture(const QString& path, QString* error) {
    if (!isFile(path, error)) return std::nullopt;
    QImageReader reader(path);
    return decode(reader, path, error);
}

std::optional<DecodedPicture> decodePictureData(const QByteArray& data, QString* error) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return decode(reader, QStringLiteral("picture data"), error);
}

}  // namespace platform
