#include <QTimer>

#include "AppTestSupport.h"
#include "panels/ColourView.h"
#include "panels/SettingsView.h"
#include "panels/VignetView.h"

using namespace testing_gui;
using platform::SegmentedControl;

namespace {

void tap(SegmentedControl* control, int segment) {
    QTest::mouseClick(control->segmentButton(segment), Qt::LeftButton);
}

// Waits for the next tick of the panel poll.
bool waitForTick(AppLog& log, const char* line = "timercounter=exec") {
    const int before = log.count(line);
    return waitFor([&] { return log.count(line) > before; }, 6000);
}

}  // namespace

// The editing screen with a picture, its controls and the panels they open.
class EditingTest : public ControllerFixture {
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

TEST_F(EditingTest, SliderReadoutsRoundToTwoDecimalsKeepTheirWidthAndDoNotRender) {
    c->view()->resize(600, 800);
    const struct {
        platform::FloatSlider* slider;
        QLabel* label;
        double value;
        const char* text;
    } moves[] = {
        {c->slider1, c->slid1, 7.125, "7.13"},
        {c->slider1, c->slid1, 10, "10"},
        {c->slider2, c->slid2, -5, "-5"},
        {c->sliderR, c->sliderRval, -9.99, "-9.99"},
        {c->sliderR2, c->sliderRval2, -1.5, "-1.5"},
        {c->sliderG2, c->sliderGval2, 0.01, "0.01"},
    };
    for (const auto& move : moves) {
        SCOPED_TRACE(move.label->objectName().toStdString() + " " + move.text);
        if (move.slider == c->sliderR) tap(c->controls, 1);
        if (move.slider == c->sliderR2) tap(c->tone, 1);
        QApplication::processEvents();
        ASSERT_TRUE(move.label->isVisible());
        const int width = move.label->width();
        const QRect track = move.slider->geometry();
        const QImage shown = shownImage();
        dragSlider(move.slider, move.value);
        QApplication::processEvents();
        EXPECT_EQ(move.label->text(), move.text);
        EXPECT_EQ(move.label->width(), width);
        EXPECT_EQ(move.slider->geometry(), track);
        EXPECT_LE(move.label->fontMetrics().horizontalAdvance(move.label->text()),
                  move.label->contentsRect().width());
        EXPECT_EQ(shownImage(), shown);
    }
    // Apply is what makes slider moves take effect.
    const QImage before = shownImage();
    QTest::mouseClick(c->applyButton, Qt::LeftButton);
    EXPECT_NE(shownImage(), before);
}

TEST_F(EditingTest, PresetsSetBothSlidersWithFixedTextsAndRender) {
    AppLog log;
    const struct {
        QPushButton* button;
        float value;
        const char* text;
    } presets[] = {{c->defaultButton, 5.3f, "5.3"},
                   {c->minButton, -5.0f, "-5.0"},
                   {c->maxButton, 10.0f, "10.0"},
                   {c->nulButton, 0.0f, "0"}};
    QImage previous = shownImage();
    for (const auto& preset : presets) {
        QTest::mouseClick(preset.button, Qt::LeftButton);
        EXPECT_EQ((QList<float>{c->slider1->floatValue(), c->slider2->floatValue()}),
                  QList<float>(2, preset.value));
        EXPECT_EQ((QStringList{c->slid1->text(), c->slid2->text()}), QStringList(2, preset.text));
        EXPECT_NE(shownImage(), previous) << preset.text;
        previous = shownImage();
    }
    EXPECT_EQ(log.count("test"), 1);
    // A later drag to the same value reads by the rule, not the preset text.
    QTest::mouseClick(c->maxButton, Qt::LeftButton);
    dragSlider(c->slider1, 9, false);
    dragSlider(c->slider1, 10);
    EXPECT_EQ(c->slid1->text(), "10");
}

TEST_F(EditingTest, TypeControlsAndToneSwitchRendererAndSliderPage) {
    enum Page { Global, Light, Dark };
    const int any = -1;  // not looked at in that step
    const struct {
        const char* name;
        SegmentedControl* control;
        int segment;
        int renderMode;
        Page page;
        int tone;
        int filter;
        int toneType;
    } steps[] = {
        // Film keeps the sepia tone, the banded renderer drops it.
        {"film type", c->type, 1, 2, Global, false, any, 1},
        {"banded type", c->type, 2, 1, Light, true, any, 0},
        {"plain type", c->type, 0, 0, Global, any, any, 0},
        {"per-colour controls", c->controls, 1, 0, Light, any, false, 0},
        {"dark tone", c->tone, 1, 0, Dark, any, false, 0},
        {"light tone", c->tone, 0, 0, Light, any, false, 0},
        // The film type hides the colour sliders and the tone; the filter stays hidden.
        {"film type per colour", c->type, 1, 2, Global, false, false, 0},
        {"global controls", c->controls, 0, 2, Global, any, true, 0},
    };
    tap(c->color, 1);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        tap(step.control, step.segment);
        EXPECT_EQ(c->state().renderMode, step.renderMode);
        EXPECT_EQ(c->state().toneType, step.toneType);
        // A slider and a read-out stand for each page.
        const QList<bool> shown{c->slider2->isVisible(),  c->slid1->isVisible(),
                                c->sliderB->isVisible(),  c->sliderGval->isVisible(),
                                c->sliderG2->isVisible(), c->sliderRval2->isVisible()};
        const bool g = step.page == Global, l = step.page == Light, d = step.page == Dark;
        EXPECT_EQ(shown, (QList<bool>{g, g, l, l, d, d}));
        if (step.tone != any) {
            EXPECT_EQ(c->tone->isVisible(), bool(step.tone));
        }
        if (step.filter != any) {
            EXPECT_EQ(c->dfilter->isVisible(), bool(step.filter));
        }
    }
    EXPECT_EQ(c->state().colourControls, 0);
}

TEST_F(EditingTest, FilterStoresTheSegmentAndRenders) {
    const QImage none = shownImage();
    tap(c->dfilter, 1);
    EXPECT_EQ(c->state().filterType, 1);
    const QImage red = shownImage();
    EXPECT_NE(red, none);
    // Set behind the control's back, the same segment still stores and renders.
    c->state().filterType = 2;
    c->dfilter->setSelectedSegmentIndex(5);
    tap(c->dfilter, 1);
    EXPECT_EQ(c->state().filterType, 1);
    EXPECT_EQ(shownImage(), red);
}

TEST_F(EditingTest, ResetPutsEveryAdjustmentBack) {
    tap(c->color, 1);
    tap(c->dfilter, 3);
    tap(c->type, 2);
    tap(c->controls, 1);
    dragSlider(c->sliderR, 4);
    dragSlider(c->sliderG2, -2);
    dragSlider(c->slider2, -4.99);
    QTest::mouseClick(c->maxButton, Qt::LeftButton);
    c->state().vigEnabled = 1;
    c->state().noiseOn = 1;
    c->state().alphaOn = 1;
    defaults().setInteger(9, "Rad");
    defaults().setInteger(1, "activate");

    tap(c->resetBut, 0);
    const auto& s = c->state();
    EXPECT_EQ((QList<int>{s.toneType, s.toneOn, s.filterType, s.renderMode, s.tintR, s.vigEnabled,
                          s.vigRadius, s.noiseOn, s.alphaOn, s.colourControls}),
              (QList<int>{0, 1, 0, 0, 255, 0, 20, 0, 1, 1}));
    EXPECT_EQ(stored({"Rad", "activate"}), (QList<int>{20, 0}));
    const std::pair<platform::FloatSlider*, QLabel*> lanes[] = {
        {c->slider1, c->slid1},        {c->slider2, c->slid2},       {c->sliderR, c->sliderRval},
        {c->sliderG, c->sliderGval},   {c->sliderB, c->sliderBval},  {c->sliderR2, c->sliderRval2},
        {c->sliderG2, c->sliderGval2}, {c->sliderB2, c->sliderBval2}};
    for (auto [slider, label] : lanes) {
        EXPECT_EQ(slider->floatValue(), 0.0f) << label->objectName().toStdString();
        EXPECT_EQ(label->text(), "0") << label->objectName().toStdString();
    }
    for (SegmentedControl* control : {c->color, c->type, c->dfilter})
        EXPECT_EQ(control->selectedSegmentIndex(), 0) << control->objectName().toStdString();
    // All sliders at 0: the plain average grey, whatever the slider page.
    const QImage reset = shownImage();
    const QColor p = reset.pixelColor(100, 100);
    EXPECT_TRUE(p.red() == p.green() && p.green() == p.blue());
    tap(c->controls, 0);
    EXPECT_EQ(shownImage(), reset);
}

TEST_F(EditingTest, VignettePanelValuesArriveAtTheNextTickAndRender) {
    AppLog log;
    tap(c->vignetBut, 0);
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
    const auto& s = c->state();
    EXPECT_EQ((QList<int>{s.vigEnabled, s.vigOn, s.vigRadius, s.vigType, s.vigEffect}),
              (QList<int>{1, 1, 40, 1, 1}));
    EXPECT_EQ(defaults().integerForKey("activate"), 0);
    // Darker corners than before.
    EXPECT_LE(qGray(shownImage().pixel(0, 0)), qGray(before.pixel(0, 0)));
    EXPECT_NE(shownImage(), before);
}

TEST_F(EditingTest, SettingsChangeSizeAndOrnamentsWithoutRendering) {
    AppLog log;
    QTest::mouseClick(c->Settings, Qt::LeftButton);
    EXPECT_EQ(c->state().openPanel, 4);
    auto* size = c->popoverController()->findChild<platform::SegmentedControl*>("SizeSelection");
    auto* ornaments = c->popoverController()->findChild<platform::Switch*>("OrnamentSwitch");
    ASSERT_TRUE(size && ornaments);
    const QImage before = shownImage();
    QTest::mouseClick(size->segmentButton(1), Qt::LeftButton);
    QTest::mouseClick(ornaments, Qt::LeftButton);
    ASSERT_TRUE(waitForTick(log, "activate=1"));
    EXPECT_EQ((QList<int>{c->state().outputSize, c->state().ornamentsOn}), (QList<int>{1300, 0}));
    EXPECT_FALSE(c->tape1->isVisible());
    EXPECT_FALSE(log.contains("openwin!=4"));
    EXPECT_EQ(shownImage(), before);
    EXPECT_EQ(defaults().integerForKey("activate"), 0);
}

TEST_F(EditingTest, TintPanelRendersTheStoredTintOnItsFirstTick) {
    AppLog log;
    tap(c->color, 3);
    EXPECT_EQ(c->state().toneType, 3);
    EXPECT_EQ(c->state().openPanel, 1);
    ASSERT_TRUE(panelOpen());
    // The panel hands over white on opening: the tone step stays off.
    const QImage grey = shownImage();
    ASSERT_TRUE(waitForTick(log, "activate=1"));
    EXPECT_TRUE(log.contains("colex=false"));
    EXPECT_EQ((QList<int>{c->state().toneOn, c->state().tintR}), (QList<int>{0, 255}));
    EXPECT_EQ(shownImage(), grey);

    auto* blue = c->popoverController()->findChild<platform::FloatSlider*>("Bs");
    ASSERT_NE(blue, nullptr);
    dragSlider(blue, 100);
    ASSERT_TRUE(waitForTick(log, "colex=true"));
    EXPECT_EQ((QList<int>{c->state().toneOn, c->state().tintB, c->state().toneType}),
              (QList<int>{1, 100, 3}));
    const QColor tinted = shownImage().pixelColor(100, 75);
    EXPECT_LT(tinted.blue(), tinted.red());
}

TEST_F(EditingTest, EachPanelControlTogglesItsPanelAndEscapeClosesIt) {
    // Another panel's control while one is open only closes it, with no render.
    c->showProcessing();
    ASSERT_TRUE(panelOpen());
    tap(c->vignetBut, 0);
    EXPECT_FALSE(panelOpen());
    EXPECT_EQ(c->panelPollTimer(), nullptr);
    c->showVignet();
    const QImage before = shownImage();
    tap(c->color, 3);
    EXPECT_FALSE(panelOpen());
    EXPECT_EQ(c->state().toneType, 3);
    EXPECT_EQ(c->state().openPanel, 0);
    EXPECT_EQ(shownImage(), before);

    // The custom tone, selected already, still opens and closes the tint panel.
    const std::pair<const char*, std::function<void()>> controls[] = {
        {"tint", [&] { tap(c->color, 3); }},
        {"vignette", [&] { tap(c->vignetBut, 0); }},
        {"processing", [&] { tap(c->moreBut, 0); }},
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

TEST_F(EditingTest, TheVignettePanelSaysWhenTheRendererIgnoresItsChoices) {
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

TEST_F(EditingTest, ATapOutsideClosesThePanelAndTheNextTickStopsThePoll) {
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
    ASSERT_TRUE(waitForTick(log, "openwin=3"));
    const auto& s = c->state();
    EXPECT_EQ((QList<int>{s.alphaValue, s.alphaOn, s.exposureOn, s.noiseValue, s.noiseOn,
                          s.quantValue, s.quantOn, s.inverseValue, s.inverseOn}),
              (QList<int>{60, 1, 0, 7, 1, 4, 1, 1, 1}));
    EXPECT_EQ(defaults().integerForKey("activate"), 0);
}
