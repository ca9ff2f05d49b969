// Connections as the engine keeps, reuses and retries them, and the time limits on a
// request, against scripted servers on 127.0.0.1.
#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QTemporaryDir>
#include <atomic>
#include <mutex>
#include <optional>
#include <random>

#include "RequestTestSupport.h"
#include "ScriptedAnswers.h"
#include "http/ConnectionPool.h"
#include "http/DataCompressor.h"
#include "http/NetworkActivityIndicator.h"
#include "servers/ScriptedServer.h"
#include "support/Files.h"
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

// Reads one request and then says nothing until the client gives up.
void silent(ScriptedConnection& connection) {
    connection.readRequest();
    connection.waitForPeerClose(10000);
}

QUrl urlOf(const ScriptedServer& server) { return QUrl(QString::fromStdString(server.url("/"))); }

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
        auto request = HTTPRequest::requestWithURL(urlOf(server));
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

// The network is in use while a stream is scheduled, and the activity sign follows.
TEST_F(ConnectionPool, RequestsRunningTogetherGetConnectionsOfTheirOwnThatLaterOnesReuse) {
    // The sign of earlier requests goes first.
    ASSERT_TRUE(waitUntil([] { return !http::NetworkActivityIndicator::isVisible(); }));
    std::vector<bool> shown;
    http::NetworkActivityIndicator::setVisibilityHandler([&](bool on) { shown.push_back(on); });
    const ScriptedServer& server =
        serve([](ScriptedConnection& c) { answerWithIndex(c, {}, 300ms); });
    auto first = start(server);
    ASSERT_TRUE(
        waitUntil([&] { return server.connectionCount() == 1 && HTTPRequest::isNetworkInUse(); }));
    auto second = start(server);
    ASSERT_TRUE(waitUntil([&] { return first->isFinished() && second->isFinished(); }));
    EXPECT_FALSE(HTTPRequest::isNetworkInUse());
    ASSERT_TRUE(waitUntil([&] { return !http::NetworkActivityIndicator::isVisible(); }));
    http::NetworkActivityIndicator::setVisibilityHandler({});
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
    EXPECT_NE(first->responseData(), second->responseData());
    EXPECT_FALSE(second->connectionWasReused());
    // The later record in the pool is taken first; its connection was opened second.
    for (int i = 0; i < 2; ++i) {
        auto next = get(server);
        ASSERT_FALSE(next->error());
        EXPECT_EQ(next->responseData(), second->responseData());
        EXPECT_TRUE(next->connectionWasReused());
        EXPECT_TRUE(next->connectionCanBeReused());
    }
    EXPECT_EQ(server.connectionCount(), 2);
    const auto records = recordsFor(server.port());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0].id, records[1].id);
    for (const auto& record : records) {
        EXPECT_FALSE(record.request);
        ASSERT_TRUE(record.expires);
        EXPECT_GT(*record.expires, QDateTime::currentDateTimeUtc().addSecs(50));
        EXPECT_EQ(record.host, "127.0.0.1");
        EXPECT_EQ(record.scheme, "http");
    }
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
    auto request = HTTPRequest::requestWithURL(urlOf(server));
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

    auto request = HTTPRequest::requestWithURL(urlOf(server));
    request->setTimeOutSeconds(0.4);
    request->setNumberOfTimesToRetryOnTimeout(1);
    request->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }, 10000));
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code, 1);
    EXPECT_EQ(request->retryCount(), 1);
    EXPECT_EQ(server.connectionCount(), 2);
}

using TimeOuts = ConnectionPool;

// An unconfirmed body gets half as long again; each retry is a new attempt on a new
// connection, which asks only for the rest of a download it may resume; a byte in time keeps
// an answer alive, and a zero time waits as long as it takes.
TEST_F(TimeOuts, SilenceEndsARequestAfterItsTimeAndRetriesAreNewAttempts) {
    const auto trickle = [](ScriptedConnection& connection) {
        connection.readRequest();
        connection.send("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n");
        connection.sendSlowly("slowbody", 1, 150ms);
    };
    const auto late = [](ScriptedConnection& connection) {
        connection.readRequest();
        std::this_thread::sleep_for(700ms);
        connection.send(scripted::answer("slowbody"));
    };
    // The first connection sends the head and 40 % of the body, then nothing; the next one
    // answers from where the request asks, unless the server ignores ranges.
    std::mutex mutex;
    std::string range;
    const auto broken = [&](const std::string& body, const std::string& headers, bool ranges) {
        return [&, body, headers, ranges](ScriptedConnection& connection) {
            const auto request = connection.readRequest();
            const std::size_t cut = body.size() * 2 / 5;
            if (request && connection.index() == 0) {
                connection.send(
                    "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
                    headers + "\r\n" + body.substr(0, cut));
                connection.waitForPeerClose(10000);
            } else if (request) {
                std::lock_guard lock(mutex);
                range = request->header("Range");
                const std::string contentRange = "Content-Range: bytes " + std::to_string(cut) +
                                                 "-" + std::to_string(body.size() - 1) + "/" +
                                                 std::to_string(body.size()) + "\r\n";
                connection.send(ranges && range == "bytes=" + std::to_string(cut) + "-"
                                    ? scripted::answer(body.substr(cut), headers + contentRange,
                                                       "206 Partial Content")
                                    : scripted::answer(body, headers));
            }
        };
    };
    // Random bytes barely compress, so the cut falls well inside the compressed stream.
    std::mt19937 random(7);
    QByteArray plain(60000, Qt::Uninitialized);
    for (char& byte : plain) byte = static_cast<char>(random() % 256);
    const std::string gzipped = http::DataCompressor::compressData(plain, nullptr).toStdString();
    const std::string text = scripted::pattern(1000), gzip = "Content-Encoding: gzip\r\n";
    const std::string restOfGzip = "bytes=" + std::to_string(gzipped.size() * 2 / 5) + "-";
    const QByteArray textBytes = QByteArray::fromStdString(text);
    const struct {
        const char* name;
        ScriptedServer::Handler handler;
        double timeout;
        int retries;
        bool post, resume;
        qint64 failsAfterMs;  // 0: succeeds
        QByteArray body = {};
        std::string range = "<none>";  // asked for by the last attempt
    } cases[] = {
        {"silent, retried twice", silent, 0.3, 2, false, false, 900},
        {"silent, body unconfirmed", silent, 0.4, 0, true, false, 600},
        {"a byte in time", trickle, 0.5, 0, false, false, 0, "slowbody"},
        {"late, without a limit", late, 0.0, 0, false, false, 0, "slowbody"},
        {"cut, resumed", broken(text, "", true), 0.4, 1, false, true, 0, textBytes, "bytes=400-"},
        {"cut, not resumable", broken(text, "", true), 0.4, 1, false, false, 0, textBytes, ""},
        {"cut gzip inflated on the fly, resumed", broken(gzipped, gzip, true), 0.4, 1, false, true,
         0, plain, restOfGzip},
        {"cut gzip inflated on the fly, range ignored", broken(gzipped, gzip, false), 0.4, 1, false,
         true, 0, plain, restOfGzip},
    };
    QTemporaryDir files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        range = "<none>";
        ScriptedServer server(c.handler);
        auto delegate = std::make_shared<RecordingDelegate>();
        auto request = HTTPRequest::requestWithURL(urlOf(server));
        if (c.post) request->appendPostData(QByteArray(100, 'x'));
        const QString destination = files.filePath(c.name);
        request->setDownloadDestinationPath(destination);
        // Kept out of the shared temporary folder, which other tests watch.
        request->setTemporaryFileDownloadPath(destination + ".part");
        request->setAllowResumeForFileDownloads(c.resume);
        request->setShouldWaitToInflateCompressedResponses(false);
        request->setDelegate(delegate);
        request->setTimeOutSeconds(c.timeout);
        request->setNumberOfTimesToRetryOnTimeout(c.retries);
        QElapsedTimer clock;
        clock.start();
        request->startAsynchronous();
        ASSERT_TRUE(waitUntil([&] { return delegate->ended(); }, 10000));
        const qint64 elapsed = clock.elapsed();
        settle(50);
        EXPECT_EQ(request->retryCount(), c.retries);
        EXPECT_EQ(delegate->count("started"), c.retries + 1);
        {
            std::lock_guard lock(mutex);
            EXPECT_EQ(range, c.range);
        }
        if (c.failsAfterMs == 0) {
            ASSERT_FALSE(request->error()) << request->error()->localizedDescription.toStdString();
            EXPECT_TRUE(testfiles::readFile(destination) == c.body);
            continue;
        }
        ASSERT_TRUE(request->error());
        EXPECT_EQ(request->error()->code, 2);
        EXPECT_EQ(request->error()->localizedDescription, "The request timed out");
        EXPECT_GE(elapsed, c.failsAfterMs);
        EXPECT_EQ(server.connectionCount(), c.retries + 1);
        EXPECT_EQ(delegate->count("failed"), 1);
    }
}

}  // namespace
