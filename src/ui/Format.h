#pragma once

#include <QString>

namespace ui {

// Rounds half away from zero, as the C library's round() does.
int roundHalfAway(double value);

// A number in its shortest decimal form: no trailing zeros and no decimal
// point for whole numbers (5.3, -5, 0, 1.25).
QString shortestText(double value);

// A slider value as its read-out shows it: to two decimals, shortest form.
QString sliderReadout(float value);

}  // namespace ui
