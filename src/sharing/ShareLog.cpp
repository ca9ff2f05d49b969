#include "sharing/ShareLog.h"

namespace sharing {

Q_LOGGING_CATEGORY(lcShare, "lumaro.share", QtWarningMsg)

}  // namespace sharing
