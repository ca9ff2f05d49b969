#pragma once

#include <QLoggingCategory>

namespace imaging {

// Diagnostic lines of the image pipeline; off unless enabled, for example
// with QT_LOGGING_RULES="lumaro.render.debug=true".
Q_DECLARE_LOGGING_CATEGORY(renderLog)

}  // namespace imaging
