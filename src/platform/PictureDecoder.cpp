#include "platform/PictureDecoder.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageIOHandler>
#include <QImageReader>
#include <QLoggingCategory>
#include <mutex>

#include "platform/PictureStructure.h"

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

QLoggingCategory::CategoryFilter previousFilter = nullptr;

// Every failure is reported once, in Lumaro's own words; the image plugins'
// lines about the same failure (or a harmless colour profile) would only repeat it.
void quietImagePlugins(QLoggingCategory* category) {
    if (previousFilter) previousFilter(category);
    if (qstrncmp(category->categoryName(), "qt.gui.imageio", 14) == 0) {
        for (QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg}) {
            category->setEnabled(type, false);
        }
    }
}

void prepareDecoding() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Formats whose header gives no size are held to the same limit by Qt itself.
        QImageReader::setAllocationLimit(int(kMaximumPictureBytes / (1024 * 1024)));
        previousFilter = QLoggingCategory::installFilter(quietImagePlugins);
    });
}

QString failure(const QString& name, const QString& reason) {
    return QStringLiteral("cannot read %1: %2").arg(name, reason);
}

QString faultReason(PictureFault fault) {
    switch (fault) {
        case PictureFault::Truncated:
            return QStringLiteral("the file is truncated");
        case PictureFault::NoPixels:
            return QStringLiteral("the picture has no pixels");
        default:
            return QStringLiteral("the picture data is damaged");
    }
}

QString readerReason(const QImageReader& reader) {
    if (reader.error() == QImageReader::UnsupportedFormatError) {
        return QStringLiteral("not a picture in a format Lumaro can open");
    }
    if (reader.error() == QImageReader::DeviceError) return reader.errorString();
    return QStringLiteral("the picture data is damaged");
}

// The encoded bytes of a picture: a file mapped into memory (read when it
// cannot be mapped), or bytes the caller holds.
class EncodedPicture {
public:
    explicit EncodedPicture(const QByteArray& bytes) : bytes_(bytes) {}
    explicit EncodedPicture(const QString& path) : file_(path) {}

    bool open(QString* reason) {
        const QFileInfo info(file_.fileName());
        if (!info.exists()) return fail(reason, QStringLiteral("no such file"));
        if (!info.isFile()) return fail(reason, QStringLiteral("not a file"));
        if (!file_.open(QIODevice::ReadOnly)) return fail(reason, file_.errorString());
        if (file_.size() == 0) return fail(reason, QStringLiteral("the file is empty"));
        if (uchar* mapped = file_.map(0, file_.size())) {
            bytes_ = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped),
                                             qsizetype(file_.size()));
        } else {
            bytes_ = file_.readAll();
        }
        return true;
    }

    // The framing, and the size the header claims, checked; the reader is
    // set up to decode.
    bool check(QString* reason) {
        if (bytes_.isEmpty()) return fail(reason, QStringLiteral("the file is empty"));
        const PictureFault fault = checkPictureStructure(
            reinterpret_cast<const unsigned char*>(bytes_.constData()), std::size_t(bytes_.size()));
        if (fault != PictureFault::None) return fail(reason, faultReason(fault));
        // A file is read through the file itself: the image plugins seek past the end of
        // damaged pictures, which a file allows quietly and a buffer complains about.
        if (file_.isOpen()) {
            file_.seek(0);
            reader_.setDevice(&file_);
        } else {
            buffer_.setBuffer(&bytes_);
            buffer_.open(QIODevice::ReadOnly);
            reader_.setDevice(&buffer_);
        }
        reader_.setAutoTransform(false);
        size_ = reader_.size();
        if (!size_.isValid() && !reader_.canRead()) return fail(reason, readerReason(reader_));
        if (size_.isValid() && size_.isEmpty()) {
            return fail(reason, QStringLiteral("the picture has no pixels"));
        }
        if (size_.isValid() && !fitsDecodeLimit(size_)) {
            return fail(reason, QStringLiteral("the picture is too large (%1 x %2 pixels, more "
                                               "than the %3 megapixels Lumaro can hold)")
                                    .arg(size_.width())
                                    .arg(size_.height())
                                    .arg(kMaximumPictureBytes / 4 / 1000000));
        }
        return true;
    }

    QImageReader& reader() { return reader_; }
    QSize size() const { return size_; }

    bool read(QImage& grid, QString* reason) {
        if (!reader_.read(&grid) || grid.isNull()) return fail(reason, readerReason(reader_));
        const QImage::Format format = grid.format();
        if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied) {
            grid.convertTo(grid.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                  : QImage::Format_RGB32);
        }
        return true;
    }

private:
    static bool fail(QString* reason, const QString& text) {
        *reason = text;
        return false;
    }

    QFile file_;
    QByteArray bytes_;
    QBuffer buffer_;
    QImageReader reader_;
    QSize size_;
};

bool report(QString* error, const QString& name, const QString& reason) {
    if (error) *error = failure(name, reason);
    return false;
}

}  // namespace

bool fitsDecodeLimit(QSize size) {
    return size.width() > 0 && size.height() > 0 &&
           qint64(size.width()) * qint64(size.height()) * 4 <= kMaximumPictureBytes;
}

std::optional<PictureHeader> readPictureHeader(const QString& path, QString* error) {
    prepareDecoding();
    EncodedPicture picture(path);
    QString reason;
    if (!picture.open(&reason) || !picture.check(&reason)) {
        report(error, path, reason);
        return std::nullopt;
    }
    if (!picture.size().isValid()) {
        report(error, path, QStringLiteral("the picture data is damaged"));
        return std::nullopt;
    }
    return PictureHeader{picture.size(), orientationOf(picture.reader().transformation())};
}

bool decodePictureInto(const QString& path, QImage& grid, QString* error) {
    prepareDecoding();
    EncodedPicture picture(path);
    QString reason;
    if (!picture.open(&reason) || !picture.check(&reason) || !picture.read(grid, &reason)) {
        return report(error, path, reason);
    }
    return true;
}

namespace {

std::optional<DecodedPicture> decode(EncodedPicture& picture, const QString& name, QString* error) {
    QString reason;
    DecodedPicture decoded;
    if (!picture.check(&reason)) {
        report(error, name, reason);
        return std::nullopt;
    }
    decoded.orientation = orientationOf(picture.reader().transformation());
    if (!picture.read(decoded.grid, &reason)) {
        report(error, name, reason);
        return std::nullopt;
    }
    return decoded;
}

}  // namespace

std::optional<DecodedPicture> decodePicture(const QString& path, QString* error) {
    prepareDecoding();
    EncodedPicture picture(path);
    QString reason;
    if (!picture.open(&reason)) {
        report(error, path, reason);
        return std::nullopt;
    }
    return decode(picture, path, error);
}

std::optional<DecodedPicture> decodePictureData(const QByteArray& data, QString* error) {
    prepareDecoding();
    EncodedPicture picture(data);
    return decode(picture, QStringLiteral("picture data"), error);
}

QImage decodeThumbnail(const QString& path, int edge) {
    prepareDecoding();
    EncodedPicture picture(path);
    QString reason;
    if (!picture.open(&reason) || !picture.check(&reason)) return {};
    QImageReader& reader = picture.reader();
    reader.setAutoTransform(true);
    // JPEG readers scale while decoding; the others decode in full and scale after.
    if (picture.size().isValid()) {
        reader.setScaledSize(picture.size().scaled(edge, edge, Qt::KeepAspectRatio));
    }
    return reader.read();
}

}  // namespace platform
