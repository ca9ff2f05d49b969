#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <memory>

class QImage;

namespace platform {

// The descriptive metadata of a photo (EXIF, IPTC and XMP: camera, lens,
// exposure, date taken, copyright...), read when the photo is opened and
// written into the picture a save makes, so photo libraries still sort it.
class PhotoMetadata {
public:
    // Reads the metadata of the photo file at path. Nothing when the file has
    // none or it cannot be read; the picture itself is then saved without.
    static std::shared_ptr<const PhotoMetadata> readFrom(const QString& path);

    ~PhotoMetadata();
    PhotoMetadata(const PhotoMetadata&) = delete;
    PhotoMetadata& operator=(const PhotoMetadata&) = delete;

    // Returns the encoded picture (JPEG or PNG bytes of an upright picture
    // of pixelSize) with this metadata in it, fitted to the new pixels: the
    // orientation is 1, the embedded thumbnail and the source file's own
    // layout tags are gone, the pixel dimensions are pixelSize. When the
    // metadata cannot be written, returns nothing and sets error to one line.
    QByteArray embedIn(const QByteArray& encoded, QSize pixelSize, QString* error = nullptr) const;

private:
    struct Data;
    explicit PhotoMetadata(std::unique_ptr<Data> data);
    std::unique_ptr<Data> d_;
};

// Encodes image in format ("jpeg" or "png"; quality for JPEG) and puts the
// metadata in when there is any. When only the metadata cannot be written
// the picture is still returned, without it, and warning says why.
QByteArray encodeWithMetadata(const QImage& image, const QByteArray& format, int quality,
                              const PhotoMetadata* metadata, QString* error,
                              QString* warning = nullptr);

}  // namespace platform
