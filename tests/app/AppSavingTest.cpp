#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include "AppTestSupport.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/SegmentedControl.h"
#include "support/Files.h"
#include "support/Tool.h"

using namespace testing_gui;

namespace {

QStringList savedPictures(const QString& library) {
    return QDir(library + "/Lumaro").entryList({"*.jpg"}, QDir::Files);
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

TEST_F(SavingTest, SaveWritesOneUprightFullSizePictureAsTheBatchRendererDoes) {
    AppLog log;
    start();

    // Stored 240 x 160, to be turned clockwise: upright 160 x 240.
    const QString input = writeJpegWithOrientation(library + "/turned.jpg", {240, 160}, 6);
    pick(input);
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
    EXPECT_TRUE(savedPictures(library).isEmpty());

    ASSERT_TRUE(waitFor([&] { return alertTitled("Saved") != nullptr; }, 10000));
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_EQ(alertTitled("Saved")->message(), "Your image has been saved to the library.");
    EXPECT_EQ(alertTitled("Saved")->buttonTitleAtIndex(0), "OK");
    EXPECT_FALSE(controller->saveIndicator()->isAnimating());
    EXPECT_EQ(log.count("save"), 1);
    EXPECT_EQ(log.count("performSave"), 2);
    QTest::qWait(1200);
    const QStringList saved = savedPictures(library);
    ASSERT_EQ(saved.size(), 1);

    QImageReader reader(library + "/Lumaro/" + saved[0]);
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
