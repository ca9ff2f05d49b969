#include "imaging/RenderLog.h"

namespace imaging {

Q_LOGGING_CATEGORY(renderLog, "lumaro.render", QtWarningMsg)

}  // namespace imaging
