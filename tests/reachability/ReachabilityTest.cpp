// The status rule, the questions, the keys and equality, the reports of misuse, the
// notification center and the interface kinds read from a sysfs tree made by the test.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QtGlobal>
#include <functional>

#include "platform/InterfaceClassifier.h"
#include "platform/NotificationCenter.h"
#include "reachability/Reachability.h"
#include "support/Files.h"
#include "support/LogCapture.h"

using platform::InterfaceClassifier;
using platform::InterfaceKind;
using platform::Notification;
using platform::NotificationCenter;
using reachability::Reachability;
using reachability::ReachabilityStatus;

namespace {

constexpr auto No = reachability::StatusUnreachable;
constexpr auto WWAN = reachability::StatusViaWWAN;
constexpr auto WiFi = reachability::StatusViaWiFi;

std::unique_ptr<Reachability> address(const char* dotted) {
    sockaddr_in record{};
    record.sin_family = AF_INET;
    ::inet_pton(AF_INET, dotted, &record.sin_addr);
    return Reachability::reachabilityWithAddress(record);
}

TEST(ReachabilityFlagsRule, StatusForEachKindOfTargetAndTheQuestions) {
    const auto internet = Reachability::reachabilityForInternetConnection();
    const auto localWiFi = Reachability::reachabilityForLocalWiFi();
    // Spelt like the local Wi-Fi key, but a host: it follows the full rule.
    const auto lookalike = Reachability::reachabilityWithHostName("LocalWiFiConnection");
    struct Row {
        quint32 flags;
        ReachabilityStatus other, localWiFi;
        bool connectionRequired, onDemand, intervention;
    };
    // clang-format off
    const Row rows[] = {
        {0x0, No, No, 0, 0, 0},          {0x2, WiFi, No, 0, 0, 0},        {0x40002, WWAN, No, 0, 0, 0},
        {0x7, No, No, 1, 0, 0},          {0x3, WiFi, No, 0, 0, 0},        {0x6, WiFi, No, 1, 0, 0},
        {0xA, No, No, 0, 0, 0},          {0x20002, WiFi, WiFi, 0, 0, 0},  {0x30002, WiFi, WiFi, 0, 0, 0},
        {0x60002, WWAN, WiFi, 0, 0, 0},  {0x30007, No, WiFi, 1, 0, 0},    {0x2000B, WiFi, WiFi, 0, 0, 0},
        {0x12, No, No, 0, 0, 0},         {0x16, WiFi, No, 1, 0, 1},       {0x40000, No, No, 0, 0, 0},
        {0x70005, No, No, 1, 0, 0},      {0x26, WiFi, No, 1, 1, 0},       {0xE, WiFi, No, 1, 1, 0},
        {0x3C, No, No, 1, 1, 1},         {0xFFFFFFFD, No, No, 1, 1, 1},   {0xFFFFFFFF, WWAN, WiFi, 1, 1, 1},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(QString::number(row.flags, 16).toStdString());
        EXPECT_EQ(internet->networkStatusForFlags(row.flags), row.other);
        EXPECT_EQ(lookalike->networkStatusForFlags(row.flags), row.other);
        EXPECT_EQ(localWiFi->networkStatusForFlags(row.flags), row.localWiFi);
        EXPECT_EQ(reachability::flagsRequireConnection(row.flags), row.connectionRequired);
        EXPECT_EQ(reachability::flagsConnectOnDemand(row.flags), row.onDemand);
        EXPECT_EQ(reachability::flagsRequireIntervention(row.flags), row.intervention);
    }
}

TEST(ReachabilityKeys, AddressesKeyedInNetworkOrderAndBadNamesRefused) {
    EXPECT_TRUE(Reachability::reachabilityWithHostName("10.0.0.1")->isEqual(*address("10.0.0.1")));
    EXPECT_FALSE(address("0.0.0.0")->isEqual(*Reachability::reachabilityForInternetConnection()));
    EXPECT_FALSE(Reachability::reachabilityWithHostName(QString()));
    EXPECT_FALSE(Reachability::reachabilityWithHostName(QString::fromUtf8("a\0b", 3)));
}

// Each misuse is reported once, naming the call, the object and its key, and goes no further.
TEST(ReachabilityMisuse, ReportedOnceAndGoesNoFurther) {
    Reachability orphan(nullptr);
    orphan.setKey("orphan.example");
    auto target = Reachability::reachabilityForInternetConnection();
    sockaddr_in any{};
    any.sin_family = AF_INET;
    auto source =
        platform::ReachabilitySource::createWithAddress(reinterpret_cast<const sockaddr*>(&any));
    QObject stranger;
    std::vector<QObject*> posted;
    auto& center = NotificationCenter::defaultCenter();
    const auto id = center.addObserver(
        reachability::kNetworkReachabilityChangedNotification, nullptr,
        [&](const Notification& notification) { posted.push_back(notification.object); });
    const auto at = [](const void* p) {
        return QStringLiteral("(object 0x%1, ").arg(quintptr(p), 0, 16);
    };
    const QString orphanAt = at(&orphan) + "key \"orphan.example\", ";
    const QString noRef = " called with NULL reachabilityRef";
    const auto callback = [&](QObject* info) -> std::function<qint64()> {
        return [&source, info] {
            reachability::ReachabilityCallback(*source, 0x2, info);
            return 0;
        };
    };
    const struct {
        QString where, ending;
        std::function<qint64()> call;
    } rows[] = {
        // clang-format off
        {"Reachability::currentReachabilityStatus " + orphanAt, noRef, [&] { return orphan.currentReachabilityStatus(); }},
        {"Reachability::isReachable " + orphanAt, noRef, [&] { return orphan.isReachable(); }},
        {"Reachability::isConnectionRequired " + orphanAt, noRef, [&] { return orphan.connectionRequired(); }},
        {"Reachability::isConnectionOnDemand " + orphanAt, noRef, [&] { return orphan.isConnectionOnDemand(); }},
        {"Reachability::isInterventionRequired " + orphanAt, noRef, [&] { return orphan.isInterventionRequired(); }},
        {"Reachability::isReachableViaWWAN " + orphanAt, noRef, [&] { return orphan.isReachableViaWWAN(); }},
        {"Reachability::isReachableViaWiFi " + orphanAt, noRef, [&] { return orphan.isReachableViaWiFi(); }},
        {"Reachability::reachabilityFlags " + orphanAt, noRef, [&] { return orphan.reachabilityFlags(); }},
        {"ReachabilityCallback " + at(nullptr), "info was NULL in ReachabilityCallback", callback(nullptr)},
        {"ReachabilityCallback " + at(&stranger), "info was the wrong class in ReachabilityCallback", callback(&stranger)},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.where.toStdString());
        LogCapture capture("lumaro.reachability", QtCriticalMsg);
        EXPECT_EQ(row.call(), 0);
        ASSERT_EQ(capture.collected().size(), 1);
        const QString& line = capture.collected().front();
        EXPECT_TRUE(line.contains(row.where) && line.endsWith(row.ending)) << line.toStdString();
    }
    EXPECT_TRUE(posted.empty());
    LogCapture capture("lumaro.reachability", QtCriticalMsg);
    reachability::ReachabilityCallback(*source, 0x2, target.get());
    EXPECT_EQ(posted, std::vector<QObject*>{target.get()});
    EXPECT_FALSE(orphan.startNotifier());
    orphan.stopNotifier();
    EXPECT_TRUE(capture.collected().isEmpty());
    center.removeObserver(id);
}

TEST(NotificationCenter, ObserversHearWhatTheyAskedForUntilRemovedEvenMidPost) {
    NotificationCenter center;
    QObject first, second;
    first.setObjectName("first");
    second.setObjectName("second");
    auto context = std::make_unique<QObject>();
    struct Observer {
        QString name;
        const QObject* object;
        QObject* context;
        QStringList expected, heard;
        NotificationCenter::ObserverId id = 0;
    };
    // The first removes the second while the first post goes round; the last goes with its
    // context after the first post.
    std::vector<Observer> observers = {
        {"Changed", nullptr, nullptr, {"Changed/first", "Changed/second"}, {}},
        {"Changed", nullptr, nullptr, {}, {}},
        {"Changed", &first, nullptr, {"Changed/first"}, {}},
        {"", nullptr, nullptr, {"Changed/first", "Changed/second", "Other/second"}, {}},
        {"Other", nullptr, nullptr, {"Other/second"}, {}},
        {"Changed", nullptr, context.get(), {"Changed/first"}, {}},
    };
    for (auto& observer : observers) {
        observer.id = center.addObserver(
            observer.name, observer.object,
            [&observer, &observers, &center](const Notification& n) {
                observer.heard << n.name + "/" + n.object->objectName();
                if (&observer == &observers[0]) center.removeObserver(observers[1].id);
            },
            observer.context);
    }
    center.postNotification("Changed", &first);
    context.reset();
    center.removeObserver(observers.back().id);  // already gone with its context: harmless
    center.postNotification("Changed", &second);
    center.postNotification("Other", &second);
    for (const auto& observer : observers) EXPECT_EQ(observer.heard, observer.expected);
}

TEST(InterfaceClassifier, KindsFromTheTree) {
    struct Row {
        const char* name;
        QByteArray uevent;     // null: no uevent file
        QByteArray ifindex;    // null: no ifindex file
        const char* extraDir;  // a folder the entry also has, or none
        int askedIndex;
        InterfaceKind kind;
    };
    const QByteArray wwan = "DEVTYPE=wwan\n";
    const Row rows[] = {
        {"wwan0", "DEVTYPE=wwan\nINTERFACE=wwan0\n", "7\n", nullptr, 7, InterfaceKind::WWAN},
        {"wlan0", "DEVTYPE=wlan\n", "4\n", nullptr, 4, InterfaceKind::WiFi},
        {"wlp2s0", "INTERFACE=wlp2s0\n", "5\n", "wireless", 5, InterfaceKind::WiFi},
        {"wlx1", "INTERFACE=wlx1\n", "6\n", "phy80211", 6, InterfaceKind::WiFi},
        {"eth0", "INTERFACE=eth0\n", "2\n", nullptr, 2, InterfaceKind::Other},
        // The same name in another network namespace: another interface.
        {"wwan1", wwan, "9\n", nullptr, 10, InterfaceKind::Other},
        {"wwan2", wwan, {}, nullptr, 0, InterfaceKind::Other},
        {"wlan9", {}, "12\n", nullptr, 12, InterfaceKind::Other},
        // Names that would leave class/net for a wwan entry written where they lead.
        {"../wwan", wwan, "5\n", nullptr, 5, InterfaceKind::Other},
        {"..", wwan, "5\n", nullptr, 5, InterfaceKind::Other},
        {".", wwan, "5\n", nullptr, 5, InterfaceKind::Other},
        {"", wwan, "5\n", nullptr, 5, InterfaceKind::Other},
    };
    const auto put = [](const QString& path, const QByteArray& data) {
        return data.isNull() || testfiles::writeFile(path, data);
    };
    QTemporaryDir tree;
    for (const Row& row : rows) {
        const QString entry = tree.path() + "/class/net/" + row.name;
        ASSERT_TRUE(QDir().mkpath(entry + "/" + (row.extraDir ? row.extraDir : "")));
        ASSERT_TRUE(put(entry + "/uevent", row.uevent) && put(entry + "/ifindex", row.ifindex));
    }
    const InterfaceClassifier classifier(tree.path());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(classifier.classify(row.name, row.askedIndex), row.kind);
    }
}

}  // namespace
