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

// The picture halved by averaging each 2 x 2 block, as a screen of one pixel
// per point would show a picture rendered at two.
Bitmap halved(const Bitmap& b) {
    Bitmap out = Bitmap::zeroed(b.width() / 2, b.height() / 2);
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            std::uint8_t* px = out.pixel(x, y);
            px[0] = 255;
            for (int c = 1; c <= 3; ++c) {
                px[c] = std::uint8_t((b.pixel(2 * x, 2 * y)[c] + b.pixel(2 * x + 1, 2 * y)[c] +
                                      b.pixel(2 * x, 2 * y + 1)[c] +
                                      b.pixel(2 * x + 1, 2 * y + 1)[c] + 2) /
                                     4);
            }
        }
    }
    return out;
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
        EXPECT_EQ(f.renderer.workingImage().width(), each.pixels.width());
        EXPECT_EQ(f.renderer.workingImage().height(), each.pixels.height());
        EXPECT_EQ(f.state.imageWidth, each.points.width());
        EXPECT_EQ(f.state.imageHeight, each.points.height());
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
        const Bitmap a = low.renderer.fullResolutionRender(upright.clone());
        const Bitmap b = high.renderer.fullResolutionRender(upright.clone());
        EXPECT_TRUE(testpictures::sameBytes(a, b));
        EXPECT_FALSE(comesInGrains(b, 2));
    }
}

TEST(HighDensityRender, VignettesLookTheSameAtTwoPixelsPerPoint) {
    struct Case {
        const char* name;
        int renderMode;
        int vigEffect;
    };
    const Case cases[] = {{"filter", 0, 1}, {"banded darken", 1, 1}, {"banded lighten", 1, 2}};
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        AdjustmentState s = resetState();
        s.renderMode = each.renderMode;
        s.vigOn = s.vigEnabled = 1;
        s.vigEffect = each.vigEffect;
        s.vigRadius = 30;
        Fixture low(1.0, s), high(2.0, s);
        const auto picture = flatPicture(2048, 1536, 150);
        low.renderer.takeInPicture(picture);
        high.renderer.takeInPicture(picture);
        const Bitmap& one = low.renderer.workingImage();
        const Bitmap two = halved(high.renderer.workingImage());
        ASSERT_EQ(two.width(), one.width());
        ASSERT_EQ(two.height(), one.height());
        // The corners are darkened (or lightened) at both ratios alike...
        EXPECT_NE(channels(one, 0, 0)[0], 150);
        long total = 0;
        int worst = 0;
        for (int y = 0; y < one.height(); ++y) {
            for (int x = 0; x < one.width(); ++x) {
                const int d = std::abs(channels(one, x, y)[0] - channels(two, x, y)[0]);
                total += d;
                worst = std::max(worst, d);
            }
        }
        // ...and everywhere else, within the rounding of a pixel's distance.
        EXPECT_LE(double(total) / (one.width() * one.height()), 1.0);
        EXPECT_LE(worst, 4);
    }
}

TEST(HighDensityRender, NoiseComesInGrainsOfTheScreensPixelsPerPoint) {
    // Odd sizes and padded rows: grains cut by the edges, and the row chunks
    // of the parallel passes (16 rows) are not a multiple of 3.
    for (const int grain : {1, 2, 3}) {
        for (const bool banded : {false, true}) {
            SCOPED_TRACE(testing::Message() << "grain " << grain << (banded ? " banded" : ""));
            AdjustmentState s = resetState();
            s.noiseOn = 1;
            s.noiseValue = 100;  // every pixel becomes a noise grey
            Bitmap b = testpictures::greyPicture(41, 37, 140, 4 * 44);
            if (banded) {
                imaging::bandedPass(b, 0, s, {}, 7, grain);
            } else {
                imaging::channelPass(b, s, {}, 7, grain);
            }
            EXPECT_TRUE(comesInGrains(b, grain));
            EXPECT_FALSE(comesInGrains(b, grain + 1));
        }
    }

    // The renderer picks the grain from the fit's pixels per point.
    AdjustmentState r = resetState();
    r.noiseOn = 1, r.noiseValue = 100;
    for (const double ratio : {1.0, 2.0}) {
        Fixture f(ratio, r);
        f.renderer.takeInPicture(flatPicture(1300, 1300, 150));
        EXPECT_EQ(comesInGrains(f.renderer.workingImage(), 2), ratio == 2.0);
    }
}

}  // namespace
