// The request queue against a real server: suspension, the limit of four, callbacks and their
// counts, cancelling on failure, HEAD requests for accurate progress, the totals, reset,
// copying and destruction with requests still queued.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <thread>

#include "FormTestSupport.h"
#include "http/FormDataRequest.h"
#include "http/NetworkQueue.h"
#include "servers/FreePort.h"
#include "servers/InProcessHttpServer.h"

using http::HTTPRequest;
using http::HTTPRequestPtr;
using http::NetworkQueue;

namespace {

// Remembers every fraction it was set to.
class Indicator : public http::ProgressDelegate {
public:
    void setProgress(float progress) override { values.push_back(progress); }
    std::vector<float> values;
};

class NetworkQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        formtest::application();
        server_.server().Get(
            R"(/size/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
                log(req.method + " " + req.path);
                res.set_content(std::string(std::stoul(req.matches[1]), 'x'), "text/plain");
            });
        server_.server().Get("/slow", [this](const httplib::Request& req, httplib::Response& res) {
            log(req.method + " " + req.path);
            const int now = ++running_;
            int seen = maxRunning_.load();
            while (now > seen && !maxRunning_.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            --running_;
            res.set_content("slow", "text/plain");
        });
        server_.server().Post("/post", [this](const httplib::Request& req, httplib::Response& res) {
            log(req.method + " " + req.path + " " + std::to_string(req.body.size()));
            res.set_content("ok", "text/plain");
        });
        server_.start();
        queue_ = NetworkQueue::queue();
        recorder_ = std::make_shared<formtest::QueueRecorder>();
        queue_->setDelegate(recorder_);
        recorder_->attach(*queue_);
    }

    HTTPRequestPtr get(const QString& path) {
        auto request = HTTPRequest::requestWithURL(server_.url(path));
        request->setAllowCompressedResponse(false);
        return request;
    }
    HTTPRequestPtr failing() {
        return HTTPRequest::requestWithURL(
            QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(lumaro::test::freeLoopbackPort())));
    }
    std::vector<std::string> log() {
        std::lock_guard lock(mutex_);
        return log_;
    }
    bool queueDone() { return recorder_->count("queue") > 0; }

    InProcessHttpServer server_;
    std::shared_ptr<NetworkQueue> queue_;
    std::shared_ptr<formtest::QueueRecorder> recorder_;
    std::atomic<int> running_{0};
    std::atomic<int> maxRunning_{0};

private:
    void log(const std::string& line) {
        std::lock_guard lock(mutex_);
        log_.push_back(line);
    }
    std::mutex mutex_;
    std::vector<std::string> log_;
};

TEST_F(NetworkQueueTest, NothingRunsBeforeGoAndLaterRequestsRunWithoutIt) {
    EXPECT_TRUE(queue_->isSuspended());
    EXPECT_EQ(queue_->maxConcurrentOperationCount(), 4);
    queue_->addOperation(get("/size/3"));
    formtest::settle(300);
    EXPECT_TRUE(log().empty());
    EXPECT_EQ(queue_->requestsCount(), 1);

    queue_->go();
    ASSERT_TRUE(formtest::waitUntil([&] { return queueDone(); }));
    EXPECT_EQ(recorder_->events, (std::vector<std::string>{"started", "finished", "queue"}));
    EXPECT_EQ(queue_->requestsCount(), 0);

    queue_->addOperation(get("/size/4"));
    ASSERT_TRUE(formtest::waitUntil([&] { return recorder_->count("queue") == 2; }));
    EXPECT_EQ(log().size(), 2u);
    EXPECT_TRUE(recorder_->allOnMainThread);
}

TEST_F(NetworkQueueTest, RunsAtMostFourAtOnce) {
    for (int i = 0; i < 8; ++i) queue_->addOperation(get("/slow"));
    queue_->go();
    ASSERT_TRUE(formtest::waitUntil([&] { return queueDone(); }));
    EXPECT_EQ(recorder_->count("finished"), 8);
    EXPECT_EQ(recorder_->count("queue"), 1);
    EXPECT_EQ(maxRunning_.load(), 4);
}

TEST_F(NetworkQueueTest, FailuresCancelTheRestOrNot) {
    struct Case {
        const char* name;
        bool cancelOnFailure;
        int failing;
        int slow;
        int expectedFailed;
        int expectedFinished;
    };
    const std::vector<Case> cases = {
        {"two failing", true, 2, 0, 2, 0},
        {"one failing cancels three", true, 1, 3, 4, 0},
        {"one failing, the rest run on", false, 1, 3, 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto queue = NetworkQueue::queue();
        auto recorder = std::make_shared<formtest::QueueRecorder>();
        queue->setDelegate(recorder);
        recorder->attach(*queue);
        queue->setShouldCancelAllRequestsOnFailure(c.cancelOnFailure);
        for (int i = 0; i < c.slow; ++i) queue->addOperation(get("/slow"));
        for (int i = 0; i < c.failing; ++i) queue->addOperation(failing());
        queue->go();
        ASSERT_TRUE(formtest::waitUntil([&] { return recorder->count("queue") > 0; }));
        formtest::settle(400);
        EXPECT_EQ(recorder->count("failed"), c.expectedFailed);
        EXPECT_EQ(recorder->count("finished"), c.expectedFinished);
        EXPECT_EQ(recorder->count("queue"), 1);
        EXPECT_EQ(recorder->events.back(), "queue");
        EXPECT_EQ(queue->requestsCount(), 0);
    }
}

TEST_F(NetworkQueueTest, WholeRequestsCountAsOneUnitWithoutAccurateProgress) {
    auto upload = std::make_shared<Indicator>();
    auto download = std::make_shared<Indicator>();
    queue_->setUploadProgressDelegate(upload);
    queue_->setDownloadProgressDelegate(download);
    for (int i = 0; i < 3; ++i) queue_->addOperation(get("/size/100"));
    EXPECT_EQ(queue_->totalBytesToUpload(), 3u);
    EXPECT_EQ(queue_->totalBytesToDownload(), 3u);
    queue_->go();
    ASSERT_TRUE(formtest::waitUntil([&] { return queueDone(); }));
    formtest::settle(100);
    EXPECT_EQ(queue_->bytesDownloadedSoFar(), 3u);
    ASSERT_FALSE(download->values.empty());
    EXPECT_FLOAT_EQ(download->values.front(), 0.0f);
    EXPECT_FLOAT_EQ(download->values.back(), 1.0f);
    EXPECT_EQ(log().size(), 3u);  // no HEAD requests
}

TEST_F(NetworkQueueTest, AccurateProgressSendsHeadFirstForGetsAddedBeforeGo) {
    queue_->setShowAccurateProgress(true);
    auto download = std::make_shared<Indicator>();
    queue_->setDownloadProgressDelegate(download);
    queue_->addOperation(get("/size/1000"));
    queue_->addOperation(get("/size/500"));
    auto post = HTTPRequest::requestWithURL(server_.url("/post"));
    post->setAllowCompressedResponse(false);
    post->appendPostData(QByteArray(1000, 'p'));
    queue_->addOperation(post);
    EXPECT_EQ(queue_->totalBytesToUpload(), 1000u);
    EXPECT_EQ(queue_->requestsCount(), 3);
    EXPECT_EQ(queue_->operationCount(), 5);  // two HEAD requests besides the three

    queue_->go();
    ASSERT_TRUE(formtest::waitUntil([&] { return queueDone(); }));
    formtest::settle(100);
    const auto lines = log();
    auto position = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_LT(position("HEAD /size/1000"), position("GET /size/1000"));
    EXPECT_LT(position("HEAD /size/500"), position("GET /size/500"));
    EXPECT_LT(position("HEAD /size/500"), position("POST /post 1000"));
    // The HEAD requests announce 1000 and 500, the POST its answer of 2.
    EXPECT_EQ(queue_->totalBytesToDownload(), 1502u);
    EXPECT_EQ(queue_->bytesDownloadedSoFar(), 1502u);
    EXPECT_EQ(recorder_->count("finished"), 3);
    EXPECT_EQ(recorder_->count("started"), 3);
    EXPECT_FLOAT_EQ(download->values.back(), 1.0f);

    // Added after go: no HEAD request.
    queue_->addOperation(get("/size/7"));
    ASSERT_TRUE(formtest::waitUntil([&] { return recorder_->count("queue") == 2; }));
    EXPECT_EQ(log().size(), 6u);
    EXPECT_EQ(log().back(), "GET /size/7");
}

TEST_F(NetworkQueueTest, FailingHeadRequestStandsForItsGet) {
    queue_->setShowAccurateProgress(true);
    auto request = failing();
    queue_->addOperation(request);
    queue_->go();
    ASSERT_TRUE(formtest::waitUntil([&] { return queueDone(); }));
    formtest::settle(300);
    EXPECT_EQ(recorder_->events, (std::vector<std::string>{"failed", "queue"}));
    EXPECT_EQ(queue_->requestsCount(), 0);
    ASSERT_NE(request->error(), nullptr);
    EXPECT_EQ(request->error()->code, 1);
}

TEST_F(NetworkQueueTest, CancelAndResetZeroTheCountersButNotTheRequestCount) {
    auto keep = std::make_shared<formtest::QueueRecorder>();
    for (const bool viaReset : {false, true}) {
        SCOPED_TRACE(viaReset ? "reset" : "cancelAllOperations");
        auto queue = NetworkQueue::queue();
        queue->setDelegate(keep);
        keep->attach(*queue);
        queue->setRequestWillRedirectSelector(
            [](http::HTTPRequestDelegate&, const HTTPRequestPtr&, const QUrl&) {});
        queue->setShowAccurateProgress(true);
        auto post = HTTPRequest::requestWithURL(server_.url("/post"));
        post->appendPostData("12345");
        queue->addOperation(post);
        queue->addOperation(get("/size/1"));
        queue->setBytesUploadedSoFar(3);
        queue->setBytesDownloadedSoFar(4);
        queue->setTotalBytesToDownload(9);
        ASSERT_EQ(queue->totalBytesToUpload(), 5u);
        if (viaReset) {
            queue->go();
            queue->reset();
            EXPECT_TRUE(queue->isSuspended());
            EXPECT_EQ(queue->delegate(), nullptr);
            EXPECT_TRUE(queue->hasRequestWillRedirectSelector());
            EXPECT_TRUE(queue->showAccurateProgress());
        } else {
            queue->cancelAllOperations();
        }
        EXPECT_EQ(queue->bytesUploadedSoFar(), 0u);
        EXPECT_EQ(queue->totalBytesToUpload(), 0u);
        EXPECT_EQ(queue->bytesDownloadedSoFar(), 0u);
        EXPECT_EQ(queue->totalBytesToDownload(), 0u);
        EXPECT_EQ(queue->requestsCount(), 2);
        // The cancelled requests fail one by one and bring the count down.
        ASSERT_TRUE(formtest::waitUntil([&] { return queue->requestsCount() == 0; }));
    }
}

TEST_F(NetworkQueueTest, AddingSomethingElseThrowsAndCountsNothing) {
    auto operation = std::make_shared<platform::Operation>();
    try {
        queue_->addOperation(operation);
        FAIL() << "no exception";
    } catch (const http::InvalidRequestException& exception) {
        EXPECT_STREQ(http::InvalidRequestException::name(), "AttemptToAddInvalidRequest");
        EXPECT_STREQ(exception.what(),
                     "Attempted to add an object that was not an HTTPRequest to a NetworkQueue");
    }
    EXPECT_EQ(queue_->requestsCount(), 0);
    EXPECT_EQ(queue_->operationCount(), 0);
}

TEST_F(NetworkQueueTest, RequestThatFailedBeforeItWasAddedEndsTheQueue) {
    QTemporaryDir dir;
    auto form = http::FormDataRequest::requestWithURL(server_.url("/post"));
    form->addFile(dir.filePath("missing.png"), "data");
    queue_->addOperation(form);
    queue_->addOperation(get("/slow"));
    queue_->go();
    ASSERT_TRUE(formtest::waitUntil([&] { return queueDone(); }));
    formtest::settle(400);
    EXPECT_EQ(recorder_->count("failed"), 2);
    EXPECT_EQ(recorder_->count("queue"), 1);
    EXPECT_EQ(queue_->requestsCount(), 0);
}

TEST_F(NetworkQueueTest, CopyIsSuspendedWithSettingsButNoRequests) {
    auto upload = std::make_shared<Indicator>();
    queue_->setUploadProgressDelegate(upload);
    queue_->setShowAccurateProgress(true);
    queue_->setShouldCancelAllRequestsOnFailure(false);
    queue_->setUserInfo({{"job", 7}});
    queue_->addOperation(get("/size/1"));
    queue_->go();
    upload->values.clear();
    auto copy = queue_->copyWithZone();
    EXPECT_TRUE(copy->isSuspended());
    EXPECT_EQ(copy->operationCount(), 0);
    EXPECT_EQ(copy->requestsCount(), 0);
    EXPECT_EQ(copy->delegate(), recorder_);
    EXPECT_EQ(copy->uploadProgressDelegate(), upload);
    EXPECT_TRUE(copy->showAccurateProgress());
    EXPECT_FALSE(copy->shouldCancelAllRequestsOnFailure());
    EXPECT_EQ(copy->userInfo().value("job").toInt(), 7);
    EXPECT_EQ(upload->values, (std::vector<float>{0.0f}));
    copy->addOperation(get("/size/2"));
    copy->go();
    ASSERT_TRUE(formtest::waitUntil([&] { return recorder_->count("queue") == 2; }));
}

TEST_F(NetworkQueueTest, DestroyedQueueIsNotCalledBack) {
    std::vector<HTTPRequestPtr> requests;
    std::atomic<int> ended{0};
    for (int i = 0; i < 6; ++i) {
        auto request = get("/slow");
        request->setCompletionBlock([&ended] { ++ended; });
        requests.push_back(request);
        queue_->addOperation(request);
    }
    queue_->go();
    ASSERT_TRUE(formtest::waitUntil([&] { return recorder_->count("started") == 4; }));
    queue_.reset();
    for (const auto& request : requests) EXPECT_EQ(request->queue(), nullptr);
    // The four running requests end on their own and reach nothing of the queue.
    ASSERT_TRUE(formtest::waitUntil([&] { return ended == 4; }));
    formtest::settle(400);
    EXPECT_EQ(recorder_->count("finished"), 0);
    EXPECT_EQ(recorder_->count("queue"), 0);
}

TEST_F(NetworkQueueTest, DelegateMayDropTheQueueWhenItFinishes) {
    class Dropper : public http::NetworkQueueDelegate {
    public:
        std::shared_ptr<NetworkQueue>* holder = nullptr;
        int finished = 0;
        void requestFailed(const HTTPRequestPtr&) override {
            ++finished;
            holder->reset();
        }
    };
    auto dropper = std::make_shared<Dropper>();
    dropper->holder = &queue_;
    queue_->setDelegate(dropper);
    queue_->setRequestDidFailSelector(&http::HTTPRequestDelegate::requestFailed);
    queue_->addOperation(failing());
    queue_->addOperation(get("/slow"));
    queue_->go();
    ASSERT_TRUE(formtest::waitUntil([&] { return dropper->finished == 1; }));
    formtest::settle(500);
    EXPECT_EQ(queue_, nullptr);
    EXPECT_EQ(dropper->finished, 1);
}

}  // namespace
