#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>

namespace testpictures {

// The image as a file of the given format ("jpeg", "png", ...); quality -1 is the format's default.
inline QByteArray encoded(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// A JPEG of the image carrying an EXIF block whose orientation tag is
// exifOrientation (1 to 8), as cameras write it.
inline QByteArray jpegWithOrientation(const QImage& image, int exifOrientation) {
    QByteArray jpeg = encoded(image, "jpeg", 90);
    // APP1 "Exif", little-endian TIFF header, one IFD entry: tag 0x0112, SHORT, count 1.
    QByteArray app1 = QByteArray::fromHex("FFE10022") + QByteArray("Exif\0\0", 6) +
                      QByteArray::fromHex(
                          "49492A0008000000"
                          "0100"
                          "120103000100000000000000"
                          "00000000");
    app1[4 + 6 + 8 + 2 + 8] = char(exifOrientation);
    jpeg.insert(2, app1);
    return jpeg;
}

}  // namespace testpictures
