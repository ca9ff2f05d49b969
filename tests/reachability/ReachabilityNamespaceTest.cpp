// Reachability against a real kernel: each case builds links, addresses and routes in a
// network namespace of its own and checks the answers and the change notifications.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>

#include "NetworkNamespace.h"
#include "platform/NotificationCenter.h"
#include "platform/ReachabilitySource.h"
#include "reachability/Reachability.h"
#include "support/Files.h"

using reachability::Reachability;
using reachability::ReachabilityStatus;
using namespace reachtest;

namespace {

std::unique_ptr<Reachability> makeTarget(const QString& target) {
    if (target == "internet") return Reachability::reachabilityForInternetConnection();
    if (target == "wifi") return Reachability::reachabilityForLocalWiFi();
    sockaddr_in address{};
    if (::inet_pton(AF_INET, target.toLatin1().constData(), &address.sin_addr) == 1) {
        address.sin_family = AF_INET;
        return Reachability::reachabilityWithAddress(address);
    }
    return Reachability::reachabilityWithHostName(target);
}

struct FlagsCase {
    const char* name;
    QString setup;
    QString target;
    QByteArray devtype;  // the kind the sysfs tree gives v0
    quint32 flags;
    ReachabilityStatus status;
};

void PrintTo(const FlagsCase& c, std::ostream* os) { *os << c.name; }

class NamespaceFlags : public ::testing::TestWithParam<FlagsCase> {};

TEST_P(NamespaceFlags, AnswersWhatTheKernelSays) {
    const FlagsCase& c = GetParam();
    ENTER_NETWORK_NAMESPACE(ns);
    FakeSysfs sysfs;
    ASSERT_EQ(ip(c.setup), QString());
    if (!c.devtype.isNull()) sysfs.describe("v0", c.devtype);
    const auto reachability = makeTarget(c.target);
    ASSERT_TRUE(reachability);
    EXPECT_EQ(reachability->reachabilityFlags(), c.flags)
        << std::hex << reachability->reachabilityFlags();
    EXPECT_EQ(reachability->currentReachabilityStatus(), c.status);
    EXPECT_EQ(reachability->isReachable(), c.status != reachability::StatusUnreachable);
    EXPECT_EQ(reachability->isConnectionRequired(), bool(c.flags & 0x4));
}

constexpr auto kNo = reachability::StatusUnreachable;
constexpr auto kWWAN = reachability::StatusViaWWAN;
constexpr auto kWiFi = reachability::StatusViaWiFi;
const QString kLoopback = "link set lo up";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Topologies, NamespaceFlags,
    ::testing::Values(
        FlagsCase{"InternetWithLoopbackDown", "", "internet", {}, 0, kNo},
        FlagsCase{"LoopbackAddress", kLoopback, "127.0.0.1", {}, 0x30002, kWiFi},
        FlagsCase{"LocalhostByName", kLoopback, "localhost", {}, 0x30002, kWiFi},
        FlagsCase{"UnknownName", kLoopback, "no-such-host.invalid", {}, 0, kNo},
        FlagsCase{"NeighbourOnTheLink", kLink, "10.9.0.7", {}, 0x20002, kWiFi},
        FlagsCase{"OwnAddress", kLink, "10.9.0.2", {}, 0x30002, kWiFi},
        FlagsCase{"NoRouteBeyondTheLink", kLink, "192.0.2.1", {}, 0, kNo},
        FlagsCase{"InternetWithoutDefaultRoute", kLink, "internet", {}, 0, kNo},
        FlagsCase{"InternetThroughGateway", kRoute, "internet", {}, 0x2, kWiFi},
        FlagsCase{"InternetOverLinkWithoutCarrier", kRoute + kNoCarrier, "internet", {}, 0x4, kNo},
        FlagsCase{"NeighbourOverLinkWithoutCarrier", kLink + kNoCarrier, "10.9.0.7", {}, 0x20004, kNo},
        FlagsCase{"InternetWithoutGateway", kLink + "\nroute add default dev v0", "internet", {}, 0x20002, kWiFi},
        FlagsCase{"InternetInAnotherTable", kLink + "\nroute add default via 10.9.0.1 table 100", "internet", {}, 0x2, kWiFi},
        FlagsCase{"UnreachableDefault", kLink + "\nroute add unreachable default", "internet", {}, 0, kNo},
        FlagsCase{"InternetOverIPv6", kLink + "\naddr add 2001:db8::2/64 dev v0 nodad\nroute add default via 2001:db8::1", "internet", {}, 0x2, kWiFi},
        FlagsCase{"InternetOverWWAN", kRoute, "internet", "wwan", 0x40002, kWWAN},
        FlagsCase{"NeighbourOverWWAN", kRoute, "10.9.0.7", "wwan", 0x60002, kWWAN},
        FlagsCase{"LocalWiFiOnWiFi", kLink, "wifi", "wlan", 0x20002, kWiFi},
        FlagsCase{"LocalWiFiWithoutCarrier", kLink + kNoCarrier, "wifi", "wlan", 0x20004, kNo},
        FlagsCase{"LocalWiFiOnWiredLink", kRoute, "wifi", "", 0, kNo}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Counts the change notifications about one object and notes the flags each time.
struct Listener {
    std::atomic<int> count = 0;
    std::atomic<quint32> lastFlags = 0;
    std::atomic<QThread*> thread = nullptr;
    platform::NotificationCenter::ObserverId id = 0;

    explicit Listener(Reachability* reachability) {
        id = platform::NotificationCenter::defaultCenter().addObserver(
            reachability::kNetworkReachabilityChangedNotification, reachability,
            [this](const platform::Notification& notification) {
                lastFlags = qobject_cast<Reachability*>(notification.object)->reachabilityFlags();
                thread = QThread::currentThread();
                ++count;
            });
    }
    ~Listener() { platform::NotificationCenter::defaultCenter().removeObserver(id); }
};

struct ChangeCase {
    const char* name;
    QString setup;
    QString target;
    QString change;
    quint32 before;
    quint32 after;  // when it equals before, nothing may be announced
};

void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

class NamespaceChanges : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(NamespaceChanges, AnnouncedOnceOnTheStartingThread) {
    const ChangeCase& c = GetParam();
    ENTER_NETWORK_NAMESPACE(ns);
    FakeSysfs sysfs;
    ASSERT_EQ(ip(c.setup), QString());
    const auto reachability = makeTarget(c.target);
    ASSERT_TRUE(reachability);
    ASSERT_EQ(reachability->reachabilityFlags(), c.before);
    Listener listener(reachability.get());
    ASSERT_TRUE(reachability->startNotifier());
    ASSERT_EQ(ip(c.change), QString());
    const bool changes = c.after != c.before;
    if (changes) {
        EXPECT_TRUE(waitUntil([&] { return listener.count > 0; }, 5000));
    }
    settle(800);
    EXPECT_EQ(listener.count, changes ? 1 : 0);
    if (changes) {
        EXPECT_EQ(listener.lastFlags, c.after);
        EXPECT_EQ(listener.thread, QThread::currentThread());
    }
    EXPECT_EQ(reachability->reachabilityFlags(), c.after);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Changes, NamespaceChanges,
    ::testing::Values(
        ChangeCase{"DefaultRouteAdded", kLink, "internet", "route add default via 10.9.0.1", 0, 0x2},
        ChangeCase{"CarrierLost", kRoute, "internet", "link set v1 down", 0x2, 0x4},
        ChangeCase{"AddressRemoved", kLink, "10.9.0.2", "addr del 10.9.0.2/24 dev v0", 0x30002, 0},
        ChangeCase{"LinkDeleted", kRoute, "192.0.2.1", "link del v0", 0x2, 0},
        ChangeCase{"LoopbackUpForName", "", "localhost", kLoopback, 0, 0x30002},
        // A burst that comes and goes before it settles: one announcement, of the end state.
        ChangeCase{"BurstOfChanges", kLink, "internet", "route add default via 10.9.0.1\npause 0\n"
                   "route del default\npause 0\nroute add default via 10.9.0.1", 0, 0x2},
        ChangeCase{"ChangeThatLeavesTheAnswerAlone", kRoute, "internet",
                   "addr add 10.77.0.2/24 dev v1\nroute add 10.78.0.0/24 dev v1", 0x2, 0x2}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(NamespaceNotifier, StoppedNotifierIsSilentAndRestartsFromTheStateItFinds) {
    ENTER_NETWORK_NAMESPACE(ns);
    ASSERT_EQ(ip(kLink), QString());
    const auto reachability = Reachability::reachabilityForInternetConnection();
    Listener listener(reachability.get());
    ASSERT_TRUE(reachability->startNotifier());
    reachability->stopNotifier();
    ASSERT_EQ(ip("route add default via 10.9.0.1"), QString());
    settle(800);
    EXPECT_EQ(listener.count, 0);
    ASSERT_TRUE(reachability->startNotifier());
    ASSERT_EQ(ip("link set v1 down\nawait v0 down"), QString());
    EXPECT_TRUE(waitUntil([&] { return listener.count == 1; }, 5000));
    EXPECT_EQ(listener.lastFlags, 0x4u);
}

TEST(NamespaceNotifier, DeliversOnTheThreadThatStartedIt) {
    ENTER_NETWORK_NAMESPACE(ns);
    ASSERT_EQ(ip(kLink), QString());
    QThread worker;  // started from this thread, so inside the namespace too
    worker.start();
    QObject onWorker;
    onWorker.moveToThread(&worker);
    auto reachability = Reachability::reachabilityForInternetConnection();
    Listener listener(reachability.get());
    const auto onWorkerThread = [&](const std::function<void()>& work) {
        QMetaObject::invokeMethod(&onWorker, work, Qt::BlockingQueuedConnection);
    };
    bool started = false;
    onWorkerThread([&] { started = reachability->startNotifier(); });
    ASSERT_TRUE(started);
    // A second start on another thread is refused; the first stays.
    EXPECT_FALSE(reachability->startNotifier());
    ASSERT_EQ(ip("route add default via 10.9.0.1"), QString());
    EXPECT_TRUE(waitUntil([&] { return listener.count > 0; }, 5000));
    EXPECT_EQ(listener.thread, &worker);
    onWorkerThread([&] { reachability.reset(); });
    worker.quit();
    worker.wait();
}

TEST(NamespaceNotifier, ObserverMayDestroyTheObjectItIsToldAbout) {
    ENTER_NETWORK_NAMESPACE(ns);
    ASSERT_EQ(ip(kLink), QString());
    auto reachability = Reachability::reachabilityForInternetConnection();
    int calls = 0;
    auto& center = platform::NotificationCenter::defaultCenter();
    const auto id = center.addObserver(reachability::kNetworkReachabilityChangedNotification,
                                       reachability.get(), [&](const platform::Notification&) {
                                           ++calls;
                                           reachability.reset();
                                       });
    ASSERT_TRUE(reachability->startNotifier());
    ASSERT_EQ(ip("route add default via 10.9.0.1"), QString());
    EXPECT_TRUE(waitUntil([&] { return calls > 0; }, 5000));
    ASSERT_EQ(ip("link set v1 down\nawait v0 down"), QString());
    settle(500);
    EXPECT_EQ(calls, 1);
    center.removeObserver(id);
}

}  // namespace
