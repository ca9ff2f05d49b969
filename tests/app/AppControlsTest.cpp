#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "AppTestSupport.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/SegmentedControl.h"

using namespace testing_gui;
using platform::SegmentedControl;

namespace {

void tap(SegmentedControl* control, int segment) {
    QTest::mouseClick(control->segmentButton(segment), Qt::LeftButton);
}

bool allVisible(const QList<QWidget*>& widgets, bool visible) {
    for (QWidget* w : widgets)
        if (w->isVisible() != visible) return false;
    return true;
}

}  // namespace

class ControlsTest : public ControllerFixture {
protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        c = &startEditing();
    }
    QList<QWidget*> global() const {
        return {c->slider1, c->slider1t, c->slid1, c->slider2, c->slider2t, c->slid2};
    }
    QList<QWidget*> light() const {
        return {c->sliderR,  c->sliderG,    c->sliderB,    c->sliderRl,  c->sliderGl,
                c->sliderBl, c->sliderRval, c->sliderGval, c->sliderBval};
    }
    QList<QWidget*> dark() const {
        return {c->sliderR2,  c->sliderG2,    c->sliderB2,    c->sliderRl2,  c->sliderGl2,
                c->sliderBl2, c->sliderRval2, c->sliderGval2, c->sliderBval2};
    }
    app::lumaroViewController* c = nullptr;
};

TEST_F(ControlsTest, SliderReadoutsRoundToTwoDecimalsKeepTheirWidthAndDoNotRender) {
    c->view()->resize(600, 800);
    const struct {
        platform::FloatSlider* slider;
        QLabel* label;
        double value;
        const char* text;
    } moves[] = {
        {c->slider1, c->slid1, 7.125, "7.13"},
        {c->slider1, c->slid1, -4.99, "-4.99"},
        {c->slider1, c->slid1, 10, "10"},
        {c->slider2, c->slid2, 3, "3"},
        {c->slider2, c->slid2, -5, "-5"},
        {c->sliderR, c->sliderRval, -9.99, "-9.99"},
        {c->sliderG, c->sliderGval, -1.5, "-1.5"},
        {c->sliderB, c->sliderBval, 8.26, "8.26"},
        {c->sliderR2, c->sliderRval2, -1.5, "-1.5"},
        {c->sliderG2, c->sliderGval2, 0.01, "0.01"},
        {c->sliderB2, c->sliderBval2, -10, "-10"},
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

TEST_F(ControlsTest, PresetsSetBothSlidersWithFixedTextsAndRender) {
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
        EXPECT_EQ(c->slider1->floatValue(), preset.value);
        EXPECT_EQ(c->slider2->floatValue(), preset.value);
        EXPECT_EQ(c->slid1->text(), preset.text);
        EXPECT_EQ(c->slid2->text(), preset.text);
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

TEST_F(ControlsTest, TypeControlsAndToneSwitchRendererAndSliderPage) {
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
    } steps[] = {
        {"film type", c->type, 1, 2, Global, false, any},
        {"banded type", c->type, 2, 1, Light, true, any},
        {"plain type", c->type, 0, 0, Global, any, any},
        {"per-colour controls", c->controls, 1, 0, Light, any, false},
        {"dark tone", c->tone, 1, 0, Dark, any, false},
        {"light tone", c->tone, 0, 0, Light, any, false},
        // The film type hides the colour sliders and the tone; the filter stays hidden.
        {"film type per colour", c->type, 1, 2, Global, false, false},
        {"global controls", c->controls, 0, 2, Global, any, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        tap(step.control, step.segment);
        EXPECT_EQ(c->state().renderMode, step.renderMode);
        EXPECT_TRUE(allVisible(global(), step.page == Global));
        EXPECT_TRUE(allVisible(light(), step.page == Light));
        EXPECT_TRUE(allVisible(dark(), step.page == Dark));
        if (step.tone != any) {
            EXPECT_EQ(c->tone->isVisible(), bool(step.tone));
        }
        if (step.filter != any) {
            EXPECT_TRUE(allVisible({c->dfilter, c->dfilterL}, step.filter));
        }
    }
    EXPECT_EQ(c->state().colourControls, 0);
}

TEST_F(ControlsTest, TheBandedRendererReadsOnlyTheGlobalSlidersAndDropsSepia) {
    tap(c->color, 1);
    tap(c->type, 1);
    EXPECT_EQ(c->state().toneType, 1) << "film keeps the tone";
    tap(c->type, 2);
    EXPECT_EQ(c->state().toneType, 0);
    const QImage banded = shownImage();
    dragSlider(c->sliderR, 8);
    QTest::mouseClick(c->applyButton, Qt::LeftButton);
    EXPECT_EQ(shownImage(), banded);
}

TEST_F(ControlsTest, FilterStoresTheSegmentAndRenders) {
    const QImage none = shownImage();
    tap(c->dfilter, 1);
    EXPECT_EQ(c->state().filterType, 1);
    const QImage red = shownImage();
    EXPECT_NE(red, none);
    tap(c->dfilter, 6);
    EXPECT_EQ(c->state().filterType, 6);
    // Set behind the control's back, the same segment still stores and renders.
    c->state().filterType = 2;
    c->dfilter->setSelectedSegmentIndex(5);
    tap(c->dfilter, 1);
    EXPECT_EQ(c->state().filterType, 1);
    EXPECT_EQ(shownImage(), red);
}

TEST_F(ControlsTest, ResetPutsEveryAdjustmentBack) {
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
    platform::Defaults::standard().setInteger(9, "Rad");
    platform::Defaults::standard().setInteger(1, "activate");

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

TEST_F(ControlsTest, UndoShowsThePickedPictureInColour) {
    c->UndoImage();
    const QColor p = shownImage().pixelColor(300, 20);
    EXPECT_NE(p.red(), p.blue());
    QTest::mouseClick(c->applyButton, Qt::LeftButton);
    const QColor q = shownImage().pixelColor(300, 20);
    EXPECT_EQ(q.red(), q.blue());
}
