#include "panels/PanelLog.h"

namespace panels {

Q_LOGGING_CATEGORY(lcPanel, "lumaro.app", QtWarningMsg)

}  // namespace panels
