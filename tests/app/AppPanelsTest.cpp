#include <gtest/gtest.h>

#include <QLabel>
#include <QTimer>
#include <QToolButton>

#include "AppTestSupport.h"
#include "panels/ColourView.h"
#include "panels/SettingsView.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/SegmentedControl.h"
#include "platform/widgets/Switch.h"

using namespace testing_gui;

namespace {

platform::Defaults& defaults() { return platform::Defaults::standard(); }

// Waits for the next tick of the panel poll.
bool waitForTick(LogCapture& log, const char* line = "timercounter=exec") {
    const int before = log.count(line);
    return waitFor([&] { return log.count(line) > before; }, 6000);
}

}  // namespace

class PanelPollTest : public ControllerFixture {
protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        start();
        pick(writeGradient(library + "/picture.png", {200, 150}));
        c = controller.get();
    }
    bool panelOpen() const {
        return c->popoverController() && c->popoverController()->isPopoverVisible();
    }
    app::lumaroViewController* c = nullptr;
};

TEST_F(PanelPollTest, VignettePanelValuesArriveAtTheNextTickAndRender) {
    LogCapture log;
    QTest::mouseClick(c->vignetBut->segmentButton(0), Qt::LeftButton);
    EXPECT_TRUE(log.contains("vignet opened"));
    ASSERT_TRUE(panelOpen());
    EXPECT_EQ(c->state().openPanel, 2);
    ASSERT_NE(c->panelPollTimer(), nullptr);
    EXPECT_EQ(c->panelPollTimer()->interval(), 1000);

    // Nothing handed over: the tick only looks.
    const QImage before = shownImage();
    ASSERT_TRUE(waitForTick(log));
    EXPECT_TRUE(log.contains("activate=0"));
    EXPECT_EQ(shownImage(), before);

    auto* enabled = c->popoverController()->findChild<platform::Switch*>("enabled");
    auto* radius = c->popoverController()->findChild<platform::FloatSlider*>("radius");
    ASSERT_TRUE(enabled && radius);
    dragSlider(radius, 40);
    QTest::mouseClick(enabled, Qt::LeftButton);
    EXPECT_EQ(c->state().vigEnabled, 0);
    ASSERT_TRUE(waitForTick(log, "activate=1"));
    EXPECT_TRUE(log.contains("openwin=2"));
    EXPECT_TRUE(log.contains("openwin!=4"));
    EXPECT_EQ(c->state().vigEnabled, 1);
    EXPECT_EQ(c->state().vigOn, 1);
    EXPECT_EQ(c->state().vigRadius, 40);
    EXPECT_EQ(c->state().vigType, 1);
    EXPECT_EQ(c->state().vigEffect, 1);
    EXPECT_EQ(defaults().integerForKey("activate"), 0);
    // Darker corners than before.
    EXPECT_LE(qGray(shownImage().pixel(0, 0)), qGray(before.pixel(0, 0)));
    EXPECT_NE(shownImage(), before);
}

TEST_F(PanelPollTest, ProcessingValuesSetTheirFlags) {
    LogCapture log;
    c->showProcessing();
    EXPECT_TRUE(log.contains("processing opened"));
    defaults().setInteger(50, "Alpha");
    defaults().setInteger(100, "Exposure");
    defaults().setInteger(7, "Noise");
    defaults().setInteger(4, "Quant");
    defaults().setInteger(1, "Inverse");
    defaults().setInteger(1, "activate");
    ASSERT_TRUE(waitForTick(log, "activate=1"));
    EXPECT_TRUE(log.contains("openwin=3"));
    const auto& s = c->state();
    EXPECT_EQ(s.alphaValue, 50);
    EXPECT_EQ(s.alphaOn, 1);
    EXPECT_EQ(s.exposureOn, 0);
    EXPECT_EQ(s.noiseValue, 7);
    EXPECT_EQ(s.noiseOn, 1);
    EXPECT_EQ(s.quantValue, 4);
    EXPECT_EQ(s.quantOn, 1);
    EXPECT_EQ(s.inverseValue, 1);
    EXPECT_EQ(s.inverseOn, 1);
}

TEST_F(PanelPollTest, SettingsChangeSizeAndOrnamentsWithoutRendering) {
    LogCapture log;
    QTest::mouseClick(c->Settings, Qt::LeftButton);
    EXPECT_TRUE(log.contains("settings opened"));
    EXPECT_EQ(c->state().openPanel, 4);
    auto* size = c->popoverController()->findChild<platform::SegmentedControl*>("SizeSelection");
    auto* ornaments = c->popoverController()->findChild<platform::Switch*>("OrnamentSwitch");
    ASSERT_TRUE(size && ornaments);
    const QImage before = shownImage();
    QTest::mouseClick(size->segmentButton(1), Qt::LeftButton);
    QTest::mouseClick(ornaments, Qt::LeftButton);
    ASSERT_TRUE(waitForTick(log, "activate=1"));
    EXPECT_EQ(c->state().outputSize, 1300);
    EXPECT_EQ(c->state().ornamentsOn, 0);
    EXPECT_FALSE(c->tape1->isVisible());
    EXPECT_FALSE(c->tape3->isVisible());
    EXPECT_FALSE(log.contains("openwin!=4"));
    EXPECT_EQ(shownImage(), before);
    EXPECT_EQ(defaults().integerForKey("activate"), 0);
}

TEST_F(PanelPollTest, TintPanelRendersTheStoredTintOnItsFirstTick) {
    LogCapture log;
    QTest::mouseClick(c->color->segmentButton(3), Qt::LeftButton);
    EXPECT_EQ(c->state().toneType, 3);
    EXPECT_EQ(c->state().openPanel, 1);
    EXPECT_TRUE(log.contains("Pt1") && log.contains("Pt2") && log.contains("Pt3"));
    ASSERT_TRUE(panelOpen());
    EXPECT_EQ(c->color->selectedSegmentIndex(), 3);
    // The panel hands over white on opening: the tone step stays off.
    const QImage grey = shownImage();
    ASSERT_TRUE(waitForTick(log, "activate=1"));
    EXPECT_TRUE(log.contains("openwin=1"));
    EXPECT_TRUE(log.contains("colex=false"));
    EXPECT_EQ(c->state().toneOn, 0);
    EXPECT_EQ(c->state().tintR, 255);
    EXPECT_EQ(shownImage(), grey);

    auto* blue = c->popoverController()->findChild<platform::FloatSlider*>("Bs");
    ASSERT_NE(blue, nullptr);
    dragSlider(blue, 100);
    ASSERT_TRUE(waitForTick(log, "colex=true"));
    EXPECT_EQ(c->state().toneOn, 1);
    EXPECT_EQ(c->state().tintB, 100);
    EXPECT_EQ(c->state().toneType, 3);
    const QColor tinted = shownImage().pixelColor(100, 75);
    EXPECT_LT(tinted.blue(), tinted.red());
}

TEST_F(PanelPollTest, PanelActionsToggleAndOnlyCloseAnOpenPanel) {
    c->showProcessing();
    ASSERT_TRUE(panelOpen());
    QTest::mouseClick(c->vignetBut->segmentButton(0), Qt::LeftButton);
    EXPECT_FALSE(panelOpen());
    EXPECT_EQ(c->state().openPanel, 0);
    EXPECT_EQ(c->panelPollTimer(), nullptr);

    // The custom tone while another panel is open closes it, keeps the tone, no render.
    c->showVignet();
    ASSERT_TRUE(panelOpen());
    const QImage before = shownImage();
    QTest::mouseClick(c->color->segmentButton(3), Qt::LeftButton);
    EXPECT_FALSE(panelOpen());
    EXPECT_EQ(c->state().toneType, 3);
    EXPECT_EQ(c->state().openPanel, 0);
    EXPECT_EQ(shownImage(), before);
}

TEST_F(PanelPollTest, ATapOutsideClosesThePanelAndTheNextTickStopsThePoll) {
    LogCapture log;
    c->showVignet();
    ASSERT_TRUE(panelOpen());
    QTest::mouseClick(c->image, Qt::LeftButton);
    EXPECT_FALSE(panelOpen());
    EXPECT_NE(c->panelPollTimer(), nullptr);
    // A value left behind stays for the next panel.
    defaults().setInteger(1, "activate");
    ASSERT_TRUE(waitFor([&] { return log.contains("invalidate"); }, 6000));
    EXPECT_EQ(c->panelPollTimer(), nullptr);
    EXPECT_EQ(c->state().openPanel, 0);
    EXPECT_FALSE(log.contains("timercounter=exec"));
    EXPECT_EQ(defaults().integerForKey("activate"), 1);

    // The next panel's first tick copies its own group and renders.
    defaults().setInteger(60, "Alpha");
    c->showProcessing();
    ASSERT_TRUE(waitForTick(log, "openwin=3"));
    EXPECT_EQ(c->state().alphaValue, 60);
    EXPECT_EQ(defaults().integerForKey("activate"), 0);
}
