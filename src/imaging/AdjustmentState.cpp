#include "imaging/AdjustmentState.h"

#include "imaging/PanelSettings.h"

namespace imaging {

void resetState(AdjustmentState& state) {
    state.toneType = 0;
    state.filterType = 0;
    state.renderMode = 0;
    state.openPanel = 0;
    for (const PanelSetting& setting : kPanelSettings) {
        if (setting.resetValue) state.*setting.field = *setting.resetValue;
    }
    state.noiseOn = 0;
    state.inverseOn = 0;
}

}  // namespace imaging
