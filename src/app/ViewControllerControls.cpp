#include <QLabel>

#include "app/AppLog.h"
#include "app/lumaroViewController.h"
#include "imaging/ResetDefaults.h"
#include "platform/Defaults.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/SegmentedControl.h"
#include "ui/Format.h"

namespace app {

namespace {

void setVisible(const QList<QWidget*>& widgets, bool visible) {
    for (QWidget* w : widgets) w->setVisible(visible);
}

}  // namespace

void lumaroViewController::MonoCore() { renderer_.MonoCore(); }

void lumaroViewController::UndoImage() { renderer_.UndoImage(); }

void lumaroViewController::SwitchType() {
    if (type->selectedSegmentIndex() == 0) {
        state_.renderMode = 0;
        state_.toneType = 0;
        renderer_.MonoCore();
        setVisible(globalSliders(), true);
        setVisible(lightColourSliders(), false);
        tone->hide();
    }
    if (type->selectedSegmentIndex() == 2) {
        state_.toneType = 0;
        state_.renderMode = 1;
        renderer_.MonoCore();
        setVisible(lightColourSliders(), true);
        tone->show();
        setVisible(globalSliders(), false);
    }
    if (type->selectedSegmentIndex() == 1) {
        state_.renderMode = 2;
        renderer_.Mono_Core();
        setVisible(globalSliders(), true);
        setVisible(lightColourSliders(), false);
        tone->hide();
    }
}

void lumaroViewController::SwitchFilter() {
    state_.filterType = dfilter->selectedSegmentIndex();
    renderer_.MonoCore();
}

void lumaroViewController::SwitchTone() {
    if (tone->selectedSegmentIndex() == 0) {
        setVisible(darkColourSliders(), false);
        setVisible(lightColourSliders(), true);
    } else if (tone->selectedSegmentIndex() == 1) {
        setVisible(lightColourSliders(), false);
        setVisible(darkColourSliders(), true);
    }
}

void lumaroViewController::SwitchControls() {
    const QList<QWidget*> globalPage = QList<QWidget*>{dfilter, dfilterL} + globalSliders();
    if (controls->selectedSegmentIndex() == 0) {
        setVisible(darkColourSliders(), false);
        setVisible(lightColourSliders(), false);
        tone->hide();
        setVisible(globalPage, true);
        state_.colourControls = 0;
        renderer_.MonoCore();
    } else if (controls->selectedSegmentIndex() == 1) {
        tone->setSelectedSegmentIndex(0);
        setVisible(darkColourSliders(), false);
        setVisible(lightColourSliders(), true);
        tone->show();
        setVisible(globalPage, false);
        state_.colourControls = 1;
        renderer_.MonoCore();
    }
}

void lumaroViewController::Slider1f() { slid1->setText(ui::sliderReadout(slider1->floatValue())); }
void lumaroViewController::Slider2f() { slid2->setText(ui::sliderReadout(slider2->floatValue())); }
void lumaroViewController::Slider1fR() {
    sliderRval->setText(ui::sliderReadout(sliderR->floatValue()));
}
void lumaroViewController::Slider2fR() {
    sliderRval2->setText(ui::sliderReadout(sliderR2->floatValue()));
}
void lumaroViewController::Slider1fG() {
    sliderGval->setText(ui::sliderReadout(sliderG->floatValue()));
}
void lumaroViewController::Slider2fG() {
    sliderGval2->setText(ui::sliderReadout(sliderG2->floatValue()));
}
void lumaroViewController::Slider1fB() {
    sliderBval->setText(ui::sliderReadout(sliderB->floatValue()));
}
void lumaroViewController::Slider2fB() {
    sliderBval2->setText(ui::sliderReadout(sliderB2->floatValue()));
}

void lumaroViewController::Apply() { renderer_.MonoCore(); }

namespace {

// A preset puts both global sliders to one value and shows a fixed text.
void applyPreset(platform::FloatSlider* light, platform::FloatSlider* dark, QLabel* lightText,
                 QLabel* darkText, float value, const QString& text) {
    light->setFloatValue(value);
    dark->setFloatValue(value);
    lightText->setText(text);
    darkText->setText(text);
}

}  // namespace

void lumaroViewController::Default() {
    applyPreset(slider1, slider2, slid1, slid2, 5.3f, QStringLiteral("5.3"));
    renderer_.MonoCore();
}

void lumaroViewController::Nul() {
    applyPreset(slider1, slider2, slid1, slid2, 0.0f, QStringLiteral("0"));
    renderer_.MonoCore();
}

void lumaroViewController::Min() {
    applyPreset(slider1, slider2, slid1, slid2, -5.0f, QStringLiteral("-5.0"));
    renderer_.MonoCore();
}

void lumaroViewController::Max() {
    qCDebug(lcApp) << "test";
    applyPreset(slider1, slider2, slid1, slid2, 10.0f, QStringLiteral("10.0"));
    renderer_.MonoCore();
}

void lumaroViewController::GrayImage() { renderer_.GrayImage(color->selectedSegmentIndex()); }
void lumaroViewController::SepiaImage() { renderer_.SepiaImage(color->selectedSegmentIndex()); }
void lumaroViewController::AntiqueImage() { renderer_.AntiqueImage(color->selectedSegmentIndex()); }
void lumaroViewController::DeepCImage() { renderer_.DeepCImage(); }

void lumaroViewController::resetImage() {
    using C = lumaroViewController;
    imaging::resetDefaults(platform::Defaults::standard());
    imaging::resetState(state_);
    for (platform::FloatSlider* s :
         {slider1, slider2, sliderR2, sliderG2, sliderB2, sliderR, sliderG, sliderB})
        s->setFloatValue(0);
    // Every read-out follows its slider, the global ones included.
    for (auto readout : {&C::Slider1f, &C::Slider2f, &C::Slider1fR, &C::Slider2fR, &C::Slider1fG,
                         &C::Slider2fG, &C::Slider1fB, &C::Slider2fB})
        (this->*readout)();
    for (platform::SegmentedControl* c : {color, type, dfilter}) c->setSelectedSegmentIndex(0);
    renderer_.MonoCore();
}

}  // namespace app
