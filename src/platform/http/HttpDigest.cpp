#include "platform/http/HttpDigest.h"

#include <QStringList>

namespace platform {

namespace {

QByteArray hex(DigestAlgorithm algorithm, const QByteArray& data) {
    return QCryptographicHash::hash(data, digestHashAlgorithm(algorithm)).toHex();
}

bool isPlainAscii(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) return false;
    }
    return true;
}

QString quoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) out += QLatin1Char('\\');
        out += c;
    }
    return out + QLatin1Char('"');
}

}  // namespace

std::optional<DigestAlgorithm> digestAlgorithmNamed(const QString& name) {
    const QString lower = name.trimmed().toLower();
    if (lower.isEmpty() || lower == QLatin1String("md5")) return DigestAlgorithm::Md5;
    if (lower == QLatin1String("md5-sess")) return DigestAlgorithm::Md5Session;
    if (lower == QLatin1String("sha-256")) return DigestAlgorithm::Sha256;
    if (lower == QLatin1String("sha-256-sess")) return DigestAlgorithm::Sha256Session;
    return std::nullopt;
}

bool digestAlgorithmIsSha256(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::Sha256 || algorithm == DigestAlgorithm::Sha256Session;
}

bool digestAlgorithmIsSession(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::Md5Session || algorithm == DigestAlgorithm::Sha256Session;
}

QCryptographicHash::Algorithm digestHashAlgorithm(DigestAlgorithm algorithm) {
    return digestAlgorithmIsSha256(algorithm) ? QCryptographicHash::Sha256
                                              : QCryptographicHash::Md5;
}

std::optional<QString> chooseDigestQop(const QString& offered) {
    bool auth = false;
    bool authInt = false;
    for (const QString& piece : offered.split(QLatin1Char(','))) {
        const QString option = piece.trimmed().toLower();
        auth = auth || option == QLatin1String("auth");
        authInt = authInt || option == QLatin1String("auth-int");
    }
    if (auth) return QStringLiteral("auth");
    if (authInt) return QStringLiteral("auth-int");
    return std::nullopt;
}

QByteArray digestResponse(const DigestInput& in) {
    const DigestAlgorithm a = in.algorithm;
    QByteArray ha1 =
        hex(a, in.username.toUtf8() + ':' + in.realm.toUtf8() + ':' + in.password.toUtf8());
    if (digestAlgorithmIsSession(a)) {
        ha1 = hex(a, ha1 + ':' + in.nonce.toUtf8() + ':' + in.cnonce.toUtf8());
    }
    QByteArray a2 = in.method.toUtf8() + ':' + in.uri.toUtf8();
    if (in.qop == QLatin1String("auth-int")) a2 += ':' + in.bodyHash;
    const QByteArray ha2 = hex(a, a2);
    if (in.qop.isEmpty()) return hex(a, ha1 + ':' + in.nonce.toUtf8() + ':' + ha2);
    const QByteArray nc = QByteArray::number(in.nonceCount, 16).rightJustified(8, '0');
    return hex(a, ha1 + ':' + in.nonce.toUtf8() + ':' + nc + ':' + in.cnonce.toUtf8() + ':' +
                      in.qop.toUtf8() + ':' + ha2);
}

QString digestAuthorizationValue(const DigestInput& in, const QString& opaque, bool hasOpaque,
                                 const QString& algorithmName) {
    QStringList parts;
    if (isPlainAscii(in.username)) {
        parts << QStringLiteral("username=") + quoted(in.username);
    } else {
        // Beyond ASCII the name goes in its extended form.
        parts << QStringLiteral("username*=UTF-8''") +
                     QString::fromLatin1(in.username.toUtf8().toPercentEncoding());
    }
    parts << QStringLiteral("realm=") + quoted(in.realm)
          << QStringLiteral("nonce=") + quoted(in.nonce) << QStringLiteral("uri=") + quoted(in.uri);
    if (!algorithmName.isEmpty()) parts << QStringLiteral("algorithm=") + algorithmName;
    if (!in.qop.isEmpty()) {
        parts << QStringLiteral("qop=") + in.qop
              << QStringLiteral("nc=") +
                     QString::number(in.nonceCount, 16).rightJustified(8, QLatin1Char('0'))
              << QStringLiteral("cnonce=") + quoted(in.cnonce);
    } else if (!in.cnonce.isEmpty()) {
        parts << QStringLiteral("cnonce=") + quoted(in.cnonce);
    }
    parts << QStringLiteral("response=") + quoted(QString::fromLatin1(digestResponse(in)));
    if (hasOpaque) parts << QStringLiteral("opaque=") + quoted(opaque);
    if (!isPlainAscii(in.username)) parts << QStringLiteral("userhash=false");
    return QStringLiteral("Digest ") + parts.join(QStringLiteral(", "));
}

}  // namespace platform
