// The arithmetic of the shared bandwidth budget on times the test chooses, and real
// transfers on 127.0.0.1 under it. A body of one and a half budgets cannot end before the
// period that the test starts is over: about a second.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <atomic>
#include <chrono>

#include "RequestTestSupport.h"
#include "http/BandwidthBudget.h"
#include "servers/InProcessHttpServer.h"
#include "support/TempHome.h"

namespace {

using http::BandwidthBudget;
using http::HTTPRequest;
using Clock = std::chrono::steady_clock;
using namespace testsupport;
using namespace std::chrono_literals;

constexpr quint32 kLimit = 32768;
constexpr int kBody = kLimit * 3 / 2;

double secondsSince(Clock::time_point start, Clock::time_point end = Clock::now()) {
    return std::chrono::duration<double>(end - start).count();
}

// Starts a limit with a fresh period, so that only the test's own bytes count in it.
void limitTo(quint32 limit) {
    HTTPRequest::setMaxBandwidthPerSecond(limit);
    HTTPRequest::recordBandwidthUsage();
}

// An upload is held on the wire, not only in what the caller is told. A download a fifth
// over one budget, started after a period passed unmeasured, gets no extra budget: its first
// read counts in the new period, or the body fits before that period ends. Without a limit
// nothing is held at all.
TEST(Throttling, TransfersKeepToTheLimitAndArriveWhole) {
    application();
    const TempHome home;
    InProcessHttpServer server;
    std::atomic<Clock::time_point> bodyArrived;
    server.server().Post("/length", [&](const httplib::Request& req, auto& res) {
        bodyArrived = Clock::now();
        res.set_content(std::to_string(req.body.size()), "text/plain");
    });
    const QByteArray quiet(kLimit * 6 / 5, 'q');
    server.server().Get("/quiet", [&](const auto&, auto& res) {
        res.set_content(quiet.toStdString(), "application/x-q");
    });
    server.start();
    for (const auto& [upload, limit] : {std::pair{true, kLimit}, {true, 0u}, {false, kLimit}}) {
        SCOPED_TRACE(testing::Message() << (upload ? "upload" : "download") << ", limit " << limit);
        auto request = HTTPRequest::requestWithURL(server.url(upload ? "/length" : "/quiet"));
        if (upload) request->appendPostData(QByteArray(kBody, 'u'));
        limitTo(limit);
        if (!upload) QThread::msleep(1100);
        const auto start = Clock::now();
        request->startSynchronous();
        const double seconds = secondsSince(start);
        const double arrival = upload ? secondsSince(start, bodyArrived) : seconds;
        ASSERT_EQ(request->error(), nullptr)
            << request->error()->localizedDescription.toStdString();
        EXPECT_EQ(request->responseData(), upload ? QByteArray::number(kBody) : quiet);
        EXPECT_TRUE(limit == 0 ? seconds < 0.5 : arrival > 0.9 && seconds < 3.0)
            << seconds << " s, body whole after " << arrival << " s";
    }
    HTTPRequest::setMaxBandwidthPerSecond(0);
}

const BandwidthBudget::TimePoint kStart{std::chrono::hours(1)};

// A period begun at kStart with `used` bytes moved in it; a zero limit as the mobile one.
BandwidthBudget limitedTo(quint32 limit, quint32 used) {
    BandwidthBudget budget;
    budget.maxBandwidthPerSecond = limit;
    budget.throttleOnlyOnWWAN = budget.wwanThrottleActive = limit == 0;
    budget.recordBandwidthUsage(kStart);
    budget.bandwidthUsedInLastSecond = used;
    return budget;
}

TEST(BandwidthBudget, ReadsTakeAQuarterOfTheBudgetAndOverspendingHoldsStreams) {
    // limit, used, download wanted -> download length, upload length, uploads wait for the
    // period's end, hold beyond that end in ms at the limit's rate (-1: none)
    const struct {
        quint32 limit, used;
        qint64 wanted, download;
        quint32 upload;
        bool waits;
        int holdMs;
    } cases[] = {
        // clang-format off
        {1000, 0, 16384, 250, 250, false, -1},      {1000, 600, 16384, 100, 250, false, -1},
        {1000, 0, 100, 100, 250, false, -1},        {1000, 997, 16384, 1, 3, false, -1},
        {1000, 1000, 16384, 1, 0, true, -1},        {1000, 1500, 16384, 1, 0, true, 500},
        {1000, 5000, 16384, 1, 0, true, 4000},      {14800, 0, 65536, 3700, 3700, false, -1},
        {14800, 12000, 65536, 700, 2800, false, -1}, {14800, 14801, 65536, 1, 0, true, 0},
        {3, 0, 16384, 1, 0, true, -1},              {0, 50000, 16384, 16384, 0, false, -1},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.limit << " limit, " << c.used << " used");
        BandwidthBudget budget = limitedTo(c.limit, c.used);
        EXPECT_EQ(budget.downloadReadLength(c.wanted), c.download);
        EXPECT_EQ(budget.maxUploadReadLength(kStart + 100ms), c.upload);
        EXPECT_EQ(budget.throttleResumeTime == budget.bandwidthPeriodEnd, c.waits);
        BandwidthBudget measured = limitedTo(c.limit, c.used);
        measured.measureBandwidthUsage(kStart + 100ms);
        ASSERT_EQ(measured.throttleResumeTime.has_value(), c.holdMs >= 0);
        if (c.holdMs < 0) continue;
        const auto hold = *measured.throttleResumeTime - *measured.bandwidthPeriodEnd;
        EXPECT_NEAR(std::chrono::duration<double>(hold).count(), c.holdMs / 1000.0, 0.001);
    }
}

TEST(BandwidthBudget, TheAverageIsTheIntegerMeanOfTheRecentPeriods) {
    struct Step {
        quint64 used;
        std::chrono::milliseconds at;
        std::vector<quint32> history;
        quint32 average;
    };
    // clang-format off
    const std::vector<std::vector<Step>> cases = {
        {{1, 0s, {1}, 1}, {2, 1s, {1, 2}, 1}, {2, 2s, {1, 2, 2}, 1}},
        {{500, 0s, {500}, 500}, {0, 1s, {0}, 0}},  // an idle period starts afresh
        // Six periods at most; measuring 1.5 s after the last period's end drops two.
        {{1, 0s, {1}, 1}, {2, 1s, {1, 2}, 1}, {3, 2s, {1, 2, 3}, 2}, {4, 3s, {1, 2, 3, 4}, 2},
         {5, 4s, {1, 2, 3, 4, 5}, 3}, {6, 5s, {1, 2, 3, 4, 5, 6}, 3},
         {7, 6s, {2, 3, 4, 5, 6, 7}, 4}, {8, 8500ms, {4, 5, 6, 7, 8}, 6}},
        // Counts saturate, and their sum does not wrap.
        {{5000000000, 0s, {4294967295}, 4294967295},
         {4000000000, 1s, {4294967295, 4000000000}, 4147483647}},
    };
    // clang-format on
    for (const auto& steps : cases) {
        BandwidthBudget budget;
        for (const Step& step : steps) {
            SCOPED_TRACE(testing::Message() << step.used << " at " << step.at.count() << " ms");
            budget.incrementBandwidthUsedInLastSecond(step.used);
            budget.measureBandwidthUsage(kStart + step.at);
            EXPECT_EQ(std::vector(budget.bandwidthHistory.begin(), budget.bandwidthHistory.end()),
                      step.history);
            EXPECT_EQ(budget.averageBandwidthUsedPerSecond, step.average);
            EXPECT_EQ(budget.bandwidthPeriodEnd, kStart + step.at + 1s);
        }
    }
}

}  // namespace
