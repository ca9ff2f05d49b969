#include "imaging/ResetDefaults.h"

#include "imaging/PanelSettings.h"

namespace imaging {

void resetDefaults(platform::Defaults& defaults) {
    for (const PanelSetting& setting : kPanelSettings) {
        if (setting.resetValue) defaults.setInteger(*setting.resetValue, *setting.key);
    }
    defaults.setInteger(0, keys::activate);
    defaults.synchronize();
}

}  // namespace imaging
