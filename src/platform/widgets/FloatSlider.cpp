#include "platform/widgets/FloatSlider.h"

#include <algorithm>
#include <cmath>

namespace platform {

FloatSlider::FloatSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setRange(0, positionOf(1.0));
    setSingleStep(positionOf(0.1));
    setPageStep(positionOf(1.0));
    connect(this, &QAbstractSlider::valueChanged, this, &FloatSlider::onPositionChanged);
    connect(this, &QAbstractSlider::sliderReleased, this, [this] { emit valueReleased(value_); });
}

int FloatSlider::positionOf(double value) {
    return static_cast<int>(std::lround(value * stepsPerUnit));
}

void FloatSlider::setFloatValue(double value) {
    const double clamped = std::clamp(value, minimumValue(), maximumValue());
    settingInCode_ = true;
    setValue(positionOf(clamped));
    settingInCode_ = false;
    value_ = static_cast<float>(clamped);
}

void FloatSlider::setMinimumValue(double value) {
    settingInCode_ = true;
    setMinimum(positionOf(value));
    settingInCode_ = false;
    value_ = std::max(value_, static_cast<float>(value));
}

void FloatSlider::setMaximumValue(double value) {
    settingInCode_ = true;
    setMaximum(positionOf(value));
    settingInCode_ = false;
    value_ = std::min(value_, static_cast<float>(value));
}

void FloatSlider::onPositionChanged(int position) {
    if (settingInCode_) return;
    value_ = static_cast<float>(position / stepsPerUnit);
    emit valueDragging(value_);
    if (!isSliderDown()) emit valueReleased(value_);
}

}  // namespace platform
