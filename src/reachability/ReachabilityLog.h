#pragma once

#include <QLoggingCategory>

namespace reachability {

// "lumaro.reachability": programming errors in the use of Reachability.
Q_DECLARE_LOGGING_CATEGORY(lcReachability)

}  // namespace reachability
