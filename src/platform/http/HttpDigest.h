#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <optional>

namespace platform {

// The Digest algorithms answered: MD5 and SHA-256, each plain or "-sess".
enum class DigestAlgorithm { Md5, Md5Session, Sha256, Sha256Session };

// The algorithm a challenge names (no name is MD5); none for one not answered.
std::optional<DigestAlgorithm> digestAlgorithmNamed(const QString& name);
bool digestAlgorithmIsSha256(DigestAlgorithm algorithm);
bool digestAlgorithmIsSession(DigestAlgorithm algorithm);
QCryptographicHash::Algorithm digestHashAlgorithm(DigestAlgorithm algorithm);
// "auth" when offered; "auth-int" when it is all that is offered; none otherwise.
std::optional<QString> chooseDigestQop(const QString& offered);

// Everything one Digest answer is computed from.
struct DigestInput {
    DigestAlgorithm algorithm = DigestAlgorithm::Md5;
    QString username;
    QString realm;
    QString password;
    QString method;
    QString uri;
    QString nonce;
    QString cnonce;
    quint32 nonceCount = 0;
    // Empty when the challenge offered no qop (the old form without a client nonce).
    QString qop;
    // Hex hash of the body, for "auth-int".
    QByteArray bodyHash;
};

// The "response" value: lower-case hex.
QByteArray digestResponse(const DigestInput& input);
// The whole Authorization value; opaque is echoed when the challenge had one, and the
// algorithm is named as the challenge named it.
QString digestAuthorizationValue(const DigestInput& input, const QString& opaque, bool hasOpaque,
                                 const QString& algorithmName);

}  // namespace platform
