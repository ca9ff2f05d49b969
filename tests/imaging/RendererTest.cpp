#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <functional>
#include <memory>

#include "ReferenceRenderers.h"
#include "TestPictures.h"
#include "imaging/BandedPass.h"
#include "imaging/ChannelPass.h"
#include "imaging/Intake.h"
#include "imaging/Renderer.h"
#include "imaging/VignetteFilter.h"
#include "support/LogCapture.h"

using imaging::AdjustmentState;
using imaging::Bitmap;
using imaging::Renderer;
using imaging::SliderValues;
using testpictures::channels;
using testpictures::resetAdjustments;
using testpictures::sameBytes;

namespace {

std::shared_ptr<const imaging::Picture> pattern(int w, int h) {
    return std::make_shared<const imaging::Picture>(
        imaging::Picture::fromImage(testpictures::patternImage(w, h)));
}

// A renderer on a screen of the given pixels per point, its renders counted through the
// owner's notification.
struct Fixture {
    explicit Fixture(double ratio = 1.0, const AdjustmentState& s = resetAdjustments()) : state(s) {
        renderer.setWorkingImageChanged([this] { ++changes; });
        renderer.setSliderSource([this] { return sliders; });
        renderer.setRandomSeed(5);
        renderer.setDevicePixelRatio(ratio);
    }
    void takeInFlatGrey(QSize size) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(qRgb(150, 150, 150));
        renderer.takeInPicture(
            std::make_shared<const imaging::Picture>(imaging::Picture::fromImage(image)));
    }
    // The picked picture fitted to the output size and rendered by the reference.
    Bitmap expectedScreen() {
        Bitmap b = imaging::fitToOutputSize(*renderer.pickedPicture(), state.outputSize);
        reference::channelPass(b, state, sliders);
        return b;
    }
    AdjustmentState state;
    Renderer renderer{state};
    SliderValues sliders;
    int changes = 0;
};

TEST(Renderer, RendersFromAFreshFitEveryTimeSoNothingAccumulates) {
    Fixture f;
    f.state.outputSize = 300;
    f.renderer.takeInPicture(pattern(640, 427));
    EXPECT_EQ(std::tuple(f.state.origWidth, f.state.origHeight), std::tuple(640, 427));
    EXPECT_EQ(std::tuple(f.state.imageWidth, f.state.imageHeight), std::tuple(300, 200));
    const Bitmap first = f.renderer.workingImage().clone();
    EXPECT_TRUE(sameBytes(first, f.expectedScreen()));
    f.renderer.MonoCore();
    f.renderer.MonoCore();
    EXPECT_TRUE(sameBytes(f.renderer.workingImage(), first));

    // Undo shows the fitted picture in colour until the next render.
    f.renderer.UndoImage();
    EXPECT_TRUE(sameBytes(f.renderer.workingImage(),
                          imaging::fitToOutputSize(*f.renderer.pickedPicture(), 300)));
    f.sliders.slider1 = 10;
    f.renderer.MonoCore();
    EXPECT_TRUE(sameBytes(f.renderer.workingImage(), f.expectedScreen()));

    // A new output size refits.
    f.state.outputSize = 100;
    f.renderer.MonoCore();
    EXPECT_EQ(f.renderer.workingImage().width(), 100);
    EXPECT_EQ(f.state.imageHeight, 66);
}

TEST(Renderer, ACallDuringARenderReturnsWithoutRendering) {
    Fixture f;
    f.renderer.setPickedPicture(pattern(64, 48));
    int nested = 0;
    bool busyInside = false;
    f.renderer.setSliderSource([&] {
        busyInside = f.renderer.renderBusy();
        if (nested++ == 0) f.renderer.MonoCore();  // re-entry from inside the render
        return SliderValues{};
    });
    f.renderer.MonoCore();
    EXPECT_TRUE(busyInside);
    EXPECT_EQ(nested, 1) << "the nested call must not start a second render";
    EXPECT_EQ(f.changes, 1);
    EXPECT_FALSE(f.renderer.renderBusy());

    // The banded renderer runs under the entry's guard, but has none of its own: the preset
    // calls it directly.
    f.state.renderMode = 1;
    nested = 0;
    f.renderer.MonoCore();
    EXPECT_TRUE(busyInside);
    f.renderer.SepiaImage(1);
    EXPECT_FALSE(busyInside);

    // A render that fails (here: the slider source throws) does not leave the guard set.
    f.state.renderMode = 0;
    f.renderer.setSliderSource([]() -> SliderValues { throw std::runtime_error("gone"); });
    EXPECT_THROW(f.renderer.MonoCore(), std::runtime_error);
    EXPECT_FALSE(f.renderer.renderBusy());
}

TEST(Renderer, PresetsActOnlyOnTheirOwnSegment) {
    Fixture f;
    f.renderer.setPickedPicture(pattern(50, 40));
    const struct {
        std::function<void(Renderer&)> preset;
        int toneOn, toneType, renders;
    } steps[] = {
        {[](Renderer& r) { r.SepiaImage(0); }, 0, 0, 0},
        {[](Renderer& r) { r.AntiqueImage(1); }, 0, 0, 0},
        {[](Renderer& r) { r.GrayImage(2); }, 0, 0, 0},
        {[](Renderer& r) { r.SepiaImage(1); }, 1, 1, 1},
        {[](Renderer& r) { r.AntiqueImage(2); }, 1, 2, 2},
        {[](Renderer& r) { r.GrayImage(0); }, 1, 0, 3},  // grey leaves toneOn as it is
        {[](Renderer& r) { r.DeepCImage(); }, 1, 0, 4},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(&step - steps);
        step.preset(f.renderer);
        EXPECT_EQ(std::tuple(f.state.toneOn, f.state.toneType, f.changes),
                  std::tuple(step.toneOn, step.toneType, step.renders));
    }
    EXPECT_TRUE(sameBytes(f.renderer.workingImage(), f.expectedScreen()));
}

TEST(Renderer, ExportRendersTheSlotAndLeavesTheScreenAlone) {
    Fixture f;
    f.renderer.setPickedPicture(pattern(120, 90));
    f.state.vigEnabled = 1, f.state.vigOn = 1, f.state.vigRadius = 20;
    f.state.toneOn = 1, f.state.toneType = 2;
    f.renderer.MonoCore();
    const Bitmap screen = f.renderer.workingImage().clone();
    const int changes = f.changes;

    const Bitmap upright = imaging::uprightPicture(*f.renderer.pickedPicture());
    f.renderer.setExportImage(upright.clone());
    f.renderer.setExportMode(true);
    f.renderer.MonoCore();
    f.renderer.setExportMode(false);
    const Bitmap exported = f.renderer.takeExportImage();
    EXPECT_TRUE(sameBytes(f.renderer.workingImage(), screen));
    EXPECT_EQ(f.changes, changes);

    // The vignette filter gets half the radius, truncated, and only with both switches on.
    for (const auto& [radius, on, intensity] : {std::tuple{20, 1, 10}, {25, 1, 12}, {40, 0, 0}}) {
        f.state.vigRadius = radius, f.state.vigOn = std::uint8_t(on);
        Bitmap vignetted = upright.clone();
        reference::channelPass(vignetted, f.state, f.sliders);
        imaging::vignetteFilter(vignetted, intensity);
        const Bitmap rendered =
            radius == 20 ? exported.clone() : f.renderer.fullResolutionRender(upright.clone());
        EXPECT_TRUE(sameBytes(rendered, vignetted)) << radius;
    }

    // Banded export: the row padding is 0, while on screen the square picture gets 6.
    Fixture b;
    b.state.renderMode = 1;
    b.state.vigEnabled = 1, b.state.vigOn = 1, b.state.vigRadius = 20;
    b.renderer.setPickedPicture(pattern(480, 480));
    b.renderer.MonoCore();
    Bitmap onScreen = imaging::fitToOutputSize(*b.renderer.pickedPicture(), 650);
    EXPECT_EQ(onScreen.bytesPerRow(), 4 * 486);
    reference::bandedPass(onScreen, 6, b.state, {});
    EXPECT_TRUE(sameBytes(b.renderer.workingImage(), onScreen));

    const Bitmap full = imaging::uprightPicture(*b.renderer.pickedPicture());
    const Bitmap banded = b.renderer.fullResolutionRender(full.clone());
    EXPECT_FALSE(b.renderer.exportMode());
    Bitmap unpadded = full.clone();
    reference::bandedPass(unpadded, 0, b.state, {});
    EXPECT_TRUE(sameBytes(banded, unpadded));
}

TEST(Renderer, ALoneFitOrRenderWithoutAPictureChangesNothingAndLogsWhenAsked) {
    Fixture f;
    f.renderer.MonoCore();
    EXPECT_TRUE(f.renderer.workingImage().isNull());

    LogCapture log("lumaro.render");
    f.renderer.setPickedPicture(pattern(1000, 1000));
    f.renderer.MonoCore();
    EXPECT_EQ(log.collected(), (QStringList{"monocore", "undo", "C", "650", "650",
                                            "image orientation up", "undo", "monocore"}));
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
        Fixture screen(each.ratio);
        screen.takeInFlatGrey(each.picture);
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
        Fixture low(1.0, s), high(2.0, s);
        low.takeInFlatGrey({2048, 1536});
        high.takeInFlatGrey({2048, 1536});
        const Bitmap upright = testpictures::randomBitmap(64, 40);
        const Bitmap saved = high.renderer.fullResolutionRender(upright.clone());
        EXPECT_TRUE(sameBytes(low.renderer.fullResolutionRender(upright.clone()), saved));
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
