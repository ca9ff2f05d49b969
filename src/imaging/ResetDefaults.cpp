#include "imaging/ResetDefaults.h"

namespace imaging {

void resetDefaults(platform::Defaults& defaults) {
    defaults.setInteger(1, QStringLiteral("Type"));
    defaults.setInteger(20, QStringLiteral("Rad"));
    defaults.setInteger(1, QStringLiteral("Effect"));
    defaults.setInteger(0, QStringLiteral("Enabled"));
    defaults.setInteger(100, QStringLiteral("Alpha"));
    defaults.setInteger(100, QStringLiteral("Exposure"));
    defaults.setInteger(255, QStringLiteral("R"));
    defaults.setInteger(255, QStringLiteral("G"));
    defaults.setInteger(255, QStringLiteral("B"));
    defaults.setInteger(0, QStringLiteral("Noise"));
    defaults.setInteger(1, QStringLiteral("Quant"));
    defaults.setInteger(0, QStringLiteral("Inverse"));
    defaults.setInteger(0, QStringLiteral("activate"));
    defaults.synchronize();
}

}  // namespace imaging
