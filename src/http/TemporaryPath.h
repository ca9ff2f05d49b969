#pragma once

#include <QDir>
#include <QString>
#include <QUuid>

namespace http {

// A new path in the temporary folder that nothing else uses.
inline QString newTemporaryPath() {
    return QDir::tempPath() + QLatin1Char('/') +
           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

}  // namespace http
