#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "GuiTestSupport.h"
#include "platform/PhotoLibrary.h"
#include "platform/widgets/PhotoPicker.h"
#include "support/Files.h"

using namespace testing_gui;
using platform::PhotoLibrary;

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
    ASSERT_FALSE(first.isEmpty()) << error.toStdString();
    ASSERT_FALSE(second.isEmpty()) << error.toStdString();
    EXPECT_NE(first, second);
    EXPECT_EQ(QFileInfo(first).absolutePath(), QDir(library + "/Lumaro").absolutePath());

    QImageReader reader(first);
    EXPECT_EQ(reader.format(), "jpeg");
    const QImage back = reader.read();
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.size(), QSize(300, 200));
    const QColor centre = back.pixelColor(150, 100);
    EXPECT_LE(std::abs(centre.red() - 200) + std::abs(centre.green() - 120) +
                  std::abs(centre.blue() - 40),
              6);
    // Nothing but the two pictures: no temporary file stays behind.
    EXPECT_EQ(QDir(library + "/Lumaro").entryList(QDir::Files | QDir::Hidden).size(), 2);

    // A null picture, or an album whose place is taken by a file, is refused with a reason.
    error.clear();
    EXPECT_TRUE(PhotoLibrary::saveToAlbum(QImage(), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    QDir(library + "/Lumaro").removeRecursively();
    ASSERT_TRUE(testfiles::writeFile(library + "/Lumaro", {}));
    error.clear();
    EXPECT_TRUE(PhotoLibrary::saveToAlbum(image, &error).isEmpty());
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
    EXPECT_EQ(platform::Defaults::standard().stringForKey(PhotoLibrary::folderKey),
              QDir(other.path()).absolutePath());
    EXPECT_FALSE(picker.emptyNote()->isVisible());
    QListWidget* list = picker.thumbnails();
    ASSERT_EQ(list->count(), 2);
    EXPECT_TRUE(waitFor(
        [&] { return !list->item(0)->icon().isNull() && !list->item(1)->icon().isNull(); }));

    // Tapping a thumbnail hands over its file.
    QSignalSpy picked(&picker, &platform::PhotoPicker::picked);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    ASSERT_EQ(picked.count(), 1);
    EXPECT_EQ(QFileInfo(picked.at(0).at(0).toString()).dir(), QDir(other.path()));
}
