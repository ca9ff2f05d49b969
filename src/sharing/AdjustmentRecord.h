#pragma once

#include <QString>

#include "imaging/AdjustmentState.h"
#include "imaging/SliderValues.h"

namespace sharing {

// The one-line record of the settings a shared picture was rendered under:
// 19 elements <TAG>value</TAG> in a fixed order, nothing escaped, nothing
// between them. sliders are the eight slider positions as the controls hold
// them; toneSegment is the selected segment of the tone control (-1 for none).
QString adjustmentRecord(const imaging::SliderValues& sliders,
                         const imaging::AdjustmentState& state, int toneSegment);

// A single-precision number in its general form: at most seven significant
// digits, no trailing zeros or decimal point (12.5, 0, 100, 0.3333333, 1e-07).
QString floatText(float value);

}  // namespace sharing
