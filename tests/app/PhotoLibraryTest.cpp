#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "GuiTestSupport.h"
#include "platform/PhotoLibrary.h"
#include "platform/widgets/PhotoPicker.h"
#include "platform/widgets/Popover.h"
#include "platform/widgets/ThumbnailCache.h"
#include "support/Files.h"

using namespace testing_gui;
using platform::PhotoLibrary;

namespace {

int rowOf(const QListWidget* list, const QString& name) {
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->data(Qt::UserRole).toString().endsWith("/" + name)) return row;
    return -1;
}

bool allShown(const QListWidget* list) {
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->icon().isNull()) return false;
    return true;
}

}  // namespace

class PhotoLibraryTest : public LibraryFixture {};

TEST_F(PhotoLibraryTest, ListsPicturesOfTheFolderAndItsAlbumNewestFirst) {
    writePicture(library + "/old.jpg", Qt::red);
    testfiles::writeFile(library + "/notes.txt", "notes");
    QDir().mkpath(library + "/Lumaro");
    writePicture(library + "/Lumaro/saved.png", Qt::blue);
    QFile old(library + "/old.jpg");
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    old.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime);
    old.close();
    const QStringList pictures = PhotoLibrary::pictures();
    ASSERT_EQ(pictures.size(), 2);
    EXPECT_TRUE(pictures[0].endsWith("/Lumaro/saved.png"));
    EXPECT_TRUE(pictures[1].endsWith("/old.jpg"));
}

TEST_F(PhotoLibraryTest, SavesACompleteJpegUnderAFreshNameInTheAlbum) {
    QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(200, 120, 40));
    QString error;
    const QString first = PhotoLibrary::saveToAlbum(image, &error);
    const QString second = PhotoLibrary::saveToAlbum(image, &error);
    ASSERT_FALSE(first.isEmpty() || second.isEmpty()) << error.toStdString();
    EXPECT_NE(first, second);
    EXPECT_EQ(QFileInfo(first).absolutePath(), QDir(library + "/Lumaro").absolutePath());
    EXPECT_EQ(QImage(first).size(), QSize(300, 200));
    // Nothing but the two pictures: no temporary file stays behind.
    EXPECT_EQ(QDir(library + "/Lumaro").entryList(QDir::Files | QDir::Hidden).size(), 2);
    error.clear();
    EXPECT_TRUE(PhotoLibrary::saveToAlbum(QImage(), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(PhotoLibraryTest, PickerSaysWhenTheLibraryIsEmptyAndRemembersAnotherFolder) {
    platform::PhotoPicker picker;
    picker.resize(320, 480);
    picker.show();
    EXPECT_TRUE(picker.emptyNote()->isVisible());
    EXPECT_FALSE(picker.thumbnails()->isVisible());
    EXPECT_TRUE(picker.otherFolderButton()->isVisible());

    QTemporaryDir other;
    writePicture(other.path() + "/a.png", Qt::green);
    writePicture(other.path() + "/b.jpg", Qt::yellow);
    picker.useFolder(other.path());
    EXPECT_EQ(defaults().stringForKey(PhotoLibrary::folderKey), QDir(other.path()).absolutePath());
    EXPECT_FALSE(picker.emptyNote()->isVisible());
    EXPECT_EQ(picker.thumbnails()->count(), 2);
}

TEST_F(PhotoLibraryTest, TilesFillThreeColumnsShowBrokenFilesAndAreKeptUntilTheFileChanges) {
    platform::ThumbnailCache::shared().clear();
    for (int i = 0; i < 4; ++i)
        writePicture(QString("p%1.png").arg(i), QColor::fromHsv(i * 60, 200, 200));
    ASSERT_TRUE(testfiles::writeFile(library + "/notes.jpg", "\xff\xd8 this is not a photo"));
    ASSERT_TRUE(testfiles::writeFile(library + "/empty.png", ""));
    ASSERT_TRUE(testfiles::writeFile(library + "/truncated.png",
                                     QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)));
    QWidget host;
    host.resize(768, 1024);
    auto* picker = new platform::PhotoPicker;
    platform::Popover popover(picker, &host);
    popover.setContentSize({320, 480});
    host.show();
    popover.presentFromRect({10, 10, 60, 30});
    QApplication::processEvents();
    QListWidget* list = picker->thumbnails();
    ASSERT_EQ(list->count(), 7);
    auto tile = [&](int row) { return list->visualItemRect(list->item(row)); };
    EXPECT_EQ(tile(0).top(), tile(2).top());
    EXPECT_LT(tile(1).left(), tile(2).left());
    EXPECT_GT(tile(3).top(), tile(0).top());
    EXPECT_TRUE(list->viewport()->rect().contains(tile(2)));
    EXPECT_GE(list->iconSize().width(), 80);
    ASSERT_TRUE(waitFor([&] { return allShown(list); }));
    for (int row = 0; row < list->count(); ++row) {
        const QString name = list->item(row)->toolTip();
        EXPECT_EQ(picker->isBrokenTile(row), !name.startsWith("p")) << name.toStdString();
        EXPECT_TRUE(list->item(row)->data(Qt::UserRole).toString().endsWith("/" + name));
    }
    // Picking a broken tile still reports the file, so the screen can say why it failed.
    QSignalSpy picked(picker, &platform::PhotoPicker::picked);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      tile(rowOf(list, "notes.jpg")).center());
    ASSERT_EQ(picked.count(), 1);
    EXPECT_TRUE(picked.at(0).at(0).toString().endsWith("/notes.jpg"));

    // Opened again: every tile is there at once, without waiting for a worker.
    EXPECT_EQ(platform::ThumbnailCache::shared().count(), 7);
    picker->hide();
    picker->show();
    EXPECT_TRUE(allShown(list));
    // A file that changed is read again; a broken file that became a picture shows.
    writePicture("p3.png", Qt::black, {200, 50});
    writePicture("notes.jpg", Qt::white);
    picker->reload();
    EXPECT_TRUE(list->item(rowOf(list, "p3.png"))->icon().isNull());
    EXPECT_FALSE(list->item(rowOf(list, "p2.png"))->icon().isNull());
    ASSERT_TRUE(waitFor([&] { return allShown(list); }));
    EXPECT_FALSE(picker->isBrokenTile(rowOf(list, "notes.jpg")));
    const QImage changed = list->item(rowOf(list, "p3.png"))->icon().pixmap(96, 96).toImage();
    EXPECT_EQ(qGray(changed.pixel(changed.width() / 2, changed.height() / 2)), 0);
}
