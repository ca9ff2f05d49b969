#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <memory>

#include "ReferenceRenderers.h"
#include "TestPictures.h"
#include "imaging/BandedPass.h"
#include "imaging/ChannelPass.h"
#include "imaging/Intake.h"
#include "imaging/Renderer.h"
#include "imaging/ResetDefaults.h"
#include "imaging/VignetteFilter.h"
#include "support/TempHome.h"

using imaging::AdjustmentState;
using imaging::Bitmap;
using imaging::Picture;
using imaging::Renderer;
using imaging::SliderValues;

namespace {

std::shared_ptr<const Picture> pattern(int w, int h) {
    return std::make_shared<const Picture>(Picture::fromImage(testpictures::patternImage(w, h)));
}

AdjustmentState resetState(int outputSize = 650) {
    AdjustmentState s;
    imaging::resetState(s);
    s.outputSize = outputSize;
    return s;
}

// Renders counted through the owner's notification.
struct Fixture {
    explicit Fixture(AdjustmentState s = resetState()) : state(s), renderer(state) {
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

TEST(Renderer, ResetRestoresTheAdjustmentsAndRendersPlainGrey) {
    TempHome home;
    Fixture f;
    f.renderer.setPickedPicture(pattern(80, 60));
    f.renderer.SepiaImage(1);
    f.state.filterType = 3;
    f.state.renderMode = 2;
    f.state.colourControls = 1;
    f.state.vigEnabled = 1, f.state.vigOn = 1, f.state.vigRadius = 44, f.state.vigEffect = 2;
    f.state.noiseValue = 30, f.state.noiseOn = 1;
    f.state.inverseValue = 1, f.state.inverseOn = 1;
    f.state.exposureValue = 150, f.state.exposureOn = 1;
    f.state.openPanel = 3;
    f.state.outputSize = 1300;

    imaging::resetState(f.state);
    const AdjustmentState& s = f.state;
    EXPECT_EQ((std::vector<int>{s.toneType, s.filterType, s.renderMode, s.tintR, s.tintG, s.tintB,
                                s.vigEnabled, s.vigRadius, s.vigType, s.vigEffect, s.exposureValue,
                                s.noiseOn, s.inverseOn, s.openPanel}),
              (std::vector<int>{0, 0, 0, 255, 255, 255, 0, 20, 1, 1, 100, 0, 0, 0}));
    // Flags reset does not touch keep their values; the reset values make them inert.
    EXPECT_EQ((std::vector<int>{s.toneOn, s.exposureOn, s.vigOn, s.colourControls, s.outputSize}),
              (std::vector<int>{1, 1, 1, 1, 1300}));

    f.sliders = {};
    f.renderer.MonoCore();
    const Bitmap& out = f.renderer.workingImage();
    const Bitmap fitted = imaging::fitToOutputSize(*f.renderer.pickedPicture(), 1300);
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            const std::uint8_t* in = fitted.pixel(x, y);
            const int grey = (in[1] + in[2] + in[3]) / 3;
            ASSERT_EQ(testpictures::channels(out, x, y), (std::array<int, 3>{grey, grey, grey}));
        }
    }

    platform::Defaults defaults(platform::Defaults::standardFilePath());
    defaults.setInteger(7, "Rad");
    defaults.setInteger(1, "activate");
    defaults.setInteger(3, "R");
    imaging::resetDefaults(defaults);
    platform::Defaults reread(platform::Defaults::standardFilePath());
    const std::pair<const char*, int> keys[] = {
        {"Type", 1},       {"Rad", 20},    {"Effect", 1},   {"Enabled", 0}, {"Alpha", 100},
        {"Exposure", 100}, {"R", 255},     {"G", 255},      {"B", 255},     {"Noise", 0},
        {"Quant", 1},      {"Inverse", 0}, {"activate", 0},
    };
    for (const auto& [key, value] : keys) {
        EXPECT_TRUE(reread.hasKey(key)) << key;
        EXPECT_EQ(reread.integerForKey(key), value) << key;
    }
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

    static QStringList lines;
    lines.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("lumaro.render.debug=true"));
    const auto previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext& context, const QString& message) {
            if (QLatin1String(context.category) == QLatin1String("lumaro.render")) {
                lines << message;
            }
        });
    f.renderer.setPickedPicture(pattern(1000, 1000));
    f.renderer.MonoCore();
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    EXPECT_EQ(lines, (QStringList{"monocore", "undo", "C", "650", "650", "image orientation up",
                                  "undo", "monocore"}));
}

}  // namespace
