// The request queue against a real server: suspension, the limit of four, callbacks and their
// counts, cancelling on failure, HEAD requests for accurate progress, the totals, reset
// and destruction with requests still queued.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "RequestTestSupport.h"
#include "http/FormDataRequest.h"
#include "http/NetworkQueue.h"
#include "servers/FreePort.h"
#include "servers/InProcessHttpServer.h"

using http::HTTPRequest;
using http::HTTPRequestPtr;
using http::NetworkQueue;
using testsupport::settle;
using testsupport::waitUntil;

namespace {

// Records the queue callbacks in order, by name.
class QueueRecorder : public http::NetworkQueueDelegate {
public:
    void requestStarted(const HTTPRequestPtr&) override { note("started"); }
    void requestFinished(const HTTPRequestPtr&) override { note("finished"); }
    void requestFailed(const HTTPRequestPtr&) override { note("failed"); }
    void queueFinished(NetworkQueue&) override { note("queue"); }

    void attach(NetworkQueue& queue) {
        queue.setRequestDidStartSelector(&http::HTTPRequestDelegate::requestStarted);
        queue.setRequestDidFinishSelector(&http::HTTPRequestDelegate::requestFinished);
        queue.setRequestDidFailSelector(&http::HTTPRequestDelegate::requestFailed);
        queue.setQueueDidFinishSelector(&http::NetworkQueueDelegate::queueFinished);
    }
    int count(const std::string& event) const {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }

    std::vector<std::string> events;
    bool allOnMainThread = true;

private:
    void note(const std::string& event) {
        events.push_back(event);
        allOnMainThread = allOnMainThread && platform::isMainThread();
    }
};

class Indicator : public http::ProgressDelegate {
public:
    void setProgress(float progress) override { values.push_back(progress); }
    std::vector<float> values;
};

class NetworkQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::application();
        const auto handler = [this](const httplib::Request& req, httplib::Response& res) {
            const bool slow = req.path == "/slow";
            {
                std::lock_guard lock(mutex_);
                log_.push_back(req.method + " " + req.path);
                maxRunning_ = std::max(maxRunning_, running_ += slow);
            }
            if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(300));
            res.set_content(std::string(slow ? 4 : std::stoul(req.matches[1]), 'x'), "text/plain");
            std::lock_guard lock(mutex_);
            running_ -= slow;
        };
        server_.server().Get(R"(/size/(\d+))", handler);
        server_.server().Get("/slow", handler);
        server_.server().Post(R"(/(\d+))", handler);  // answers as many bytes as its path says
        server_.start();
        queue_ = freshQueue(recorder_);
    }

    static std::shared_ptr<NetworkQueue> freshQueue(
        const std::shared_ptr<QueueRecorder>& recorder) {
        auto queue = NetworkQueue::queue();
        queue->setDelegate(recorder);
        recorder->attach(*queue);
        return queue;
    }
    HTTPRequestPtr get(const QString& path) {
        auto request = HTTPRequest::requestWithURL(server_.url(path));
        request->setAllowCompressedResponse(false);
        return request;
    }
    HTTPRequestPtr post(qsizetype length) {
        auto request = get("/2");
        request->appendPostData(QByteArray(length, 'p'));
        return request;
    }
    static HTTPRequestPtr failing() {
        return HTTPRequest::requestWithURL(
            QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(lumaro::test::freeLoopbackPort())));
    }
    std::vector<std::string> log() {
        std::lock_guard lock(mutex_);
        return log_;
    }

    InProcessHttpServer server_;
    std::shared_ptr<QueueRecorder> recorder_ = std::make_shared<QueueRecorder>();
    std::shared_ptr<NetworkQueue> queue_;
    int running_ = 0, maxRunning_ = 0;  // of the slow requests, under mutex_
    std::mutex mutex_;
    std::vector<std::string> log_;
};

TEST_F(NetworkQueueTest, WaitsForGoAndCountsBytesOnlyWithAccurateProgress) {
    EXPECT_THROW(queue_->addOperation(std::make_shared<platform::Operation>()),
                 http::InvalidRequestException);
    EXPECT_EQ(queue_->operationCount(), 0);
    // Without accurate progress each request counts as one unit each way; with it, the GETs
    // added before go are measured by HEAD requests (1000 and 500), the POST by its answer (2).
    // clang-format off
    const struct { bool accurate; quint64 upload; int operations; quint64 download; } cases[] = {
        {false, 3, 3, 3}, {true, 1000, 5, 1502}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.accurate);
        auto recorder = std::make_shared<QueueRecorder>();
        auto queue = freshQueue(recorder);
        queue->setShowAccurateProgress(c.accurate);
        queue->setMaxConcurrentOperationCount(1);  // the server then sees the order they start in
        auto download = std::make_shared<Indicator>();
        queue->setDownloadProgressDelegate(download);
        queue->addOperation(get("/size/1000"));
        queue->addOperation(get("/size/500"));
        queue->addOperation(post(1000));
        EXPECT_EQ(queue->totalBytesToUpload(), c.upload);
        EXPECT_EQ(queue->operationCount(), c.operations);
        settle(200);
        EXPECT_TRUE(log().empty());
        queue->go();
        ASSERT_TRUE(waitUntil([&] { return recorder->count("queue") == 1; }, 10000));
        settle(100);
        EXPECT_EQ(recorder->count("started"), 3);
        EXPECT_EQ(recorder->count("finished"), 3);
        EXPECT_TRUE(recorder->allOnMainThread);
        EXPECT_EQ(queue->totalBytesToDownload(), c.download);
        EXPECT_EQ(queue->bytesDownloadedSoFar(), c.download);
        ASSERT_FALSE(download->values.empty());
        EXPECT_FLOAT_EQ(download->values.front(), 0.0f);
        EXPECT_FLOAT_EQ(download->values.back(), 1.0f);
        const auto lines = log();
        ASSERT_EQ(lines.size(), static_cast<size_t>(c.operations));
        if (c.accurate) {
            const auto at = [&](const std::string& line) {
                return std::find(lines.begin(), lines.end(), line) - lines.begin();
            };
            EXPECT_LT(at("HEAD /size/1000"), at("GET /size/1000"));
            EXPECT_LT(at("HEAD /size/500"), at("GET /size/500"));
            EXPECT_LT(at("HEAD /size/500"), at("POST /2"));
        }
        // Added after go: no HEAD request.
        queue->addOperation(get("/size/7"));
        ASSERT_TRUE(waitUntil([&] { return recorder->count("queue") == 2; }, 10000));
        EXPECT_EQ(log().size(), lines.size() + 1);
        std::lock_guard lock(mutex_);
        log_.clear();
    }
}

TEST_F(NetworkQueueTest, FailuresCancelTheRestOrNot) {
    const struct {
        const char* name;
        bool cancelOnFailure, accurateProgress;
        int failing, slow, failed, finished;
    } cases[] = {
        {"two failing", true, false, 2, 0, 2, 0},
        {"one failing cancels three", true, false, 1, 3, 4, 0},
        {"one failing, the rest run on", false, false, 1, 3, 1, 3},
        {"a failing HEAD request stands for its GET", true, true, 1, 0, 1, 0},
        {"a form that failed before it was added", true, false, 0, 1, 2, 0},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto recorder = std::make_shared<QueueRecorder>();
        auto queue = freshQueue(recorder);
        queue->setShouldCancelAllRequestsOnFailure(c.cancelOnFailure);
        queue->setShowAccurateProgress(c.accurateProgress);
        for (int i = 0; i < c.slow; ++i) queue->addOperation(get("/slow"));
        for (int i = 0; i < c.failing; ++i) queue->addOperation(failing());
        if (c.failing == 0) {
            auto form = http::FormDataRequest::requestWithURL(server_.url("/2"));
            form->addFile(dir.filePath("missing.png"), "data");
            queue->addOperation(form);
        }
        queue->go();
        ASSERT_TRUE(waitUntil([&] { return recorder->count("queue") > 0; }, 10000));
        settle(400);
        EXPECT_EQ(recorder->count("failed"), c.failed);
        EXPECT_EQ(recorder->count("finished"), c.finished);
        EXPECT_EQ(recorder->count("queue"), 1);
        EXPECT_EQ(recorder->events.back(), "queue");
        EXPECT_EQ(queue->requestsCount(), 0);
    }
}

TEST_F(NetworkQueueTest, CancelAndResetZeroTheCountersButNotTheRequestCount) {
    for (const bool viaReset : {false, true}) {
        SCOPED_TRACE(viaReset ? "reset" : "cancelAllOperations");
        auto queue = freshQueue(recorder_);
        queue->setShowAccurateProgress(true);
        queue->addOperation(post(5));
        queue->addOperation(get("/size/1"));
        queue->setBytesUploadedSoFar(3);
        queue->setBytesDownloadedSoFar(4);
        ASSERT_EQ(queue->totalBytesToUpload(), 5u);
        if (viaReset) {
            queue->go();
            queue->reset();
            EXPECT_TRUE(queue->isSuspended());
            EXPECT_EQ(queue->delegate(), nullptr);
            EXPECT_TRUE(queue->showAccurateProgress());
        } else {
            queue->cancelAllOperations();
        }
        EXPECT_EQ(queue->bytesUploadedSoFar() + queue->totalBytesToUpload(), 0u);
        EXPECT_EQ(queue->bytesDownloadedSoFar() + queue->totalBytesToDownload(), 0u);
        EXPECT_EQ(queue->requestsCount(), 2);
        // The cancelled requests fail one by one and bring the count down.
        ASSERT_TRUE(waitUntil([&] { return queue->requestsCount() == 0; }, 10000));
        // Requests cancelled before the queue went never reach the network.
        EXPECT_TRUE(viaReset || (log().empty() && recorder_->count("started") == 0));
    }
}

TEST_F(NetworkQueueTest, RunsAtMostFourAtOnceAndADestroyedQueueIsNotCalledBack) {
    std::vector<HTTPRequestPtr> requests;
    std::atomic<int> ended{0};
    for (int i = 0; i < 6; ++i) {
        requests.push_back(get("/slow"));
        requests.back()->setCompletionBlock([&ended] { ++ended; });
        queue_->addOperation(requests.back());
    }
    queue_->go();
    ASSERT_TRUE(waitUntil([&] { return recorder_->count("started") == 4; }, 10000));
    queue_.reset();
    for (const auto& request : requests) EXPECT_EQ(request->queue(), nullptr);
    // The four running requests end on their own and reach nothing of the queue.
    ASSERT_TRUE(waitUntil([&] { return ended == 4; }, 10000));
    settle(400);
    std::lock_guard lock(mutex_);
    EXPECT_EQ(maxRunning_, 4);
    EXPECT_EQ(recorder_->count("finished") + recorder_->count("queue"), 0);
}

TEST_F(NetworkQueueTest, DelegateMayDropTheQueueWhenItFails) {
    struct Dropper : http::NetworkQueueDelegate {
        std::shared_ptr<NetworkQueue>* holder = nullptr;
        int failed = 0;
        void requestFailed(const HTTPRequestPtr&) override {
            ++failed;
            holder->reset();
        }
    };
    auto dropper = std::make_shared<Dropper>();
    dropper->holder = &queue_;
    queue_->setDelegate(dropper);
    queue_->addOperation(failing());
    queue_->addOperation(get("/slow"));
    queue_->go();
    ASSERT_TRUE(waitUntil([&] { return dropper->failed == 1; }, 10000));
    settle(500);
    EXPECT_EQ(queue_, nullptr);
    EXPECT_EQ(dropper->failed, 1);
}

}  // namespace
