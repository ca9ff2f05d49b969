#include "ui/Format.h"

#include <QLocale>
#include <cmath>

namespace ui {

int roundHalfAway(double value) { return static_cast<int>(std::round(value)); }

QString shortestText(double value) {
    // Negative zero would print as "-0".
    if (value == 0.0) value = 0.0;
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString sliderReadout(float value) {
    return shortestText(std::round(static_cast<double>(value) * 100.0) / 100.0);
}

}  // namespace ui
