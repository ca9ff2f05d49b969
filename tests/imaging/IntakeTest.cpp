#include <gtest/gtest.h>

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <cstring>

#include "ExifJpeg.h"
#include "TestPictures.h"
#include "imaging/BitmapImage.h"
#include "imaging/Intake.h"
#include "imaging/RowPadding.h"
#include "support/Files.h"

using imaging::Bitmap;
using imaging::Orientation;
using imaging::Picture;

namespace {

QString samples() { return qEnvironmentVariable("LUMARO_SAMPLES"); }

TEST(Fit, TargetSizeFollowsTheFiveCasesInOrder) {
    struct Case {
        double w, h;
        int s;
        double tw, th;
        const char* name;
    } cases[] = {
        {2048, 1536, 650, 650, 487.5, "B"}, {1536, 2048, 650, 487.5, 650, "A"},
        {600, 400, 650, 600, 400, ""},      {480, 800, 650, 390, 650, "D"},
        {1000, 1000, 650, 650, 650, "C"},   {650, 650, 650, 650, 650, ""},
        {500, 500, 650, 500, 500, ""},      {651, 100, 650, 650, 100.0 / 651 * 650, "B"},
    };
    for (const Case& c : cases) {
        const imaging::FitTarget t = imaging::fitTarget(c.w, c.h, c.s);
        EXPECT_DOUBLE_EQ(t.width, c.tw) << c.w << "x" << c.h;
        EXPECT_DOUBLE_EQ(t.height, c.th) << c.w << "x" << c.h;
        EXPECT_STREQ(t.caseName, c.name) << c.w << "x" << c.h;
    }
    EXPECT_EQ(imaging::fitPixels(imaging::fitTarget(2048, 1536, 650)), QSize(650, 487));
    // A sliver never becomes an empty picture.
    EXPECT_EQ(imaging::fitPixels(imaging::fitTarget(4000, 2, 650)), QSize(650, 1));
}

TEST(Fit, DrawsThePictureUprightAtItsFittedSizeWithThePlatformRowPadding) {
    // Stored landscape, shown portrait: the fit works on the upright size.
    QImage grid = testpictures::patternImage(400, 300);
    grid.fill(Qt::black);
    for (int y = 0; y < 150; ++y) {
        for (int x = 0; x < 200; ++x) grid.setPixel(x, y, qRgb(250, 10, 10));  // top left red
    }
    const Picture turned = Picture::fromImage(grid, Orientation::Right);
    const Bitmap b = imaging::fitToOutputSize(turned, 200);
    EXPECT_EQ(b.width(), 150);
    EXPECT_EQ(b.height(), 200);
    // Turned clockwise, the stored top left is the upright top right.
    EXPECT_EQ(testpictures::channels(b, 140, 10), (std::array<int, 3>{250, 10, 10}));
    EXPECT_EQ(testpictures::channels(b, 10, 10), (std::array<int, 3>{0, 0, 0}));

    // Square 480 x 480 at output size 500: six pixels of padding per row.
    const Picture square = Picture::fromImage(testpictures::patternImage(480, 480));
    const Bitmap c = imaging::fitToOutputSize(square, 500);
    EXPECT_EQ(c.width(), 480);
    EXPECT_EQ(c.bytesPerRow(), 4 * (480 + 6));
    // A picture that already fits is copied pixel for pixel.
    const QImage back = imaging::imageFromBitmap(c);
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), square.grid);
}

TEST(UprightPicture, AllEightExifOrientationsLookAsQtShowsThem) {
    QTemporaryDir dir;
    const QImage pattern = testpictures::patternImage(37, 23);
    const Orientation expected[] = {Orientation::Up,
                                    Orientation::UpMirrored,
                                    Orientation::Down,
                                    Orientation::DownMirrored,
                                    Orientation::LeftMirrored,
                                    Orientation::Right,
                                    Orientation::RightMirrored,
                                    Orientation::Left};
    for (int exif = 1; exif <= 8; ++exif) {
        const QString path = dir.filePath(QStringLiteral("o%1.jpg").arg(exif));
        ASSERT_TRUE(testfiles::writeFile(path, testpictures::jpegWithOrientation(pattern, exif)));

        QString error;
        auto picture = Picture::fromFile(path, &error);
        ASSERT_TRUE(picture) << error.toStdString();
        EXPECT_EQ(picture->orientation, expected[exif - 1]) << exif;
        EXPECT_EQ(picture->grid.size(), QSize(37, 23)) << "stored grid is never turned";
        const QSize upright = exif >= 5 ? QSize(23, 37) : QSize(37, 23);
        EXPECT_EQ(picture->uprightSize(), upright) << exif;

        QImageReader shown(path);
        shown.setAutoTransform(true);
        const Bitmap reference = imaging::bitmapFromImage(shown.read());
        const Bitmap copy = imaging::uprightPicture(*picture);
        EXPECT_EQ(copy.bytesPerRow(), 4 * copy.width());
        EXPECT_TRUE(testpictures::sameBytes(copy, reference)) << "orientation " << exif;
        // Straight from the file, decoded into the copy's own memory when it can.
        const Bitmap direct = imaging::uprightPictureFromFile(path, &error);
        EXPECT_TRUE(testpictures::sameBytes(direct, reference)) << "orientation " << exif;
        // The reduced copy of an upload keeps the orientation and scales.
        const Bitmap small = imaging::uprightPicture(*picture, upright / 2);
        EXPECT_EQ(QSize(small.width(), small.height()), upright / 2) << exif;
    }
}

TEST(UprightPicture, FromFilesOfOtherPixelFormatsAsWell) {
    QTemporaryDir dir;
    QImage grey = testpictures::patternImage(20, 12).convertToFormat(QImage::Format_Grayscale8);
    QImage translucent = testpictures::patternImage(20, 12).convertToFormat(QImage::Format_ARGB32);
    translucent.setPixel(3, 4, qRgba(200, 100, 50, 60));
    ASSERT_TRUE(grey.save(dir.filePath("grey.jpg")));
    ASSERT_TRUE(translucent.save(dir.filePath("translucent.png")));
    for (const char* name : {"grey.jpg", "translucent.png"}) {
        QString error;
        const auto picture = Picture::fromFile(dir.filePath(name), &error);
        ASSERT_TRUE(picture) << error.toStdString();
        EXPECT_TRUE(testpictures::sameBytes(imaging::uprightPictureFromFile(dir.filePath(name)),
                                            imaging::uprightPicture(*picture)))
            << name;
    }
    QString error;
    EXPECT_TRUE(imaging::uprightPictureFromFile(dir.filePath("none.jpg"), &error).isNull());
    EXPECT_FALSE(error.isEmpty());
}

TEST(Decoding, ReadsSamplesAndRefusesBrokenFilesWithAReason) {
    QString error;
    auto hubble = Picture::fromFile(samples() + "/hubble_deep_field.jpg", &error);
    ASSERT_TRUE(hubble) << error.toStdString();
    EXPECT_EQ(hubble->orientation, Orientation::Up);
    EXPECT_EQ(hubble->uprightSize(), QSize(1000, 872));
    auto png = Picture::fromFile(samples() + "/chelsea.png", &error);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->grid.format(), QImage::Format_RGB32);

    QTemporaryDir dir;
    EXPECT_FALSE(Picture::fromFile(dir.filePath("missing.jpg"), &error));
    EXPECT_TRUE(error.contains("missing.jpg")) << error.toStdString();

    EXPECT_FALSE(Picture::fromFile(dir.path(), &error)) << "a directory is not a picture";
}

TEST(BitmapImage, ConvertsBetweenQtPixelsAndAlphaFirstBytesBothWays) {
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(qRgba(0, 0, 0, 0));
    image.setPixel(1, 0, qRgba(255, 0, 0, 128));
    image.setPixel(2, 1, qRgb(10, 20, 30));
    const Bitmap bitmap = imaging::bitmapFromImage(image);
    const std::uint8_t* red = bitmap.pixel(1, 0);
    EXPECT_EQ(red[0], 128);  // alpha first, then premultiplied red
    EXPECT_EQ(red[1], 128);
    EXPECT_EQ(red[2], 0);
    const std::uint8_t* opaque = bitmap.pixel(2, 1);
    EXPECT_EQ((std::array<int, 4>{opaque[0], opaque[1], opaque[2], opaque[3]}),
              (std::array<int, 4>{255, 10, 20, 30}));

    // Padded rows come back as a plain image; the moving form keeps the buffer.
    Bitmap padded = testpictures::randomBitmap(5, 4, 4 * 8);
    const QImage copied = imaging::imageFromBitmap(padded);
    const Bitmap again = imaging::bitmapFromImage(copied);
    for (int y = 0; y < 4; ++y) {
        ASSERT_EQ(std::memcmp(again.row(y), padded.row(y), 4 * 5), 0);
    }
    const std::uint8_t* buffer = padded.data();
    const QImage moved = imaging::imageFromBitmap(std::move(padded));
    EXPECT_TRUE(padded.isNull());
    EXPECT_EQ(moved.constBits(), buffer);
    EXPECT_EQ(moved, copied);
}

}  // namespace
