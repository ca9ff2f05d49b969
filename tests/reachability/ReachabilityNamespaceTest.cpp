// Reachability against a real kernel: each case builds links, addresses and routes in a
// network namespace of its own and checks the answers and the change notifications; and
// lumaro-reach run as a program: its line, its exit codes, --watch and its signals.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QThread>
#include <atomic>

#include "NetworkNamespace.h"
#include "platform/NotificationCenter.h"
#include "reachability/Reachability.h"
#include "support/Tool.h"

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

// Counts the change notifications about one object and notes the flags each time.
struct Listener {
    std::atomic<int> count = 0;
    std::atomic<quint32> lastFlags = 0;
    std::atomic<QThread*> thread = nullptr;
    platform::NotificationCenter::ObserverId id = 0;

    // then: what the observer does last, such as destroying the object.
    explicit Listener(
        Reachability* reachability, std::function<void()> then = [] {}) {
        id = platform::NotificationCenter::defaultCenter().addObserver(
            reachability::kNetworkReachabilityChangedNotification, reachability,
            [this, then](const platform::Notification& notification) {
                lastFlags = qobject_cast<Reachability*>(notification.object)->reachabilityFlags();
                thread = QThread::currentThread();
                ++count;
                then();
            });
    }
    ~Listener() { platform::NotificationCenter::defaultCenter().removeObserver(id); }
};

struct Case {
    const char* name;
    QString setup;
    QString target;
    QByteArray devtype;  // the kind the sysfs tree gives v0
    quint32 flags;
    ReachabilityStatus status;
    QString change = {};  // made once the notifier runs
    quint32 after = 0;    // when it equals flags, nothing may be announced
};

class Namespace : public ::testing::TestWithParam<Case> {};

TEST_P(Namespace, AnswersWhatTheKernelSaysAndAnnouncesEachChangeOnce) {
    const Case& c = GetParam();
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
    if (c.change.isEmpty()) return;

    Listener listener(reachability.get());
    ASSERT_TRUE(reachability->startNotifier());
    ASSERT_EQ(ip(c.change), QString());
    const bool changes = c.after != c.flags;
    EXPECT_TRUE(!changes || waitUntil([&] { return listener.count > 0; }, 5000));
    settle(800);
    EXPECT_EQ(listener.count, changes ? 1 : 0);
    EXPECT_EQ(listener.lastFlags, changes ? c.after : 0u);
    EXPECT_EQ(listener.thread, changes ? QThread::currentThread() : nullptr);
    EXPECT_EQ(reachability->reachabilityFlags(), c.after);
}

constexpr auto kNo = reachability::StatusUnreachable;
constexpr auto kWWAN = reachability::StatusViaWWAN;
constexpr auto kWiFi = reachability::StatusViaWiFi;
const QString kLoopback = "link set lo up";
// Comes and goes before it settles: one announcement, of the end state.
const QString kBurst =
    "route add default via 10.9.0.1\npause 0\nroute del default\npause 0\n"
    "route add default via 10.9.0.1";
const QString kUnrelated = "addr add 10.77.0.2/24 dev v1\nroute add 10.78.0.0/24 dev v1";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Topologies, Namespace,
    ::testing::Values(
        Case{"LocalhostByName", "", "localhost", {}, 0, kNo, kLoopback, 0x30002},
        Case{"UnknownName", kLoopback, "no-such-host.invalid", {}, 0, kNo},
        Case{"NeighbourOnTheLink", kLink, "10.9.0.7", {}, 0x20002, kWiFi},
        Case{"OwnAddress", kLink, "10.9.0.2", {}, 0x30002, kWiFi, "addr del 10.9.0.2/24 dev v0", 0},
        Case{"NoRouteBeyondTheLink", kLink, "192.0.2.1", {}, 0, kNo},
        Case{"BeyondTheLinkThroughGateway", kRoute, "192.0.2.1", {}, 0x2, kWiFi, "link del v0", 0},
        Case{"InternetWithoutDefaultRoute", kLink, "internet", {}, 0, kNo, kBurst, 0x2},
        Case{"InternetThroughGateway", kRoute, "internet", {}, 0x2, kWiFi, "link set v1 down", 0x4},
        Case{"InternetWithoutGateway", kLink + "\nroute add default dev v0", "internet", {}, 0x20002, kWiFi},
        Case{"InternetInAnotherTable", kLink + "\nroute add default via 10.9.0.1 table 100", "internet", {}, 0x2, kWiFi, kUnrelated, 0x2},
        Case{"UnreachableDefault", kLink + "\nroute add unreachable default", "internet", {}, 0, kNo},
        Case{"InternetOverIPv6", kLink + "\naddr add 2001:db8::2/64 dev v0 nodad\nroute add default via 2001:db8::1", "internet", {}, 0x2, kWiFi},
        Case{"InternetOverWWAN", kRoute, "internet", "wwan", 0x40002, kWWAN},
        Case{"LocalWiFiOnWiFi", kLink, "wifi", "wlan", 0x20002, kWiFi},
        Case{"LocalWiFiWithoutCarrier", kLink + kNoCarrier, "wifi", "wlan", 0x20004, kNo},
        Case{"LocalWiFiOnWiredLink", kRoute, "wifi", "", 0, kNo}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Delivered on the thread that started the notifier, where another thread's start is
// refused; a stopped notifier is silent, and started again compares with the state it finds;
// and an observer may destroy the object it is told about.
TEST(NamespaceNotifier, OnItsOwnThreadStoppedRestartedAndOutlivedByItsObserver) {
    ENTER_NETWORK_NAMESPACE(ns);
    ASSERT_EQ(ip(kLink), QString());
    QThread worker;  // started from this thread, so inside the namespace too
    worker.start();
    QObject onWorker;
    onWorker.moveToThread(&worker);
    const auto onWorkerThread = [&](const std::function<void()>& work) {
        QMetaObject::invokeMethod(&onWorker, work, Qt::BlockingQueuedConnection);
    };
    auto reachability = Reachability::reachabilityForInternetConnection();
    Listener listener(reachability.get(), [&] { reachability.reset(); });
    bool started = false;
    onWorkerThread([&] {
        started = reachability->startNotifier();
        reachability->stopNotifier();
    });
    ASSERT_TRUE(started);
    ASSERT_EQ(ip("route add default via 10.9.0.1\npause 800"), QString());
    EXPECT_EQ(listener.count, 0);
    onWorkerThread([&] { started = reachability->startNotifier(); });
    ASSERT_TRUE(started);
    EXPECT_FALSE(reachability->startNotifier());
    ASSERT_EQ(ip("link set v1 down\nawait v0 down"), QString());
    EXPECT_TRUE(waitUntil([&] { return listener.count > 0; }, 5000));
    ASSERT_EQ(ip("link set v1 up\nawait v0 up\npause 500"), QString());
    EXPECT_EQ(listener.count, 1);
    EXPECT_EQ(listener.lastFlags, 0x4u);
    EXPECT_EQ(listener.thread, &worker);
    onWorkerThread([&] { reachability.reset(); });
    worker.quit();
    worker.wait();
}

QString tool() { return qEnvironmentVariable("LUMARO_BIN") + "/lumaro-reach"; }
ToolRun reach(const QStringList& arguments) { return runTool("lumaro-reach", arguments); }

// The answer once (the exit code says whether it is reachable), then as it changes.
TEST(ToolWatch, PrintsTheAnswerAndEachChangeUntilTheCount) {
    ENTER_NETWORK_NAMESPACE(ns);
    ASSERT_EQ(ip(kLink), QString());
    const QString unreachable = "InternetConnection: not reachable (flags 0x00000)\n";
    const ToolRun once = reach({"--internet"});
    EXPECT_EQ(once.out, unreachable);
    EXPECT_EQ(once.exitCode, 1) << once.err.toStdString();
    QProcess process;
    process.start(tool(), {"--watch", "--count", "1", "--internet"});
    ASSERT_TRUE(process.waitForReadyRead(10000));
    EXPECT_EQ(process.readAllStandardOutput(), unreachable);
    ASSERT_EQ(ip("route add default via 10.9.0.1"), QString());
    ASSERT_TRUE(process.waitForFinished(2000)) << "no change line within two seconds";
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(process.readAllStandardOutput(),
              "InternetConnection: reachable via Wi-Fi (flags 0x00002)\n");
    EXPECT_EQ(reach({"--internet"}).exitCode, 0);
}

TEST(ToolWatch, StopSignalsEndTheWatchCleanly) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        QProcess process;
        process.start(tool(), {"--watch", "127.0.0.1"});
        ASSERT_TRUE(process.waitForReadyRead(10000));
        EXPECT_TRUE(process.readAllStandardOutput().startsWith("127.0.0.1: "));
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(5000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
    }
}

TEST(ToolUsage, CommandLinesItCannotRunExitWith64) {
    const QList<QStringList> cases = {
        {},
        {"--internet", "--wifi"},
        {"example.org", "127.0.0.1"},
        {"--count", "2", "--internet"},
        {"--watch", "--count", "0", "--internet"},
        {"--watch", "--internet", "--count"},
        {"--bogus", "--internet"},
        {"1.2.3"},
        {""},
        {"bad name"},
        {QString(300, 'a')},
    };
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const ToolRun run = reach(arguments);
        EXPECT_EQ(run.exitCode, 64);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(run.err.startsWith("lumaro-reach: ")) << run.err.toStdString();
    }
}

}  // namespace
