// Connection sharing rules against an in-process cpp-httplib server, which keeps connections
// alive and tells us which client port each request came from.

#include <gtest/gtest.h>
#include <httplib.h>

#include <QThread>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "platform/http/HttpStream.h"
#include "platform_http/StreamDriver.h"

using lumaro::test::makeMessage;
using lumaro::test::persistentStream;
using lumaro::test::runStream;
using platform::HttpStream;

namespace {

class HttpStreamKeepAlive : public ::testing::Test {
protected:
    void SetUp() override {
        lumaro::test::ensureCoreApplication();
        m_server.Get("/", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard lock(m_mutex);
                m_clientPorts.insert(request.remote_port);
            }
            response.set_content("body", "text/plain");
        });
        m_server.Get("/close", [](const httplib::Request&, httplib::Response& response) {
            response.set_header("Connection", "close");
            response.set_content("bye", "text/plain");
        });
        m_server.set_keep_alive_max_count(1000);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }

    void TearDown() override {
        HttpStream::closeIdleConnections();
        m_server.stop();
        m_thread.join();
    }

    std::string url(const char* path = "/") const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

    std::size_t connections() {
        std::lock_guard lock(m_mutex);
        return m_clientPorts.size();
    }

    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::set<int> m_clientPorts;
};

TEST_F(HttpStreamKeepAlive, StreamsWithTheSameIdShareOneConnection) {
    for (int i = 0; i < 20; ++i) {
        const auto outcome = runStream(persistentStream(makeMessage(url()), 42));
        ASSERT_TRUE(outcome.ended);
        ASSERT_EQ(outcome.body, "body");
        EXPECT_EQ(outcome.reused, i > 0);
    }
    EXPECT_EQ(connections(), 1u);
}

TEST_F(HttpStreamKeepAlive, DifferentIdsNeverShare) {
    ASSERT_TRUE(runStream(persistentStream(makeMessage(url()), 1)).ended);
    const auto other = runStream(persistentStream(makeMessage(url()), 2));
    ASSERT_TRUE(other.ended);
    EXPECT_FALSE(other.reused);
    EXPECT_EQ(connections(), 2u);
    // Both connections now wait, each for its own id.
    EXPECT_EQ(HttpStream::idleConnectionCount(), 2);
    EXPECT_TRUE(runStream(persistentStream(makeMessage(url()), 1)).reused);
    EXPECT_TRUE(runStream(persistentStream(makeMessage(url()), 2)).reused);
    EXPECT_EQ(connections(), 2u);
}

TEST_F(HttpStreamKeepAlive, BothStreamsMustAskForPersistence) {
    // A stream that does not ask keeps nothing for later...
    ASSERT_TRUE(runStream(HttpStream::create(makeMessage(url()))).ended);
    EXPECT_EQ(HttpStream::idleConnectionCount(), 0);
    // ...and takes nothing that another left.
    ASSERT_TRUE(runStream(persistentStream(makeMessage(url()), 5)).ended);
    EXPECT_EQ(HttpStream::idleConnectionCount(), 1);
    auto plain = HttpStream::create(makeMessage(url()));
    plain->setStreamId(5);
    const auto outcome = runStream(plain);
    ASSERT_TRUE(outcome.ended);
    EXPECT_FALSE(outcome.reused);
    EXPECT_EQ(connections(), 3u);
}

TEST_F(HttpStreamKeepAlive, AnAnswerThatClosesIsNotKept) {
    ASSERT_TRUE(runStream(persistentStream(makeMessage(url("/close")), 9)).ended);
    EXPECT_EQ(HttpStream::idleConnectionCount(), 0);
}

TEST_F(HttpStreamKeepAlive, ABodyLeftUnreadKeepsNoConnection) {
    auto stream = persistentStream(makeMessage(url()), 4);
    stream->setClient([&](platform::HttpStreamEvent) {
        stream->close();  // reads nothing
    });
    stream->schedule();
    ASSERT_TRUE(stream->open());
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(HttpStream::idleConnectionCount(), 0);
}

TEST_F(HttpStreamKeepAlive, ConnectionsAreNotSharedAcrossThreads) {
    ASSERT_TRUE(runStream(persistentStream(makeMessage(url()), 8)).ended);
    EXPECT_EQ(HttpStream::idleConnectionCount(), 1);
    bool reusedElsewhere = true;
    std::unique_ptr<QThread> other(QThread::create([&] {
        const auto outcome = runStream(persistentStream(makeMessage(url()), 8));
        reusedElsewhere = outcome.reused || !outcome.ended;
    }));
    other->start();
    ASSERT_TRUE(other->wait(10000));
    EXPECT_FALSE(reusedElsewhere);
    EXPECT_EQ(connections(), 2u);
}

}  // namespace
