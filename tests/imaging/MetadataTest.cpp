#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "ExifJpeg.h"
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

bool isOf(const std::string& key, const char* family) { return key.rfind(family, 0) == 0; }

template <typename Key, typename Data>
std::string find(const Data& data, const std::string& key) {
    const auto it = data.findKey(Key(key));
    return it == data.end() ? std::string("(none)") : it->toString();
}

std::string valueOf(const Read& r, const std::string& key) {
    if (isOf(key, "Exif.")) return find<Exiv2::ExifKey>(r.exif, key);
    if (isOf(key, "Iptc.")) return find<Exiv2::IptcKey>(r.iptc, key);
    return find<Exiv2::XmpKey>(r.xmp, key);
}

QByteArray jpegOf(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(qRgb(180, 120, 60));
    return testpictures::encoded(picture, "jpeg", 90);
}

// A camera photo's description as written and as a save of its upright pixels must leave it:
// kept, changed, or dropped ("(none)"); W and H stand for the saved picture's size.
const struct {
    const char* key;
    const char* written;
    const char* saved;
} cameraTags[] = {
    {"Exif.Image.Make", "Lumix", "Lumix"},
    {"Exif.Image.Model", "DMC-GX80", "DMC-GX80"},
    {"Exif.Image.Copyright", "Ada Photographer", "Ada Photographer"},
    {"Exif.Photo.DateTimeOriginal", "2021:06:05 14:03:02", "2021:06:05 14:03:02"},
    {"Exif.Photo.FNumber", "28/10", "28/10"},
    {"Exif.Photo.LensModel", "LUMIX G 25/F1.7", "LUMIX G 25/F1.7"},
    {"Exif.Image.Orientation", "6", "1"},
    {"Exif.Photo.PixelXDimension", "64", "W"},
    {"Exif.Photo.PixelYDimension", "48", "H"},
    {"Exif.Image.ImageWidth", "64", "(none)"},
    {"Exif.Image.ImageLength", "48", "(none)"},
    {"Iptc.Application2.Byline", "Ada Photographer", "Ada Photographer"},
    {"Iptc.Application2.City", "Lisbon", "Lisbon"},
    {"Xmp.dc.rights", "CC BY 4.0", "lang=\"x-default\" CC BY 4.0"},
    {"Xmp.tiff.Orientation", "6", "1"},
    {"Xmp.exif.PixelXDimension", "64", "W"},
};

// A camera photo as it comes off the card: 64 x 48 pixels stored sideways, with a thumbnail.
QString writeCameraJpeg(const QString& path) {
    testfiles::writeFile(path, jpegOf({64, 48}));
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    for (const auto& tag : cameraTags) {
        const std::string key = tag.key, value = tag.written;
        if (isOf(key, "Exif."))
            exif[key] = value;
        else if (isOf(key, "Iptc."))
            iptc[key] = value;
        else
            xmp[key] = value;
    }
    const QByteArray thumbnail = jpegOf({16, 12});
    Exiv2::ExifThumb(exif).setJpegThumbnail(
        reinterpret_cast<const Exiv2::byte*>(thumbnail.constData()), long(thumbnail.size()));
    image->setExifData(exif);
    image->setIptcData(iptc);
    image->setXmpData(xmp);
    image->writeMetadata();
    return path;
}

void expectFittedMetadata(const QString& savedPath, QSize pixels) {
    SCOPED_TRACE(savedPath.toStdString());
    const Read r = readBack(savedPath);
    EXPECT_EQ(r.pixels, pixels);
    for (const auto& tag : cameraTags) {
        const std::string saved = tag.saved;
        const std::string expected = saved == "W"   ? std::to_string(pixels.width())
                                     : saved == "H" ? std::to_string(pixels.height())
                                                    : saved;
        EXPECT_EQ(valueOf(r, tag.key), expected) << tag.key;
    }
    EXPECT_EQ(valueOf(r, "Exif.Thumbnail.JPEGInterchangeFormat"), "(none)");
    EXPECT_EQ(Exiv2::ExifThumbC(r.exif).copy().size_, 0);
}

class MetadataTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    int render(const QStringList& arguments) {
        return runTool("lumaro-render", arguments).exitCode;
    }
    QTemporaryDir dir;
};

TEST_F(MetadataTest, PicturesWithoutReadableMetadataSaveAsPlainPictures) {
    QImage plain(20, 10, QImage::Format_RGB32);
    plain.fill(Qt::blue);
    plain.save(path("plain.png"));
    // An EXIF segment whose TIFF header is garbage.
    testfiles::writeFile(path("broken-exif.jpg"),
                         jpegOf({20, 10}).insert(2, QByteArray("\xff\xe1\x00\x10"
                                                               "Exif\0\0XX\x2a\x00\xff\xff\xff\xff",
                                                               18)));
    testfiles::writeFile(path("not-a-picture.txt"), "notes");
    for (const char* name : {"plain.png", "broken-exif.jpg", "not-a-picture.txt", "missing.jpg"}) {
        const auto metadata = platform::PhotoMetadata::readFrom(path(name));
        EXPECT_FALSE(metadata) << name;
        QString error;
        EXPECT_EQ(
            QImage::fromData(
                platform::encodeWithMetadata(plain, "jpeg", 90, metadata.get(), &error), "jpeg")
                .size(),
            plain.size())
            << name;
    }
}

// What lumaro-render writes carries the description fitted to the new pixels, unless told to
// strip it.
TEST_F(MetadataTest, SavedPicturesCarryTheDescriptionFittedToTheNewPixels) {
    const QString camera = writeCameraJpeg(path("camera.jpg"));
    for (const char* saved : {"kept.jpg", "kept.png"}) {
        ASSERT_EQ(render({camera, "-o", path(saved), "--export", "--tone", "sepia"}), 0);
        expectFittedMetadata(path(saved), {48, 64});
    }
    ASSERT_EQ(render({camera, "-o", path("stripped.jpg"), "--export", "--strip-metadata"}), 0);
    const Read stripped = readBack(path("stripped.jpg"));
    EXPECT_EQ(stripped.pixels, QSize(48, 64));
    EXPECT_TRUE(stripped.exif.empty() && stripped.iptc.empty() && stripped.xmp.empty());
}

}  // namespace

#pragma GCC diagnostic pop
