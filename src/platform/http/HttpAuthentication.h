#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/http/HttpMessage.h"
#include "platform/http/HttpStreamError.h"

namespace platform {

// One challenge of a WWW-Authenticate or Proxy-Authenticate field: the scheme as written,
// its parameters (names in lower case, values unquoted) or its single token68.
struct HttpAuthChallenge {
    QString scheme;
    QMap<QString, QString> parameters;
    QString token68;

    bool isScheme(const char* name) const {
        return scheme.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    }
};

// Every challenge of the given field values, in order. Several challenges may share a field;
// malformed pieces are skipped and never read past; at most a few dozen challenges, each with
// a bounded number of parameters, are kept.
QList<HttpAuthChallenge> parseAuthenticationChallenges(const QStringList& fieldValues);

// What a request offers in answer to a challenge. The account domain is only for schemes that
// ask for one.
struct HttpCredentials {
    QString username;
    QString password;
    QString accountDomain;
};
using HttpCredentialsPtr = std::shared_ptr<const HttpCredentials>;

// The body a Digest answer with integrity protection has to hash: bytes in memory, or a file.
struct HttpEntityBody {
    QByteArray data;
    QString filePath;
};

// The answer to one server's or proxy's challenge. Made from a 401 (WWW-Authenticate) or a
// 407 (Proxy-Authenticate) answer, it picks the strongest scheme it can answer: Digest with
// SHA-256, then Digest with MD5, then Basic. NTLM and Negotiate are recognised but not
// answered; an answer offering nothing else gives no handle.
//
// A handle judges the next answer it is shown: the same challenge again after credentials
// were applied means they were refused (invalid, bad password), unless a Digest server only
// says the nonce went stale, which is answered with the new nonce and the same credentials.
// Thread-safe.
class HttpAuthentication {
public:
    // None when the answer carries no challenge that can be answered.
    static std::shared_ptr<HttpAuthentication> createFromResponse(
        const HttpResponseHeader& response);
    // The strongest recognised scheme of the answer's challenges, answerable or not ("Basic",
    // "Digest", "NTLM", "Negotiate"), or null.
    static QString recognisedMethod(const HttpResponseHeader& response);

    // Reads the next answer to a request this handle was applied to.
    void updateFromResponse(const HttpResponseHeader& response);
    // False once credentials were refused; *error then says why (bad user name or password).
    bool isValid(HttpStreamError* error = nullptr) const;
    QString method() const;
    // Null when the challenge named no realm.
    QString realm() const;
    bool requiresUserNameAndPassword() const { return true; }
    // Only the schemes this service cannot answer (NTLM) need one.
    bool requiresAccountDomain() const { return false; }
    bool isProxy() const { return m_proxy; }

    // Sets Authorization (Proxy-Authorization for a proxy) on message. False, and the message
    // untouched, when the credentials cannot be sent (a Basic user name with a colon, control
    // characters) or the handle is no longer valid.
    bool applyCredentials(HttpRequestMessage& message, const HttpCredentials& credentials,
                          const HttpEntityBody& body = {});

    // The Digest client nonce source; tests may look at what was sent.
    static QByteArray newClientNonce();

private:
    HttpAuthentication(bool proxy, HttpAuthChallenge challenge);
    std::optional<QString> digestAuthorization(const HttpRequestMessage& message,
                                               const HttpCredentials& credentials,
                                               const HttpEntityBody& body);

    const bool m_proxy;
    mutable std::mutex m_mutex;
    HttpAuthChallenge m_challenge;
    bool m_applied = false;
    HttpStreamError m_error;
    quint32 m_nonceCount = 0;
    int m_staleRenewals = 0;
};

using HttpAuthenticationPtr = std::shared_ptr<HttpAuthentication>;

}  // namespace platform
