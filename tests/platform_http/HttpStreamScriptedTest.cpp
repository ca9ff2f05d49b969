// The stream against a raw scripted server: every framing, slow and malformed answers,
// connections that die, what goes on the wire, bodies, threads and scheduling.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QTemporaryFile>
#include <QThread>
#include <atomic>
#include <chrono>
#include <future>

#include "platform/http/HttpStream.h"
#include "platform_http/StreamDriver.h"
#include "servers/ScriptedServer.h"

using namespace std::chrono_literals;
using lumaro::test::makeMessage;
using lumaro::test::persistentStream;
using lumaro::test::ReceivedRequest;
using lumaro::test::runStream;
using lumaro::test::ScriptedConnection;
using lumaro::test::ScriptedServer;
using platform::HttpStream;
using platform::HttpStreamErrorDomain;
using platform::HttpStreamEvent;

namespace {

void processEventsFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(duration.count()), &loop, &QEventLoop::quit);
    loop.exec();
}

// A server that reads one request and sends answer, then closes.
ScriptedServer::Handler answerOnce(std::string answer) {
    return [answer](ScriptedConnection& c) {
        if (c.readRequest()) c.send(answer);
        c.close();
    };
}

class HttpStreamScripted : public ::testing::Test {
protected:
    void SetUp() override { lumaro::test::ensureCoreApplication(); }
    void TearDown() override { HttpStream::closeIdleConnections(); }
};

struct FramingCase {
    const char* name;
    QString method;
    std::string answer;
    int status;
    std::string body;
};

TEST_F(HttpStreamScripted, ReadsEveryFramingWithLargeAndTinyReads) {
    const std::string big(300'000, 'q');
    const std::vector<FramingCase> cases = {
        {"length", "GET", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 200, "hello"},
        {"large length", "GET",
         "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n" + big, 200,
         big},
        {"chunked with trailer", "GET",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;ext=1\r\nhello\r\n"
         "6\r\n world\r\n0\r\nX-Trailer: t\r\n\r\n",
         200, "hello world"},
        {"close-delimited", "GET", "HTTP/1.0 200 OK\r\n\r\nuntil close", 200, "until close"},
        {"interim answers skipped", "POST",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n"
         "HTTP/1.1 201 Created\r\nContent-Length: 4\r\n\r\nmade",
         201, "made"},
        {"HEAD", "HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 123\r\n\r\n", 200, ""},
        {"204", "DELETE", "HTTP/1.1 204 No Content\r\n\r\n", 204, ""},
        {"redirect is not followed", "GET",
         "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 3\r\n\r\nmov", 302, "mov"},
        {"challenge is not answered", "GET",
         "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
         "Content-Length: 2\r\n\r\nno",
         401, "no"},
    };
    for (const FramingCase& c : cases) {
        for (qint64 readSize : {qint64{262144}, qint64{7}}) {
            SCOPED_TRACE(std::string(c.name) + " read size " + std::to_string(readSize));
            ScriptedServer server(answerOnce(c.answer));
            auto stream = HttpStream::create(makeMessage(server.url("/x"), c.method));
            const auto outcome = runStream(stream, 5000, readSize);
            ASSERT_TRUE(outcome.ended) << outcome.error.description.toStdString();
            EXPECT_EQ(outcome.header.statusCode(), c.status);
            EXPECT_EQ(outcome.body, c.body);
            EXPECT_FALSE(outcome.bodyBeforeHead);
            EXPECT_FALSE(outcome.nestedEvents);
            EXPECT_EQ(outcome.events.back(), HttpStreamEvent::EndEncountered);
            EXPECT_EQ(std::count(outcome.events.begin(), outcome.events.end(),
                                 HttpStreamEvent::EndEncountered),
                      1);
            EXPECT_EQ(stream->status(), HttpStream::Status::AtEnd);
            EXPECT_EQ(server.connectionCount(), 1);
        }
    }
}

TEST_F(HttpStreamScripted, ResponseHeaderKeepsFieldsAndLooksThemUpWithoutCase) {
    ScriptedServer server(answerOnce(
        "HTTP/1.1 200 Fine Thanks\r\nSet-Cookie: a=1\r\nX-Mixed-Case: v\r\nset-cookie: b=2\r\n"
        "Content-Length: 0\r\n\r\n"));
    const auto outcome = runStream(HttpStream::create(makeMessage(server.url())));
    ASSERT_TRUE(outcome.ended);
    const auto& header = outcome.header;
    EXPECT_TRUE(header.isHeaderComplete());
    EXPECT_EQ(header.statusLine(), "HTTP/1.1 200 Fine Thanks");
    EXPECT_EQ(header.version(), "HTTP/1.1");
    EXPECT_EQ(header.value("x-mixed-case"), "v");
    EXPECT_EQ(header.value("SET-COOKIE"), "a=1, b=2");
    EXPECT_TRUE(header.value("Absent").isNull());
    const auto merged = header.allHeaderFields();
    ASSERT_EQ(merged.size(), 3);
    EXPECT_EQ(merged[0].first, "Set-Cookie");
    EXPECT_EQ(merged[0].second, "a=1, b=2");
    EXPECT_EQ(merged[1].first, "X-Mixed-Case");
    EXPECT_EQ(header.rawHeaderFields().size(), 4);
}

TEST_F(HttpStreamScripted, SlowAnswerGivesTheHeadBeforeAnyBodyByte) {
    ScriptedServer server([](ScriptedConnection& c) {
        if (!c.readRequest()) return;
        c.sendSlowly("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n", 5, 20ms);
        std::this_thread::sleep_for(100ms);
        c.sendSlowly("0123456789", 3, 30ms);
    });
    const auto outcome = runStream(HttpStream::create(makeMessage(server.url())));
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.body, "0123456789");
    EXPECT_FALSE(outcome.bodyBeforeHead);
    EXPECT_TRUE(outcome.headCompleteAtFirstEvent);
    EXPECT_GE(outcome.bytesAvailableEvents, 2) << "the head is signalled before the body";
}

TEST_F(HttpStreamScripted, MalformedAnswersFailWithAParseError) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"garbage", "SMTP ready\r\n\r\n"},
        {"bad length", "HTTP/1.1 200 OK\r\nContent-Length: ten\r\n\r\nxxxxxxxxxx"},
        {"bad chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nxyz\r\n"},
        {"oversized head", "HTTP/1.1 200 OK\r\n" +
                               [] {
                                   std::string lines;
                                   for (int i = 0; i < 400; ++i)
                                       lines += "X-Filler: " + std::string(1000, 'f') + "\r\n";
                                   return lines;
                               }() +
                               "\r\n"},
        {"endless header line", "HTTP/1.1 200 OK\r\nX: " + std::string(200'000, 'z')},
    };
    for (const auto& [name, answer] : cases) {
        SCOPED_TRACE(name);
        ScriptedServer server([answer = answer](ScriptedConnection& c) {
            if (c.readRequest()) c.send(answer);
            c.waitForPeerClose(2000);
        });
        const auto outcome = runStream(HttpStream::create(makeMessage(server.url())));
        ASSERT_TRUE(outcome.failed);
        EXPECT_EQ(outcome.error.domain, HttpStreamErrorDomain::Network);
        EXPECT_EQ(outcome.error.code, platform::network_error::kCannotParseResponse);
        EXPECT_FALSE(outcome.error.isDeadConnection());
        EXPECT_EQ(outcome.events.back(), HttpStreamEvent::ErrorOccurred);
    }
}

TEST_F(HttpStreamScripted, DroppedFreshConnectionsAreFailuresButNotRetryable) {
    struct Case {
        const char* name;
        ScriptedServer::Handler handler;
    };
    const std::vector<Case> cases = {
        {"closed without answer",
         [](ScriptedConnection& c) {
             c.readRequest();
             c.close();
         }},
        {"reset without answer",
         [](ScriptedConnection& c) {
             c.readRequest();
             c.reset();
         }},
        {"truncated body",
         [](ScriptedConnection& c) {
             if (c.readRequest()) c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort");
             c.close();
         }},
        {"truncated chunks",
         [](ScriptedConnection& c) {
             if (c.readRequest()) {
                 c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel");
             }
             c.close();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(c.handler);
        const auto outcome = runStream(HttpStream::create(makeMessage(server.url())));
        ASSERT_TRUE(outcome.failed);
        EXPECT_FALSE(outcome.error.isDeadConnection());
        EXPECT_EQ(outcome.error.domain, HttpStreamErrorDomain::Network);
        EXPECT_FALSE(outcome.error.description.isEmpty());
    }
}

TEST_F(HttpStreamScripted, RefusedConnectionReportsCannotConnect) {
    quint16 port = 0;
    {
        ScriptedServer server([](ScriptedConnection&) {});
        port = server.port();
    }
    const auto outcome = runStream(
        HttpStream::create(makeMessage("http://127.0.0.1:" + std::to_string(port) + "/")));
    ASSERT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.error.code, platform::network_error::kCannotConnectToHost);
}

const char* const kKeepAliveAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

TEST_F(HttpStreamScripted, DeadReusedConnectionReportsConnectionLost) {
    ScriptedServer server([](ScriptedConnection& c) {
        if (c.readRequest()) c.send(kKeepAliveAnswer);
        // The second request arrives on the kept connection, which then dies unanswered.
        if (c.index() == 0) c.readRequest();
        c.close();
    });
    const auto first = runStream(persistentStream(makeMessage(server.url()), 7));
    ASSERT_TRUE(first.ended);
    EXPECT_FALSE(first.reused);
    EXPECT_EQ(HttpStream::idleConnectionCount(), 1);

    const auto second = runStream(persistentStream(makeMessage(server.url()), 7));
    EXPECT_TRUE(second.reused);
    ASSERT_TRUE(second.failed);
    EXPECT_TRUE(second.error.isDeadConnection());
    EXPECT_EQ(second.error.code, platform::network_error::kNetworkConnectionLost);
    EXPECT_EQ(HttpStream::idleConnectionCount(), 0);

    // The retry on a new connection then works.
    const auto retry = runStream(persistentStream(makeMessage(server.url()), 7));
    EXPECT_TRUE(retry.ended);
    EXPECT_FALSE(retry.reused);
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(HttpStreamScripted, IdleConnectionClosedByTheServerIsNotReused) {
    ScriptedServer server([](ScriptedConnection& c) {
        if (c.readRequest()) c.send(kKeepAliveAnswer);
        c.close();
    });
    ASSERT_TRUE(runStream(persistentStream(makeMessage(server.url()), 1)).ended);
    processEventsFor(200ms);
    EXPECT_EQ(HttpStream::idleConnectionCount(), 0);
    const auto second = runStream(persistentStream(makeMessage(server.url()), 1));
    EXPECT_TRUE(second.ended);
    EXPECT_FALSE(second.reused);
}

TEST_F(HttpStreamScripted, ClosingAFinishedStreamClosesItsIdleConnection) {
    ScriptedServer server([](ScriptedConnection& c) {
        while (c.readRequest()) c.send(kKeepAliveAnswer);
    });
    auto first = persistentStream(makeMessage(server.url()), 3);
    ASSERT_TRUE(runStream(first).ended);
    EXPECT_EQ(HttpStream::idleConnectionCount(), 1);

    // A newer stream took the connection: closing the older one must leave it alone.
    auto second = persistentStream(makeMessage(server.url()), 3);
    ASSERT_TRUE(runStream(second).ended);
    EXPECT_TRUE(second->isReusedConnection());
    first->close();
    EXPECT_EQ(HttpStream::idleConnectionCount(), 1);

    second->close();
    EXPECT_EQ(HttpStream::idleConnectionCount(), 0);
}

TEST_F(HttpStreamScripted, RequestHeadOnTheWire) {
    std::promise<ReceivedRequest> received;
    ScriptedServer server([&](ScriptedConnection& c) {
        auto request = c.readRequest();
        if (!request) return;
        received.set_value(*request);
        c.send(kKeepAliveAnswer);
    });
    auto message = makeMessage(server.url("/a%20b/c?q=1&r=%2F"), "GET");
    message.setHeaderFieldValue("User-Agent", "Lumaro test");
    message.setHeaderFieldValue("Accept", "*/*");
    ASSERT_TRUE(runStream(HttpStream::create(message)).ended);
    const ReceivedRequest request = received.get_future().get();
    EXPECT_EQ(request.requestLine, "GET /a%20b/c?q=1&r=%2F HTTP/1.1");
    EXPECT_EQ(request.header("Host"), "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(request.header("User-Agent"), "Lumaro test");
    EXPECT_EQ(request.header("Connection"), "close") << "a stream that keeps nothing says so";
    EXPECT_FALSE(request.hasHeader("Content-Length"));
}

TEST_F(HttpStreamScripted, ALengthWithoutABodyIsNotSent) {
    // A HEAD request may carry every field of the request it measures, Content-Length
    // included; announcing bytes that never follow would stall the exchange.
    std::promise<ReceivedRequest> received;
    ScriptedServer server([&](ScriptedConnection& c) {
        auto request = c.readRequest(2000);
        if (!request) return;
        received.set_value(*request);
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
    });
    auto message = makeMessage(server.url(), "HEAD");
    message.setHeaderFieldValue("Content-Length", "5");
    const auto outcome = runStream(HttpStream::create(message));
    ASSERT_TRUE(outcome.ended);
    EXPECT_FALSE(received.get_future().get().hasHeader("Content-Length"));
}

TEST_F(HttpStreamScripted, Http10PersistentStreamAsksForKeepAlive) {
    std::promise<ReceivedRequest> received;
    ScriptedServer server([&](ScriptedConnection& c) {
        auto request = c.readRequest();
        if (!request) return;
        received.set_value(*request);
        c.send("HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx");
    });
    auto message = makeMessage(server.url(), "GET", platform::HttpVersion::Http10);
    const auto outcome = runStream(persistentStream(message, 1));
    ASSERT_TRUE(outcome.ended);
    const ReceivedRequest request = received.get_future().get();
    EXPECT_EQ(request.requestLine, "GET / HTTP/1.0");
    EXPECT_EQ(request.header("Connection"), "keep-alive");
    EXPECT_EQ(outcome.header.version(), "HTTP/1.0");
    EXPECT_EQ(HttpStream::idleConnectionCount(), 0) << "an HTTP/1.0 answer without keep-alive";
}

// Echoes the body length and keeps the received body for the test.
struct EchoServer {
    std::promise<ReceivedRequest> received;
    ScriptedServer server{[this](ScriptedConnection& c) {
        auto request = c.readRequest(10000);
        if (!request) return;
        const std::string size = std::to_string(request->body.size());
        received.set_value(*request);
        c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size.size()) + "\r\n\r\n" +
               size);
    }};
};

std::string patternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 7) & 0xff);
    return bytes;
}

TEST_F(HttpStreamScripted, BodiesFromMemoryFromADeviceAndFromAPullSource) {
    const std::string payload = patternBytes(3 * 1024 * 1024 + 17);
    {
        SCOPED_TRACE("memory");
        EchoServer echo;
        auto stream = HttpStream::create(
            makeMessage(echo.server.url(), "POST"),
            platform::HttpRequestBody::fromData(QByteArray::fromStdString(payload)));
        const auto outcome = runStream(stream, 10000);
        ASSERT_TRUE(outcome.ended) << outcome.error.description.toStdString();
        const auto request = echo.received.get_future().get();
        EXPECT_EQ(request.header("Content-Length"), std::to_string(payload.size()));
        EXPECT_TRUE(request.body == payload);
        EXPECT_EQ(outcome.bodyBytesWritten, static_cast<qint64>(payload.size()));
    }
    {
        SCOPED_TRACE("file");
        QTemporaryFile file;
        ASSERT_TRUE(file.open());
        file.write(payload.data(), static_cast<qint64>(payload.size()));
        file.seek(0);
        auto device = std::make_shared<QFile>(file.fileName());
        ASSERT_TRUE(device->open(QIODevice::ReadOnly));
        EchoServer echo;
        auto stream = HttpStream::create(makeMessage(echo.server.url(), "PUT"),
                                         platform::HttpRequestBody::fromDevice(device));
        const auto outcome = runStream(stream, 10000);
        ASSERT_TRUE(outcome.ended);
        const auto request = echo.received.get_future().get();
        EXPECT_EQ(request.header("Content-Length"), std::to_string(payload.size()));
        EXPECT_TRUE(request.body == payload);
    }
    {
        SCOPED_TRACE("pull of unknown length");
        std::size_t offset = 0;
        auto pull = [&](char* buffer, qint64 max) -> qint64 {
            const qint64 n = std::min<qint64>(max, 1000);  // small, uneven pieces
            const qint64 count = std::min<qint64>(n, static_cast<qint64>(payload.size() - offset));
            std::copy_n(payload.data() + offset, count, buffer);
            offset += static_cast<std::size_t>(count);
            return count;
        };
        EchoServer echo;
        auto stream = HttpStream::create(makeMessage(echo.server.url(), "POST"),
                                         platform::HttpRequestBody::fromPull(pull, -1));
        const auto outcome = runStream(stream, 10000);
        ASSERT_TRUE(outcome.ended);
        const auto request = echo.received.get_future().get();
        EXPECT_EQ(request.header("Transfer-Encoding"), "chunked");
        EXPECT_TRUE(request.body == payload);
    }
}

TEST_F(HttpStreamScripted, ABodySourceThatFailsOrEndsEarlyFailsTheStream) {
    for (qint64 failure : {qint64{-1}, qint64{0}}) {
        SCOPED_TRACE(failure);
        int calls = 0;
        auto pull = [&](char* buffer, qint64 max) -> qint64 {
            if (calls++ > 0) return failure;
            std::fill_n(buffer, std::min<qint64>(max, 10), 'x');
            return std::min<qint64>(max, 10);
        };
        ScriptedServer server([](ScriptedConnection& c) { c.waitForPeerClose(3000); });
        auto stream = HttpStream::create(makeMessage(server.url(), "POST"),
                                         platform::HttpRequestBody::fromPull(pull, 1000));
        const auto outcome = runStream(stream);
        ASSERT_TRUE(outcome.failed);
        EXPECT_EQ(outcome.error.code, platform::network_error::kRequestBodyUnreadable);
    }
}

TEST_F(HttpStreamScripted, EventsArriveOnTheThreadTheStreamIsScheduledOn) {
    ScriptedServer server(answerOnce("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"));
    QThread worker;
    worker.start();
    auto stream = HttpStream::create(makeMessage(server.url()));
    std::promise<void> done;
    std::atomic<bool> wrongThread{false};
    std::string body;
    stream->setClient([&](HttpStreamEvent event) {
        if (QThread::currentThread() != &worker) wrongThread = true;
        if (event == HttpStreamEvent::BytesAvailable) {
            char buffer[16];
            while (stream->hasBytesAvailable()) body.append(buffer, stream->read(buffer, 16));
        } else {
            done.set_value();
        }
    });
    stream->schedule(&worker);
    ASSERT_TRUE(stream->open());
    EXPECT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(wrongThread);
    EXPECT_EQ(body, "abc");
    EXPECT_EQ(stream->status(), HttpStream::Status::AtEnd);
    stream->close();
    stream.reset();
    worker.quit();
    worker.wait();
}

TEST_F(HttpStreamScripted, AnUnscheduledStreamHoldsItsEventsUntilScheduledAgain) {
    ScriptedServer server(answerOnce("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"));
    auto stream = HttpStream::create(makeMessage(server.url()));
    int events = 0;
    std::string body;
    stream->setClient([&](HttpStreamEvent event) {
        ++events;
        if (event == HttpStreamEvent::BytesAvailable) {
            char buffer[16];
            while (stream->hasBytesAvailable()) body.append(buffer, stream->read(buffer, 16));
        }
    });
    stream->schedule();
    ASSERT_TRUE(stream->open());
    stream->unschedule();
    processEventsFor(300ms);
    EXPECT_EQ(events, 0);
    stream->schedule();
    processEventsFor(300ms);
    EXPECT_GT(events, 0);
    EXPECT_EQ(body, "abc");
    EXPECT_EQ(stream->status(), HttpStream::Status::AtEnd);
}

TEST_F(HttpStreamScripted, AnUnscheduledStreamHoldsItsFailureToo) {
    quint16 port = 0;
    {
        ScriptedServer closed([](ScriptedConnection&) {});
        port = closed.port();
    }
    auto stream = HttpStream::create(makeMessage("http://127.0.0.1:" + std::to_string(port) + "/"));
    std::vector<HttpStreamEvent> events;
    stream->setClient([&](HttpStreamEvent event) { events.push_back(event); });
    stream->schedule();
    ASSERT_TRUE(stream->open());
    stream->unschedule();
    processEventsFor(200ms);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(stream->status(), HttpStream::Status::Error) << "the failure itself happened";
    stream->schedule();
    processEventsFor(100ms);
    EXPECT_EQ(events, std::vector<HttpStreamEvent>{HttpStreamEvent::ErrorOccurred});
}

TEST_F(HttpStreamScripted, CloseFromAnotherThreadStopsTheStream) {
    std::promise<bool> peerClosed;
    ScriptedServer server([&](ScriptedConnection& c) {
        if (!c.readRequest()) return;
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nstart");
        peerClosed.set_value(c.waitForPeerClose(3000));
    });
    auto stream = HttpStream::create(makeMessage(server.url()));
    std::atomic<int> events{0};
    stream->setClient([&](HttpStreamEvent) { ++events; });
    stream->schedule();
    ASSERT_TRUE(stream->open());
    processEventsFor(200ms);
    const int before = events;
    EXPECT_GE(before, 1);
    std::thread([&] { stream->close(); }).join();
    EXPECT_EQ(stream->status(), HttpStream::Status::Closed);
    processEventsFor(100ms);
    EXPECT_EQ(events, before);
    EXPECT_TRUE(peerClosed.get_future().get());
}

TEST_F(HttpStreamScripted, CloseFromTheClientStopsEveryLaterEvent) {
    std::promise<bool> peerClosed;
    ScriptedServer server([&](ScriptedConnection& c) {
        if (!c.readRequest()) return;
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nstart");
        peerClosed.set_value(c.waitForPeerClose(3000));
    });
    auto stream = HttpStream::create(makeMessage(server.url()));
    int events = 0;
    stream->setClient([&](HttpStreamEvent) {
        ++events;
        stream->close();
    });
    stream->schedule();
    ASSERT_TRUE(stream->open());
    processEventsFor(300ms);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(stream->status(), HttpStream::Status::Closed);
    EXPECT_TRUE(peerClosed.get_future().get());
}

TEST_F(HttpStreamScripted, OpenAnswersFalseOnlyWhenTheStreamCannotStart) {
    auto stream = HttpStream::create(makeMessage("http://127.0.0.1:1/"));
    stream->schedule();
    EXPECT_TRUE(stream->open());
    EXPECT_FALSE(stream->open()) << "a stream opens once";
    stream->close();

    auto unknownLength = HttpStream::create(
        makeMessage("http://127.0.0.1:1/", "POST", platform::HttpVersion::Http10),
        platform::HttpRequestBody::fromPull([](char*, qint64) -> qint64 { return 0; }, -1));
    EXPECT_FALSE(unknownLength->open()) << "HTTP/1.0 cannot carry a body of unknown length";
}

}  // namespace
