#include "imaging/AdjustmentState.h"

namespace imaging {

void resetState(AdjustmentState& state) {
    state.toneType = 0;
    state.filterType = 0;
    state.renderMode = 0;
    state.tintR = state.tintG = state.tintB = 255;
    state.openPanel = 0;
    state.vigEnabled = 0;
    state.vigType = 1;
    state.vigEffect = 1;
    state.vigRadius = 20;
    state.alphaValue = 100;
    state.exposureValue = 100;
    state.noiseValue = 0;
    state.noiseOn = 0;
    state.quantValue = 1;
    state.inverseValue = 0;
    state.inverseOn = 0;
}

}  // namespace imaging
