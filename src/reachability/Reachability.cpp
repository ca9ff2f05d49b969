#include "reachability/Reachability.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include "platform/NotificationCenter.h"
#include "reachability/ReachabilityLog.h"

namespace reachability {
namespace {

// A programming error: said once, loudly, and the call goes no further.
void reportMisuse(const char* method, const QObject* object, const QString& objectKey,
                  const char* description) {
    qCCritical(lcReachability).noquote()
        << QStringLiteral("Assertion failure in %1 (object %2, key \"%3\", %4): %5")
               .arg(QString::fromLatin1(method),
                    QStringLiteral("0x%1").arg(quintptr(object), 0, 16), objectKey,
                    QStringLiteral("src/reachability/Reachability.cpp"),
                    QString::fromLatin1(description));
}

}  // namespace

const QString Reachability::kInternetConnectionKey = QStringLiteral("InternetConnection");
const QString Reachability::kLocalWiFiConnectionKey = QStringLiteral("LocalWiFiConnection");

std::unique_ptr<Reachability> Reachability::reachabilityWithHostName(const QString& hostName) {
    auto ref = platform::ReachabilitySource::createWithName(hostName.toUtf8());
    if (!ref) return nullptr;
    auto reachability = std::make_unique<Reachability>(std::move(ref));
    reachability->setKey(hostName);
    return reachability;
}

std::unique_ptr<Reachability> Reachability::reachabilityWithAddress(const sockaddr_in& address) {
    auto ref = platform::ReachabilitySource::createWithAddress(
        reinterpret_cast<const sockaddr*>(&address));
    if (!ref) return nullptr;
    auto reachability = std::make_unique<Reachability>(std::move(ref));
    reachability->setKey(makeAddressKey(address.sin_addr.s_addr));
    return reachability;
}

QString Reachability::makeAddressKey(in_addr_t address) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
    return QStringLiteral("%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]);
}

std::unique_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    auto reachability = reachabilityWithAddress(zero);
    if (reachability) reachability->setKey(kInternetConnectionKey);
    return reachability;
}

std::unique_ptr<Reachability> Reachability::reachabilityForLocalWiFi() {
    sockaddr_in linkLocal{};
    linkLocal.sin_family = AF_INET;
    linkLocal.sin_addr.s_addr = htonl(0xA9FE0000);  // 169.254.0.0
    auto reachability = reachabilityWithAddress(linkLocal);
    if (reachability) reachability->setKey(kLocalWiFiConnectionKey);
    return reachability;
}

Reachability::Reachability(std::unique_ptr<platform::ReachabilitySource> reachabilityRef)
    : reachabilityRef_(std::move(reachabilityRef)) {}

Reachability::~Reachability() {
    stopNotifier();
    reachabilityRef_.reset();
    setKey(QString());
}

QString Reachability::key() const {
    std::lock_guard lock(keyMutex_);
    return key_;
}

void Reachability::setKey(const QString& key) {
    std::lock_guard lock(keyMutex_);
    key_ = key;
}

bool Reachability::startNotifier() {
    if (!reachabilityRef_) return false;
    if (!reachabilityRef_->setCallback(&ReachabilityCallback, this)) return false;
    return reachabilityRef_->scheduleWithCurrentThread();
}

void Reachability::stopNotifier() {
    if (reachabilityRef_) reachabilityRef_->unscheduleFromCurrentThread();
}

ReachabilityStatus Reachability::networkStatusForFlags(quint32 flags) const {
    // Identity, not spelling: only the object made for the local Wi-Fi carries this very
    // text, so a host that happens to be called "LocalWiFiConnection" is a host like any other.
    const QString current = key();
    const bool localWiFi = current.constData() == kLocalWiFiConnectionKey.constData() &&
                           current.size() == kLocalWiFiConnectionKey.size();
    return statusForFlags(flags, localWiFi);
}

std::optional<quint32> Reachability::readFlags(const char* method, const char* description) const {
    if (!reachabilityRef_) {
        reportMisuse(method, this, key(), description);
        return std::nullopt;
    }
    quint32 flags = 0;
    if (!reachabilityRef_->getFlags(&flags)) return std::nullopt;
    return flags;
}

ReachabilityStatus Reachability::currentReachabilityStatus() const {
    const auto flags = readFlags("Reachability::currentReachabilityStatus",
                                 "currentReachabilityStatus called with NULL reachabilityRef");
    return flags ? networkStatusForFlags(*flags) : StatusUnreachable;
}

bool Reachability::isReachable() const {
    const auto flags =
        readFlags("Reachability::isReachable", "isReachable called with NULL reachabilityRef");
    return flags && networkStatusForFlags(*flags) != StatusUnreachable;
}

bool Reachability::isConnectionRequired() const {
    const auto flags = readFlags("Reachability::isConnectionRequired",
                                 "isConnectionRequired called with NULL reachabilityRef");
    return flags && flagsRequireConnection(*flags);
}

bool Reachability::isConnectionOnDemand() const {
    const auto flags = readFlags("Reachability::isConnectionOnDemand",
                                 "isConnectionIsOnDemand called with NULL reachabilityRef");
    return flags && flagsConnectOnDemand(*flags);
}

bool Reachability::isInterventionRequired() const {
    const auto flags = readFlags("Reachability::isInterventionRequired",
                                 "isInterventionRequired called with NULL reachabilityRef");
    return flags && flagsRequireIntervention(*flags);
}

bool Reachability::isReachableViaWWAN() const {
    const auto flags = readFlags("Reachability::isReachableViaWWAN",
                                 "isReachableViaWWAN called with NULL reachabilityRef");
    return flags && networkStatusForFlags(*flags) == StatusViaWWAN;
}

bool Reachability::isReachableViaWiFi() const {
    const auto flags = readFlags("Reachability::isReachableViaWiFi",
                                 "isReachableViaWiFi called with NULL reachabilityRef");
    return flags && networkStatusForFlags(*flags) == StatusViaWiFi;
}

quint32 Reachability::reachabilityFlags() const {
    const auto flags = readFlags("Reachability::reachabilityFlags",
                                 "reachabilityFlags called with NULL reachabilityRef");
    return flags.value_or(0);
}

bool Reachability::isEqual(const Reachability& other) const { return key() == other.key(); }

void ReachabilityCallback(platform::ReachabilitySource&, quint32, QObject* info) {
    if (info == nullptr) {
        reportMisuse("ReachabilityCallback", info, QString(),
                     "info was NULL in ReachabilityCallback");
        return;
    }
    auto* reachability = qobject_cast<Reachability*>(info);
    if (reachability == nullptr) {
        reportMisuse("ReachabilityCallback", info, QString(),
                     "info was the wrong class in ReachabilityCallback");
        return;
    }
    // The flags are not passed on: observers ask the object, which answers afresh.
    platform::NotificationCenter::defaultCenter().postNotification(
        kNetworkReachabilityChangedNotification, reachability);
}

}  // namespace reachability
