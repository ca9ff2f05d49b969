#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QPushButton>
#include <QToolButton>

#include "AppTestSupport.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/SegmentedControl.h"
#include "support/Files.h"
#include "support/Tool.h"

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

class SavingTest : public ControllerFixture {
protected:
    platform::Alert* confirmSave() {
        QTest::mouseClick(controller->Save, Qt::LeftButton);
        platform::Alert* confirm = alertTitled("Confirm");
        if (!confirm) return nullptr;
        EXPECT_EQ(confirm->message(),
                  "Your image will be saved to the library, this may take a few seconds. Do you "
                  "want to save your image?");
        EXPECT_EQ(confirm->buttonTitleAtIndex(0), "Don't Save");
        EXPECT_EQ(confirm->buttonTitleAtIndex(1), "Save");
        EXPECT_TRUE(controller->saveIndicator()->isAnimating());
        EXPECT_EQ(controller->saveIndicator()->geometry().center(),
                  controller->view()->rect().center());
        return confirm;
    }
};

// The whole road: a turned camera JPEG opened, adjusted and saved through the dialog, read back
// as a photo library would, and compared with what the batch renderer makes of it.
TEST_F(SavingTest, SaveWritesOneUprightFullSizePictureAsTheBatchRendererDoesKeepingItsExif) {
    // Stored 240 x 160, to be turned clockwise: upright 160 x 240.
    const QString input = writeJpegWithOrientation(library + "/camera.jpg", {240, 160}, 6);
    {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(input).toStdString());
        image->readMetadata();
        Exiv2::ExifData exif = image->exifData();
        exif["Exif.Image.Make"] = "Fujifilm";
        exif["Exif.Image.Model"] = "X100V";
        exif["Exif.Photo.DateTimeOriginal"] = "2024:03:09 07:45:12";
        image->setExifData(exif);
        image->writeMetadata();
    }
    AppLog log;
    start();
    controller->openPicture(input);
    ASSERT_TRUE(waitFor([&] { return controller->pickerInfo() != nullptr; }));
    ASSERT_EQ(shownImage().size(), QSize(160, 240));
    QTest::mouseClick(controller->color->segmentButton(1), Qt::LeftButton);
    QTest::mouseClick(controller->dfilter->segmentButton(1), Qt::LeftButton);
    QTest::mouseClick(controller->defaultButton, Qt::LeftButton);

    platform::Alert* confirm = confirmSave();
    ASSERT_NE(confirm, nullptr);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(confirm->buttonAtIndex(1), Qt::LeftButton);
    ASSERT_NE(controller->saveTimer(), nullptr);
    const QDir album(library + "/Lumaro");
    EXPECT_TRUE(album.entryList({"*.jpg"}, QDir::Files).isEmpty());
    ASSERT_TRUE(waitFor([&] { return alertTitled("Saved") != nullptr; }, 10000));
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_EQ(alertTitled("Saved")->message(), "Your image has been saved to the library.");
    EXPECT_EQ(alertTitled("Saved")->buttonTitleAtIndex(0), "OK");
    EXPECT_FALSE(controller->saveIndicator()->isAnimating());
    EXPECT_EQ(log.count("save"), 1);
    EXPECT_EQ(log.count("performSave"), 2);
    QTest::qWait(1200);
    const QStringList saved = album.entryList({"*.jpg"}, QDir::Files);
    ASSERT_EQ(saved.size(), 1);
    const QString path = album.filePath(saved[0]);

    QImageReader reader(path);
    EXPECT_EQ(reader.format(), "jpeg");
    const QImage picture = reader.read();
    ASSERT_EQ(picture.size(), QSize(160, 240));
    const QString reference = QDir::tempPath() + "/lumaro-save-reference.jpg";
    const ToolRun render =
        runTool("lumaro-render", {input, "-o", reference, "--export", "--tone", "sepia", "--filter",
                                  "red", "--light", "5.3", "--dark", "5.3"});
    ASSERT_EQ(render.exitCode, 0) << render.err.toStdString();
    const QImage expected = QImage(reference).convertToFormat(picture.format());
    QFile::remove(reference);
    ASSERT_EQ(expected.size(), picture.size());
    EXPECT_EQ(expected, picture);

    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    const std::pair<const char*, std::string> tags[] = {
        {"Exif.Image.Make", "Fujifilm"},
        {"Exif.Image.Model", "X100V"},
        {"Exif.Photo.DateTimeOriginal", "2024:03:09 07:45:12"},
        {"Exif.Image.Orientation", "1"},
        {"Exif.Photo.PixelXDimension", "160"},
        {"Exif.Photo.PixelYDimension", "240"},
    };
    for (const auto& [key, value] : tags)
        EXPECT_EQ(exifValue(image->exifData(), key), value) << key;
}

TEST_F(SavingTest, AWriteThatFailsIsReportedNotCalledSaved) {
    startEditing({80, 60});
    ASSERT_TRUE(testfiles::writeFile(library + "/Lumaro", {}));
    platform::Alert* confirm = confirmSave();
    ASSERT_NE(confirm, nullptr);
    QTest::mouseClick(confirm->buttonAtIndex(1), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return alertTitled("Not Saved") != nullptr; }, 10000));
    EXPECT_EQ(alertTitled("Saved"), nullptr);
    EXPECT_FALSE(controller->saveIndicator()->isAnimating());
}

#pragma GCC diagnostic pop
