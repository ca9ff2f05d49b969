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
#include "servers/ScriptedServer.h"
#include "support/TempHome.h"

namespace {

using http::BandwidthBudget;
using http::HTTPRequest;
using http::HTTPRequestPtr;
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

// An upload is held on the wire, not only in what the caller is told; without a limit
// nothing is held at all.
TEST(Throttling, AnUploadKeepsToTheLimitAndArrivesWhole) {
    application();
    const TempHome home;
    InProcessHttpServer server;
    std::atomic<Clock::time_point> bodyArrived;
    server.server().Post("/length", [&](const httplib::Request& req, auto& res) {
        bodyArrived = Clock::now();
        res.set_content(std::to_string(req.body.size()), "text/plain");
    });
    server.start();
    for (const quint32 limit : {kLimit, 0u}) {
        SCOPED_TRACE(limit);
        auto request = HTTPRequest::requestWithURL(server.url("/length"));
        request->appendPostData(QByteArray(kBody, 'u'));
        limitTo(limit);
        const auto start = Clock::now();
        request->startSynchronous();
        const double seconds = secondsSince(start), arrival = secondsSince(start, bodyArrived);
        ASSERT_EQ(request->error(), nullptr)
            << request->error()->localizedDescription.toStdString();
        EXPECT_EQ(request->responseData(), QByteArray::number(kBody));
        EXPECT_TRUE(limit == 0 ? seconds < 0.5 : arrival > 0.9 && seconds < 3.0)
            << seconds << " s, body whole after " << arrival << " s";
    }
    HTTPRequest::setMaxBandwidthPerSecond(0);
}

TEST(ThrottlingShared, TwoTransfersShareOneLimitAndAQuietSpellGivesNoExtraBudget) {
    application();
    // Each of the two fits in one period's budget alone; together they do not. The third
    // comes in one piece after a period passed unmeasured: its first read must count in
    // the new period, or the body fits before that period ends.
    constexpr int kEach = kLimit * 3 / 4, kSize = kLimit * 6 / 5;
    lumaro::test::ScriptedServer server([](lumaro::test::ScriptedConnection& c) {
        const auto request = c.readRequest();
        if (!request) return;
        const int size = request->requestLine.find("/each") != std::string::npos ? kEach : kSize;
        c.send("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + std::to_string(size) +
               "\r\n\r\n" + std::string(size, 'q'));
    });
    for (const bool quietSpell : {false, true}) {
        SCOPED_TRACE(quietSpell ? "after a quiet spell" : "two at once");
        const QUrl url(QString::fromStdString(server.url(quietSpell ? "/whole" : "/each")));
        std::vector<HTTPRequestPtr> requests{HTTPRequest::requestWithURL(url)};
        if (!quietSpell) requests.push_back(HTTPRequest::requestWithURL(url));
        limitTo(kLimit);
        if (quietSpell) QThread::msleep(1100);
        const auto start = Clock::now();
        for (const auto& request : requests) request->startAsynchronous();
        ASSERT_TRUE(waitUntil([&] { return requests.back()->isFinished(); }, 10000));
        ASSERT_TRUE(waitUntil([&] { return requests.front()->isFinished(); }, 10000));
        for (const auto& request : requests) {
            EXPECT_EQ(request->responseData().size(), quietSpell ? kSize : kEach);
        }
        EXPECT_GT(secondsSince(start), 0.9);
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
