#pragma once

#include <netinet/in.h>

#include <QObject>
#include <QString>
#include <memory>
#include <mutex>

#include "platform/ReachabilitySource.h"
#include "reachability/ReachabilityStatus.h"

namespace reachability {

// Posted through the default notification centre, with the Reachability whose
// state changed as the notification's object.
inline const QString kNetworkReachabilityChangedNotification =
    QStringLiteral("NetworkReachabilityChangedNotification");

// Whether a host, an IPv4 address, the internet or the local Wi-Fi link can be
// reached now, and over which kind of link; changes are announced once the
// notifier is started.
class Reachability : public QObject {
    Q_OBJECT

public:
    // The fixed keys of the two targets that are not a single host.
    static const QString kInternetConnectionKey;
    static const QString kLocalWiFiConnectionKey;

    // Each gives none when no platform handle can be made for the target.
    static std::unique_ptr<Reachability> reachabilityWithHostName(const QString& hostName);
    static std::unique_ptr<Reachability> reachabilityWithAddress(const sockaddr_in& address);
    static std::unique_ptr<Reachability> reachabilityForInternetConnection();
    static std::unique_ptr<Reachability> reachabilityForLocalWiFi();

    // "a.b.c.d" of an IPv4 address as stored in a socket address (network byte order).
    static QString makeAddressKey(in_addr_t address);

    // Takes ownership of the handle.
    explicit Reachability(std::unique_ptr<platform::ReachabilitySource> reachabilityRef);
    ~Reachability() override;

    QString key() const;
    void setKey(const QString& key);

    // Announces changes on the calling thread, which must run a Qt event loop.
    bool startNotifier();
    void stopNotifier();

    ReachabilityStatus networkStatusForFlags(quint32 flags) const;
    ReachabilityStatus currentReachabilityStatus() const;
    bool isReachable() const;
    bool isConnectionRequired() const;
    bool connectionRequired() const { return isConnectionRequired(); }
    bool isConnectionOnDemand() const;
    bool isInterventionRequired() const;
    bool isReachableViaWWAN() const;
    bool isReachableViaWiFi() const;
    quint32 reachabilityFlags() const;

    // Equal when the keys are equal as text.
    bool isEqual(const Reachability& other) const;

private:
    // The current flags, or none when they cannot be read; reports a missing handle
    // on behalf of `method` with `description`.
    std::optional<quint32> readFlags(const char* method, const char* description) const;

    mutable std::mutex keyMutex_;
    QString key_;
    std::unique_ptr<platform::ReachabilitySource> reachabilityRef_;
};

// Called by the platform on the thread that started the notifier: posts
// kNetworkReachabilityChangedNotification about the Reachability given as info.
void ReachabilityCallback(platform::ReachabilitySource& source, quint32 flags, QObject* info);

}  // namespace reachability
