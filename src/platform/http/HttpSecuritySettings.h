#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <optional>

class QIODevice;

namespace platform {

// A client certificate with its private key, presented when a TLS server asks for one.
struct HttpClientIdentity {
    QSslCertificate certificate;
    QSslKey privateKey;

    // Reads a PKCS#12 bundle; the other certificates of the bundle go to chain when given.
    // None when the bundle cannot be read or the passphrase is wrong.
    static std::optional<HttpClientIdentity> fromPkcs12(QIODevice* device,
                                                        const QByteArray& passphrase,
                                                        QList<QSslCertificate>* chain = nullptr);
};

// TLS settings of one stream (ignored for http URLs). The defaults verify everything.
struct HttpSecuritySettings {
    bool validatesCertificateChain = true;
    bool allowsExpiredCertificates = false;
    bool allowsAnyRoot = false;
    // Off means "peer name none": the certificate may be for any host name.
    bool checksPeerName = true;
    // Client identity, then further certificates of its chain, in order.
    std::optional<HttpClientIdentity> identity;
    QList<QSslCertificate> certificates;
    // Trusted in addition to the system's certificate authorities.
    QList<QSslCertificate> extraCaCertificates;

    // "Don't validate": expired certificates and any root allowed, the chain not validated,
    // no peer name. The connection is still encrypted.
    static HttpSecuritySettings unvalidated();
    // Only a certificate list: identity first, then the chain; everything else default.
    static HttpSecuritySettings withCertificates(const HttpClientIdentity& identity,
                                                 const QList<QSslCertificate>& certificates);

    bool operator==(const HttpSecuritySettings& other) const;
};

enum class HttpProxyType {
    None,
    // An HTTP proxy: plain-HTTP requests go to it in absolute form, https requests are
    // tunnelled with CONNECT.
    Http,
    // The proxy given for https URLs. Behaves as Http; kept apart so a caller can say which
    // setting it came from.
    Https,
    Socks,  // SOCKS 5, no authentication
};

struct HttpProxy {
    HttpProxyType type = HttpProxyType::None;
    QString host;
    quint16 port = 0;

    bool isNull() const { return type == HttpProxyType::None || host.isEmpty() || port == 0; }
    bool operator==(const HttpProxy& other) const = default;
};

}  // namespace platform
