#include "CookieJarFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>

namespace {

constexpr qint64 kMaximumJarSize = 16 * 1024 * 1024;
const QByteArray kHttpOnlyPrefix = "#HttpOnly_";

bool isTrue(const QByteArray& field) { return field.compare("TRUE", Qt::CaseInsensitive) == 0; }

// A field that would break the line it is written on, or a header it is sent in.
bool unsafe(const QByteArray& field) {
    for (char c : field) {
        if (c == '\t' || c == '\r' || c == '\n' || c == '\0') return true;
    }
    return false;
}

}  // namespace

QList<QNetworkCookie> parseCookieJar(const QByteArray& text) {
    QList<QNetworkCookie> cookies;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        bool httpOnly = false;
        if (line.startsWith(kHttpOnlyPrefix)) {
            httpOnly = true;
            line.remove(0, kHttpOnlyPrefix.size());
        } else if (line.startsWith('#') || line.trimmed().isEmpty()) {
            continue;
        }
        const QList<QByteArray> fields = line.split('\t');
        // Six fields: a cookie with an empty value.
        if (fields.size() != 7 && fields.size() != 6) continue;
        QByteArray domain = fields[0];
        const QByteArray& path = fields[2];
        bool ok = false;
        const qint64 expiry = fields[4].toLongLong(&ok);
        const QByteArray& name = fields[5];
        if (!ok || expiry < 0 || domain.isEmpty() || name.isEmpty() || !path.startsWith('/')) {
            continue;
        }
        if (expiry != 0 && expiry <= now) continue;
        QNetworkCookie cookie(name, fields.size() == 7 ? fields[6] : QByteArray());
        // A leading dot and the subdomain flag both mean a domain cookie; for Qt the dot does.
        if (isTrue(fields[1]) && !domain.startsWith('.')) domain.prepend('.');
        if (!isTrue(fields[1]) && domain.startsWith('.')) domain.remove(0, 1);
        cookie.setDomain(QString::fromLatin1(domain));
        cookie.setPath(QString::fromLatin1(path));
        cookie.setSecure(isTrue(fields[3]));
        cookie.setHttpOnly(httpOnly);
        if (expiry != 0) cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(expiry, Qt::UTC));
        cookies.append(cookie);
    }
    return cookies;
}

QByteArray formatCookieJar(const QList<QNetworkCookie>& cookies) {
    QByteArray text = "# Netscape HTTP Cookie File\n# Written by lumaro-fetch.\n\n";
    for (const QNetworkCookie& cookie : cookies) {
        const QByteArray domain = cookie.domain().toLatin1();
        const QByteArray path = cookie.path().isEmpty() ? "/" : cookie.path().toLatin1();
        if (domain.isEmpty() || unsafe(domain) || unsafe(path) || unsafe(cookie.name()) ||
            unsafe(cookie.value())) {
            continue;
        }
        const qint64 expiry =
            cookie.isSessionCookie() ? 0 : cookie.expirationDate().toSecsSinceEpoch();
        text += (cookie.isHttpOnly() ? kHttpOnlyPrefix : QByteArray()) + domain + '\t' +
                (domain.startsWith('.') ? "TRUE" : "FALSE") + '\t' + path + '\t' +
                (cookie.isSecure() ? "TRUE" : "FALSE") + '\t' + QByteArray::number(expiry) + '\t' +
                cookie.name() + '\t' + cookie.value() + '\n';
    }
    return text;
}

bool readCookieJar(const QString& path, QList<QNetworkCookie>* cookies, QString* problem) {
    cookies->clear();
    if (!QFileInfo::exists(path)) return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("cannot read cookie file %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray text = file.read(kMaximumJarSize + 1);
    if (text.size() > kMaximumJarSize) {
        *problem = QStringLiteral("cookie file %1 is too large").arg(path);
        return false;
    }
    *cookies = parseCookieJar(text);
    return true;
}

bool writeCookieJar(const QString& path, const QList<QNetworkCookie>& cookies, QString* problem) {
    const QByteArray text = formatCookieJar(cookies);
    if (path == QLatin1String("-")) {
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        return true;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *problem = QStringLiteral("cannot write cookie file %1: %2").arg(path, file.errorString());
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(text);
    if (!file.commit()) {
        *problem = QStringLiteral("cannot write cookie file %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
