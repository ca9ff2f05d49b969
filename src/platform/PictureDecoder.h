#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

namespace platform {

// How a stored pixel grid must be turned to be seen upright, in the camera
// world's usual order (the EXIF orientation tag maps onto these eight).
enum class PictureOrientation {
    Up = 0,
    Down = 1,
    Left = 2,   // shown after turning the grid 90 degrees counter-clockwise
    Right = 3,  // shown after turning the grid 90 degrees clockwise
    UpMirrored = 4,
    DownMirrored = 5,
    LeftMirrored = 6,
    RightMirrored = 7,
};

// A decoded photo: the pixel grid exactly as stored in the file (never turned)
// in Format_RGB32 or Format_ARGB32_Premultiplied, and its orientation.
struct DecodedPicture {
    QImage grid;
    PictureOrientation orientation = PictureOrientation::Up;
};

// The most memory one decoded picture may take, at 4 bytes a pixel. Camera
// pictures of 50 megapixels and more are real; a cap stays needed against
// files whose header claims far more pixels than they hold. Every path that
// decodes a picture checks the size against it before allocating.
inline constexpr qint64 kMaximumPictureBytes = qint64(1024) * 1024 * 1024;
bool fitsDecodeLimit(QSize size);

// What a photo file says about itself before its pixels are decoded. The
// size is checked against the decode limit, and the file's framing too, so a
// file that cannot be decoded fails here with its reason.
struct PictureHeader {
    QSize storedSize;
    PictureOrientation orientation = PictureOrientation::Up;
};
std::optional<PictureHeader> readPictureHeader(const QString& path, QString* error = nullptr);

// Decodes the photo at path into grid. When grid already has the stored
// size and Format_RGB32 (an image over the caller's own memory, say), the
// pixels land in that memory and no second full-size buffer is needed;
// otherwise grid is replaced by a new image in one of the formats below.
bool decodePictureInto(const QString& path, QImage& grid, QString* error = nullptr);

// Decodes the photo at path. On failure returns nothing and, when error is
// given, sets it to one line saying why ("cannot read x.jpg: the file is
// truncated"). The image plugins' own complaints never reach the log.
std::optional<DecodedPicture> decodePicture(const QString& path, QString* error = nullptr);

// Same, from encoded bytes held in memory.
std::optional<DecodedPicture> decodePictureData(const QByteArray& data, QString* error = nullptr);

// A small upright copy of the photo at path, at most edge pixels on its longer
// side, for the picker; a null image when it cannot be decoded.
QImage decodeThumbnail(const QString& path, int edge);

}  // namespace platform
