#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <atomic>
#include <optional>

#include "RequestTestSupport.h"
#include "ScriptedAnswers.h"
#include "http/ConnectionPool.h"
#include "http/NetworkActivityIndicator.h"
#include "servers/ScriptedServer.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;
using lumaro::test::ScriptedConnection;
using lumaro::test::ScriptedServer;
using namespace testsupport;
using namespace std::chrono_literals;

// Answers every request on a connection with the connection's index, keeping it open.
void answerWithIndex(ScriptedConnection& connection, std::string_view extraHeaders = {},
                     std::chrono::milliseconds delay = 0ms) {
    while (connection.readRequest(10000)) {
        std::this_thread::sleep_for(delay);
        if (!connection.send(scripted::answer(std::to_string(connection.index()), extraHeaders))) {
            return;
        }
    }
}

std::vector<http::ConnectionRecord> recordsFor(int port) {
    std::vector<http::ConnectionRecord> found;
    for (const auto& record : http::connectionPoolSnapshot()) {
        if (record.port == port) found.push_back(record);
    }
    return found;
}

class ConnectionPool : public ::testing::Test {
protected:
    void SetUp() override { application(); }
    // Idle connections would keep the scripted server waiting for their next request.
    void TearDown() override {
        QMetaObject::invokeMethod(
            QAbstractEventDispatcher::instance(HTTPRequest::threadForRequest(nullptr)),
            [] { platform::HttpStream::closeIdleConnections(); }, Qt::BlockingQueuedConnection);
        server_.reset();
    }
    const ScriptedServer& serve(ScriptedServer::Handler handler) {
        return server_.emplace(std::move(handler));
    }

    // Connections belong to the thread that drives them: every request here runs on the
    // network thread, as asynchronous requests do.
    HTTPRequestPtr start(const ScriptedServer& server) {
        auto request = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(server.url("/"))));
        request->startAsynchronous();
        return request;
    }
    HTTPRequestPtr get(const ScriptedServer& server) {
        auto request = start(server);
        EXPECT_TRUE(waitUntil([&] { return request->isFinished(); }, 10000));
        return request;
    }

    TempHome home_;
    std::optional<ScriptedServer> server_;
};

TEST_F(ConnectionPool, SuccessiveRequestsToOneServerShareOneConnectionAndOneRecord) {
    const ScriptedServer& server = serve([](ScriptedConnection& c) { answerWithIndex(c); });
    for (int i = 0; i < 5; ++i) {
        auto request = get(server);
        ASSERT_FALSE(request->error());
        EXPECT_EQ(request->responseData(), "0");
        EXPECT_EQ(request->connectionWasReused(), i > 0);
        EXPECT_TRUE(request->connectionCanBeReused());
    }
    EXPECT_EQ(server.connectionCount(), 1);
    const auto records = recordsFor(server.port());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_FALSE(records[0].request);
    ASSERT_TRUE(records[0].expires);
    EXPECT_GT(*records[0].expires, QDateTime::currentDateTimeUtc().addSecs(50));
    EXPECT_EQ(records[0].host, "127.0.0.1");
    EXPECT_EQ(records[0].scheme, "http");
}

TEST_F(ConnectionPool, RequestsRunningTogetherNeverShareAConnectionAndTheLastFreeOneIsReused) {
    const ScriptedServer& server =
        serve([](ScriptedConnection& c) { answerWithIndex(c, {}, 300ms); });
    auto first = start(server);
    ASSERT_TRUE(waitUntil([&] { return server.connectionCount() == 1; }));
    auto second = start(server);
    ASSERT_TRUE(waitUntil([&] { return first->isFinished() && second->isFinished(); }));
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_NE(first->responseData(), second->responseData());

    const auto records = recordsFor(server.port());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0].id, records[1].id);
    // The later record in the pool is taken first; its connection was opened second.
    auto next = start(server);
    ASSERT_TRUE(waitUntil([&] { return next->isFinished(); }));
    EXPECT_EQ(next->responseData(), second->responseData());
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(ConnectionPool, AFreeConnectionPastItsTimeIsClosedAndForgottenByTheNextStart) {
    // Shared with the server, which outlives this function.
    auto firstClosedByClient = std::make_shared<std::atomic<bool>>(false);
    const ScriptedServer& server = serve([firstClosedByClient](ScriptedConnection& c) {
        answerWithIndex(c, "Keep-Alive: timeout=1, max=100\r\n");
        if (c.index() == 0) *firstClosedByClient = true;
    });
    auto first = get(server);
    ASSERT_FALSE(first->error());
    EXPECT_EQ(first->persistentConnectionTimeoutSeconds(), 1);
    ASSERT_EQ(recordsFor(server.port()).size(), 1u);
    const quint64 expiredId = recordsFor(server.port())[0].id;
    std::this_thread::sleep_for(1100ms);

    auto second = get(server);
    ASSERT_FALSE(second->error());
    EXPECT_FALSE(second->connectionWasReused());
    EXPECT_EQ(second->responseData(), "1");
    ASSERT_TRUE(waitUntil([&] { return firstClosedByClient->load(); }));
    const auto records = recordsFor(server.port());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].id, expiredId);
}

TEST_F(ConnectionPool, ADeadReusedConnectionIsRetriedOnceOnANewOneWithoutAFailure) {
    // The first connection answers once, then takes the next request and hangs up.
    const ScriptedServer& server = serve([](ScriptedConnection& c) {
        if (c.index() == 0) {
            c.readRequest();
            c.send(scripted::answer("first"));
            c.readRequest();
            return;
        }
        answerWithIndex(c);
    });
    ASSERT_EQ(get(server)->responseData(), "first");
    auto delegate = std::make_shared<RecordingDelegate>();
    auto request = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(server.url("/"))));
    request->setDelegate(delegate);
    request->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return delegate->ended(); }));
    settle();
    EXPECT_EQ(delegate->count("failed"), 0);
    EXPECT_EQ(delegate->count("finished"), 1);
    EXPECT_EQ(request->responseData(), "1");
    EXPECT_EQ(request->retryCount(), 1);
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(ConnectionPool, ARequestThatRetriedAfterATimeOutGetsNoRetryForADeadConnection) {
    // Two connections answer their first request after a pause (so that both are opened);
    // of the requests that follow, the first is left unanswered and the second is hung up on.
    auto followUps = std::make_shared<std::atomic<int>>(0);
    const ScriptedServer& server = serve([followUps](ScriptedConnection& c) {
        c.readRequest();
        std::this_thread::sleep_for(300ms);
        c.send(scripted::answer("warm"));
        if (!c.readRequest()) return;
        if ((*followUps)++ == 0) c.waitForPeerClose(10000);
    });
    auto one = start(server);
    auto two = start(server);
    ASSERT_TRUE(waitUntil([&] { return one->isFinished() && two->isFinished(); }));
    ASSERT_EQ(server.connectionCount(), 2);

    auto request = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(server.url("/"))));
    request->setTimeOutSeconds(0.4);
    request->setNumberOfTimesToRetryOnTimeout(1);
    request->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }, 10000));
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code, 1);
    EXPECT_EQ(request->retryCount(), 1);
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(ConnectionPool, TheNetworkIsInUseWhileAStreamIsScheduledAndTheSignFollows) {
    // The sign of earlier requests goes first.
    ASSERT_TRUE(waitUntil([] { return !http::NetworkActivityIndicator::isVisible(); }));
    std::vector<bool> shown;
    http::NetworkActivityIndicator::setVisibilityHandler(
        [&](bool visible) { shown.push_back(visible); });
    const ScriptedServer& server =
        serve([](ScriptedConnection& c) { answerWithIndex(c, {}, 300ms); });
    auto request = start(server);
    ASSERT_TRUE(waitUntil([&] { return HTTPRequest::isNetworkInUse(); }));
    ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }));
    EXPECT_FALSE(HTTPRequest::isNetworkInUse());
    ASSERT_TRUE(waitUntil([&] { return !http::NetworkActivityIndicator::isVisible(); }));
    http::NetworkActivityIndicator::setVisibilityHandler({});
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
}

}  // namespace
