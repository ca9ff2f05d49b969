#include "platform/PacRunner.h"

#include <QJSEngine>
#include <array>
#include <deque>

#include "platform/PacHelpers.h"
#include "platform/PacWatchdog.h"

namespace platform {

namespace {

// Scripts kept per thread: a few proxy set-ups at once is plenty.
constexpr qsizetype kCachedScripts = 8;

// The first three words of an entry: its keyword and, for a proxy, host:port; a third
// makes the entry unusable. Views, not copies: an answer is read for every request.
struct EntryWords {
    std::array<QStringView, 3> word;
    qsizetype count = 0;
};

EntryWords words(QStringView entry) {
    EntryWords result;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= entry.size() && result.count < 3; ++i) {
        const bool blank = i == entry.size() || entry[i].isSpace();
        if (blank && start >= 0) {
            result.word[result.count++] = entry.mid(start, i - start);
            start = -1;
        } else if (!blank && start < 0) {
            start = i;
        }
    }
    return result;
}

std::optional<PacProxy> parseEntry(QStringView entry) {
    const EntryWords parts = words(entry);
    if (parts.count == 0) return std::nullopt;
    const QStringView keyword = parts.word[0];
    auto is = [&](QLatin1StringView name) {
        return keyword.compare(name, Qt::CaseInsensitive) == 0;
    };
    PacProxy proxy;
    if (is(QLatin1StringView("DIRECT"))) return proxy;
    if (is(QLatin1StringView("PROXY")) || is(QLatin1StringView("HTTP"))) {
        proxy.type = PacProxy::Type::Http;
    } else if (is(QLatin1StringView("HTTPS"))) {
        proxy.type = PacProxy::Type::Https;
    } else if (is(QLatin1StringView("SOCKS")) || is(QLatin1StringView("SOCKS5"))) {
        proxy.type = PacProxy::Type::Socks;
    } else {
        return std::nullopt;
    }
    if (parts.count != 2) return std::nullopt;
    // host:port, or [v6-address]:port.
    const QStringView address = parts.word[1];
    const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) return std::nullopt;
    bool ok = false;
    const uint port = address.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) return std::nullopt;
    QStringView host = address.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
    }
    if (host.isEmpty()) return std::nullopt;
    proxy.host = host.toString();
    proxy.port = static_cast<quint16>(port);
    return proxy;
}

}  // namespace

class PacRunner::Private {
public:
    Private(std::chrono::milliseconds limit, Clock clock)
        : watchdog(&engine, limit), helpers(std::move(clock), &watchdog) {}

    QJSEngine engine;
    PacWatchdog watchdog;
    PacHelpers helpers;
    QJSValue findProxyForURL;
    bool valid = false;
};

PacRunner::PacRunner(const QString& script, std::chrono::milliseconds timeLimit, Clock clock)
    : d_(std::make_unique<Private>(timeLimit, std::move(clock))) {
    QJSEngine& engine = d_->engine;
    engine.globalObject().setProperty(QStringLiteral("__pacHelpers"),
                                      engine.newQObject(&d_->helpers));
    // The engine must not delete the helpers it did not make.
    QJSEngine::setObjectOwnership(&d_->helpers, QJSEngine::CppOwnership);
    d_->watchdog.begin();
    const QJSValue helpers = engine.evaluate(QString::fromLatin1(PacHelpers::script()));
    const QJSValue loaded = helpers.isError() ? helpers : engine.evaluate(script);
    const bool interrupted = d_->watchdog.end();
    if (interrupted || loaded.isError() || engine.hasError()) return;
    d_->findProxyForURL = engine.globalObject().property(QStringLiteral("FindProxyForURL"));
    d_->valid = d_->findProxyForURL.isCallable();
}

PacRunner::~PacRunner() = default;

bool PacRunner::isValid() const { return d_->valid; }

std::optional<QString> PacRunner::findProxyForURL(const QUrl& url) const {
    if (!d_->valid) return std::nullopt;
    // The script never sees credentials, nor the path and query of an https address.
    QString shown;
    if (url.scheme() == QLatin1String("https")) {
        shown = url.toString(QUrl::FullyEncoded | QUrl::RemoveUserInfo | QUrl::RemovePath |
                             QUrl::RemoveQuery | QUrl::RemoveFragment) +
                QLatin1Char('/');
    } else {
        shown = url.toString(QUrl::FullyEncoded | QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    }
    d_->watchdog.begin();
    const QJSValue answer =
        d_->findProxyForURL.call({QJSValue(std::move(shown)), QJSValue(url.host())});
    const bool interrupted = d_->watchdog.end();
    if (interrupted || answer.isError() || !answer.isString()) return std::nullopt;
    return answer.toString();
}

QList<PacProxy> PacRunner::parseAnswer(const QString& answer) {
    QList<PacProxy> proxies;
    for (const QStringView entry : QStringView(answer).tokenize(QLatin1Char(';'))) {
        if (auto proxy = parseEntry(entry)) proxies.append(*proxy);
    }
    return proxies;
}

std::shared_ptr<PacRunner> PacRunner::cached(const QString& scriptURL, const QString& script) {
    struct Compiled {
        QString url;
        QString script;
        std::shared_ptr<PacRunner> runner;
    };
    // Engines belong to the thread that made them.
    thread_local std::deque<Compiled> compiled;
    for (auto it = compiled.begin(); it != compiled.end(); ++it) {
        if (it->url != scriptURL) continue;
        if (it->script == script) return it->runner;
        compiled.erase(it);
        break;
    }
    auto runner = std::make_shared<PacRunner>(script);
    compiled.push_back({scriptURL, script, runner});
    if (compiled.size() > static_cast<size_t>(kCachedScripts)) compiled.pop_front();
    return runner;
}

}  // namespace platform
