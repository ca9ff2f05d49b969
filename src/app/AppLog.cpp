#include "app/AppLog.h"

namespace app {

Q_LOGGING_CATEGORY(lcApp, "lumaro.app", QtWarningMsg)

}  // namespace app
