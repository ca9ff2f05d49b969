#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <memory>

#include "TestPictures.h"
#include "imaging/BandedPass.h"
#include "imaging/ChannelPass.h"
#include "imaging/Renderer.h"

using imaging::AdjustmentState;
using imaging::Bitmap;
using testpictures::channels;
using testpictures::resetAdjustments;

namespace {

// A renderer on a screen of the given pixels per point, showing a flat grey picture.
struct Screen {
    Screen(double ratio, QSize picture, const AdjustmentState& s = resetAdjustments()) : state(s) {
        QImage image(picture, QImage::Format_RGB32);
        image.fill(qRgb(150, 150, 150));
        renderer.setRandomSeed(11);
        renderer.setDevicePixelRatio(ratio);
        renderer.takeInPicture(
            std::make_shared<const imaging::Picture>(imaging::Picture::fromImage(image)));
    }
    AdjustmentState state;
    imaging::Renderer renderer{state};
};

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
    const struct {
        QSize picture;
        double ratio;
        QSize pixels, points;
        double pixelsPerPoint;
    } cases[] = {
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
    for (const auto& each : cases) {
        SCOPED_TRACE(testing::Message() << each.picture.width() << "x" << each.picture.height()
                                        << " at " << each.ratio);
        Screen screen(each.ratio, each.picture);
        const Bitmap& pixels = screen.renderer.workingImage();
        EXPECT_EQ(QSize(pixels.width(), pixels.height()), each.pixels);
        EXPECT_EQ(QSize(screen.state.imageWidth, screen.state.imageHeight), each.points);
        EXPECT_DOUBLE_EQ(screen.renderer.pixelsPerPoint(), each.pixelsPerPoint);
    }
}

// At two pixels per point the screen's picture looks as at one, noise aside, which comes
// in grains of two; saved pictures do not depend on the screen at all.
TEST(HighDensityRender, ScreensOfTwoPixelsPerPointChangeOnlyTheGrainOfTheirPicture) {
    const struct {
        const char* name;
        int renderMode;
        bool noise;
        int vigEffect;
    } cases[] = {{"filter noise", 0, true, 0},
                 {"banded noise", 1, true, 0},
                 {"filter vignette", 0, false, 1},
                 {"banded darkening vignette", 1, false, 1},
                 {"banded lightening vignette", 1, false, 2}};
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        AdjustmentState s = resetAdjustments();
        s.renderMode = each.renderMode;
        s.noiseOn = each.noise, s.noiseValue = 100;
        s.vigOn = s.vigEnabled = each.vigEffect != 0;
        s.vigEffect = each.vigEffect, s.vigRadius = 30;
        // The same seed gives the same noise at any ratio.
        Screen low(1.0, {2048, 1536}, s), high(2.0, {2048, 1536}, s);
        const Bitmap upright = testpictures::randomBitmap(64, 40);
        const Bitmap saved = high.renderer.fullResolutionRender(upright.clone());
        EXPECT_TRUE(
            testpictures::sameBytes(low.renderer.fullResolutionRender(upright.clone()), saved));
        const Bitmap& one = low.renderer.workingImage();
        const Bitmap& two = high.renderer.workingImage();
        if (each.noise) {
            EXPECT_FALSE(comesInGrains(saved, 2));
            EXPECT_FALSE(comesInGrains(one, 2));
            EXPECT_TRUE(comesInGrains(two, 2));
            continue;
        }
        EXPECT_NE(channels(one, 0, 0)[0], 150);
        // Alike, within the rounding of a pixel's distance, to the picture at two pixels per
        // point with each 2 x 2 block averaged.
        long total = 0;
        int worst = 0;
        for (int y = 0; y < one.height(); ++y) {
            for (int x = 0; x < one.width(); ++x) {
                int sum = 2;
                for (int block = 0; block < 4; ++block)
                    sum += channels(two, 2 * x + block % 2, 2 * y + block / 2)[0];
                const int d = std::abs(channels(one, x, y)[0] - sum / 4);
                total += d;
                worst = std::max(worst, d);
            }
        }
        EXPECT_LE(double(total) / (one.width() * one.height()), 1.0);
        EXPECT_LE(worst, 4);
    }
}

TEST(HighDensityRender, NoiseComesInGrainsOfTheGivenPixelsPerPoint) {
    // Odd sizes and padded rows: grains cut by the edges, and the row chunks
    // of the parallel passes (16 rows) are not a multiple of 3.
    AdjustmentState s = resetAdjustments();
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
}

}  // namespace
