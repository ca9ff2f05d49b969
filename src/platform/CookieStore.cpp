#include "platform/CookieStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkCookieJar>
#include <QSaveFile>
#include <QStandardPaths>

namespace platform {

namespace {

// Whether a server at host may set a cookie for domain: its own name, or a domain it lies
// in. An address only for itself. (The jar's own check also lets a host set cookies for
// names below it, which no browser allows.)
bool mayHostSetDomain(const QString& host, QString domain) {
    if (domain.startsWith(QLatin1Char('.'))) domain.remove(0, 1);
    if (domain.compare(host, Qt::CaseInsensitive) == 0) return true;
    if (!QHostAddress(host).isNull()) return false;
    return !domain.isEmpty() && host.endsWith(QLatin1Char('.') + domain, Qt::CaseInsensitive);
}

}  // namespace

// QNetworkCookieJar keeps its full list and its checks protected; the store needs them.
class CookieStore::Jar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::allCookies;
    using QNetworkCookieJar::setAllCookies;
    // The jar's check holds the public-suffix list that Qt ships.
    using QNetworkCookieJar::validateCookie;
};

CookieStore& CookieStore::shared() {
    static CookieStore instance(standardFilePath());
    return instance;
}

QString CookieStore::standardFilePath() {
    const QString home = qEnvironmentVariable("LUMARO_HOME");
    const QString dir =
        home.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/lumaro"
            : home;
    return dir + QStringLiteral("/cookies");
}

CookieStore::CookieStore(QString filePath)
    : filePath_(std::move(filePath)), jar_(std::make_unique<Jar>()) {
    load();
}

CookieStore::~CookieStore() = default;

QList<QNetworkCookie> CookieStore::cookiesForUrl(const QUrl& url) const {
    std::lock_guard lock(mutex_);
    return jar_->cookiesForUrl(url);
}

QList<QNetworkCookie> CookieStore::setCookies(const QList<QNetworkCookie>& cookies,
                                              const QUrl& url) {
    std::lock_guard lock(mutex_);
    const bool secureOrigin =
        url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    QList<QNetworkCookie> taken;
    for (QNetworkCookie cookie : cookies) {
        cookie.normalize(url);
        if (cookie.isSecure() && !secureOrigin) continue;
        if (!mayHostSetDomain(url.host(), cookie.domain())) continue;
        if (!jar_->validateCookie(cookie, url)) continue;
        if (jar_->setCookiesFromUrl({cookie}, url)) taken.append(cookie);
    }
    if (!taken.isEmpty()) save();
    return taken;
}

void CookieStore::deleteCookie(const QNetworkCookie& cookie) {
    std::lock_guard lock(mutex_);
    if (jar_->deleteCookie(cookie)) save();
}

QList<QNetworkCookie> CookieStore::allCookies() const {
    std::lock_guard lock(mutex_);
    return jar_->allCookies();
}

void CookieStore::replaceAllCookies(const QList<QNetworkCookie>& cookies) {
    std::lock_guard lock(mutex_);
    jar_->setAllCookies(cookies);
    save();
}

void CookieStore::keepInMemoryOnly() {
    std::lock_guard lock(mutex_);
    filePath_.clear();
    jar_->setAllCookies({});
}

QList<QNetworkCookie> CookieStore::cookiesWithResponseHeaderFields(
    const QList<std::pair<QByteArray, QByteArray>>& fields, const QUrl& url) {
    QList<QNetworkCookie> cookies;
    for (const auto& [name, value] : fields) {
        if (name.compare("Set-Cookie", Qt::CaseInsensitive) != 0) continue;
        for (QNetworkCookie cookie : QNetworkCookie::parseCookies(value)) {
            cookie.normalize(url);
            cookies.append(cookie);
        }
    }
    return cookies;
}

void CookieStore::load() {
    if (filePath_.isEmpty()) return;
    QFile file(filePath_);
    if (!file.open(QIODevice::ReadOnly)) return;
    QList<QNetworkCookie> cookies;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty()) continue;
        // A damaged line loses only its own cookie.
        for (const QNetworkCookie& cookie : QNetworkCookie::parseCookies(line)) {
            if (!cookie.isSessionCookie() && cookie.expirationDate() > now) cookies.append(cookie);
        }
    }
    jar_->setAllCookies(cookies);
}

void CookieStore::save() const {
    if (filePath_.isEmpty()) return;
    QByteArray contents;
    for (const QNetworkCookie& cookie : jar_->allCookies()) {
        if (cookie.isSessionCookie()) continue;
        contents += cookie.toRawForm(QNetworkCookie::Full) + '\n';
    }
    QDir().mkpath(QFileInfo(filePath_).absolutePath());
    // Written aside and renamed, so a crash never leaves half a file.
    QSaveFile file(filePath_);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(contents);
    file.commit();
}

}  // namespace platform
