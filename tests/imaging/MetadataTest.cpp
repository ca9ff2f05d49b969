#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "platform/PhotoMetadata.h"
#include "support/Files.h"
#include "support/Tool.h"

// The tests read what was written with exiv2 itself, as a photo library would.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace {

struct Read {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    QSize pixels;
};

Read readBack(const QString& path) {
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    return {image->exifData(), image->iptcData(), image->xmpData(), QImage(path).size()};
}

std::string exifValue(const Read& r, const char* key) {
    auto it = r.exif.findKey(Exiv2::ExifKey(key));
    return it == r.exif.end() ? std::string("(none)") : it->toString();
}

std::string iptcValue(const Read& r, const char* key) {
    auto it = r.iptc.findKey(Exiv2::IptcKey(key));
    return it == r.iptc.end() ? std::string("(none)") : it->toString();
}

std::string xmpValue(const Read& r, const char* key) {
    auto it = r.xmp.findKey(Exiv2::XmpKey(key));
    return it == r.xmp.end() ? std::string("(none)") : it->toString();
}

QByteArray jpegOf(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(qRgb(180, 120, 60));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "jpeg", 90);
    return bytes;
}

// A camera photo as it comes off the card: 64 x 48 pixels stored sideways
// (orientation 6), a thumbnail, and EXIF, IPTC and XMP descriptions.
QString writeCameraJpeg(const QString& path) {
    testfiles::writeFile(path, jpegOf({64, 48}));
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Lumix";
    exif["Exif.Image.Model"] = "DMC-GX80";
    exif["Exif.Image.Copyright"] = "Ada Photographer";
    exif["Exif.Image.Orientation"] = uint16_t(6);
    exif["Exif.Image.ImageWidth"] = uint32_t(64);
    exif["Exif.Image.ImageLength"] = uint32_t(48);
    exif["Exif.Photo.DateTimeOriginal"] = "2021:06:05 14:03:02";
    exif["Exif.Photo.FNumber"] = Exiv2::Rational(28, 10);
    exif["Exif.Photo.LensModel"] = "LUMIX G 25/F1.7";
    exif["Exif.Photo.PixelXDimension"] = uint32_t(64);
    exif["Exif.Photo.PixelYDimension"] = uint32_t(48);
    const QByteArray thumbnail = jpegOf({16, 12});
    Exiv2::ExifThumb(exif).setJpegThumbnail(
        reinterpret_cast<const Exiv2::byte*>(thumbnail.constData()), long(thumbnail.size()));
    Exiv2::IptcData iptc;
    iptc["Iptc.Application2.Byline"] = "Ada Photographer";
    iptc["Iptc.Application2.City"] = "Lisbon";
    Exiv2::XmpData xmp;
    xmp["Xmp.dc.rights"] = "CC BY 4.0";
    xmp["Xmp.tiff.Orientation"] = "6";
    xmp["Xmp.exif.PixelXDimension"] = "64";
    image->setExifData(exif);
    image->setIptcData(iptc);
    image->setXmpData(xmp);
    image->writeMetadata();
    return path;
}

// What a save must carry over, change and drop, checked on the written file.
void expectFittedMetadata(const QString& savedPath, QSize pixels) {
    SCOPED_TRACE(savedPath.toStdString());
    const Read r = readBack(savedPath);
    EXPECT_EQ(r.pixels, pixels);
    const std::pair<const char*, std::string> exifKept[] = {
        {"Exif.Image.Make", "Lumix"},
        {"Exif.Image.Model", "DMC-GX80"},
        {"Exif.Image.Copyright", "Ada Photographer"},
        {"Exif.Photo.DateTimeOriginal", "2021:06:05 14:03:02"},
        {"Exif.Photo.FNumber", "28/10"},
        {"Exif.Photo.LensModel", "LUMIX G 25/F1.7"},
        {"Exif.Image.Orientation", "1"},
        {"Exif.Photo.PixelXDimension", std::to_string(pixels.width())},
        {"Exif.Photo.PixelYDimension", std::to_string(pixels.height())},
        {"Exif.Image.ImageWidth", "(none)"},
        {"Exif.Image.ImageLength", "(none)"},
        {"Exif.Thumbnail.JPEGInterchangeFormat", "(none)"},
    };
    for (const auto& [key, value] : exifKept) EXPECT_EQ(exifValue(r, key), value) << key;
    EXPECT_EQ(Exiv2::ExifThumbC(r.exif).copy().size_, 0);
    EXPECT_EQ(iptcValue(r, "Iptc.Application2.Byline"), "Ada Photographer");
    EXPECT_EQ(iptcValue(r, "Iptc.Application2.City"), "Lisbon");
    EXPECT_EQ(xmpValue(r, "Xmp.dc.rights"), "lang=\"x-default\" CC BY 4.0");
    EXPECT_EQ(xmpValue(r, "Xmp.tiff.Orientation"), "1");
    EXPECT_EQ(xmpValue(r, "Xmp.exif.PixelXDimension"), std::to_string(pixels.width()));
}

class MetadataTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(MetadataTest, SavedPicturesCarryTheDescriptionFittedToTheNewPixels) {
    const QString camera = writeCameraJpeg(path("camera.jpg"));
    const auto metadata = platform::PhotoMetadata::readFrom(camera);
    ASSERT_TRUE(metadata);
    // The upright picture of a sideways photo, and a reduced copy of it.
    for (const QSize pixels : {QSize(48, 64), QSize(30, 40)}) {
        QImage upright(pixels, QImage::Format_RGB32);
        upright.fill(Qt::gray);
        for (const char* format : {"jpeg", "png"}) {
            SCOPED_TRACE(format);
            QString error;
            const QByteArray encoded =
                platform::encodeWithMetadata(upright, format, 90, metadata.get(), &error);
            ASSERT_FALSE(encoded.isEmpty()) << error.toStdString();
            const QString out = path(QStringLiteral("out.") + format);
            ASSERT_TRUE(testfiles::writeFile(out, encoded));
            expectFittedMetadata(out, pixels);
        }
    }
}

TEST_F(MetadataTest, PicturesWithoutReadableMetadataSaveAsPlainPictures) {
    QImage plain(20, 10, QImage::Format_RGB32);
    plain.fill(Qt::blue);
    plain.save(path("plain.png"));
    plain.save(path("plain.jpg"));
    // An EXIF segment whose TIFF header is garbage.
    QByteArray broken = jpegOf({20, 10});
    broken.insert(2, QByteArray("\xff\xe1\x00\x10"
                                "Exif\0\0XX\x2a\x00\xff\xff\xff\xff",
                                18));
    testfiles::writeFile(path("broken-exif.jpg"), broken);
    testfiles::writeFile(path("not-a-picture.txt"), "notes");

    for (const char* name :
         {"plain.png", "plain.jpg", "broken-exif.jpg", "not-a-picture.txt", "missing.jpg"}) {
        SCOPED_TRACE(name);
        const auto metadata = platform::PhotoMetadata::readFrom(path(name));
        EXPECT_FALSE(metadata);
        QString error;
        const QByteArray encoded =
            platform::encodeWithMetadata(plain, "jpeg", 90, metadata.get(), &error);
        QImage decoded;
        EXPECT_TRUE(decoded.loadFromData(encoded, "jpeg"));
        EXPECT_EQ(decoded.size(), plain.size());
    }
}

// lumaro-render writes what it renders with the same metadata rule.
class RenderMetadataTest : public MetadataTest {
protected:
    int render(const QStringList& arguments) {
        return runTool("lumaro-render", arguments).exitCode;
    }
};

TEST_F(RenderMetadataTest, ExportKeepsTheDescriptionUnlessStripped) {
    const QString camera = writeCameraJpeg(path("camera.jpg"));
    ASSERT_EQ(render({camera, "-o", path("kept.jpg"), "--export", "--tone", "sepia"}), 0);
    expectFittedMetadata(path("kept.jpg"), {48, 64});

    ASSERT_EQ(render({camera, "-o", path("stripped.jpg"), "--export", "--strip-metadata"}), 0);
    const Read stripped = readBack(path("stripped.jpg"));
    EXPECT_EQ(stripped.pixels, QSize(48, 64));
    EXPECT_TRUE(stripped.exif.empty());
    EXPECT_TRUE(stripped.iptc.empty());
    EXPECT_TRUE(stripped.xmp.empty());
}

TEST_F(RenderMetadataTest, SamplePhotosKeepEveryTagTheyHad) {
    const QDir samples(qEnvironmentVariable("LUMARO_SAMPLES"));
    const QStringList changed = {"Exif.Image.Orientation", "Exif.Photo.PixelXDimension",
                                 "Exif.Photo.PixelYDimension"};
    for (const QString& name : samples.entryList({"*.jpg", "*.png"})) {
        SCOPED_TRACE(name.toStdString());
        const QString output = path(name + ".out.jpg");
        ASSERT_EQ(render({samples.filePath(name), "-o", output, "--export"}), 0);
        const Read source = readBack(samples.filePath(name));
        const Read saved = readBack(output);
        for (const Exiv2::Exifdatum& tag : source.exif) {
            if (tag.groupName() == "Thumbnail" ||
                changed.contains(QString::fromStdString(tag.key())))
                continue;
            if (tag.groupName() != "Image" && tag.groupName() != "Photo") continue;
            auto found = saved.exif.findKey(Exiv2::ExifKey(tag.key()));
            ASSERT_NE(found, saved.exif.end()) << tag.key();
            EXPECT_EQ(found->toString(), tag.toString()) << tag.key();
        }
        EXPECT_EQ(saved.iptc.count(), source.iptc.count());
        if (!source.exif.empty() || !source.xmp.empty() || !source.iptc.empty()) {
            EXPECT_EQ(exifValue(saved, "Exif.Image.Orientation"), "1");
        }
    }
}

}  // namespace

#pragma GCC diagnostic pop
