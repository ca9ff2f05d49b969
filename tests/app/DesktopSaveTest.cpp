#include <gtest/gtest.h>

#include <QDir>
#include <QPushButton>
#include <QToolButton>

#include "AppTestSupport.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

using namespace testing_gui;

namespace {

std::string exifValue(const Exiv2::ExifData& exif, const char* key) {
    auto it = exif.findKey(Exiv2::ExifKey(key));
    return it == exif.end() ? std::string("(none)") : it->toString();
}

}  // namespace

class DesktopSaveTest : public ControllerFixture {};

// The whole road: a camera JPEG opened by name, saved through the dialog,
// read back as a photo library would.
TEST_F(DesktopSaveTest, ASavedCameraPhotoKeepsItsDateAndCameraUpright) {
    const QString photo = writeJpegWithOrientation(library + "/camera.jpg", {80, 60}, 6);
    {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(photo).toStdString());
        image->readMetadata();
        Exiv2::ExifData exif = image->exifData();
        exif["Exif.Image.Make"] = "Fujifilm";
        exif["Exif.Image.Model"] = "X100V";
        exif["Exif.Photo.DateTimeOriginal"] = "2024:03:09 07:45:12";
        image->setExifData(exif);
        image->writeMetadata();
    }
    auto& c = start();
    c.openPicture(photo);
    ASSERT_TRUE(waitFor([&] { return c.pickerInfo() != nullptr; }));
    QTest::mouseClick(c.Save, Qt::LeftButton);
    platform::Alert* confirm = alertTitled("Confirm");
    ASSERT_NE(confirm, nullptr);
    QTest::mouseClick(confirm->buttonAtIndex(1), Qt::LeftButton);
    ASSERT_TRUE(waitFor([] { return alertTitled("Saved") != nullptr; }, 10000));

    const QStringList saved = QDir(library + "/Lumaro").entryList({"*.jpg"}, QDir::Files);
    ASSERT_EQ(saved.size(), 1);
    const QString path = library + "/Lumaro/" + saved.first();
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();
    const std::pair<const char*, std::string> expected[] = {
        {"Exif.Image.Make", "Fujifilm"},
        {"Exif.Image.Model", "X100V"},
        {"Exif.Photo.DateTimeOriginal", "2024:03:09 07:45:12"},
        {"Exif.Image.Orientation", "1"},
        {"Exif.Photo.PixelXDimension", "60"},
        {"Exif.Photo.PixelYDimension", "80"},
    };
    for (const auto& [key, value] : expected) EXPECT_EQ(exifValue(exif, key), value) << key;
    EXPECT_EQ(QImage(path).size(), QSize(60, 80));
}

#pragma GCC diagnostic pop
