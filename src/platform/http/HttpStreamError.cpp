#include "platform/http/HttpStreamError.h"

namespace platform {

bool HttpStreamError::isDeadConnection() const {
    return (domain == HttpStreamErrorDomain::Posix &&
            (code == posix_error::kNotConnected || code == posix_error::kBrokenPipe)) ||
           (domain == HttpStreamErrorDomain::Network &&
            code == network_error::kNetworkConnectionLost);
}

bool HttpStreamError::isSecurityFailure() const {
    return domain == HttpStreamErrorDomain::Security && code >= security_error::kFirst &&
           code <= security_error::kLast;
}

QString domainName(HttpStreamErrorDomain domain) {
    switch (domain) {
        case HttpStreamErrorDomain::None:
            return {};
        case HttpStreamErrorDomain::Posix:
            return QStringLiteral("POSIX");
        case HttpStreamErrorDomain::Network:
            return QStringLiteral("Network");
        case HttpStreamErrorDomain::Security:
            return QStringLiteral("Security");
        case HttpStreamErrorDomain::HttpAuthentication:
            return QStringLiteral("HTTPAuthentication");
    }
    return {};
}

}  // namespace platform
