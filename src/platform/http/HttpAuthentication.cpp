#include "platform/http/HttpAuthentication.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

#include "platform/http/HttpDigest.h"

namespace platform {

namespace {

// Hostile servers may send anything; these bound what one answer can make us keep.
constexpr qsizetype kMaximumFieldBytes = 16384;
constexpr int kMaximumChallenges = 32;
constexpr int kMaximumParameters = 32;
// A server that calls every nonce stale would otherwise be answered for ever.
constexpr int kMaximumStaleRenewals = 3;

bool isTokenChar(QChar c) {
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
           (u < 0x80 && u != 0 && QByteArrayView("!#$%&'*+-.^_`|~").contains(char(u)));
}

bool isToken68Char(QChar c) {
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '-' ||
           u == '.' || u == '_' || u == '~' || u == '+' || u == '/';
}

bool isSpace(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

// A cursor over one field value.
class ChallengeReader {
public:
    explicit ChallengeReader(const QString& text) : m_text(text) {}

    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar peek() const { return atEnd() ? QChar() : m_text[m_pos]; }
    qsizetype position() const { return m_pos; }
    void rewind(qsizetype pos) { m_pos = pos; }

    void skipSpaces() {
        while (!atEnd() && isSpace(peek())) ++m_pos;
    }
    void skipSpacesAndCommas() {
        while (!atEnd() && (isSpace(peek()) || peek() == QLatin1Char(','))) ++m_pos;
    }
    // Moves past the next comma (or to the end): how a malformed piece is dropped.
    void skipPastComma() {
        while (!atEnd() && peek() != QLatin1Char(',')) {
            if (peek() == QLatin1Char('"')) {
                readQuoted();
            } else {
                ++m_pos;
            }
        }
    }
    QString readToken() {
        const qsizetype start = m_pos;
        while (!atEnd() && isTokenChar(peek())) ++m_pos;
        return m_text.mid(start, m_pos - start);
    }
    // A token68 followed by nothing but spaces up to a comma or the end, or none.
    std::optional<QString> readToken68() {
        const qsizetype start = m_pos;
        while (!atEnd() && isToken68Char(peek())) ++m_pos;
        if (m_pos == start) return std::nullopt;
        while (!atEnd() && peek() == QLatin1Char('=')) ++m_pos;
        const QString token = m_text.mid(start, m_pos - start);
        skipSpaces();
        if (atEnd() || peek() == QLatin1Char(',')) return token;
        m_pos = start;
        return std::nullopt;
    }
    // A quoted string starting at the opening quote; none when it never closes.
    std::optional<QString> readQuoted() {
        ++m_pos;
        QString value;
        while (!atEnd()) {
            const QChar c = m_text[m_pos++];
            if (c == QLatin1Char('"')) return value;
            if (c == QLatin1Char('\\') && !atEnd()) {
                value += m_text[m_pos++];
            } else {
                value += c;
            }
        }
        return std::nullopt;
    }

private:
    const QString& m_text;
    qsizetype m_pos = 0;
};

// Reads the parameters (or the token68) of the challenge whose scheme was just read. Stops
// before the scheme of the next challenge.
void readChallengeBody(ChallengeReader& in, HttpAuthChallenge& challenge) {
    in.skipSpaces();
    if (in.atEnd() || in.peek() == QLatin1Char(',')) return;
    const qsizetype bodyStart = in.position();
    // A lone token68 (name=value pairs are tried first: "realm=x" is a parameter).
    {
        const QString name = in.readToken();
        in.skipSpaces();
        const bool isParameter = !name.isEmpty() && in.peek() == QLatin1Char('=') && [&] {
            const qsizetype at = in.position();
            in.rewind(at + 1);
            in.skipSpaces();
            const bool hasValue =
                !in.atEnd() && in.peek() != QLatin1Char(',') && in.peek() != QLatin1Char('=');
            in.rewind(at);
            return hasValue;
        }();
        in.rewind(bodyStart);
        if (!isParameter) {
            if (auto token = in.readToken68()) {
                challenge.token68 = *token;
                return;
            }
        }
    }
    while (!in.atEnd()) {
        in.skipSpacesAndCommas();
        const qsizetype itemStart = in.position();
        const QString name = in.readToken();
        if (name.isEmpty()) {
            in.skipPastComma();
            continue;
        }
        in.skipSpaces();
        if (in.peek() != QLatin1Char('=')) {
            // The scheme of the next challenge.
            in.rewind(itemStart);
            return;
        }
        in.rewind(in.position() + 1);
        in.skipSpaces();
        std::optional<QString> value;
        if (in.peek() == QLatin1Char('"')) {
            value = in.readQuoted();
        } else {
            const QString token = in.readToken();
            if (!token.isEmpty()) value = token;
        }
        in.skipSpaces();
        if (!value || (!in.atEnd() && in.peek() != QLatin1Char(','))) {
            in.skipPastComma();
            continue;
        }
        // The first of repeated parameters counts, so a later one cannot replace it.
        const QString key = name.toLower();
        if (!challenge.parameters.contains(key) &&
            challenge.parameters.size() < kMaximumParameters) {
            challenge.parameters.insert(key, *value);
        }
    }
}

// How much a scheme is preferred; 0 for one that cannot be answered.
int answerableStrength(const HttpAuthChallenge& challenge) {
    if (challenge.isScheme("Basic")) return 1;
    if (!challenge.isScheme("Digest")) return 0;
    if (challenge.parameters.value(QStringLiteral("nonce")).isEmpty()) return 0;
    const std::optional<DigestAlgorithm> algorithm =
        digestAlgorithmNamed(challenge.parameters.value(QStringLiteral("algorithm")));
    if (!algorithm) return 0;
    if (challenge.parameters.contains(QStringLiteral("qop")) &&
        !chooseDigestQop(challenge.parameters.value(QStringLiteral("qop")))) {
        return 0;
    }
    return digestAlgorithmIsSha256(*algorithm) ? 3 : 2;
}

int recognisedStrength(const HttpAuthChallenge& challenge) {
    if (const int strength = answerableStrength(challenge); strength > 0) return 10 + strength;
    if (challenge.isScheme("Negotiate")) return 3;
    if (challenge.isScheme("NTLM")) return 2;
    if (challenge.isScheme("Digest")) return 1;
    return 0;
}

QString canonicalScheme(const HttpAuthChallenge& challenge) {
    for (const char* name : {"Basic", "Digest", "NTLM", "Negotiate"}) {
        if (challenge.isScheme(name)) return QString::fromLatin1(name);
    }
    return challenge.scheme;
}

QList<HttpAuthChallenge> challengesOf(const HttpResponseHeader& response, bool proxy) {
    QStringList values;
    const QString fieldName =
        proxy ? QStringLiteral("Proxy-Authenticate") : QStringLiteral("WWW-Authenticate");
    for (const auto& [name, value] : response.rawHeaderFields()) {
        if (name.compare(fieldName, Qt::CaseInsensitive) == 0) values.append(value);
    }
    return parseAuthenticationChallenges(values);
}

bool isProxyAnswer(const HttpResponseHeader& response) { return response.statusCode() == 407; }

bool hasControlCharacters(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) return true;
    }
    return false;
}

}  // namespace

QList<HttpAuthChallenge> parseAuthenticationChallenges(const QStringList& fieldValues) {
    QList<HttpAuthChallenge> challenges;
    qsizetype budget = kMaximumFieldBytes;
    for (const QString& value : fieldValues) {
        budget -= value.size();
        if (budget < 0) break;
        ChallengeReader in(value);
        while (!in.atEnd() && challenges.size() < kMaximumChallenges) {
            in.skipSpacesAndCommas();
            if (in.atEnd()) break;
            HttpAuthChallenge challenge;
            challenge.scheme = in.readToken();
            if (challenge.scheme.isEmpty() ||
                (!in.atEnd() && !isSpace(in.peek()) && in.peek() != QLatin1Char(','))) {
                in.skipPastComma();
                continue;
            }
            readChallengeBody(in, challenge);
            challenges.append(std::move(challenge));
        }
    }
    return challenges;
}

HttpAuthentication::HttpAuthentication(bool proxy, HttpAuthChallenge challenge)
    : m_proxy(proxy), m_challenge(std::move(challenge)) {}

std::shared_ptr<HttpAuthentication> HttpAuthentication::createFromResponse(
    const HttpResponseHeader& response) {
    const bool proxy = isProxyAnswer(response);
    const HttpAuthChallenge* best = nullptr;
    int bestStrength = 0;
    const QList<HttpAuthChallenge> challenges = challengesOf(response, proxy);
    for (const HttpAuthChallenge& challenge : challenges) {
        const int strength = answerableStrength(challenge);
        if (strength > bestStrength) {
            best = &challenge;
            bestStrength = strength;
        }
    }
    if (best == nullptr) return nullptr;
    HttpAuthChallenge chosen = *best;
    chosen.scheme = canonicalScheme(chosen);
    return std::shared_ptr<HttpAuthentication>(new HttpAuthentication(proxy, std::move(chosen)));
}

QString HttpAuthentication::recognisedMethod(const HttpResponseHeader& response) {
    QString method;
    int bestStrength = 0;
    for (const HttpAuthChallenge& challenge : challengesOf(response, isProxyAnswer(response))) {
        const int strength = recognisedStrength(challenge);
        if (strength > bestStrength) {
            method = canonicalScheme(challenge);
            bestStrength = strength;
        }
    }
    return method;
}

void HttpAuthentication::updateFromResponse(const HttpResponseHeader& response) {
    const int status = response.statusCode();
    if (status != (m_proxy ? 407 : 401)) return;
    std::lock_guard lock(m_mutex);
    if (!m_error.isNull()) return;
    const HttpAuthChallenge* same = nullptr;
    const QList<HttpAuthChallenge> challenges = challengesOf(response, m_proxy);
    for (const HttpAuthChallenge& challenge : challenges) {
        if (challenge.isScheme(m_challenge.scheme.toLatin1().constData()) &&
            answerableStrength(challenge) > 0) {
            same = &challenge;
            break;
        }
    }
    const bool stale = same != nullptr && m_challenge.isScheme("Digest") &&
                       same->parameters.value(QStringLiteral("stale"))
                               .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    if (stale && m_staleRenewals >= kMaximumStaleRenewals) {
        m_error.domain = HttpStreamErrorDomain::HttpAuthentication;
        m_error.code = http_authentication_error::kBadPassword;
        m_error.description = QStringLiteral("Every nonce was called stale");
        return;
    }
    if (stale) ++m_staleRenewals;
    if (stale || (same != nullptr && !m_applied)) {
        // A new nonce for the same credentials: counting starts again.
        m_challenge.parameters = same->parameters;
        m_nonceCount = 0;
        m_applied = false;
        return;
    }
    // Asked again after the credentials went out (or asked for something else): refused.
    m_error.domain = HttpStreamErrorDomain::HttpAuthentication;
    m_error.code = http_authentication_error::kBadPassword;
    m_error.description = QStringLiteral("The credentials were refused");
}

bool HttpAuthentication::isValid(HttpStreamError* error) const {
    std::lock_guard lock(m_mutex);
    if (error != nullptr) *error = m_error;
    return m_error.isNull();
}

QString HttpAuthentication::method() const {
    std::lock_guard lock(m_mutex);
    return m_challenge.scheme;
}

QString HttpAuthentication::realm() const {
    std::lock_guard lock(m_mutex);
    const auto it = m_challenge.parameters.constFind(QStringLiteral("realm"));
    return it == m_challenge.parameters.cend() ? QString() : *it;
}

bool HttpAuthentication::applyCredentials(HttpRequestMessage& message,
                                          const HttpCredentials& credentials,
                                          const HttpEntityBody& body) {
    if (hasControlCharacters(credentials.username) || hasControlCharacters(credentials.password)) {
        return false;
    }
    const QString field =
        m_proxy ? QStringLiteral("Proxy-Authorization") : QStringLiteral("Authorization");
    std::lock_guard lock(m_mutex);
    if (!m_error.isNull()) return false;
    QString value;
    if (m_challenge.isScheme("Basic")) {
        // A colon cannot be told apart from the separator on the other side.
        if (credentials.username.contains(QLatin1Char(':'))) return false;
        value = QStringLiteral("Basic ") +
                QString::fromLatin1((credentials.username + QLatin1Char(':') + credentials.password)
                                        .toUtf8()
                                        .toBase64());
    } else {
        std::optional<QString> digest = digestAuthorization(message, credentials, body);
        if (!digest) return false;
        value = *digest;
    }
    if (!message.setHeaderFieldValue(field, value)) return false;
    m_applied = true;
    return true;
}

std::optional<QString> HttpAuthentication::digestAuthorization(const HttpRequestMessage& message,
                                                               const HttpCredentials& credentials,
                                                               const HttpEntityBody& body) {
    const QMap<QString, QString>& p = m_challenge.parameters;
    const std::optional<DigestAlgorithm> algorithm =
        digestAlgorithmNamed(p.value(QStringLiteral("algorithm")));
    if (!algorithm) return std::nullopt;
    DigestInput input;
    input.algorithm = *algorithm;
    input.username = credentials.username;
    input.realm = p.value(QStringLiteral("realm"));
    input.password = credentials.password;
    input.method = message.method();
    // The request target as the request line carries it.
    const QUrl& url = message.url();
    input.uri =
        url.path(QUrl::FullyEncoded).isEmpty() ? QStringLiteral("/") : url.path(QUrl::FullyEncoded);
    if (url.hasQuery()) input.uri += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    input.nonce = p.value(QStringLiteral("nonce"));
    if (p.contains(QStringLiteral("qop"))) {
        input.qop = *chooseDigestQop(p.value(QStringLiteral("qop")));
        input.cnonce = QString::fromLatin1(newClientNonce());
        input.nonceCount = ++m_nonceCount;
        if (input.qop == QLatin1String("auth-int")) {
            QCryptographicHash hash(digestHashAlgorithm(*algorithm));
            if (!body.filePath.isEmpty()) {
                QFile file(body.filePath);
                if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) return std::nullopt;
            } else {
                hash.addData(body.data);
            }
            input.bodyHash = hash.result().toHex();
        }
    } else if (digestAlgorithmIsSession(*algorithm)) {
        // The session variants hash a client nonce in, whether or not qop is offered.
        input.cnonce = QString::fromLatin1(newClientNonce());
    }
    return digestAuthorizationValue(input, p.value(QStringLiteral("opaque")),
                                    p.contains(QStringLiteral("opaque")),
                                    p.value(QStringLiteral("algorithm")));
}

QByteArray HttpAuthentication::newClientNonce() {
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

}  // namespace platform
