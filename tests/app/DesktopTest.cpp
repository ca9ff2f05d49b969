#include <QDropEvent>
#include <QElapsedTimer>
#include <QImageReader>
#include <QKeySequence>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include "AppTestSupport.h"
#include "app/CommandLine.h"
#include "app/ProductLinks.h"
#include "support/Files.h"
#include "support/Tool.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

using namespace testing_gui;

namespace {

// How far a shown picture is from grey: the channel spread at a point where
// the test gradient is far from grey.
int colourfulness(const QImage& image) {
    const QRgb centre = image.pixel(image.width() * 3 / 4, image.height() / 4);
    return std::max({qRed(centre), qGreen(centre), qBlue(centre)}) -
           std::min({qRed(centre), qGreen(centre), qBlue(centre)});
}

std::string exifValue(const Exiv2::ExifData& exif, const char* key) {
    auto it = exif.findKey(Exiv2::ExifKey(key));
    return it == exif.end() ? std::string("(none)") : it->toString();
}

}  // namespace

TEST(CommandLineTest, NamesOnePictureAsAnAbsolutePath) {
    const QString here = QDir::currentPath();
    QTemporaryDir scratch;
    QDir::setCurrent(scratch.path());
    QFile(scratch.filePath("shot:1.jpg")).open(QIODevice::WriteOnly);
    // The arguments, the picture named, and whether they are refused.
    const std::tuple<QStringList, QString, bool> cases[] = {
        {{"lumaro"}, "", false},
        {{"lumaro", "/tmp/a.jpg"}, "/tmp/a.jpg", false},
        {{"lumaro", "photo.png"}, scratch.path() + "/photo.png", false},
        {{"lumaro", "shot:1.jpg"}, scratch.path() + "/shot:1.jpg", false},
        {{"lumaro", "shot:2.jpg"}, "", true},
        {{"lumaro", "file:///tmp/a%20b.jpg"}, "/tmp/a b.jpg", false},
        {{"lumaro", "https://example.com/a.jpg"}, "", true},
        {{"lumaro", "a.jpg", "b.jpg"}, "", true},
        {{"lumaro", "--no-such-option"}, "", true},
    };
    for (const auto& [arguments, picture, fails] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const app::CommandLine parsed = app::parseCommandLine(arguments);
        EXPECT_EQ(parsed.picture, picture);
        EXPECT_EQ(!parsed.error.isEmpty(), fails) << parsed.error.toStdString();
    }
    QDir::setCurrent(here);
}

// The desktop road into and out of the editor: names, drops, keys and the save dialog.
class DesktopTest : public ControllerFixture {
protected:
    QString brokenFile() {
        const QString path = library + "/broken.jpg";
        EXPECT_TRUE(testfiles::writeFile(path, "\xff\xd8 not really a photo"));
        return path;
    }

    // Sends the drag-enter and the drop a file manager's drag produces;
    // returns whether the view took the drop.
    bool drop(QMimeData* data) {
        QWidget* target = controller->view();
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropped(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        return dropped.isAccepted();
    }

    void waitForOpening() {
        ASSERT_TRUE(waitFor([&] { return !controller->isOpeningPicture(); }));
        QApplication::processEvents();
    }

    void press(const QKeySequence& keys) {
        const QKeyCombination combination = keys[0];
        QTest::keyClick(controller->view(), combination.key(), combination.keyboardModifiers());
        QApplication::processEvents();
    }

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

TEST_F(DesktopTest, OpeningByNameEntersTheEditingStateOrSaysWhyItCannot) {
    const QString path = writeGradient(library + "/named picture.png", {800, 600});
    const QString broken = brokenFile();
    const std::pair<QString, bool> names[] = {{path, true},
                                              {QUrl::fromLocalFile(path).toString(), true},
                                              {broken, false},
                                              {library + "/missing.jpg", false}};
    for (const auto& [name, opens] : names) {
        SCOPED_TRACE(name.toStdString());
        closeAllAlerts();
        AppLog log;
        auto& c = start();
        EXPECT_FALSE(c.Save->isEnabled());
        c.openPicture(name);
        waitForOpening();
        EXPECT_EQ(c.Save->isEnabled(), opens);
        EXPECT_EQ(c.darkArea->isVisible(), opens);
        EXPECT_EQ(c.disp->isVisible() || c.sbanner->isVisible(), !opens);
        if (!opens) {
            platform::Alert* alert = alertTitled("Cannot Open Picture");
            ASSERT_NE(alert, nullptr);
            EXPECT_TRUE(alert->message().contains(QFileInfo(name).fileName()));
            EXPECT_FALSE(c.pickerInfo());
            continue;
        }
        ASSERT_TRUE(c.pickerInfo());
        EXPECT_EQ(c.pickerInfo()->grid.size(), QSize(800, 600));
        EXPECT_EQ((QList<int>{c.state().origWidth, c.state().origHeight, c.state().imageWidth,
                              c.state().imageHeight}),
                  (QList<int>{800, 600, 650, 487}));
        EXPECT_EQ(shownImage().size(), QSize(650, 487));
        // The first render already converted the picture to grey.
        const QColor sample = shownImage().pixelColor(300, 200);
        EXPECT_TRUE(sample.red() == sample.green() && sample.green() == sample.blue());
        EXPECT_TRUE(log.contains("imagepicker"));
        for (QWidget* w : QList<QWidget*>{c.PhoneAppB, c.sliderR, c.tone})
            EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
        for (QWidget* w : QList<QWidget*>{c.color, c.resetBut, c.controls, c.slider1, c.dfilter,
                                          c.tape1, c.Share})
            EXPECT_TRUE(w->isVisible()) << w->objectName().toStdString();
        EXPECT_TRUE(c.Share->isEnabled());
        EXPECT_TRUE(visibleAlerts().isEmpty());
    }
    auto& c = *controller;
    // After a good picture, a bad one keeps the good one on screen.
    closeAllAlerts();
    pick(writeGradient(library + "/good.png", {300, 200}));
    const QImage before = shownImage();
    pick(broken);
    EXPECT_NE(alertTitled("Cannot Open Picture"), nullptr);
    EXPECT_EQ(shownImage(), before);
    EXPECT_TRUE(c.darkArea->isVisible());
}

TEST_F(DesktopTest, DroppedFilesOpenAndOtherDragsAreRefused) {
    start();
    const QString good = writeGradient(library + "/dropped.png", {240, 180});
    const QString broken = brokenFile();
    const QUrl web("https://example.com/a.jpg");
    // The addresses or the text dragged, whether the drop is taken, and whether a picture opens.
    const std::tuple<QList<QUrl>, QString, bool, bool> cases[] = {
        {{}, "just words", false, false},
        {{web}, {}, false, false},
        {{QUrl::fromLocalFile(broken)}, {}, true, false},
        {{web, QUrl::fromLocalFile(good)}, {}, true, true},
    };
    for (const auto& [urls, text, accepted, opens] : cases) {
        SCOPED_TRACE(testing::Message() << urls.size() << text.toStdString());
        closeAllAlerts();
        QMimeData data;
        if (!urls.isEmpty()) data.setUrls(urls);
        if (!text.isEmpty()) data.setText(text);
        EXPECT_EQ(drop(&data), accepted);
        waitForOpening();
        EXPECT_EQ(static_cast<bool>(controller->pickerInfo()), opens);
        EXPECT_EQ(alertTitled("Cannot Open Picture") != nullptr, accepted && !opens);
    }
    EXPECT_EQ(controller->pickerInfo()->grid.size(), QSize(240, 180));
    EXPECT_TRUE(controller->darkArea->isVisible());
}

TEST_F(DesktopTest, KeysRunTheirActionsAndHoldingShowsTheColourOriginal) {
    UrlSink urls;
    auto& c = start();
    const auto activate = [&] {
        c.view()->activateWindow();
        QApplication::setActiveWindow(c.view());
    };
    activate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(c.view()));
    // Before a picture, Save does nothing.
    press(QKeySequence::Save);
    EXPECT_EQ(alertTitled("Confirm"), nullptr);
    pick(writeGradient(library + "/keys.png", {200, 150}));
    activate();
    const struct {
        const char* name;
        QKeySequence keys;
        std::function<bool()> happened;
        std::function<void()> undo;
    } cases[] = {
        {"open", QKeySequence::Open,
         [&] { return c.popoverController() && c.popoverController()->isPopoverVisible(); },
         [&] { c.popoverController()->dismiss(); }},
        {"save", QKeySequence::Save, [&] { return alertTitled("Confirm") != nullptr; },
         [&] { closeAllAlerts(); }},
        {"help", QKeySequence::HelpContents,
         [&] { return urls.opened.contains(app::ProductLinks::standard().help); }, [] {}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_FALSE(k.happened());
        press(k.keys);
        EXPECT_TRUE(k.happened());
        k.undo();
        activate();
    }
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        SCOPED_TRACE(key);
        const QImage before = shownImage();
        dragSlider(c.slider1, key == Qt::Key_Return ? 8.0 : -4.0);
        EXPECT_EQ(shownImage(), before);  // a slider move alone renders nothing
        QTest::keyClick(c.view(), key);
        EXPECT_NE(shownImage(), before);
    }

    const QImage rendered = shownImage();
    ASSERT_LT(colourfulness(rendered), 2);
    const QPoint centre = c.image->rect().center();
    const std::tuple<const char*, std::function<void()>, std::function<void()>> holds[] = {
        {"backslash",
         [&] {
             QTest::keyPress(c.view(), Qt::Key_Backslash);
             QTest::keyPress(c.view(), Qt::Key_Backslash, Qt::NoModifier, -1);
         },
         [&] { QTest::keyRelease(c.view(), Qt::Key_Backslash); }},
        {"press on the picture",
         [&] {
             QTest::mousePress(c.image, Qt::LeftButton, {}, centre);
             QTest::qWait(600);
         },
         [&] { QTest::mouseRelease(c.image, Qt::LeftButton, {}, centre); }},
    };
    for (const auto& [name, hold, letGo] : holds) {
        SCOPED_TRACE(name);
        hold();
        QApplication::processEvents();
        EXPECT_TRUE(c.isComparing());
        EXPECT_EQ(shownImage().size(), rendered.size());
        EXPECT_GT(colourfulness(shownImage()), 20);
        letGo();
        QApplication::processEvents();
        EXPECT_FALSE(c.isComparing());
        EXPECT_EQ(shownImage(), rendered);
    }
    // A short click on the picture is no comparison.
    QTest::mouseClick(c.image, Qt::LeftButton, {}, centre);
    QTest::qWait(500);
    EXPECT_FALSE(c.isComparing());

    press(QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_FALSE(c.view()->isVisible());
}

// The whole road: a turned camera JPEG opened, adjusted and saved through the dialog, read back
// as a photo library would, and compared with what the batch renderer makes of it.
TEST_F(DesktopTest, SaveWritesOneUprightFullSizePictureAsTheBatchRendererDoesKeepingItsExif) {
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

TEST_F(DesktopTest, AWriteThatFailsIsReportedNotCalledSaved) {
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
