#include <gtest/gtest.h>

#include "TestPictures.h"
#include "imaging/BitmapImage.h"
#include "imaging/ImageUtilities.h"
#include "imaging/Intake.h"
#include "imaging/VignetteFilter.h"

using imaging::Orientation;

namespace {

QImage opaque(const QImage& image) { return image.convertToFormat(QImage::Format_RGB32); }

QImage uprightOf(const QImage& grid, Orientation o) {
    return opaque(
        imaging::imageFromBitmap(imaging::uprightPicture(imaging::Picture::fromImage(grid, o))));
}

TEST(ImageUtilities, RotateRedrawsEveryOrientationUpright) {
    const QImage grid = testpictures::patternImage(7, 4);
    EXPECT_EQ(imaging::rotate(grid, 0), grid);
    for (int o = 1; o <= 7; ++o) {
        EXPECT_EQ(opaque(imaging::rotate(grid, o)), uprightOf(grid, Orientation(o))) << o;
    }
#ifdef NDEBUG
    EXPECT_TRUE(imaging::rotate(grid, 8).isNull());
#endif
}

TEST(ImageUtilities, NormaliserScalingAndQuarterTurns) {
    const QImage grid = testpictures::patternImage(9, 5);
    imaging::AdjustmentState state;
    const QImage up = imaging::resizeImage(grid, Orientation::Up, QSizeF(9.7, 5.2), state);
    EXPECT_EQ(opaque(up), grid);
    EXPECT_EQ(state.imageWidth, 9);
    EXPECT_EQ(state.imageHeight, 5);
    const QImage down = imaging::resizeImage(grid, Orientation::Down, QSizeF(9, 5), state);
    EXPECT_EQ(opaque(down), uprightOf(grid, Orientation::Down));
    const QImage left = imaging::resizeImage(grid, Orientation::Left, QSizeF(9, 5), state);
    EXPECT_EQ(left.size(), QSize(5, 9));
    EXPECT_TRUE(imaging::resizeImage(QImage(), Orientation::Up, QSizeF(9, 5), state).size() ==
                QSize(1, 1));
    EXPECT_EQ(state.imageWidth, 0);

    // A quarter turn counter-clockwise, into a bitmap of exchanged sides.
    EXPECT_EQ(opaque(imaging::CGImageRotatedByAngle(grid, 90)), uprightOf(grid, Orientation::Left));

    const QImage scaled = imaging::imageWithImage(grid, QSizeF(18, 10), 2.0);
    EXPECT_EQ(scaled.size(), QSize(36, 20));
    EXPECT_TRUE(scaled.hasAlphaChannel());
    EXPECT_EQ(scaled.pixel(0, 0), grid.pixel(0, 0));
}

}  // namespace

namespace {

TEST(VignetteFilter, DarkensTowardsTheEdgesByIntensityAndKeepsTheSize) {
    const imaging::Bitmap grey = testpictures::greyPicture(101, 61, 200);
    imaging::Bitmap none = grey.clone();
    imaging::vignetteFilter(none, 0);
    EXPECT_TRUE(testpictures::sameBytes(none, grey));

    imaging::Bitmap soft = grey.clone();
    imaging::Bitmap strong = grey.clone();
    imaging::vignetteFilter(soft, 10);
    imaging::vignetteFilter(strong, 20);
    EXPECT_EQ(soft.width(), 101);
    EXPECT_EQ(soft.height(), 61);
    EXPECT_EQ(testpictures::channels(soft, 50, 30)[0], 200);  // the centre keeps its value
    int previous = 255;
    for (int x = 50; x >= 0; --x) {  // falling along the diagonal towards the corner
        const int v = testpictures::channels(soft, x, x * 30 / 50)[0];
        EXPECT_LE(v, previous) << x;
        previous = v;
    }
    EXPECT_NEAR(testpictures::channels(soft, 0, 0)[0], 100, 6);  // about half at the corner
    EXPECT_LT(testpictures::channels(strong, 0, 0)[0], 10);      // nearly black
    EXPECT_EQ(soft.pixel(0, 0)[0], 255) << "alpha stays";
    // Symmetric about the centre.
    EXPECT_EQ(testpictures::channels(soft, 3, 7), testpictures::channels(soft, 97, 53));

    // A brightening intensity never exceeds the pixel's alpha.
    imaging::Bitmap bright = grey.clone();
    imaging::vignetteFilter(bright, -30);
    EXPECT_EQ(testpictures::channels(bright, 0, 0)[0], 255);
}

}  // namespace
