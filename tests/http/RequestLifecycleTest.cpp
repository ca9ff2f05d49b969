#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "RequestTestSupport.h"
#include "servers/FreePort.h"
#include "servers/InProcessHttpServer.h"
#include "servers/ScriptedServer.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;
using namespace testsupport;
using namespace std::chrono_literals;

// A queue that records what reaches it, in one journal with the delegate and the blocks.
class RecordingQueue : public http::HTTPRequestQueue {
public:
    explicit RecordingQueue(std::vector<std::string>& journal) : journal_(journal) {}
    void requestStarted(const HTTPRequestPtr&) override { journal_.push_back("queue started"); }
    void requestFinished(const HTTPRequestPtr&) override { journal_.push_back("queue finished"); }
    void requestFailed(const HTTPRequestPtr&) override { journal_.push_back("queue failed"); }

private:
    std::vector<std::string>& journal_;
};

class RequestLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        server_.server().Get("/hello", [this](const httplib::Request&, httplib::Response& res) {
            ++hits_;
            res.set_content("hello", "text/plain");
        });
        // /slow sends its first bytes, then waits up to two seconds before it ends.
        server_.server().Get("/slow", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [this](size_t offset, auto& sink) {
                if (offset == 0) sink.write("first", 5);
                for (int i = 0; i < 200 && !release_; ++i) std::this_thread::sleep_for(10ms);
                sink.done();
                return true;
            });
        });
        server_.server().Get("/secret", [](const httplib::Request&, httplib::Response& res) {
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"test\"");
            res.set_content("no", "text/plain");
        });
        server_.start();
    }
    void TearDown() override { release_ = true; }

    // Attaches a delegate, blocks and a queue that all write to journal_.
    void record(const HTTPRequestPtr& request) {
        request->setDelegate(delegate_);
        request->setQueue(std::make_shared<RecordingQueue>(journal_));
        request->setDidStartSelector([this](http::HTTPRequestDelegate&, const HTTPRequestPtr&) {
            note("delegate started");
        });
        request->setDidFinishSelector([this](http::HTTPRequestDelegate&, const HTTPRequestPtr&) {
            note("delegate finished");
        });
        request->setDidFailSelector(
            [this](http::HTTPRequestDelegate&, const HTTPRequestPtr&) { note("delegate failed"); });
        request->setStartedBlock([this] { note("block started"); });
        request->setCompletionBlock([this] { note("block finished"); });
        request->setFailedBlock([this] { note("block failed"); });
    }
    void note(const std::string& event) {
        onMainThread_ = onMainThread_ && platform::isMainThread();
        journal_.push_back(event);
    }
    int count(const std::string& event) const {
        return static_cast<int>(std::count(journal_.begin(), journal_.end(), event));
    }

    TempHome home_;
    InProcessHttpServer server_;
    std::atomic<int> hits_{0};
    std::atomic<bool> release_{false};
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::vector<std::string> journal_;
    bool onMainThread_ = true;
};

TEST_F(RequestLifecycle, EachEventIsReportedOnceOnTheGuiThreadInOrderHoweverTheRequestRuns) {
    for (const bool onWorker : {false, true}) {
        SCOPED_TRACE(onWorker ? "synchronous on another thread" : "asynchronous");
        journal_.clear();
        hits_ = 0;
        auto request = HTTPRequest::requestWithURL(server_.url("/hello"));
        record(request);
        if (onWorker) {
            std::thread([&] { request->startSynchronous(); }).join();
            // Nothing ran on the worker: every callback waits for the GUI thread.
            EXPECT_TRUE(journal_.empty());
        } else {
            request->startAsynchronous();
        }
        ASSERT_TRUE(waitUntil([&] { return count("queue finished") == 1; }));
        settle();
        EXPECT_EQ(journal_, (std::vector<std::string>{"delegate started", "block started",
                                                      "queue started", "delegate finished",
                                                      "block finished", "queue finished"}));
        EXPECT_TRUE(onMainThread_);
        EXPECT_TRUE(request->isFinished());
        EXPECT_FALSE(request->isExecuting());
        EXPECT_EQ(request->responseData(), "hello");
        // Cancelling or starting a completed request again changes and reports nothing.
        request->cancel();
        request->startSynchronous();
        settle(50);
        EXPECT_EQ(journal_.size(), 6u);
        EXPECT_FALSE(request->error());
        EXPECT_FALSE(request->isCancelled());
        EXPECT_EQ(hits_, 1);
    }
}

TEST_F(RequestLifecycle, FailuresCarryTheirCodeAndTextAndAreReportedOnce) {
    const quint16 refusedPort = lumaro::test::freeLoopbackPort();
    lumaro::test::ScriptedServer garbage([](lumaro::test::ScriptedConnection& connection) {
        if (connection.readRequest(2000)) connection.send("this is not HTTP\r\n\r\n");
        connection.close();
    });
    const QString connection = "A connection failure occurred";
    const QString badUrl = "Unable to create request (bad url?)";
    const struct {
        QUrl url;
        int code;
        QString description;
    } cases[] = {
        {QUrl(QString::fromStdString(garbage.url())), 1, connection},
        {QUrl(QString("http://127.0.0.1:%1/").arg(refusedPort)), 1, connection},
        {QUrl(), 5, badUrl},
        {QUrl("ftp://127.0.0.1/file"), 5, badUrl},
        {server_.url("/secret"), 3, "Authentication needed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.toString().toStdString());
        journal_.clear();
        auto request = HTTPRequest::requestWithURL(c.url);
        record(request);
        request->startAsynchronous();
        ASSERT_TRUE(waitUntil([&] { return count("queue failed") == 1; }));
        settle(50);
        // Whether it got as far as starting depends on the failure; it fails once either way.
        std::erase_if(journal_, [](const std::string& e) { return e.ends_with("started"); });
        EXPECT_EQ(journal_,
                  (std::vector<std::string>{"delegate failed", "block failed", "queue failed"}));
        const http::ErrorPtr error = request->error();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, "HTTPRequestErrorDomain");
        EXPECT_EQ(error->code, c.code);
        EXPECT_EQ(error->localizedDescription, c.description);
        EXPECT_TRUE(request->isFinished());
        // The stream's own error says what happened underneath.
        if (c.url.port() == refusedPort) {
            ASSERT_TRUE(error->underlyingError);
            EXPECT_NE(error->underlyingError->code, 0);
        }
    }
}

TEST_F(RequestLifecycle, CancellingARunningRequestFailsItOnceWithCode4UnlessSilenced) {
    for (const bool silenced : {false, true}) {
        SCOPED_TRACE(silenced ? "clearDelegatesAndCancel" : "cancel");
        journal_.clear();
        auto request = HTTPRequest::requestWithURL(server_.url("/slow"));
        record(request);
        std::vector<std::string> announced;
        request->addObserver(
            [&](platform::Operation&, std::string_view key, platform::Operation::Change change) {
                if (change == platform::Operation::Change::Did) announced.emplace_back(key);
            });
        request->startAsynchronous();
        ASSERT_TRUE(waitUntil([&] { return request->responseStatusCode() == 200; }));
        settle(50);
        journal_.clear();
        if (silenced) {
            request->clearDelegatesAndCancel();
        } else {
            request->cancel();
            request->cancel();
        }
        ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }));
        settle();
        const std::vector<std::string> failed = {"delegate failed", "block failed", "queue failed"};
        EXPECT_EQ(journal_, silenced ? std::vector<std::string>() : failed);
        EXPECT_EQ(request->error()->code, 4);
        EXPECT_EQ(request->error()->localizedDescription, "The request was cancelled");
        EXPECT_TRUE(request->isCancelled());
        EXPECT_NE(std::find(announced.begin(), announced.end(), "isCancelled"), announced.end());
        EXPECT_EQ(std::count(announced.begin(), announced.end(), "isFinished"), 1);
    }
}

}  // namespace
