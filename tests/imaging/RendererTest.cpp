#include <gtest/gtest.h>

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

using imaging::Bitmap;
using imaging::Renderer;
using imaging::SliderValues;
using testpictures::sameBytes;

namespace {

std::shared_ptr<const imaging::Picture> pattern(int w, int h) {
    return std::make_shared<const imaging::Picture>(
        imaging::Picture::fromImage(testpictures::patternImage(w, h)));
}

// Renders counted through the owner's notification.
struct Fixture {
    Fixture() {
        renderer.setWorkingImageChanged([this] { ++changes; });
        renderer.setSliderSource([this] { return sliders; });
        renderer.setRandomSeed(5);
    }
    // The picked picture fitted to the output size and rendered by the reference.
    Bitmap expectedScreen() {
        Bitmap b = imaging::fitToOutputSize(*renderer.pickedPicture(), state.outputSize);
        reference::channelPass(b, state, sliders);
        return b;
    }
    imaging::AdjustmentState state = testpictures::resetAdjustments();
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

}  // namespace
