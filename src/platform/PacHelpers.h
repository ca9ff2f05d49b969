#pragma once

#include <QDateTime>
#include <QJSValue>
#include <QObject>
#include <QString>
#include <functional>

namespace platform {

class PacWatchdog;

// What the helper functions of a proxy auto-configuration script need from outside the
// script engine: name lookups, this machine's address and the time.
class PacHelpers : public QObject {
    Q_OBJECT
public:
    PacHelpers(std::function<QDateTime()> clock, const PacWatchdog* watchdog)
        : clock_(std::move(clock)), watchdog_(watchdog) {}

    // The IPv4 address of host in dotted form, or null. A lookup gives up when the script's
    // time is up, so a slow name server cannot hold the script past its limit.
    Q_INVOKABLE QJSValue dnsResolve(const QString& host) const;
    Q_INVOKABLE QString myIpAddress() const;
    // Milliseconds since the epoch.
    Q_INVOKABLE double now() const;

    // The JavaScript that defines the standard functions on top of these.
    static const char* script();

private:
    std::function<QDateTime()> clock_;
    const PacWatchdog* watchdog_;
};

}  // namespace platform
