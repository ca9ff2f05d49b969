#pragma once

#include <QSlider>

namespace platform {

// A horizontal slider with a float value. The track works in thousandths of a
// unit, so values such as 7.125 or 127.6 are reached exactly. Changes made by
// the user are reported twice: valueDragging() while the thumb moves and
// valueReleased() when the user lets go (a keyboard step or a click on the
// track is both at once). Setting the value in code reports nothing.
class FloatSlider : public QSlider {
    Q_OBJECT
    Q_PROPERTY(double minimumValue READ minimumValue WRITE setMinimumValue)
    Q_PROPERTY(double maximumValue READ maximumValue WRITE setMaximumValue)
    Q_PROPERTY(double floatValue READ floatValue WRITE setFloatValue)

public:
    static constexpr double stepsPerUnit = 1000.0;

    explicit FloatSlider(QWidget* parent = nullptr);

    float floatValue() const { return value_; }
    void setFloatValue(double value);

    double minimumValue() const { return minimum() / stepsPerUnit; }
    double maximumValue() const { return maximum() / stepsPerUnit; }
    void setMinimumValue(double value);
    void setMaximumValue(double value);

    // Track position (in steps) of a value; what a drag to that value reaches.
    static int positionOf(double value);

signals:
    void valueDragging(float value);
    void valueReleased(float value);

private:
    void onPositionChanged(int position);

    float value_ = 0.0f;
    bool settingInCode_ = false;
};

}  // namespace platform
