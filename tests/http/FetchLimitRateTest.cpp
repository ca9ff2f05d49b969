// lumaro-fetch --limit-rate: how rates are written, and a limited download end to end.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include "RateLimit.h"
#include "servers/InProcessHttpServer.h"

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Outcome fetch(const QStringList& arguments) {
    QProcess process;
    process.start(qEnvironmentVariable("LUMARO_BIN") + "/lumaro-fetch", arguments);
    Outcome run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

class FetchLimitRate : public ::testing::Test {
protected:
    void SetUp() override {
        server_.server().Get(R"(/bytes/(\d+))",
                             [](const httplib::Request& req, httplib::Response& res) {
                                 res.set_content(std::string(std::stoul(req.matches[1]), 'r'),
                                                 "application/octet-stream");
                             });
        server_.start();
    }
    QString url(int size) const {
        return server_.url(QStringLiteral("/bytes/%1").arg(size)).toString();
    }

    InProcessHttpServer server_;
};

TEST(RateLimit, RatesAreWrittenAsCurlWritesThem) {
    const struct {
        const char* text;
        quint32 rate;
    } cases[] = {
        {"0", 0},
        {"5", 5},
        {"5b", 5},
        {"5B", 5},
        {"64k", 65536},
        {"64K", 65536},
        {"100m", 104857600},
        {"3M", 3145728},
        {"1g", 1073741824},
        {"3G", 3221225472u},
        {"4294967295", 4294967295u},
        {"4194303k", 4294966272u},
        {"007k", 7168},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        QString problem;
        EXPECT_EQ(parseRateLimit(c.text, &problem), c.rate);
        EXPECT_TRUE(problem.isEmpty());
    }
}

TEST(RateLimit, ABadRateSaysWhatIsWrong) {
    const QString kSyntax = "--limit-rate needs bytes per second, optionally with k, M or G";
    const QString kTooMuch = "is more than 4294967295 bytes per second";
    const struct {
        const char* text;
        QString message;
    } cases[] = {
        {"", kSyntax},          {"k", kSyntax},           {"fast", kSyntax},
        {"-5", kSyntax},        {"+5", kSyntax},          {"1.5k", kSyntax},
        {"10x", kSyntax},       {"5kk", kSyntax},         {" 5", kSyntax},
        {"5 k", kSyntax},       {"0x10", kSyntax},        {"4G", kTooMuch},
        {"4194304k", kTooMuch}, {"4294967296", kTooMuch}, {"99999999999999999999999", kTooMuch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        QString problem;
        EXPECT_EQ(parseRateLimit(c.text, &problem), std::nullopt);
        EXPECT_TRUE(problem.contains(c.message)) << problem.toStdString();
    }
}

TEST_F(FetchLimitRate, ABadRateStopsTheToolBeforeAnyTransfer) {
    const auto bad = fetch({"--limit-rate", "1.5k", url(1)});
    EXPECT_EQ(bad.exitCode, 64);
    EXPECT_TRUE(bad.err.contains("lumaro-fetch: --limit-rate needs bytes per second"));
    EXPECT_TRUE(bad.out.isEmpty());
    const auto missing = fetch({url(1), "--limit-rate"});
    EXPECT_EQ(missing.exitCode, 64);
    EXPECT_TRUE(missing.err.contains("option --limit-rate needs a value"));
}

TEST_F(FetchLimitRate, ADownloadKeepsToTheLimit) {
    // One and a half budgets: the second part waits for the second period.
    constexpr int kSize = 24 * 1024;
    QElapsedTimer clock;
    clock.start();
    const auto run = fetch({"--limit-rate", "16k", url(kSize)});
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QByteArray(kSize, 'r'));
    EXPECT_GT(elapsed, 900);
    EXPECT_LT(elapsed, 3000);
}

}  // namespace
