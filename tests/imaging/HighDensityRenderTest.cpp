#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "TestPictures.h"
#include "imaging/BandedPass.h"
#include "imaging/ChannelPass.h"
#include "imaging/Intake.h"
#include "imaging/Renderer.h"
#include "imaging/ResetDefaults.h"

using imaging::AdjustmentState;
using imaging::Bitmap;
using imaging::Picture;
using imaging::Renderer;
using testpictures::channels;

namespace {

std::shared_ptr<const Picture> flatPicture(int w, int h, int grey) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(qRgb(grey, grey, grey));
    return std::make_shared<const Picture>(Picture::fromImage(image));
}

AdjustmentState resetState(int outputSize = 650) {
    AdjustmentState s;
    imaging::resetState(s);
    s.outputSize = outputSize;
    return s;
}

struct Fixture {
    explicit Fixture(double ratio, AdjustmentState s = resetState()) : state(s), renderer(state) {
        renderer.setRandomSeed(11);
        renderer.setDevicePixelRatio(ratio);
    }
    AdjustmentState state;
    Renderer renderer;
};

// The grey of the picture halved by averaging each 2 x 2 block, as a screen of one pixel per
// point would show a picture rendered at two.
int halvedGrey(const Bitmap& b, int x, int y) {
    const int sum = channels(b, 2 * x, 2 * y)[0] + channels(b, 2 * x + 1, 2 * y)[0] +
                    channels(b, 2 * x, 2 * y + 1)[0] + channels(b, 2 * x + 1, 2 * y + 1)[0];
    return (sum + 2) / 4;
}

// True when every pixel of each aligned grain x grain block equals the
// block's first pixel (blocks cut by the edges included).
bool comesInGrains(const Bitmap& b, int grain) {
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x)
            if (channels(b, x, y) != channels(b, x / grain * grain, y / grain * grain))
                return false;
    return true;
}

TEST(HighDensityRender, TheFitAimsAtTheScreensPixelsAndKeepsItsSizeInPoints) {
    struct Case {
        QSize picture;
        double ratio;
        QSize pixels;
        QSize points;
        double pixelsPerPoint;
    };
    const Case cases[] = {
        {{2048, 1536}, 1.0, {650, 487}, {650, 487}, 1.0},
        {{2048, 1536}, 2.0, {1300, 975}, {650, 487}, 2.0},
        {{1536, 2048}, 2.0, {975, 1300}, {487, 650}, 2.0},
        {{2048, 1536}, 1.5, {975, 731}, {650, 487}, 1.5},
        // Never enlarged: between the two sizes the picture keeps its own pixels.
        {{1000, 800}, 2.0, {1000, 800}, {650, 520}, 1000.0 / 650},
        {{600, 400}, 2.0, {600, 400}, {600, 400}, 1.0},
        // Below one pixel per point the screen still gets one.
        {{2048, 1536}, 0.5, {650, 487}, {650, 487}, 1.0},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(testing::Message() << each.picture.width() << "x" << each.picture.height()
                                        << " at " << each.ratio);
        Fixture f(each.ratio);
        f.renderer.takeInPicture(flatPicture(each.picture.width(), each.picture.height(), 90));
        const Bitmap& pixels = f.renderer.workingImage();
        EXPECT_EQ(QSize(pixels.width(), pixels.height()), each.pixels);
        EXPECT_EQ(QSize(f.state.imageWidth, f.state.imageHeight), each.points);
        EXPECT_DOUBLE_EQ(f.renderer.pixelsPerPoint(), each.pixelsPerPoint);
    }
}

TEST(HighDensityRender, SavedPicturesDoNotDependOnTheScreen) {
    AdjustmentState s = resetState();
    s.noiseOn = 1, s.noiseValue = 40;
    // The same seed gives the same noise at any ratio.
    for (const int renderMode : {0, 1}) {
        SCOPED_TRACE(renderMode);
        s.renderMode = renderMode;
        Fixture low(1.0, s), high(2.0, s);
        // The screen's picture first, so the high fixture renders at two pixels per point.
        low.renderer.takeInPicture(flatPicture(2048, 1536, 100));
        high.renderer.takeInPicture(flatPicture(2048, 1536, 100));
        ASSERT_DOUBLE_EQ(high.renderer.pixelsPerPoint(), 2.0);
        const Bitmap upright = testpictures::randomBitmap(64, 40);
        const Bitmap b = high.renderer.fullResolutionRender(upright.clone());
        EXPECT_TRUE(testpictures::sameBytes(low.renderer.fullResolutionRender(upright.clone()), b));
        EXPECT_FALSE(comesInGrains(b, 2));
    }
}

TEST(HighDensityRender, VignettesLookTheSameAtTwoPixelsPerPoint) {
    const std::pair<int, int> modeAndEffect[] = {{0, 1}, {1, 1}, {1, 2}};
    for (const auto& [renderMode, vigEffect] : modeAndEffect) {
        SCOPED_TRACE(testing::Message() << "mode " << renderMode << ", effect " << vigEffect);
        AdjustmentState s = resetState();
        s.renderMode = renderMode;
        s.vigOn = s.vigEnabled = 1;
        s.vigEffect = vigEffect;
        s.vigRadius = 30;
        Fixture low(1.0, s), high(2.0, s);
        low.renderer.takeInPicture(flatPicture(2048, 1536, 150));
        high.renderer.takeInPicture(flatPicture(2048, 1536, 150));
        const Bitmap& one = low.renderer.workingImage();
        const Bitmap& two = high.renderer.workingImage();
        // The corners are darkened (or lightened) at both ratios alike, and everywhere else
        // within the rounding of a pixel's distance.
        EXPECT_NE(channels(one, 0, 0)[0], 150);
        long total = 0;
        int worst = 0;
        for (int y = 0; y < one.height(); ++y) {
            for (int x = 0; x < one.width(); ++x) {
                const int d = std::abs(channels(one, x, y)[0] - halvedGrey(two, x, y));
                total += d;
                worst = std::max(worst, d);
            }
        }
        EXPECT_LE(double(total) / (one.width() * one.height()), 1.0);
        EXPECT_LE(worst, 4);
    }
}

TEST(HighDensityRender, NoiseComesInGrainsOfTheScreensPixelsPerPoint) {
    // Odd sizes and padded rows: grains cut by the edges, and the row chunks
    // of the parallel passes (16 rows) are not a multiple of 3.
    AdjustmentState s = resetState();
    s.noiseOn = 1, s.noiseValue = 100;  // every pixel becomes a noise grey
    for (const int grain : {1, 2, 3}) {
        for (const bool banded : {false, true}) {
            SCOPED_TRACE(testing::Message() << "grain " << grain << (banded ? " banded" : ""));
            Bitmap b = testpictures::greyPicture(41, 37, 140, 4 * 44);
            banded ? imaging::bandedPass(b, 0, s, {}, 7, grain)
                   : imaging::channelPass(b, s, {}, 7, grain);
            EXPECT_TRUE(comesInGrains(b, grain));
            EXPECT_FALSE(comesInGrains(b, grain + 1));
        }
    }

    // The renderer picks the grain from the fit's pixels per point.
    for (const double ratio : {1.0, 2.0}) {
        Fixture f(ratio, s);
        f.renderer.takeInPicture(flatPicture(1300, 1300, 150));
        EXPECT_EQ(comesInGrains(f.renderer.workingImage(), 2), ratio == 2.0);
    }
}

}  // namespace
