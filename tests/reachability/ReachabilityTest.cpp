// The status rule, the questions, the keys and equality, and the reports of misuse.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QtGlobal>
#include <functional>

#include "platform/NotificationCenter.h"
#include "reachability/Reachability.h"
#include "support/LogCapture.h"

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

TEST(ReachabilityKeys, EqualWhenKeysAreEqualAndBadNamesRefused) {
    const auto host = [](const char* name) { return Reachability::reachabilityWithHostName(name); };
    struct Row {
        std::unique_ptr<Reachability> left, right;
        bool equal;
    };
    Row rows[] = {
        {host("example.org"), host("example.org"), true},
        {host("example.org"), host("example.net"), false},
        {host("10.0.0.1"), address("10.0.0.1"), true},  // addresses keyed in network order
        {address("0.0.0.0"), Reachability::reachabilityForInternetConnection(), false},
        {Reachability::reachabilityForLocalWiFi(), Reachability::reachabilityForLocalWiFi(), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE((row.left->key() + " / " + row.right->key()).toStdString());
        EXPECT_EQ(row.left->isEqual(*row.right), row.equal);
        EXPECT_EQ(row.right->isEqual(*row.left), row.equal);
    }
    EXPECT_FALSE(Reachability::reachabilityWithHostName(QString()));
    EXPECT_FALSE(Reachability::reachabilityWithHostName(QString::fromUtf8("a\0b", 3)));
}

TEST(ReachabilityMisuse, QueriesWithoutHandleReportAndAnswerNo) {
    Reachability orphan(nullptr);
    orphan.setKey("orphan.example");
    const struct {
        const char* method;
        const char* logged;  // the name the report gives
        std::function<qint64()> query;
    } rows[] = {
        // clang-format off
        {"currentReachabilityStatus", "currentReachabilityStatus", [&] { return qint64(orphan.currentReachabilityStatus()); }},
        {"isReachable", "isReachable", [&] { return qint64(orphan.isReachable()); }},
        {"isConnectionRequired", "isConnectionRequired", [&] { return qint64(orphan.connectionRequired()); }},
        {"isConnectionOnDemand", "isConnectionIsOnDemand", [&] { return qint64(orphan.isConnectionOnDemand()); }},
        {"isInterventionRequired", "isInterventionRequired", [&] { return qint64(orphan.isInterventionRequired()); }},
        {"isReachableViaWWAN", "isReachableViaWWAN", [&] { return qint64(orphan.isReachableViaWWAN()); }},
        {"isReachableViaWiFi", "isReachableViaWiFi", [&] { return qint64(orphan.isReachableViaWiFi()); }},
        {"reachabilityFlags", "reachabilityFlags", [&] { return qint64(orphan.reachabilityFlags()); }},
        // clang-format on
    };
    const QString object = QStringLiteral("0x%1").arg(quintptr(&orphan), 0, 16);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.method);
        LogCapture capture("lumaro.reachability", QtCriticalMsg);
        EXPECT_EQ(row.query(), 0);
        ASSERT_EQ(capture.collected().size(), 1);
        const QString& line = capture.collected().front();
        EXPECT_TRUE(line.endsWith(QString(": ") + row.logged + " called with NULL reachabilityRef"))
            << line.toStdString();
        EXPECT_TRUE(line.contains(QString("Reachability::") + row.method + " "));
        EXPECT_TRUE(line.contains(object) && line.contains("orphan.example")) << line.toStdString();
    }
    LogCapture capture("lumaro.reachability", QtCriticalMsg);
    EXPECT_FALSE(orphan.startNotifier());
    orphan.stopNotifier();
    EXPECT_TRUE(capture.collected().isEmpty());
}

TEST(ReachabilityMisuse, CallbackPostsOnlyForAReachability) {
    auto target = Reachability::reachabilityForInternetConnection();
    sockaddr_in any{};
    any.sin_family = AF_INET;
    auto source =
        platform::ReachabilitySource::createWithAddress(reinterpret_cast<const sockaddr*>(&any));
    QObject stranger;
    std::vector<QObject*> posted;
    auto& center = platform::NotificationCenter::defaultCenter();
    const auto id = center.addObserver(
        reachability::kNetworkReachabilityChangedNotification, nullptr,
        [&](const platform::Notification& notification) { posted.push_back(notification.object); });
    const std::pair<QObject*, QString> rows[] = {
        {nullptr, "info was NULL in ReachabilityCallback"},
        {&stranger, "info was the wrong class in ReachabilityCallback"},
        {target.get(), {}},
    };
    for (const auto& [info, report] : rows) {
        SCOPED_TRACE(report.toStdString());
        LogCapture capture("lumaro.reachability", QtCriticalMsg);
        posted.clear();
        reachability::ReachabilityCallback(*source, 0x2, info);
        ASSERT_EQ(capture.collected().size(), report.isEmpty() ? 0 : 1);
        EXPECT_TRUE(report.isEmpty() || capture.collected().front().endsWith(report));
        EXPECT_EQ(posted,
                  report.isEmpty() ? std::vector<QObject*>{target.get()} : std::vector<QObject*>{});
    }
    center.removeObserver(id);
}

}  // namespace
