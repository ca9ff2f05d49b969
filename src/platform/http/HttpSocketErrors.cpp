#include "platform/http/HttpSocketErrors.h"

namespace platform {

namespace {

bool isUnknownRoot(QSslError::SslError error) {
    switch (error) {
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            return true;
        default:
            return false;
    }
}

bool isDateProblem(QSslError::SslError error) {
    return error == QSslError::CertificateExpired || error == QSslError::CertificateNotYetValid;
}

int securityCode(QSslError::SslError error) {
    if (error == QSslError::CertificateExpired) return security_error::kCertificateExpired;
    if (error == QSslError::CertificateNotYetValid) return security_error::kCertificateNotYetValid;
    if (isUnknownRoot(error)) return security_error::kUnknownRootCertificate;
    switch (error) {
        case QSslError::CertificateRevoked:
        case QSslError::CertificateRejected:
        case QSslError::InvalidPurpose:
        case QSslError::CertificateSignatureFailed:
        case QSslError::NoPeerCertificate:
            return security_error::kBadCertificate;
        default:
            return security_error::kCertificateChainInvalid;
    }
}

}  // namespace

QList<QSslError> allowedSslErrors(const QList<QSslError>& errors,
                                  const HttpSecuritySettings& settings) {
    QList<QSslError> allowed;
    for (const QSslError& error : errors) {
        const QSslError::SslError kind = error.error();
        const bool ok = !settings.validatesCertificateChain ||
                        (settings.allowsExpiredCertificates && isDateProblem(kind)) ||
                        (settings.allowsAnyRoot && isUnknownRoot(kind)) ||
                        (!settings.checksPeerName && kind == QSslError::HostNameMismatch);
        if (ok) allowed.append(error);
    }
    return allowed;
}

HttpStreamError securityErrorFor(const QList<QSslError>& errors) {
    if (errors.isEmpty()) {
        return {HttpStreamErrorDomain::Security, security_error::kNegotiation,
                QStringLiteral("TLS handshake failed")};
    }
    const QSslError& first = errors.first();
    return {HttpStreamErrorDomain::Security, securityCode(first.error()), first.errorString()};
}

HttpStreamError socketErrorFor(QAbstractSocket::SocketError error, const QString& text,
                               bool viaProxy) {
    using E = QAbstractSocket::SocketError;
    switch (error) {
        case E::HostNotFoundError:
            return {
                HttpStreamErrorDomain::Network,
                viaProxy ? network_error::kProxyConnectionFailed : network_error::kCannotFindHost,
                text};
        case E::ConnectionRefusedError:
            return {HttpStreamErrorDomain::Network,
                    viaProxy ? network_error::kProxyConnectionFailed
                             : network_error::kCannotConnectToHost,
                    text};
        case E::ProxyConnectionRefusedError:
        case E::ProxyConnectionClosedError:
        case E::ProxyConnectionTimeoutError:
        case E::ProxyNotFoundError:
        case E::ProxyProtocolError:
        case E::ProxyAuthenticationRequiredError:
            return {HttpStreamErrorDomain::Network, network_error::kProxyConnectionFailed, text};
        case E::SslInternalError:
            return {HttpStreamErrorDomain::Security, security_error::kInternal, text};
        case E::SslInvalidUserDataError:
            return {HttpStreamErrorDomain::Security, security_error::kBadCertificate, text};
        case E::SslHandshakeFailedError:
            return {HttpStreamErrorDomain::Security, security_error::kFatalAlert, text};
        default:
            return {HttpStreamErrorDomain::Network, network_error::kSocketFailure, text};
    }
}

}  // namespace platform
