#pragma once

#include <QList>
#include <QNetworkCookie>
#include <QString>

// The Netscape cookie-file format that curl reads with -b and writes with -c: one cookie a
// line, seven fields split by tabs (domain, whether the domain's subdomains share it, path,
// secure, expiry in seconds since the epoch with 0 for a session cookie, name, value);
// "#HttpOnly_" before the domain marks an HttpOnly cookie, other lines starting with "#"
// are comments.

// The cookies of a jar file that are still alive. A missing file is an empty jar, as for
// curl; a file that cannot be read, or is too large to be a jar, answers false.
bool readCookieJar(const QString& path, QList<QNetworkCookie>* cookies, QString* problem);
// The cookies of a jar's text; malformed lines are skipped.
QList<QNetworkCookie> parseCookieJar(const QByteArray& text);
QByteArray formatCookieJar(const QList<QNetworkCookie>& cookies);
// Writes the jar privately (mode 0600), in full or not at all; "-" is standard output.
bool writeCookieJar(const QString& path, const QList<QNetworkCookie>& cookies, QString* problem);
