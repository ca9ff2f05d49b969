// The stream against a raw scripted server: framings, slow and malformed answers, kept
// connections, what goes on the wire, request bodies and threads.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QThread>
#include <atomic>
#include <chrono>
#include <future>

#include "platform/http/HttpStream.h"
#include "platform_http/StreamDriver.h"
#include "servers/FreePort.h"
#include "servers/ScriptedServer.h"
#include "support/Files.h"

using namespace std::chrono_literals;
using namespace lumaro::test;
using namespace platform;

namespace {

// Reads one request, sends answer (in pieces with pauses when slow), then closes.
ScriptedServer::Handler answerOnce(std::string answer, bool slow = false) {
    return [answer, slow](ScriptedConnection& c) {
        if (c.readRequest()) slow ? c.sendSlowly(answer, 5, 15ms) : c.send(answer);
        c.close();
    };
}

class HttpStreamScripted : public ::testing::Test {
protected:
    void SetUp() override { ensureCoreApplication(); }
    void TearDown() override { HttpStream::closeIdleConnections(); }
};

TEST_F(HttpStreamScripted, ReadsEveryFramingWithLargeAndTinyReads) {
    const std::string big(300'000, 'q');
    const struct {
        const char* name;
        QString method;
        std::string answer;
        std::string body;
        bool slow = false;
    } cases[] = {
        {"large length", "GET",
         "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n" + big,
         big},
        {"chunked with trailer", "GET",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;ext=1\r\nhello\r\n"
         "6\r\n world\r\n0\r\nX-Trailer: t\r\n\r\n",
         "hello world"},
        {"slow", "GET", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789", "0123456789",
         true},
        {"close-delimited", "GET", "HTTP/1.0 200 OK\r\n\r\nuntil close", "until close"},
    };
    for (const auto& c : cases) {
        for (qint64 readSize : {qint64{262144}, qint64{7}}) {
            SCOPED_TRACE(std::string(c.name) + " read size " + std::to_string(readSize));
            ScriptedServer server(answerOnce(c.answer, c.slow));
            auto stream = HttpStream::create(makeMessage(server.url("/x"), c.method));
            const auto outcome = runStream(stream, 5000, readSize);
            ASSERT_TRUE(outcome.ended) << outcome.error.description.toStdString();
            EXPECT_EQ(outcome.header.statusCode(), 200);
            EXPECT_EQ(outcome.body, c.body);
            EXPECT_FALSE(outcome.bodyBeforeHead);
            EXPECT_FALSE(outcome.nestedEvents);
            EXPECT_EQ(std::ranges::count(outcome.events, HttpStreamEvent::EndEncountered), 1);
            EXPECT_EQ(outcome.events.back(), HttpStreamEvent::EndEncountered);
            EXPECT_EQ(stream->status(), HttpStream::Status::AtEnd);
        }
    }
}

TEST_F(HttpStreamScripted, BrokenAnswersAndBodiesFailWithoutARetryableError) {
    const auto sendThenWait = [](std::string answer) -> ScriptedServer::Handler {
        return [answer](ScriptedConnection& c) {
            if (c.readRequest(2000)) c.send(answer);
            c.waitForPeerClose(2000);
        };
    };
    std::string hugeHead = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 400; ++i) hugeHead += "X-Filler: " + std::string(1000, 'f') + "\r\n";
    const int anyCode = 0;
    const struct {
        const char* name;
        ScriptedServer::Handler handler;  // none: nothing listens
        int code;
        std::optional<qint64> bodyEnd = {};  // a POST body source that gives this after 10 bytes
    } cases[] = {
        {"garbage", sendThenWait("SMTP ready\r\n\r\n"), network_error::kCannotParseResponse},
        {"oversized head", sendThenWait(hugeHead + "\r\n"), network_error::kCannotParseResponse},
        {"endless header line", sendThenWait("HTTP/1.1 200 OK\r\nX: " + std::string(200'000, 'z')),
         network_error::kCannotParseResponse},
        {"closed without answer", answerOnce(""), anyCode},
        {"reset without answer",
         [](ScriptedConnection& c) {
             c.readRequest();
             c.reset();
         },
         anyCode},
        {"truncated body", answerOnce("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort"),
         anyCode},
        {"truncated chunks",
         answerOnce("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel"), anyCode},
        {"refused", {}, network_error::kCannotConnectToHost},
        {"body source fails", sendThenWait(""), network_error::kRequestBodyUnreadable, -1},
        {"body source ends early", sendThenWait(""), network_error::kRequestBodyUnreadable, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<ScriptedServer> server;
        if (c.handler) server.emplace(c.handler);
        const std::string url =
            server ? server->url() : "http://127.0.0.1:" + std::to_string(freeLoopbackPort());
        int calls = 0;
        auto pull = [&](char* buffer, qint64 max) -> qint64 {
            if (calls++ > 0) return *c.bodyEnd;
            std::fill_n(buffer, std::min<qint64>(max, 10), 'x');
            return std::min<qint64>(max, 10);
        };
        const auto outcome =
            runStream(c.bodyEnd ? HttpStream::create(makeMessage(url, "POST"),
                                                     HttpRequestBody::fromPull(pull, 1000))
                                : HttpStream::create(makeMessage(url)));
        ASSERT_TRUE(outcome.failed);
        EXPECT_EQ(outcome.error.domain, HttpStreamErrorDomain::Network);
        EXPECT_TRUE(c.code == anyCode || outcome.error.code == c.code) << outcome.error.code;
        EXPECT_FALSE(outcome.error.isDeadConnection());
        EXPECT_FALSE(outcome.error.description.isEmpty());
        EXPECT_EQ(outcome.events.back(), HttpStreamEvent::ErrorOccurred);
    }
}

// Sockets belong to the thread that made them: a connection kept by one thread serves no other.
TEST_F(HttpStreamScripted, OnlyStreamsOfOneIdOnOneThreadThatBothAskShareAConnection) {
    ScriptedServer server([](ScriptedConnection& c) {
        while (c.readRequest()) c.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
    const auto run = [&](qint64 id, bool persistent = true) {
        auto stream = persistentStream(makeMessage(server.url()), id);
        stream->setAttemptPersistentConnection(persistent);
        const auto outcome = runStream(stream);
        EXPECT_TRUE(outcome.ended);
        return outcome.reused;
    };
    EXPECT_FALSE(run(42));
    EXPECT_TRUE(run(42));
    EXPECT_FALSE(run(2));
    EXPECT_EQ(HttpStream::idleConnectionCount(), 2);
    EXPECT_FALSE(run(42, false)) << "a stream that does not ask takes nothing and keeps nothing";
    EXPECT_EQ(HttpStream::idleConnectionCount(), 2);
    bool reusedElsewhere = true;
    std::unique_ptr<QThread> other(QThread::create([&] { reusedElsewhere = run(42); }));
    other->start();
    ASSERT_TRUE(other->wait(10000));
    EXPECT_FALSE(reusedElsewhere);
    EXPECT_EQ(server.connectionCount(), 4);
    HttpStream::closeIdleConnections();

    // Closing a finished stream closes its idle connection, unless a newer stream took it.
    auto first = persistentStream(makeMessage(server.url()), 3);
    ASSERT_TRUE(runStream(first).ended);
    auto second = persistentStream(makeMessage(server.url()), 3);
    ASSERT_TRUE(runStream(second).reused);
    first->close();
    EXPECT_EQ(HttpStream::idleConnectionCount(), 1);
    second->close();
    EXPECT_EQ(HttpStream::idleConnectionCount(), 0);
}

TEST_F(HttpStreamScripted, RequestHeadAndBodyOnTheWire) {
    const std::string payload = testfiles::pattern(3 * 1024 * 1024 + 17).toStdString();
    // A HEAD request may carry every field of the request it measures; announcing body bytes
    // that never follow would stall the exchange. A body of unknown length goes chunked.
    const struct {
        const char* method;
        HttpVersion version;
        bool persistent;
        std::string requestLine;
        std::string connection;
        std::string transferEncoding;
    } cases[] = {
        {"GET", HttpVersion::Http10, true, "GET /a%20b?q=%2F HTTP/1.0", "keep-alive", ""},
        {"HEAD", HttpVersion::Http11, false, "HEAD /a%20b?q=%2F HTTP/1.1", "close", ""},
        {"PUT", HttpVersion::Http11, false, "PUT /a%20b?q=%2F HTTP/1.1", "close", "chunked"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        std::promise<ReceivedRequest> received;
        ScriptedServer server([&](ScriptedConnection& connection) {
            auto request = connection.readRequest(10000);
            if (!request) return;
            received.set_value(*request);
            connection.send("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
        });
        auto message = makeMessage(server.url("/a%20b?q=%2F"), c.method, c.version);
        if (QString(c.method) == "HEAD") message.setHeaderFieldValue("Content-Length", "5");
        QBuffer source;
        source.setData(QByteArray::fromStdString(payload));
        source.open(QIODevice::ReadOnly);
        const auto pull = [&](char* to, qint64 max) {
            return source.read(to, std::min(max, 1000LL));
        };
        const bool hasBody = !c.transferEncoding.empty();
        auto stream = c.persistent ? persistentStream(message, 1)
                      : hasBody ? HttpStream::create(message, HttpRequestBody::fromPull(pull, -1))
                                : HttpStream::create(message);
        const auto outcome = runStream(stream, 10000);
        ASSERT_TRUE(outcome.ended) << outcome.error.description.toStdString();
        const ReceivedRequest request = received.get_future().get();
        EXPECT_EQ(request.requestLine, c.requestLine);
        EXPECT_EQ(request.header("Host"), "127.0.0.1:" + std::to_string(server.port()));
        EXPECT_EQ(request.header("Connection"), c.connection);
        EXPECT_EQ(request.header("Transfer-Encoding"), c.transferEncoding);
        EXPECT_FALSE(request.hasHeader("Content-Length"));
        EXPECT_TRUE(request.body == (hasBody ? payload : std::string()));
        EXPECT_EQ(outcome.bodyBytesWritten, static_cast<qint64>(request.body.size()));
        EXPECT_EQ(HttpStream::idleConnectionCount(), 0) << "an HTTP/1.0 answer without keep-alive";
    }
}

TEST_F(HttpStreamScripted, EventsComeOnTheStreamsThreadUntilItIsClosedThereOrFromAnother) {
    for (const bool fromClient : {true, false}) {
        SCOPED_TRACE(fromClient ? "from the client" : "from another thread");
        std::promise<bool> peerClosed;
        ScriptedServer server([&](ScriptedConnection& c) {
            if (!c.readRequest()) return;
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nstart");
            peerClosed.set_value(c.waitForPeerClose(3000));
        });
        QThread worker;
        worker.start();
        auto stream = HttpStream::create(makeMessage(server.url()));
        std::atomic<int> events{0};
        std::atomic<bool> wrongThread{false};
        stream->setClient([&](HttpStreamEvent) {
            wrongThread = wrongThread || QThread::currentThread() != &worker;
            ++events;
            if (fromClient) stream->close();
        });
        stream->schedule(&worker);
        ASSERT_TRUE(stream->open());
        EXPECT_FALSE(stream->open()) << "a stream opens once";
        for (int i = 0; i < 500 && events == 0; ++i) std::this_thread::sleep_for(10ms);
        ASSERT_GE(events, 1);
        if (!fromClient) stream->close();
        const int seen = events;
        EXPECT_EQ(stream->status(), HttpStream::Status::Closed);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(events, seen);
        EXPECT_TRUE(!fromClient || seen == 1);
        EXPECT_TRUE(peerClosed.get_future().get());
        EXPECT_FALSE(wrongThread);
        stream.reset();
        worker.quit();
        worker.wait();
    }
    auto unknownLength = HttpStream::create(
        makeMessage("http://127.0.0.1:1/", "POST", HttpVersion::Http10),
        HttpRequestBody::fromPull([](char*, qint64) -> qint64 { return 0; }, -1));
    EXPECT_FALSE(unknownLength->open()) << "HTTP/1.0 cannot carry a body of unknown length";
}

}  // namespace
