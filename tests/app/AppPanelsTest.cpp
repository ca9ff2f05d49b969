#include <gtest/gtest.h>

#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <functional>

#include "AppTestSupport.h"
#include "panels/ColourView.h"
#include "panels/SettingsView.h"
#include "panels/VignetView.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/SegmentedControl.h"
#include "platform/widgets/Switch.h"

using namespace testing_gui;

namespace {

platform::Defaults& defaults() { return platform::Defaults::standard(); }

// Waits for the next tick of the panel poll.
bool waitForTick(AppLog& log, const char* line = "timercounter=exec") {
    const int before = log.count(line);
    return waitFor([&] { return log.count(line) > before; }, 6000);
}

}  // namespace

class PanelPollTest : public ControllerFixture {
protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        c = &startEditing({200, 150});
    }
    bool panelOpen() const {
        return c->popoverController() && c->popoverController()->isPopoverVisible();
    }
    app::lumaroViewController* c = nullptr;
};

TEST_F(PanelPollTest, VignettePanelValuesArriveAtTheNextTickAndRender) {
    AppLog log;
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
    const auto& s = c->state();
    EXPECT_EQ((QList<int>{s.vigEnabled, s.vigOn, s.vigRadius, s.vigType, s.vigEffect}),
              (QList<int>{1, 1, 40, 1, 1}));
    EXPECT_EQ(defaults().integerForKey("activate"), 0);
    // Darker corners than before.
    EXPECT_LE(qGray(shownImage().pixel(0, 0)), qGray(before.pixel(0, 0)));
    EXPECT_NE(shownImage(), before);
}

TEST_F(PanelPollTest, SettingsChangeSizeAndOrnamentsWithoutRendering) {
    AppLog log;
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
    AppLog log;
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

TEST_F(PanelPollTest, EachPanelControlTogglesItsPanelAndEscapeClosesIt) {
    // Another panel's control while one is open only closes it, with no render.
    c->showProcessing();
    ASSERT_TRUE(panelOpen());
    QTest::mouseClick(c->vignetBut->segmentButton(0), Qt::LeftButton);
    EXPECT_FALSE(panelOpen());
    EXPECT_EQ(c->panelPollTimer(), nullptr);
    c->showVignet();
    const QImage before = shownImage();
    QTest::mouseClick(c->color->segmentButton(3), Qt::LeftButton);
    EXPECT_FALSE(panelOpen());
    EXPECT_EQ(c->state().toneType, 3);
    EXPECT_EQ(c->state().openPanel, 0);
    EXPECT_EQ(shownImage(), before);

    // The custom tone, selected already, still opens and closes the tint panel.
    const std::pair<const char*, std::function<void()>> controls[] = {
        {"tint", [&] { QTest::mouseClick(c->color->segmentButton(3), Qt::LeftButton); }},
        {"vignette", [&] { QTest::mouseClick(c->vignetBut->segmentButton(0), Qt::LeftButton); }},
        {"processing", [&] { QTest::mouseClick(c->moreBut->segmentButton(0), Qt::LeftButton); }},
        {"settings", [&] { QTest::mouseClick(c->Settings, Qt::LeftButton); }},
        {"picker", [&] { QTest::mouseClick(c->Open, Qt::LeftButton); }},
    };
    for (const auto& [name, tap] : controls) {
        SCOPED_TRACE(name);
        for (const bool open : {true, false, true}) {
            tap();
            QApplication::processEvents();
            EXPECT_EQ(panelOpen(), open);
        }
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : c->view();
        QTest::keyClick(target, Qt::Key_Escape);
        EXPECT_FALSE(panelOpen());
        c->countDown2();
        EXPECT_EQ(c->panelPollTimer(), nullptr);
        EXPECT_EQ(c->state().openPanel, 0);
    }
}

TEST_F(PanelPollTest, TheVignettePanelSaysWhenTheRendererIgnoresItsChoices) {
    for (const auto& [segment, applies] : {std::pair{0, false}, {1, true}, {2, true}}) {
        SCOPED_TRACE(segment);
        c->type->setSelectedSegmentIndex(segment);
        c->SwitchType();
        c->showVignet();
        auto* panel = qobject_cast<panels::VignetView*>(c->popoverController()->content());
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->vtype->isEnabled(), applies);
        EXPECT_EQ(panel->veffect->isEnabled(), applies);
        EXPECT_EQ(panel->classicNote->isVisible(), !applies);
        EXPECT_TRUE(panel->radius->isEnabled());
        c->showVignet();
    }
}

TEST_F(PanelPollTest, ATapOutsideClosesThePanelAndTheNextTickStopsThePoll) {
    AppLog log;
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

    // The next panel's first tick copies its own group, sets its step switches and renders.
    for (const auto& [key, value] :
         {std::pair{"Alpha", 60}, {"Exposure", 100}, {"Noise", 7}, {"Quant", 4}, {"Inverse", 1}})
        defaults().setInteger(value, key);
    c->showProcessing();
    EXPECT_TRUE(log.contains("processing opened"));
    ASSERT_TRUE(waitForTick(log, "openwin=3"));
    const auto& s = c->state();
    EXPECT_EQ((QList<int>{s.alphaValue, s.alphaOn, s.exposureOn, s.noiseValue, s.noiseOn,
                          s.quantValue, s.quantOn, s.inverseValue, s.inverseOn}),
              (QList<int>{60, 1, 0, 7, 1, 4, 1, 1, 1}));
    EXPECT_EQ(defaults().integerForKey("activate"), 0);
}
