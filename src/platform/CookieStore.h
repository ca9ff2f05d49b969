#pragma once

#include <QList>
#include <QNetworkCookie>
#include <QString>
#include <QUrl>
#include <memory>
#include <mutex>
#include <utility>

namespace platform {

// The process's cookie store: cookies per URL, with the usual domain, path, secure and
// expiry rules. Cookies with an expiry date are kept in a file and outlive the process;
// session cookies live in memory only. Safe to use from any thread.
class CookieStore {
public:
    // Kept at $LUMARO_HOME/cookies (or the user's data folder when LUMARO_HOME is unset).
    static CookieStore& shared();
    static QString standardFilePath();

    explicit CookieStore(QString filePath);
    ~CookieStore();
    CookieStore(const CookieStore&) = delete;
    CookieStore& operator=(const CookieStore&) = delete;

    // The cookies to send to url, most specific path first.
    QList<QNetworkCookie> cookiesForUrl(const QUrl& url) const;
    // Stores cookies received from url and answers those it took. A cookie is taken only
    // for url's own host or a parent domain of it that is not a public suffix ("com",
    // "co.uk"), and a Secure cookie only from an https address.
    QList<QNetworkCookie> setCookies(const QList<QNetworkCookie>& cookies, const QUrl& url);
    void deleteCookie(const QNetworkCookie& cookie);
    QList<QNetworkCookie> allCookies() const;
    // Replaces every cookie (a command-line tool's jar read from a file).
    void replaceAllCookies(const QList<QNetworkCookie>& cookies);
    // From now on the store forgets its file: the cookies read from it are dropped and
    // nothing is written back. For tools that keep their own jar.
    void keepInMemoryOnly();

    // The cookies that "Set-Cookie" fields of a response from url define, with the
    // domain and path filled in from url where the cookie leaves them out.
    static QList<QNetworkCookie> cookiesWithResponseHeaderFields(
        const QList<std::pair<QByteArray, QByteArray>>& fields, const QUrl& url);

private:
    void load();
    void save() const;

    class Jar;
    QString filePath_;
    mutable std::mutex mutex_;
    std::unique_ptr<Jar> jar_;
};

}  // namespace platform
