#include <gtest/gtest.h>

#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>
#include <cstring>

#include "ExifJpeg.h"
#include "TestPictures.h"
#include "imaging/BitmapImage.h"
#include "imaging/ImageUtilities.h"
#include "imaging/Intake.h"
#include "imaging/RowPadding.h"
#include "imaging/VignetteFilter.h"
#include "support/Files.h"

using imaging::Bitmap;
using imaging::Orientation;
using imaging::Picture;

namespace {

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
    QPainter(&grid).fillRect(0, 0, 200, 150, QColor(250, 10, 10));  // top left red
    const Picture turned = Picture::fromImage(grid, Orientation::Right);
    const Bitmap b = imaging::fitToOutputSize(turned, 200);
    EXPECT_EQ(QSize(b.width(), b.height()), QSize(150, 200));
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
    using enum Orientation;
    const Orientation expected[] = {Up,           UpMirrored, Down,          DownMirrored,
                                    LeftMirrored, Right,      RightMirrored, Left};
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

TEST(UprightPicture, FromFilesOfOtherPixelFormatsAsWellButNotFromWhatIsNoFile) {
    QTemporaryDir dir;
    QImage grey = testpictures::patternImage(20, 12).convertToFormat(QImage::Format_Grayscale8);
    QImage translucent = testpictures::patternImage(20, 12).convertToFormat(QImage::Format_ARGB32);
    translucent.setPixel(3, 4, qRgba(200, 100, 50, 60));
    ASSERT_TRUE(grey.save(dir.filePath("grey.jpg")));
    ASSERT_TRUE(translucent.save(dir.filePath("translucent.png")));
    for (const QString& path : {dir.filePath("grey.jpg"), dir.filePath("translucent.png"),
                                qEnvironmentVariable("LUMARO_SAMPLES") + "/chelsea.png"}) {
        QString error;
        const auto picture = Picture::fromFile(path, &error);
        ASSERT_TRUE(picture) << error.toStdString();
        EXPECT_EQ(picture->grid.format(), path.contains("translucent")
                                              ? QImage::Format_ARGB32_Premultiplied
                                              : QImage::Format_RGB32);
        EXPECT_TRUE(testpictures::sameBytes(imaging::uprightPictureFromFile(path),
                                            imaging::uprightPicture(*picture)))
            << path.toStdString();
    }
    for (const QString& path : {dir.filePath("missing.jpg"), dir.path()}) {
        QString error;
        EXPECT_FALSE(Picture::fromFile(path, &error));
        EXPECT_TRUE(error.contains(path)) << error.toStdString();
        EXPECT_TRUE(imaging::uprightPictureFromFile(path, &error).isNull());
    }
}

TEST(BitmapImage, ConvertsBetweenQtPixelsAndAlphaFirstBytesBothWays) {
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(qRgba(0, 0, 0, 0));
    image.setPixel(1, 0, qRgba(255, 0, 0, 128));
    image.setPixel(2, 1, qRgb(10, 20, 30));
    const Bitmap bitmap = imaging::bitmapFromImage(image);
    // Alpha first, then the premultiplied channels.
    const auto bytes = [&bitmap](int x, int y) {
        const std::uint8_t* px = bitmap.pixel(x, y);
        return std::array<int, 4>{px[0], px[1], px[2], px[3]};
    };
    EXPECT_EQ(bytes(1, 0), (std::array<int, 4>{128, 128, 0, 0}));
    EXPECT_EQ(bytes(2, 1), (std::array<int, 4>{255, 10, 20, 30}));

    // Padded rows come back as a plain image; the moving form keeps the buffer.
    Bitmap padded = testpictures::randomBitmap(5, 4, 4 * 8);
    const QImage copied = imaging::imageFromBitmap(padded);
    const Bitmap again = imaging::bitmapFromImage(copied);
    for (int y = 0; y < 4; ++y) ASSERT_EQ(std::memcmp(again.row(y), padded.row(y), 4 * 5), 0);
    const std::uint8_t* buffer = padded.data();
    const QImage moved = imaging::imageFromBitmap(std::move(padded));
    EXPECT_TRUE(padded.isNull());
    EXPECT_EQ(moved.constBits(), buffer);
    EXPECT_EQ(moved, copied);
}

QImage opaque(const QImage& image) { return image.convertToFormat(QImage::Format_RGB32); }

QImage uprightOf(const QImage& grid, Orientation o) {
    return opaque(imaging::imageFromBitmap(imaging::uprightPicture(Picture::fromImage(grid, o))));
}

TEST(ImageUtilities, RotateNormaliseScaleAndTurnAsTheUprightCopyDoes) {
    const QImage grid = testpictures::patternImage(9, 5);
    EXPECT_EQ(imaging::rotate(grid, 0), grid);
    for (int o = 1; o <= 7; ++o)
        EXPECT_EQ(opaque(imaging::rotate(grid, o)), uprightOf(grid, Orientation(o))) << o;
#ifdef NDEBUG
    EXPECT_TRUE(imaging::rotate(grid, 8).isNull());
#endif
    imaging::AdjustmentState state;
    EXPECT_EQ(opaque(imaging::resizeImage(grid, Orientation::Up, QSizeF(9.7, 5.2), state)), grid);
    EXPECT_EQ(QSize(state.imageWidth, state.imageHeight), QSize(9, 5));
    EXPECT_EQ(opaque(imaging::resizeImage(grid, Orientation::Down, QSizeF(9, 5), state)),
              uprightOf(grid, Orientation::Down));
    EXPECT_EQ(imaging::resizeImage(grid, Orientation::Left, QSizeF(9, 5), state).size(),
              QSize(5, 9));
    EXPECT_EQ(imaging::resizeImage(QImage(), Orientation::Up, QSizeF(9, 5), state).size(),
              QSize(1, 1));
    EXPECT_EQ(state.imageWidth, 0);
    // A quarter turn counter-clockwise, into a bitmap of exchanged sides.
    EXPECT_EQ(opaque(imaging::CGImageRotatedByAngle(grid, 90)), uprightOf(grid, Orientation::Left));
    const QImage scaled = imaging::imageWithImage(grid, QSizeF(18, 10), 2.0);
    EXPECT_EQ(scaled.size(), QSize(36, 20));
    EXPECT_TRUE(scaled.hasAlphaChannel());
    EXPECT_EQ(scaled.pixel(0, 0), grid.pixel(0, 0));
}

TEST(VignetteFilter, DarkensTowardsTheEdgesByIntensityAndKeepsTheSize) {
    const Bitmap grey = testpictures::greyPicture(101, 61, 200);
    const auto greyAt = [&grey](int intensity, int x, int y) {
        Bitmap b = grey.clone();
        imaging::vignetteFilter(b, intensity);
        EXPECT_EQ(std::pair(b.width(), b.height()), std::pair(101, 61));
        EXPECT_EQ(b.pixel(x, y)[0], 255) << "alpha stays";
        return testpictures::channels(b, x, y)[0];
    };
    EXPECT_EQ(greyAt(0, 0, 0), 200);
    EXPECT_EQ(greyAt(10, 50, 30), 200);  // the centre keeps its value
    for (int x = 50; x > 0; x -= 5)      // falling along the diagonal towards the corner
        EXPECT_LT(greyAt(10, x - 5, (x - 5) * 30 / 50), greyAt(10, x, x * 30 / 50)) << x;
    EXPECT_NEAR(greyAt(10, 0, 0), 100, 6);            // about half at the corner
    EXPECT_EQ(greyAt(10, 3, 7), greyAt(10, 97, 53));  // symmetric about the centre
    EXPECT_LT(greyAt(20, 0, 0), 10);                  // nearly black
    // A brightening intensity never exceeds the pixel's alpha.
    EXPECT_EQ(greyAt(-30, 0, 0), 255);
}

}  // namespace
