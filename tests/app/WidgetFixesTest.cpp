#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <optional>

#include "AppTestSupport.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/Alert.h"
#include "platform/widgets/PhotoPicker.h"
#include "platform/widgets/Popover.h"
#include "platform/widgets/ThumbnailCache.h"

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
        {"Enter, cancel and other", "Cancel", {"Rate"}, Qt::Key_Enter, 1},
        {"Escape, single button", "OK", {}, Qt::Key_Escape, 0},
        {"Return, single button", "OK", {}, Qt::Key_Return, 0},
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
        ASSERT_TRUE(alert->isVisible());
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
    using Style = platform::ActivityIndicator::Style;
    for (Style style : {Style::white, Style::whiteLarge}) {
        SCOPED_TRACE(static_cast<int>(style));
        QWidget page;
        page.setAutoFillBackground(true);
        QPalette palette = page.palette();
        palette.setColor(QPalette::Window, Qt::white);
        page.setPalette(palette);
        page.resize(120, 120);
        auto* indicator = new platform::ActivityIndicator(style, &page);
        indicator->move(20, 20);
        page.show();
        indicator->startAnimating();
        const QImage shot = page.grab().toImage();
        int dark = 0;
        int light = 0;
        for (int y = indicator->y(); y < indicator->y() + indicator->height(); ++y)
            for (int x = indicator->x(); x < indicator->x() + indicator->width(); ++x) {
                const int grey = qGray(shot.pixel(x, y));
                dark += grey < 110;
                light += grey > 200;
            }
        const int area = indicator->width() * indicator->height();
        EXPECT_GT(dark, area / 3) << "a dark backdrop behind the spokes";
        EXPECT_GT(light, area / 50) << "the spokes themselves";
    }
}

class PickerTilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        clearDefaults();
        platform::ThumbnailCache::shared().clear();
        library = qEnvironmentVariable("LUMARO_LIBRARY");
        QDir(library).removeRecursively();
        QDir().mkpath(library);
    }

    void writePicture(const QString& name, QColor colour, QSize size = {120, 80}) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(library + "/" + name));
    }

    void writeBytes(const QString& name, const QByteArray& bytes) {
        QFile file(library + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
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

    QString library;
};

TEST_F(PickerTilesTest, UnreadableFilesShowAsBrokenTilesWithTheirNames) {
    writePicture("good.png", Qt::red);
    writePicture("also good.jpg", Qt::blue);
    writeBytes("notes.jpg", "\xff\xd8 this is not a photo");
    writeBytes("empty.png", "");
    writeBytes("truncated.png", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    platform::PhotoPicker picker;
    picker.resize(312, 468);
    picker.show();
    QListWidget* list = picker.thumbnails();
    ASSERT_EQ(list->count(), 5);
    ASSERT_TRUE(waitFor([&] { return allShown(list); }));
    const std::pair<const char*, bool> expected[] = {
        {"good.png", false}, {"also good.jpg", false}, {"notes.jpg", true},
        {"empty.png", true}, {"truncated.png", true},
    };
    for (const auto& [name, broken] : expected) {
        SCOPED_TRACE(name);
        const int row = rowOf(list, name);
        ASSERT_GE(row, 0);
        EXPECT_EQ(picker.isBrokenTile(row), broken);
        EXPECT_FALSE(list->item(row)->icon().isNull());
        EXPECT_EQ(list->item(row)->toolTip(), name);
    }
    // A broken tile is not blank: it draws more than one colour.
    const QImage tile = list->item(rowOf(list, "notes.jpg"))->icon().pixmap(96, 96).toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < tile.height(); y += 2)
        for (int x = 0; x < tile.width(); x += 2) colours.insert(tile.pixel(x, y));
    EXPECT_GT(colours.size(), 3);

    // Picking it still reports the file, so the screen can say why it failed.
    QSignalSpy picked(&picker, &platform::PhotoPicker::picked);
    const QRect tileRect = list->visualItemRect(list->item(rowOf(list, "notes.jpg")));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, tileRect.center());
    ASSERT_EQ(picked.count(), 1);
    EXPECT_TRUE(picked.at(0).at(0).toString().endsWith("/notes.jpg"));
}

TEST_F(PickerTilesTest, ThePopoverHoldsThreeColumns) {
    for (int i = 0; i < 7; ++i)
        writePicture(QString("p%1.png").arg(i), QColor::fromHsv(i * 40, 200, 200));
    QWidget host;
    host.resize(768, 1024);
    platform::PhotoPicker* picker = new platform::PhotoPicker;
    platform::Popover popover(picker, &host);
    popover.setContentSize({320, 480});
    host.show();
    popover.presentFromRect({10, 10, 60, 30});
    QApplication::processEvents();
    QListWidget* list = picker->thumbnails();
    ASSERT_EQ(list->count(), 7);
    QList<QRect> tiles;
    for (int row = 0; row < 4; ++row) tiles.append(list->visualItemRect(list->item(row)));
    EXPECT_EQ(tiles[0].top(), tiles[1].top());
    EXPECT_EQ(tiles[1].top(), tiles[2].top());
    EXPECT_LT(tiles[0].left(), tiles[1].left());
    EXPECT_LT(tiles[1].left(), tiles[2].left());
    EXPECT_GT(tiles[3].top(), tiles[0].top());
    EXPECT_TRUE(list->viewport()->rect().contains(tiles[2]));
    EXPECT_GE(list->iconSize().width(), 80);
}

TEST_F(PickerTilesTest, ThumbnailsAreKeptBetweenOpeningsUntilTheFileChanges) {
    for (int i = 0; i < 12; ++i)
        writePicture(QString("p%1.png").arg(i), QColor::fromHsv(i * 25, 200, 200));
    writeBytes("broken.jpg", "not a picture");
    platform::PhotoPicker picker;
    picker.resize(312, 468);
    picker.show();
    QListWidget* list = picker.thumbnails();
    ASSERT_TRUE(waitFor([&] { return allShown(list); }));
    EXPECT_EQ(platform::ThumbnailCache::shared().count(), 13);

    // Opened again: every tile is there at once, without waiting for a worker.
    picker.hide();
    picker.show();
    ASSERT_EQ(list->count(), 13);
    EXPECT_TRUE(allShown(list));
    EXPECT_TRUE(picker.isBrokenTile(rowOf(list, "broken.jpg")));

    // A file that changed is read again; a broken file that became a picture shows.
    writePicture("p3.png", Qt::black, {200, 50});
    writePicture("broken.jpg", Qt::white);
    picker.reload();
    EXPECT_TRUE(list->item(rowOf(list, "p3.png"))->icon().isNull());
    EXPECT_FALSE(list->item(rowOf(list, "p4.png"))->icon().isNull());
    ASSERT_TRUE(waitFor([&] { return allShown(list); }));
    EXPECT_FALSE(picker.isBrokenTile(rowOf(list, "broken.jpg")));
    const QImage changed = list->item(rowOf(list, "p3.png"))->icon().pixmap(96, 96).toImage();
    EXPECT_EQ(qGray(changed.pixel(changed.width() / 2, changed.height() / 2)), 0);
}

}  // namespace
