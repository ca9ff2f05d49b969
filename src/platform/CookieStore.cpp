#include "platform/CookieStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkCookieJar>
#include <QSaveFile>
#include <QStandardPaths>

namespace platform {

// QNetworkCookieJar keeps its full list protected; the store needs it to save and list.
class CookieStore::Jar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::allCookies;
    using QNetworkCookieJar::setAllCookies;
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

void CookieStore::setCookies(const QList<QNetworkCookie>& cookies, const QUrl& url) {
    std::lock_guard lock(mutex_);
    if (jar_->setCookiesFromUrl(cookies, url)) save();
}

void CookieStore::deleteCookie(const QNetworkCookie& cookie) {
    std::lock_guard lock(mutex_);
    if (jar_->deleteCookie(cookie)) save();
}

QList<QNetworkCookie> CookieStore::allCookies() const {
    std::lock_guard lock(mutex_);
    return jar_->allCookies();
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
