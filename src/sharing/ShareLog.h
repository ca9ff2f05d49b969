#pragma once

#include <QLoggingCategory>

namespace sharing {

// The sharing client's diagnostic lines ("Post Finished", "Host reachable." ...).
Q_DECLARE_LOGGING_CATEGORY(lcShare)

}  // namespace sharing
