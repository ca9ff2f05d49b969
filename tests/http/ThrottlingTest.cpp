// Real transfers on 127.0.0.1 under the shared bandwidth limit. A body of one and a half
// budgets cannot end before the period that the test starts is over: about a second.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <atomic>
#include <chrono>

#include "RequestTestSupport.h"
#include "servers/InProcessHttpServer.h"
#include "servers/ScriptedServer.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;
using Clock = std::chrono::steady_clock;
using namespace testsupport;

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

}  // namespace
