#include "reachability/ReachabilityLog.h"

namespace reachability {

Q_LOGGING_CATEGORY(lcReachability, "lumaro.reachability", QtWarningMsg)

}  // namespace reachability
