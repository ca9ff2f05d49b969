// lumaro-fetch --limit-rate: how rates are written, and a limited download end to end.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "FetchRun.h"
#include "RateLimit.h"
#include "servers/InProcessHttpServer.h"

namespace {

TEST(RateLimit, RatesAreWrittenAsCurlWritesThem) {
    // clang-format off
    const std::pair<const char*, quint32> good[] = {
        {"0", 0}, {"5", 5}, {"5b", 5}, {"5B", 5}, {"64k", 65536}, {"64K", 65536},
        {"100m", 104857600}, {"3M", 3145728}, {"1g", 1073741824}, {"3G", 3221225472u},
        {"007k", 7168}, {"4294967295", 4294967295u}, {"4194303k", 4294966272u}};
    const std::pair<const char*, QString> bad[] = {
        {"", "needs bytes per second, optionally with k, M or G"}, {"k", ""}, {"fast", ""},
        {"-5", ""}, {"+5", ""}, {"1.5k", ""}, {"10x", ""}, {"5kk", ""}, {" 5", ""}, {"0x10", ""},
        {"4G", "4G is more than 4294967295 bytes per second"}, {"4194304k", "is more than"},
        {"4294967296", "is more than"}, {"99999999999999999999999", "is more than"}};
    // clang-format on
    for (const auto& [text, rate] : good) {
        QString problem;
        EXPECT_EQ(parseRateLimit(text, &problem), rate) << text;
        EXPECT_TRUE(problem.isEmpty()) << text;
    }
    for (const auto& [text, message] : bad) {
        QString problem;
        EXPECT_EQ(parseRateLimit(text, &problem), std::nullopt) << text;
        EXPECT_TRUE(problem.startsWith("--limit-rate ") && problem.contains(message)) << text;
    }
}

// A bad rate stops the tool before any transfer; one and a half budgets take a second.
TEST(FetchLimitRate, ADownloadKeepsToTheLimit) {
    InProcessHttpServer server;
    server.server().Get(R"(/bytes/(\d+))", [](const auto& req, auto& res) {
        res.set_content(std::string(std::stoul(req.matches[1]), 'r'), "application/octet-stream");
    });
    server.start();
    const auto bad =
        testsupport::runFetch({"--limit-rate", "1.5k", server.url("/bytes/1").toString()});
    EXPECT_EQ(bad.exitCode, 64);
    EXPECT_TRUE(bad.err.contains("lumaro-fetch: --limit-rate needs bytes per second"));
    EXPECT_TRUE(bad.out.isEmpty());

    constexpr int kSize = 24 * 1024;
    QElapsedTimer clock;
    clock.start();
    const auto run = testsupport::runFetch(
        {"--limit-rate", "16k", server.url(QStringLiteral("/bytes/%1").arg(kSize)).toString()});
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QByteArray(kSize, 'r'));
    EXPECT_GT(elapsed, 900);
    EXPECT_LT(elapsed, 3000);
}

}  // namespace
