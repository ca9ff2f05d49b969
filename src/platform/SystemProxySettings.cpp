#include "platform/SystemProxySettings.h"

#include <QHash>
#include <QNetworkProxyFactory>
#include <chrono>
#include <mutex>

#include "platform/NoProxyList.h"

namespace platform::SystemProxySettings {

namespace {

std::mutex overrideMutex;
std::optional<QString> noProxyList;

QString variable(const char* name) { return qEnvironmentVariable(name); }

// The first of the variables that is set and not empty.
QString firstSet(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        QString value = variable(name);
        if (!value.isEmpty()) return value;
    }
    return {};
}

bool environmentNamesProxy() {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        if (!variable(name).isEmpty()) return true;
    }
    return false;
}

std::optional<QList<SystemProxy>> fromEnvironment(const QUrl& url, QString* problem) {
    const QString scheme = url.scheme().toLower();
    QString value;
    if (scheme == QLatin1String("http")) {
        value = variable("http_proxy");
    } else if (scheme == QLatin1String("https")) {
        value = firstSet({"https_proxy", "HTTPS_PROXY"});
    }
    if (value.isEmpty()) value = firstSet({"all_proxy", "ALL_PROXY"});
    if (value.isEmpty()) return QList<SystemProxy>{};
    auto proxy = parseProxyAddress(value, problem);
    if (!proxy) return std::nullopt;
    if (proxy->type == SystemProxy::Type::Http && scheme == QLatin1String("https")) {
        proxy->type = SystemProxy::Type::Https;
    }
    return QList<SystemProxy>{*proxy};
}

QList<SystemProxy> askDesktop(const QUrl& url) {
    QList<SystemProxy> proxies;
    const bool https = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    for (const QNetworkProxy& proxy :
         QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url))) {
        SystemProxy entry;
        switch (proxy.type()) {
            case QNetworkProxy::NoProxy:
            case QNetworkProxy::DefaultProxy:
                break;
            case QNetworkProxy::HttpProxy:
                entry.type = https ? SystemProxy::Type::Https : SystemProxy::Type::Http;
                break;
            case QNetworkProxy::Socks5Proxy:
                entry.type = SystemProxy::Type::Socks;
                break;
            default:
                continue;  // caching proxies for other protocols
        }
        if (entry.type != SystemProxy::Type::None) {
            entry.host = proxy.hostName();
            entry.port = proxy.port();
        }
        proxies.append(entry);
    }
    // A lone "no proxy" is the same as none.
    if (proxies.size() == 1 && proxies.first().type == SystemProxy::Type::None) proxies.clear();
    return proxies;
}

// Asking the desktop goes through libproxy, which reads its settings anew each time: a
// tenth of a millisecond or more, for every request. Its answer for an origin is kept a
// few seconds, so a page of requests asks once and a changed setting still counts soon.
QList<SystemProxy> fromDesktop(const QUrl& url) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kKeepFor = std::chrono::seconds(5);
    constexpr qsizetype kMaximumOrigins = 256;
    struct Answer {
        QList<SystemProxy> proxies;
        Clock::time_point asked;
    };
    static std::mutex mutex;
    static QHash<QString, Answer> answers;
    const QString origin = url.scheme().toLower() + QLatin1String("://") + url.host() +
                           QLatin1Char(':') + QString::number(url.port());
    const auto now = Clock::now();
    {
        std::lock_guard lock(mutex);
        const auto found = answers.constFind(origin);
        if (found != answers.constEnd() && now - found->asked < kKeepFor) return found->proxies;
    }
    QList<SystemProxy> proxies = askDesktop(url);
    std::lock_guard lock(mutex);
    if (answers.size() >= kMaximumOrigins) answers.clear();
    answers.insert(origin, Answer{proxies, now});
    return proxies;
}

}  // namespace

std::optional<SystemProxy> parseProxyAddress(const QString& text, QString* problem) {
    QString rest = text.trimmed();
    QString scheme = QStringLiteral("http");
    const qsizetype separator = rest.indexOf(QLatin1String("://"));
    if (separator >= 0) {
        scheme = rest.left(separator).toLower();
        rest = rest.mid(separator + 3);
    }
    SystemProxy proxy;
    if (scheme == QLatin1String("http")) {
        proxy.type = SystemProxy::Type::Http;
    } else if (scheme == QLatin1String("socks5") || scheme == QLatin1String("socks5h")) {
        proxy.type = SystemProxy::Type::Socks;
    } else {
        *problem = QStringLiteral("Unsupported proxy scheme for '%1'").arg(text);
        return std::nullopt;
    }
    // Credentials in the address are for the proxy's own challenge, not for choosing it.
    const qsizetype at = rest.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) rest = rest.mid(at + 1);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    if (slash >= 0) rest.truncate(slash);
    QUrl parsed;
    parsed.setAuthority(rest, QUrl::StrictMode);
    const int port = parsed.port(1080);
    if (!parsed.isValid() || parsed.host().isEmpty() || port <= 0) {
        *problem = QStringLiteral("Bad proxy address '%1'").arg(text);
        return std::nullopt;
    }
    proxy.host = parsed.host();
    proxy.port = static_cast<quint16>(port);
    return proxy;
}

std::optional<QList<SystemProxy>> proxiesForURL(const QUrl& url, QString* problem) {
    const QString pac = variable("LUMARO_PAC_URL");
    if (!pac.isEmpty()) {
        const QUrl script(pac, QUrl::StrictMode);
        if (!script.isValid() || script.scheme().isEmpty()) {
            *problem = QStringLiteral("Bad LUMARO_PAC_URL '%1'").arg(pac);
            return std::nullopt;
        }
        SystemProxy entry;
        entry.type = SystemProxy::Type::AutoConfigurationURL;
        entry.autoConfigurationURL = script;
        return QList<SystemProxy>{entry};
    }
    const QString noProxy = noProxyOverride().value_or(firstSet({"no_proxy", "NO_PROXY"}));
    if (noProxyListMatches(url.host(), noProxy)) return QList<SystemProxy>{};
    if (environmentNamesProxy()) return fromEnvironment(url, problem);
    return fromDesktop(url);
}

void setNoProxyOverride(const std::optional<QString>& list) {
    std::lock_guard lock(overrideMutex);
    noProxyList = list;
}

std::optional<QString> noProxyOverride() {
    std::lock_guard lock(overrideMutex);
    return noProxyList;
}

}  // namespace platform::SystemProxySettings
