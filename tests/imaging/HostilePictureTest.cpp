// Picture files that lie about themselves or end early, through every path that decodes
// one: the picked picture, the export's upright copy, the picker's thumbnail, lumaro-render.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "ExifJpeg.h"
#include "TestPictures.h"
#include "imaging/Intake.h"
#include "platform/PictureDecoder.h"
#include "support/Files.h"
#include "support/Tool.h"

namespace {

QByteArray bigEndian(quint32 value) {
    return QByteArray(1, char(value >> 24)) + char(value >> 16) + char(value >> 8) + char(value);
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& data) {
    const QByteArray typed = type + data;
    const auto crc =
        quint32(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size())));
    return bigEndian(quint32(data.size())) + typed + bigEndian(crc);
}

// An RGB PNG whose header claims width x height, with a few rows' worth of pixel data.
QByteArray pngClaiming(quint32 width, quint32 height) {
    return QByteArray("\x89PNG\r\n\x1a\n", 8) +
           pngChunk("IHDR",
                    bigEndian(width) + bigEndian(height) + QByteArray("\x08\x02\0\0\0", 5)) +
           pngChunk("IDAT", qCompress(QByteArray(64, 0)).mid(4)) + pngChunk("IEND", {});
}

QByteArray encoded(const char* format) {
    return testpictures::encoded(testpictures::patternImage(160, 120), format);
}

QByteArray jpegClaiming(quint16 width, quint16 height) {
    QByteArray jpeg = encoded("JPEG");
    const qsizetype frame = jpeg.indexOf("\xff\xc0");
    jpeg.replace(frame + 5, 4, bigEndian(quint32(height) << 16 | width));
    return jpeg;
}

// A segment whose contents hold the bytes of an end marker, as an embedded thumbnail does.
QByteArray jpegWithEndMarkerInASegment() {
    QByteArray jpeg = encoded("JPEG");
    jpeg.insert(2, QByteArray::fromHex("FFE20008FFD8FFD9FFD9"));
    return jpeg;
}

// The smallest GIF there is: one pixel, its trailer last.
QByteArray tinyGif() {
    return QByteArray(
        "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04"
        "\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
        "D\x01\x00;",
        43);
}

struct Hostile {
    const char* file;
    std::function<QByteArray()> bytes;
    QString reason;
};

const QString truncated = "the file is truncated",
              tooLarge =
                  "the picture is too large (20000 x 20000 pixels, more than the 268 megapixels "
                  "Lumaro can hold)";

const Hostile hostilePictures[] = {
    {"cut.jpg", [] { return encoded("JPEG").chopped(900); }, truncated},
    // An end marker before the scan does not make the cut file look complete.
    {"thumb.jpg", [] { return jpegWithEndMarkerInASegment().chopped(900); }, truncated},
    {"huge.jpg", [] { return jpegClaiming(20000, 20000); }, tooLarge},
    {"huge.png", [] { return pngClaiming(20000, 20000); }, tooLarge},
    {"zero.png", [] { return pngClaiming(0, 10); }, "the picture has no pixels"},
    {"crc.png",
     [] {
         QByteArray png = encoded("PNG");
         png[40] = char(png[40] ^ 1);
         return png;
     },
     "the picture data is damaged"},
    {"cut.gif", [] { return tinyGif().chopped(4); }, truncated},
    {"cut.bmp", [] { return encoded("BMP").chopped(1000); }, truncated},
    {"empty.png", [] { return QByteArray(); }, "the file is empty"},
    {"notes.jpg", [] { return QByteArray("not a picture at all"); },
     "not a picture in a format Lumaro can open"},
};

class HostilePicture : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostilePicture, FailsWithItsOneReasonWhereverItIsDecoded) {
    QTemporaryDir dir;
    const QString path = dir.filePath(GetParam().file), out = dir.filePath("out.png");
    ASSERT_TRUE(testfiles::writeFile(path, GetParam().bytes()));
    const QString expected = QStringLiteral("cannot read %1: %2").arg(path, GetParam().reason);
    QString error, uprightError, dataError;
    EXPECT_FALSE(imaging::Picture::fromFile(path, &error));
    EXPECT_TRUE(imaging::uprightPictureFromFile(path, &uprightError).isNull());
    EXPECT_EQ(QStringList({error, uprightError}), QStringList({expected, expected}));
    EXPECT_TRUE(platform::decodeThumbnail(path, 64).isNull());
    EXPECT_FALSE(platform::decodePictureData(GetParam().bytes(), &dataError));
    EXPECT_TRUE(dataError.endsWith(GetParam().reason)) << dataError.toStdString();
    // lumaro-render says so in one line and writes nothing.
    for (const QStringList& mode : {QStringList{}, QStringList{"--export"}}) {
        const ToolRun run = runTool("lumaro-render", QStringList{path, "-o", out} + mode);
        EXPECT_EQ(std::pair(run.exitCode, run.err),
                  std::pair(1, "lumaro-render: " + expected + "\n"))
            << mode.join(' ').toStdString();
        EXPECT_FALSE(QFile::exists(out));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, HostilePicture, ::testing::ValuesIn(hostilePictures),
                         [](const auto& info) {
                             return QString(info.param.file).replace('.', '_').toStdString();
                         });

// What the framing checks must let through: data after a JPEG's end marker (some cameras
// append a video there), end-marker bytes inside a segment before the scan, a GIF without
// its trailer.
TEST(SoundPicture, UnusualButCompletePicturesDecodeToTheSamePixels) {
    const QByteArray jpeg = encoded("JPEG");
    const std::pair<QByteArray, QByteArray> variants[] = {
        {jpeg, jpeg + QByteArray("\0\0ftypmp42 trailing video", 25)},
        {jpeg, jpegWithEndMarkerInASegment()},
        {tinyGif(), tinyGif().chopped(1)},
    };
    for (const auto& [plain, variant] : variants) {
        QString error;
        const auto reference = platform::decodePictureData(plain);
        const auto decoded = platform::decodePictureData(variant, &error);
        ASSERT_TRUE(reference && decoded) << error.toStdString();
        EXPECT_EQ(decoded->grid, reference->grid);
    }
}

}  // namespace
