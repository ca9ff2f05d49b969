#include "platform/http/HttpSecuritySettings.h"

#include <QIODevice>

namespace platform {

std::optional<HttpClientIdentity> HttpClientIdentity::fromPkcs12(QIODevice* device,
                                                                 const QByteArray& passphrase,
                                                                 QList<QSslCertificate>* chain) {
    HttpClientIdentity identity;
    QList<QSslCertificate> others;
    if (device == nullptr ||
        !QSslCertificate::importPkcs12(device, &identity.privateKey, &identity.certificate, &others,
                                       passphrase)) {
        return std::nullopt;
    }
    if (chain != nullptr) *chain = others;
    return identity;
}

HttpSecuritySettings HttpSecuritySettings::unvalidated() {
    HttpSecuritySettings settings;
    settings.validatesCertificateChain = false;
    settings.allowsExpiredCertificates = true;
    settings.allowsAnyRoot = true;
    settings.checksPeerName = false;
    return settings;
}

HttpSecuritySettings HttpSecuritySettings::withCertificates(
    const HttpClientIdentity& identity, const QList<QSslCertificate>& certificates) {
    HttpSecuritySettings settings;
    settings.identity = identity;
    settings.certificates = certificates;
    return settings;
}

bool HttpSecuritySettings::operator==(const HttpSecuritySettings& other) const {
    const bool sameIdentity = identity.has_value() == other.identity.has_value() &&
                              (!identity || (identity->certificate == other.identity->certificate &&
                                             identity->privateKey == other.identity->privateKey));
    return sameIdentity && validatesCertificateChain == other.validatesCertificateChain &&
           allowsExpiredCertificates == other.allowsExpiredCertificates &&
           allowsAnyRoot == other.allowsAnyRoot && checksPeerName == other.checksPeerName &&
           certificates == other.certificates && extraCaCertificates == other.extraCaCertificates;
}

}  // namespace platform
