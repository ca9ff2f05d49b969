// lumaro-fetch --limit-rate: how rates are written, and a limited download end to end.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>

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

class FetchLimitRate : public ::testing::Test {
protected:
    void SetUp() override {
        server_.server().Get(R"(/bytes/(\d+))", [](const auto& req, auto& res) {
            res.set_content(std::string(std::stoul(req.matches[1]), 'r'),
                            "application/octet-stream");
        });
        server_.start();
    }
    // Runs lumaro-fetch on the server's /bytes/size; answers its exit code, fills out and err.
    int fetch(QStringList arguments, int size, QByteArray* out, QByteArray* err) {
        QProcess process;
        arguments << server_.url(QStringLiteral("/bytes/%1").arg(size)).toString();
        process.start(qEnvironmentVariable("LUMARO_BIN") + "/lumaro-fetch", arguments);
        if (!process.waitForFinished(30000)) return -1;
        *out = process.readAllStandardOutput();
        *err = process.readAllStandardError();
        return process.exitCode();
    }

    InProcessHttpServer server_;
};

TEST_F(FetchLimitRate, ABadRateStopsTheToolBeforeAnyTransfer) {
    QByteArray out, err;
    EXPECT_EQ(fetch({"--limit-rate", "1.5k"}, 1, &out, &err), 64);
    EXPECT_TRUE(err.contains("lumaro-fetch: --limit-rate needs bytes per second"));
    EXPECT_TRUE(out.isEmpty());
}

TEST_F(FetchLimitRate, ADownloadKeepsToTheLimit) {
    // One and a half budgets: the second part waits for the second period.
    constexpr int kSize = 24 * 1024;
    QByteArray out, err;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(fetch({"--limit-rate", "16k"}, kSize, &out, &err), 0) << err.toStdString();
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(out, QByteArray(kSize, 'r'));
    EXPECT_GT(elapsed, 900);
    EXPECT_LT(elapsed, 3000);
}

}  // namespace
