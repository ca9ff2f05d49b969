#include <gtest/gtest.h>

#include <QFile>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <optional>

#include "AppTestSupport.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/Alert.h"
#include "platform/widgets/PhotoPicker.h"
#include "platform/widgets/Popover.h"
#include "platform/widgets/ThumbnailCache.h"
#include "support/Files.h"

namespace {

using namespace testing_gui;

TEST(AlertKeysTest, EscapeIsTheCancelButtonAndReturnTheLastButton) {
    struct Case {
        const char* name;
        QString cancel;
        QStringList others;
        Qt::Key key;
        std::optional<int> expected;  // nothing: no button index is reported
    };
    const Case cases[] = {
        {"Escape, cancel and other", "Don't Save", {"Save"}, Qt::Key_Escape, 0},
        {"Return, cancel and other", "Don't Save", {"Save"}, Qt::Key_Return, 1},
        {"Enter, single button", "OK", {}, Qt::Key_Enter, 0},
        {"Return, three buttons", "Cancel", {"One", "Two"}, Qt::Key_Return, 2},
        {"Escape, no cancel button", "", {"Go"}, Qt::Key_Escape, std::nullopt},
    };
    QWidget parent;
    parent.show();
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        auto* alert = new platform::Alert("Title", "Message", each.cancel, each.others, &parent);
        QSignalSpy clicked(alert, &platform::Alert::clickedButtonAtIndex);
        alert->showAlert();
        QTest::keyClick(alert, each.key);
        EXPECT_FALSE(alert->isVisible());
        if (each.expected) {
            ASSERT_EQ(clicked.count(), 1);
            EXPECT_EQ(clicked.at(0).at(0).toInt(), *each.expected);
        } else {
            EXPECT_EQ(clicked.count(), 0);
        }
        QApplication::processEvents();
    }
}

TEST(ActivityIndicatorTest, TheWhiteWheelShowsOnAWhitePicture) {
    QWidget page;
    page.setStyleSheet("background: white");
    page.resize(120, 120);
    auto* indicator =
        new platform::ActivityIndicator(platform::ActivityIndicator::Style::white, &page);
    indicator->move(20, 20);
    page.show();
    indicator->startAnimating();
    const QImage shot = page.grab(indicator->geometry()).toImage();
    int dark = 0;
    int light = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            dark += qGray(shot.pixel(x, y)) < 110;
            light += qGray(shot.pixel(x, y)) > 200;
        }
    const int area = shot.width() * shot.height();
    EXPECT_GT(dark, area / 3) << "a dark backdrop behind the spokes";
    EXPECT_GT(light, area / 50) << "the spokes themselves";
}

class PickerTilesTest : public ControllerFixture {
protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        platform::ThumbnailCache::shared().clear();
    }

    void writeBytes(const QString& name, const QByteArray& bytes) {
        ASSERT_TRUE(testfiles::writeFile(library + "/" + name, bytes));
    }

    static int rowOf(const QListWidget* list, const QString& name) {
        for (int row = 0; row < list->count(); ++row)
            if (list->item(row)->data(Qt::UserRole).toString().endsWith("/" + name)) return row;
        return -1;
    }

    static bool allShown(const QListWidget* list) {
        for (int row = 0; row < list->count(); ++row)
            if (list->item(row)->icon().isNull()) return false;
        return true;
    }
};

TEST_F(PickerTilesTest, ThePopoverHoldsThreeColumns) {
    for (int i = 0; i < 4; ++i) writePicture(QString("p%1.png").arg(i), Qt::red);
    QWidget host;
    host.resize(768, 1024);
    platform::PhotoPicker* picker = new platform::PhotoPicker;
    platform::Popover popover(picker, &host);
    popover.setContentSize({320, 480});
    host.show();
    popover.presentFromRect({10, 10, 60, 30});
    QApplication::processEvents();
    QListWidget* list = picker->thumbnails();
    ASSERT_EQ(list->count(), 4);
    auto tile = [&](int row) { return list->visualItemRect(list->item(row)); };
    EXPECT_EQ(tile(0).top(), tile(2).top());
    EXPECT_LT(tile(1).left(), tile(2).left());
    EXPECT_GT(tile(3).top(), tile(0).top());
    EXPECT_TRUE(list->viewport()->rect().contains(tile(2)));
    EXPECT_GE(list->iconSize().width(), 80);
}

TEST_F(PickerTilesTest, BrokenFilesShowAsTilesAndThumbnailsAreKeptUntilTheFileChanges) {
    for (int i = 0; i < 4; ++i)
        writePicture(QString("p%1.png").arg(i), QColor::fromHsv(i * 60, 200, 200));
    writeBytes("notes.jpg", "\xff\xd8 this is not a photo");
    writeBytes("empty.png", "");
    writeBytes("truncated.png", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    platform::PhotoPicker picker;
    picker.resize(312, 468);
    picker.show();
    QListWidget* list = picker.thumbnails();
    ASSERT_EQ(list->count(), 7);
    ASSERT_TRUE(waitFor([&] { return allShown(list); }));
    for (int row = 0; row < list->count(); ++row) {
        const QString name = list->item(row)->toolTip();
        EXPECT_EQ(picker.isBrokenTile(row), !name.startsWith("p")) << name.toStdString();
        EXPECT_TRUE(list->item(row)->data(Qt::UserRole).toString().endsWith("/" + name));
    }
    // Picking a broken tile still reports the file, so the screen can say why it failed.
    QSignalSpy picked(&picker, &platform::PhotoPicker::picked);
    const QRect tileRect = list->visualItemRect(list->item(rowOf(list, "notes.jpg")));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, tileRect.center());
    ASSERT_EQ(picked.count(), 1);
    EXPECT_TRUE(picked.at(0).at(0).toString().endsWith("/notes.jpg"));

    // Opened again: every tile is there at once, without waiting for a worker.
    EXPECT_EQ(platform::ThumbnailCache::shared().count(), 7);
    picker.hide();
    picker.show();
    EXPECT_TRUE(allShown(list));
    // A file that changed is read again; a broken file that became a picture shows.
    writePicture("p3.png", Qt::black, {200, 50});
    writePicture("notes.jpg", Qt::white);
    picker.reload();
    EXPECT_TRUE(list->item(rowOf(list, "p3.png"))->icon().isNull());
    EXPECT_FALSE(list->item(rowOf(list, "p2.png"))->icon().isNull());
    ASSERT_TRUE(waitFor([&] { return allShown(list); }));
    EXPECT_FALSE(picker.isBrokenTile(rowOf(list, "notes.jpg")));
    const QImage changed = list->item(rowOf(list, "p3.png"))->icon().pixmap(96, 96).toImage();
    EXPECT_EQ(qGray(changed.pixel(changed.width() / 2, changed.height() / 2)), 0);
}

}  // namespace
