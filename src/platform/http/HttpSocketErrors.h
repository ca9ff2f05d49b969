#pragma once

#include <QAbstractSocket>
#include <QList>
#include <QSslError>

#include "platform/http/HttpSecuritySettings.h"
#include "platform/http/HttpStreamError.h"

namespace platform {

// Certificate problems the settings allow, to be ignored for the handshake to go on.
QList<QSslError> allowedSslErrors(const QList<QSslError>& errors,
                                  const HttpSecuritySettings& settings);

// The TLS failure code for the first certificate problem the settings do not allow.
HttpStreamError securityErrorFor(const QList<QSslError>& errors);

// A socket failure as a stream error. viaProxy marks failures reaching a proxy.
HttpStreamError socketErrorFor(QAbstractSocket::SocketError error, const QString& text,
                               bool viaProxy);

}  // namespace platform
