#pragma once

#include <QLoggingCategory>

namespace app {

// Diagnostic lines of the main screen; off unless enabled
// (QT_LOGGING_RULES="lumaro.*=true").
Q_DECLARE_LOGGING_CATEGORY(lcApp)

}  // namespace app
