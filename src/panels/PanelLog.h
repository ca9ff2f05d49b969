#pragma once

#include <QLoggingCategory>

namespace panels {

// The panels log with the rest of the application; off unless enabled
// (QT_LOGGING_RULES="lumaro.*=true").
Q_DECLARE_LOGGING_CATEGORY(lcPanel)

}  // namespace panels
