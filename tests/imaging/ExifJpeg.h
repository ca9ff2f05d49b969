#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

namespace testpictures {

// A JPEG of the image carrying an EXIF block whose orientation tag is
// exifOrientation (1 to 8), as cameras write it.
inline QByteArray jpegWithOrientation(const QImage& image, int exifOrientation) {
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.write(image);
    buffer.close();
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
