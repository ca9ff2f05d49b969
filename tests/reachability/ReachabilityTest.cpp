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

constexpr auto Unreachable = reachability::StatusUnreachable;
constexpr auto ViaWWAN = reachability::StatusViaWWAN;
constexpr auto ViaWiFi = reachability::StatusViaWiFi;

std::unique_ptr<Reachability> address(const char* dotted) {
    sockaddr_in record{};
    record.sin_family = AF_INET;
    ::inet_pton(AF_INET, dotted, &record.sin_addr);
    return Reachability::reachabilityWithAddress(record);
}

TEST(ReachabilityStatusRule, FlagsGiveTheStatusForEachKindOfTarget) {
    const auto internet = Reachability::reachabilityForInternetConnection();
    const auto localWiFi = Reachability::reachabilityForLocalWiFi();
    // Spelt like the local Wi-Fi key, but a host: it follows the full rule.
    const auto lookalike = Reachability::reachabilityWithHostName("LocalWiFiConnection");
    struct Row {
        quint32 flags;
        ReachabilityStatus other;
        ReachabilityStatus localWiFi;
    };
    // clang-format off
    const Row rows[] = {
        {0x0, Unreachable, Unreachable},     {0x2, ViaWiFi, Unreachable},     {0x40002, ViaWWAN, Unreachable},
        {0x7, Unreachable, Unreachable},     {0x3, ViaWiFi, Unreachable},     {0x6, ViaWiFi, Unreachable},
        {0xA, Unreachable, Unreachable},     {0x20002, ViaWiFi, ViaWiFi},     {0x30002, ViaWiFi, ViaWiFi},
        {0x60002, ViaWWAN, ViaWiFi},         {0x30007, Unreachable, ViaWiFi}, {0x2000B, ViaWiFi, ViaWiFi},
        {0x12, Unreachable, Unreachable},    {0x16, ViaWiFi, Unreachable},    {0x40000, Unreachable, Unreachable},
        {0x70005, Unreachable, Unreachable}, {0xFFFFFFFD, Unreachable, Unreachable}, {0xFFFFFFFF, ViaWWAN, ViaWiFi},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(QString::number(row.flags, 16).toStdString());
        EXPECT_EQ(internet->networkStatusForFlags(row.flags), row.other);
        EXPECT_EQ(lookalike->networkStatusForFlags(row.flags), row.other);
        EXPECT_EQ(localWiFi->networkStatusForFlags(row.flags), row.localWiFi);
    }
}

TEST(ReachabilityStatusRule, OnlyTheVeryLocalWiFiKeyTakesItsBranch) {
    const auto host = Reachability::reachabilityWithHostName("example.org");
    host->setKey(Reachability::kLocalWiFiConnectionKey);
    EXPECT_EQ(host->networkStatusForFlags(0x2), Unreachable);
    host->setKey(QString("LocalWiFi") + QString("Connection"));
    EXPECT_EQ(host->networkStatusForFlags(0x2), ViaWiFi);
}

TEST(ReachabilityQuestions, EachAsksItsOwnBits) {
    struct Row {
        quint32 flags;
        bool connectionRequired, onDemand, intervention;
    };
    // clang-format off
    const Row rows[] = {
        {0x0, false, false, false}, {0x4, true, false, false},   {0x20, false, false, false},
        {0x24, true, true, false},  {0xC, true, true, false},    {0x8, false, false, false},
        {0x14, true, false, true},  {0x10, false, false, false}, {0x3C, true, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.flags);
        EXPECT_EQ(reachability::flagsRequireConnection(row.flags), row.connectionRequired);
        EXPECT_EQ(reachability::flagsConnectOnDemand(row.flags), row.onDemand);
        EXPECT_EQ(reachability::flagsRequireIntervention(row.flags), row.intervention);
    }
}

TEST(ReachabilityKeys, AddressesAreKeyedInNetworkOrderAndBadNamesRefused) {
    EXPECT_EQ(address("255.254.0.200")->key(), "255.254.0.200");
    EXPECT_EQ(Reachability::makeAddressKey(htonl(0xA9FE0000)), "169.254.0.0");
    EXPECT_EQ(Reachability::reachabilityWithHostName("example.org")->key(), "example.org");
    EXPECT_FALSE(Reachability::reachabilityWithHostName(QString()));
    EXPECT_FALSE(Reachability::reachabilityWithHostName(QString::fromUtf8("a\0b", 3)));
}

TEST(ReachabilityKeys, EqualWhenKeysAreEqual) {
    const auto host = [](const char* name) { return Reachability::reachabilityWithHostName(name); };
    struct Row {
        std::unique_ptr<Reachability> left, right;
        bool equal;
    };
    Row rows[] = {
        {host("example.org"), host("example.org"), true},
        {host("example.org"), host("example.net"), false},
        {host("10.0.0.1"), address("10.0.0.1"), true},
        {host("localhost"), address("127.0.0.1"), false},
        {address("0.0.0.0"), Reachability::reachabilityForInternetConnection(), false},
        {Reachability::reachabilityForLocalWiFi(), Reachability::reachabilityForLocalWiFi(), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE((row.left->key() + " / " + row.right->key()).toStdString());
        EXPECT_EQ(row.left->isEqual(*row.right), row.equal);
        EXPECT_EQ(row.right->isEqual(*row.left), row.equal);
    }
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
