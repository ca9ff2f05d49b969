#include <gtest/gtest.h>

#include <numeric>

#include "RequestTestSupport.h"
#include "ScriptedAnswers.h"
#include "servers/InProcessHttpServer.h"
#include "servers/ScriptedServer.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;
using lumaro::test::ScriptedConnection;
using lumaro::test::ScriptedServer;
using namespace testsupport;
using namespace std::chrono_literals;

// Everything a progress receiver is told, in order.
struct ProgressLog {
    std::vector<qint64> sent, received, uploadSizes, downloadSizes;
    std::vector<float> fractions;
    bool allOnMainThread = true;

    void note() { allOnMainThread = allOnMainThread && platform::isMainThread(); }
    static qint64 sum(const std::vector<qint64>& values) {
        return std::accumulate(values.begin(), values.end(), qint64{0});
    }
};

class RecordingProgress : public http::ProgressDelegate {
public:
    void setProgress(float fraction) override {
        log.note();
        log.fractions.push_back(fraction);
    }
    void requestDidSendBytes(const HTTPRequestPtr&, qint64 bytes) override {
        log.note();
        log.sent.push_back(bytes);
    }
    void requestDidReceiveBytes(const HTTPRequestPtr&, qint64 bytes) override {
        log.note();
        log.received.push_back(bytes);
    }
    void requestIncrementUploadSizeBy(const HTTPRequestPtr&, qint64 size) override {
        log.note();
        log.uploadSizes.push_back(size);
    }
    void requestIncrementDownloadSizeBy(const HTTPRequestPtr&, qint64 size) override {
        log.note();
        log.downloadSizes.push_back(size);
    }
    ProgressLog log;
};

// A receiver that only takes fractions, as a bare progress bar does.
class Indicator : public http::ProgressDelegate {
public:
    bool answers(http::ProgressOperation operation) const override {
        return operation == http::ProgressOperation::SetProgress;
    }
    void setProgress(float fraction) override { fractions.push_back(fraction); }
    void requestDidReceiveBytes(const HTTPRequestPtr&, qint64) override { ++unasked; }
    std::vector<float> fractions;
    int unasked = 0;
};

class RecordingProgressQueue : public http::HTTPRequestQueue {
public:
    void requestDidSendBytes(const HTTPRequestPtr&, qint64 bytes) override {
        log.sent.push_back(bytes);
    }
    void requestDidReceiveBytes(const HTTPRequestPtr&, qint64 bytes) override {
        log.received.push_back(bytes);
    }
    void requestIncrementUploadSizeBy(const HTTPRequestPtr&, qint64 size) override {
        log.uploadSizes.push_back(size);
    }
    void requestIncrementDownloadSizeBy(const HTTPRequestPtr& request, qint64 size) override {
        log.downloadSizes.push_back(size);
        sizeTargets.push_back(request);
    }
    void requestFinished(const HTTPRequestPtr&) override { ++finished; }
    ProgressLog log;
    std::vector<HTTPRequestPtr> sizeTargets;
    int finished = 0;
};

class Progress : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        server_.server().Get("/bytes", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(300000, 'b'), "application/octet-stream");
        });
        server_.server().Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "text/plain", [](size_t offset, httplib::DataSink& sink) {
                    if (offset >= 3000) {
                        sink.done();
                    } else {
                        sink.write(std::string(1000, 'c').data(), 1000);
                    }
                    return true;
                });
        });
        server_.server().Post("/upload", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(std::to_string(req.body.size()), "text/plain");
        });
        server_.server().Post("/again", [](const httplib::Request&, httplib::Response& res) {
            res.status = 307;
            res.set_header("Location", "/upload");
        });
        server_.start();
    }

    // Runs request asynchronously with recording receivers and blocks; answers when it ended.
    void runRecorded(const HTTPRequestPtr& request) {
        request->setUploadProgressDelegate(upload_);
        request->setDownloadProgressDelegate(download_);
        request->setQueue(queue_);
        request->setBytesSentBlock([this](qint64 bytes, quint64 total) {
            blockSent_.push_back(bytes);
            blockUploadTotal_ = total;
        });
        request->setBytesReceivedBlock([this](qint64 bytes, quint64 total) {
            blockReceived_.push_back(bytes);
            blockDownloadTotal_ = total;
        });
        request->setUploadSizeIncrementedBlock([this](qint64 size) { blockUploadSizes_ += size; });
        request->setDownloadSizeIncrementedBlock(
            [this](qint64 size) { blockDownloadSizes_ += size; });
        request->startAsynchronous();
        ASSERT_TRUE(waitUntil([&] { return queue_->finished == 1; }, 20000));
        settle();
    }

    TempHome home_;
    InProcessHttpServer server_;
    std::shared_ptr<RecordingProgress> upload_ = std::make_shared<RecordingProgress>();
    std::shared_ptr<RecordingProgress> download_ = std::make_shared<RecordingProgress>();
    std::shared_ptr<RecordingProgressQueue> queue_ = std::make_shared<RecordingProgressQueue>();
    std::vector<qint64> blockSent_, blockReceived_;
    quint64 blockUploadTotal_ = 0, blockDownloadTotal_ = 0;
    qint64 blockUploadSizes_ = 0, blockDownloadSizes_ = 0;
};

TEST_F(Progress, ADownloadOfKnownLengthReportsDeltasThatAddUpToItsSize) {
    runRecorded(HTTPRequest::requestWithURL(server_.url("/bytes")));
    for (const ProgressLog* log : {&download_->log, &queue_->log}) {
        EXPECT_EQ(ProgressLog::sum(log->received), 300000);
        EXPECT_EQ(ProgressLog::sum(log->downloadSizes), 300000);
        EXPECT_TRUE(log->sent.empty());
    }
    EXPECT_EQ(ProgressLog::sum(blockReceived_), 300000);
    EXPECT_EQ(blockDownloadTotal_, 300000u);
    EXPECT_EQ(blockDownloadSizes_, 300000);
    ASSERT_FALSE(download_->log.fractions.empty());
    EXPECT_EQ(download_->log.fractions.front(), 0.0f);
    EXPECT_EQ(download_->log.fractions.back(), 1.0f);
    EXPECT_TRUE(download_->log.allOnMainThread);
}

TEST_F(Progress, ADownloadOfUnknownLengthCountsAsOneUnitReportedAtTheEnd) {
    auto request = HTTPRequest::requestWithURL(server_.url("/chunked"));
    request->setAllowCompressedResponse(false);
    runRecorded(request);
    EXPECT_EQ(download_->log.received, std::vector<qint64>{1});
    EXPECT_EQ(download_->log.downloadSizes, std::vector<qint64>{1});
    EXPECT_EQ(download_->log.fractions.back(), 1.0f);
    EXPECT_EQ(blockDownloadTotal_, 3000u);
}

TEST_F(Progress, WithoutAccurateProgressEachDirectionIsOneUnit) {
    auto request = HTTPRequest::requestWithURL(server_.url("/upload"));
    request->appendPostData(QByteArray(5000, 'u'));
    request->setShowAccurateProgress(false);
    runRecorded(request);
    EXPECT_EQ(upload_->log.sent, std::vector<qint64>{1});
    EXPECT_EQ(upload_->log.uploadSizes, std::vector<qint64>{1});
    EXPECT_EQ(download_->log.received, std::vector<qint64>{1});
    EXPECT_EQ(queue_->log.sent, std::vector<qint64>{1});
    EXPECT_EQ(queue_->log.received, std::vector<qint64>{1});
    EXPECT_EQ(request->responseData(), "5000");
}

TEST_F(Progress, AnUploadReportsEveryByteOnceLessWhatThePlatformBufferedAtOnce) {
    // A server that lets the body wait at first: the platform takes what fits into its
    // buffers at once, and the status check sees the upload short of its end.
    const std::size_t length = 32 * 1024 * 1024;
    ScriptedServer drain([](ScriptedConnection& c) {
        std::this_thread::sleep_for(600ms);
        if (c.readRequest(10000)) c.send(scripted::answer("ok"));
    });
    auto request = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(drain.url("/upload"))));
    request->appendPostData(QByteArray(static_cast<qsizetype>(length), 'u'));
    runRecorded(request);
    ASSERT_FALSE(request->error());
    const qint64 buffered = static_cast<qint64>(request->uploadBufferSize());
    for (const ProgressLog* log : {&upload_->log, &queue_->log}) {
        EXPECT_EQ(ProgressLog::sum(log->sent), static_cast<qint64>(length) - buffered);
        EXPECT_EQ(ProgressLog::sum(log->uploadSizes), static_cast<qint64>(length) - buffered);
        EXPECT_TRUE(
            std::all_of(log->sent.begin(), log->sent.end(), [](qint64 d) { return d > 0; }));
    }
    EXPECT_GT(buffered, 0);
    EXPECT_EQ(upload_->log.fractions.back(), 1.0f);
    EXPECT_EQ(blockUploadTotal_, length);
}

TEST_F(Progress, ASecondAttemptTakesBackWhatTheFirstReportedAsSent) {
    auto request = HTTPRequest::requestWithURL(server_.url("/again"));
    request->appendPostData(QByteArray(10000, 'p'));
    runRecorded(request);
    ASSERT_FALSE(request->error());
    EXPECT_EQ(request->responseData(), "10000");
    EXPECT_EQ(upload_->log.sent, (std::vector<qint64>{10000, -10000, 10000}));
    EXPECT_EQ(queue_->log.sent, (std::vector<qint64>{10000, -10000, 10000}));
    EXPECT_EQ(blockSent_, (std::vector<qint64>{10000, -10000, 10000}));
    // The indicator goes back to the start before the second attempt runs.
    const auto& fractions = upload_->log.fractions;
    ASSERT_GE(fractions.size(), 4u);
    EXPECT_EQ(fractions.back(), 1.0f);
    EXPECT_NE(std::find(fractions.begin(), fractions.end() - 1, 0.0f), fractions.end() - 1);
}

TEST_F(Progress, AReceiverClearedBeforeItsReportArrivesGetsNothing) {
    auto request = HTTPRequest::requestWithURL(server_.url("/bytes"));
    request->setDownloadProgressDelegate(download_);
    auto indicator = std::make_shared<Indicator>();
    request->setUploadProgressDelegate(indicator);
    request->startAsynchronous();
    // The GUI thread does not run while the request completes: its reports wait.
    QElapsedTimer clock;
    clock.start();
    while (!request->isFinished() && clock.elapsed() < 5000) std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(request->isFinished());
    request->setDownloadProgressDelegate({});
    settle();
    EXPECT_TRUE(download_->log.received.empty());
    EXPECT_TRUE(download_->log.fractions.empty());
    // An indicator answers fractions only.
    EXPECT_FALSE(indicator->fractions.empty());
    EXPECT_EQ(indicator->unasked, 0);
}

TEST_F(Progress, CopiesKeepTheProgressReceiversAndClearingDelegatesDropsThem) {
    auto request = HTTPRequest::requestWithURL(server_.url("/bytes"));
    request->setUploadProgressDelegate(upload_);
    request->setDownloadProgressDelegate(download_);
    auto copy = request->copyWithZone();
    EXPECT_EQ(copy->uploadProgressDelegate(), upload_);
    EXPECT_EQ(copy->downloadProgressDelegate(), download_);
    copy->clearDelegatesAndCancel();
    EXPECT_FALSE(copy->uploadProgressDelegate());
    EXPECT_FALSE(copy->downloadProgressDelegate());
}

TEST_F(Progress, AHeadRequestReportsItsSizeThroughItsMainRequest) {
    auto main = HTTPRequest::requestWithURL(server_.url("/bytes"));
    main->setQueue(queue_);
    main->setDownloadProgressDelegate(download_);
    auto head = main->HEADRequest();
    head->setQueue(queue_);
    head->startSynchronous();
    settle();
    EXPECT_FALSE(head->error());
    EXPECT_EQ(main->contentLength(), 300000u);
    EXPECT_EQ(queue_->log.downloadSizes, std::vector<qint64>{300000});
    ASSERT_EQ(queue_->sizeTargets.size(), 1u);
    EXPECT_EQ(queue_->sizeTargets[0], main);
    EXPECT_TRUE(queue_->log.received.empty());
    EXPECT_EQ(queue_->finished, 0);
}

}  // namespace
