#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QJSEngine;

namespace platform {

// One entry of a proxy auto-configuration answer.
struct PacProxy {
    enum class Type { Direct, Http, Https, Socks };
    Type type = Type::Direct;
    QString host;
    quint16 port = 0;
    bool operator==(const PacProxy&) const = default;
};

// A proxy auto-configuration script compiled once in its own QJSEngine, with the standard
// helper functions (isPlainHostName, dnsDomainIs, localHostOrDomainIs, isResolvable,
// isInNet, dnsResolve, myIpAddress, dnsDomainLevels, shExpMatch, weekdayRange, dateRange,
// timeRange), asked FindProxyForURL for one address at a time. A script that runs longer
// than its time limit, at compile time or in a call, is interrupted. Use a runner on the
// thread that made it.
class PacRunner {
public:
    using Clock = std::function<QDateTime()>;

    explicit PacRunner(const QString& script,
                       std::chrono::milliseconds timeLimit = std::chrono::seconds(1),
                       Clock clock = {});
    ~PacRunner();
    PacRunner(const PacRunner&) = delete;
    PacRunner& operator=(const PacRunner&) = delete;

    // False when the script did not compile, threw, ran too long or defines no
    // FindProxyForURL; it then answers nothing.
    bool isValid() const;
    // The script's text answer for url; none when it threw, ran too long or answered
    // something other than a string.
    std::optional<QString> findProxyForURL(const QUrl& url) const;
    // The entries of an answer that this engine can use, in order: PROXY (or HTTP), HTTPS,
    // SOCKS and SOCKS5 with host and port, and DIRECT. Others are left out.
    static QList<PacProxy> parseAnswer(const QString& answer);

    // The runner of the script at scriptURL on the calling thread, compiled again only
    // when the text has changed. A few scripts are kept per thread.
    static std::shared_ptr<PacRunner> cached(const QString& scriptURL, const QString& script);

private:
    class Private;
    std::unique_ptr<Private> d_;
};

}  // namespace platform
