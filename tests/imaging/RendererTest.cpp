#include <gtest/gtest.h>

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
using imaging::Picture;
using imaging::Renderer;
using imaging::SliderValues;
using testpictures::resetAdjustments;

namespace {

std::shared_ptr<const Picture> pattern(int w, int h) {
    return std::make_shared<const Picture>(Picture::fromImage(testpictures::patternImage(w, h)));
}

// Renders counted through the owner's notification.
struct Fixture {
    explicit Fixture(AdjustmentState s = resetAdjustments()) : state(s), renderer(state) {
        renderer.setWorkingImageChanged([this] { ++changes; });
        renderer.setSliderSource([this] { return sliders; });
        renderer.setRandomSeed(5);
    }
    AdjustmentState state;
    Renderer renderer;
    SliderValues sliders;
    int changes = 0;
};

TEST(Renderer, RendersFromAFreshFitEveryTimeSoNothingAccumulates) {
    Fixture f;
    f.state.outputSize = 300;
    f.renderer.takeInPicture(pattern(640, 427));
    EXPECT_EQ(f.state.origWidth, 640);
    EXPECT_EQ(f.state.origHeight, 427);
    EXPECT_EQ(f.state.imageWidth, 300);
    EXPECT_EQ(f.state.imageHeight, 200);
    const Bitmap first = f.renderer.workingImage().clone();

    Bitmap expected = imaging::fitToOutputSize(*f.renderer.pickedPicture(), 300);
    reference::channelPass(expected, f.state, f.sliders);
    EXPECT_TRUE(testpictures::sameBytes(first, expected));

    f.renderer.MonoCore();
    f.renderer.MonoCore();
    EXPECT_TRUE(testpictures::sameBytes(f.renderer.workingImage(), first));

    // Undo shows the fitted picture in colour until the next render.
    f.renderer.UndoImage();
    EXPECT_TRUE(testpictures::sameBytes(
        f.renderer.workingImage(), imaging::fitToOutputSize(*f.renderer.pickedPicture(), 300)));
    f.sliders.slider1 = 10;
    f.renderer.MonoCore();
    Bitmap brighter = imaging::fitToOutputSize(*f.renderer.pickedPicture(), 300);
    reference::channelPass(brighter, f.state, f.sliders);
    EXPECT_TRUE(testpictures::sameBytes(f.renderer.workingImage(), brighter));

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

    // The banded renderer runs under the entry's guard, but has none of its own.
    f.state.renderMode = 1;
    nested = 0;
    f.renderer.MonoCore();
    EXPECT_TRUE(busyInside);
    busyInside = true;
    f.renderer.setSliderSource([&] {
        busyInside = f.renderer.renderBusy();
        return SliderValues{};
    });
    f.renderer.SepiaImage(1);  // the preset calls the banded renderer directly
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
    f.renderer.SepiaImage(0);
    f.renderer.AntiqueImage(1);
    f.renderer.GrayImage(2);
    EXPECT_EQ(f.changes, 0);
    EXPECT_EQ(f.state.toneType, 0);
    EXPECT_EQ(f.state.toneOn, 0);

    f.renderer.SepiaImage(1);
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.state.toneOn, 1);
    EXPECT_EQ(f.state.toneType, 1);
    const auto px = testpictures::channels(f.renderer.workingImage(), 3, 3);
    EXPECT_GT(px[0], px[2]) << "sepia warms the grey";

    f.renderer.AntiqueImage(2);
    EXPECT_EQ(f.state.toneType, 2);
    f.renderer.GrayImage(0);
    EXPECT_EQ(f.state.toneType, 0);
    EXPECT_EQ(f.state.toneOn, 1) << "grey leaves toneOn as it is";
    f.renderer.DeepCImage();
    EXPECT_EQ(f.changes, 4);
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

    Bitmap expected = upright.clone();
    reference::channelPass(expected, f.state, f.sliders);
    imaging::vignetteFilter(expected, 10);
    EXPECT_TRUE(testpictures::sameBytes(exported, expected));
    EXPECT_TRUE(testpictures::sameBytes(f.renderer.workingImage(), screen));
    EXPECT_EQ(f.changes, changes);
    EXPECT_EQ(exported.width(), 120);

    // The vignette filter gets half the radius, truncated, and only with both switches on.
    for (const auto& [radius, on, intensity] : {std::tuple{1, 1, 0}, {25, 1, 12}, {40, 0, 0}}) {
        f.state.vigRadius = radius, f.state.vigOn = std::uint8_t(on);
        Bitmap vignetted = upright.clone();
        reference::channelPass(vignetted, f.state, f.sliders);
        imaging::vignetteFilter(vignetted, intensity);
        EXPECT_TRUE(
            testpictures::sameBytes(f.renderer.fullResolutionRender(upright.clone()), vignetted))
            << radius;
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
    EXPECT_TRUE(testpictures::sameBytes(b.renderer.workingImage(), onScreen));

    const Bitmap full = imaging::uprightPicture(*b.renderer.pickedPicture());
    const Bitmap banded = b.renderer.fullResolutionRender(full.clone());
    EXPECT_FALSE(b.renderer.exportMode());
    Bitmap unpadded = full.clone();
    reference::bandedPass(unpadded, 0, b.state, {});
    EXPECT_TRUE(testpictures::sameBytes(banded, unpadded));
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

}  // namespace
