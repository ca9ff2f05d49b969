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

// Everything a progress receiver or a queue is told, in order. One override serves both
// bases, whose progress calls have the same signatures.
struct ProgressLog : http::ProgressDelegate, http::HTTPRequestQueue {
    std::vector<qint64> sent, received, uploadSizes, downloadSizes;
    std::vector<float> fractions;
    bool allOnMainThread = true;
    int finished = 0;

    void setProgress(float fraction) override { fractions.push_back(fraction); }
    void requestDidSendBytes(const HTTPRequestPtr&, qint64 n) override { note(sent, n); }
    void requestDidReceiveBytes(const HTTPRequestPtr&, qint64 n) override { note(received, n); }
    void requestIncrementUploadSizeBy(const HTTPRequestPtr&, qint64 n) override {
        note(uploadSizes, n);
    }
    void requestIncrementDownloadSizeBy(const HTTPRequestPtr&, qint64 n) override {
        note(downloadSizes, n);
    }
    void requestFinished(const HTTPRequestPtr&) override { ++finished; }

    void note(std::vector<qint64>& values, qint64 n) {
        allOnMainThread = allOnMainThread && platform::isMainThread();
        values.push_back(n);
    }
    static qint64 sum(const std::vector<qint64>& values) {
        return std::accumulate(values.begin(), values.end(), qint64{0});
    }
};

class Progress : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        server_.server().Get("/bytes", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(300000, 'b'), "application/octet-stream");
        });
        server_.server().Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](size_t offset, auto& sink) {
                offset >= 3000 ? sink.done()
                               : void(sink.write(std::string(1000, 'c').data(), 1000));
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
        request->setDownloadSizeIncrementedBlock(
            [this](qint64 size) { blockDownloadSizes_ += size; });
        request->startAsynchronous();
        ASSERT_TRUE(waitUntil([&] { return queue_->finished == 1; }, 20000));
        settle();
    }

    TempHome home_;
    InProcessHttpServer server_;
    std::shared_ptr<ProgressLog> upload_ = std::make_shared<ProgressLog>();
    std::shared_ptr<ProgressLog> download_ = std::make_shared<ProgressLog>();
    std::shared_ptr<ProgressLog> queue_ = std::make_shared<ProgressLog>();
    std::vector<qint64> blockSent_, blockReceived_;
    quint64 blockUploadTotal_ = 0, blockDownloadTotal_ = 0;
    qint64 blockDownloadSizes_ = 0;
};

TEST_F(Progress, ADownloadOfKnownLengthReportsDeltasThatAddUpToItsSize) {
    runRecorded(HTTPRequest::requestWithURL(server_.url("/bytes")));
    for (const ProgressLog* log : {download_.get(), queue_.get()}) {
        EXPECT_EQ(ProgressLog::sum(log->received), 300000);
        EXPECT_EQ(ProgressLog::sum(log->downloadSizes), 300000);
        EXPECT_TRUE(log->sent.empty());
    }
    EXPECT_EQ(ProgressLog::sum(blockReceived_), 300000);
    EXPECT_EQ(blockDownloadTotal_, 300000u);
    EXPECT_EQ(blockDownloadSizes_, 300000);
    ASSERT_FALSE(download_->fractions.empty());
    EXPECT_EQ(download_->fractions.front(), 0.0f);
    EXPECT_EQ(download_->fractions.back(), 1.0f);
    EXPECT_TRUE(download_->allOnMainThread);
}

TEST_F(Progress, AnAnswerOfUnknownLengthCountsAsOneUnit) {
    auto unknown = HTTPRequest::requestWithURL(server_.url("/chunked"));
    unknown->setAllowCompressedResponse(false);
    runRecorded(unknown);
    EXPECT_EQ(download_->received, std::vector<qint64>{1});
    EXPECT_EQ(download_->downloadSizes, std::vector<qint64>{1});
    EXPECT_EQ(download_->fractions.back(), 1.0f);
    EXPECT_EQ(blockDownloadTotal_, 3000u);
}

TEST_F(Progress, AnUploadReportsEveryByteOnceLessWhatThePlatformBufferedAtOnce) {
    // A server that lets the body wait at first: the platform takes what fits into its
    // buffers at once, and the status check sees the upload short of its end.
    const qint64 length = 32 * 1024 * 1024;
    ScriptedServer drain([](ScriptedConnection& c) {
        std::this_thread::sleep_for(600ms);
        if (c.readRequest(10000)) c.send(scripted::answer("ok"));
    });
    auto request = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(drain.url("/upload"))));
    request->appendPostData(QByteArray(length, 'u'));
    runRecorded(request);
    ASSERT_FALSE(request->error());
    const qint64 buffered = static_cast<qint64>(request->uploadBufferSize());
    EXPECT_GT(buffered, 0);
    for (const ProgressLog* log : {upload_.get(), queue_.get()}) {
        EXPECT_EQ(ProgressLog::sum(log->sent), length - buffered);
        EXPECT_EQ(ProgressLog::sum(log->uploadSizes), length - buffered);
        EXPECT_TRUE(
            std::all_of(log->sent.begin(), log->sent.end(), [](qint64 d) { return d > 0; }));
    }
    EXPECT_EQ(upload_->fractions.back(), 1.0f);
    EXPECT_EQ(blockUploadTotal_, quint64(length));
}

TEST_F(Progress, ASecondAttemptTakesBackWhatTheFirstReportedAsSent) {
    auto request = HTTPRequest::requestWithURL(server_.url("/again"));
    request->appendPostData(QByteArray(10000, 'p'));
    runRecorded(request);
    ASSERT_FALSE(request->error());
    EXPECT_EQ(request->responseData(), "10000");
    for (const auto* sent : {&upload_->sent, &queue_->sent, &blockSent_})
        EXPECT_EQ(*sent, (std::vector<qint64>{10000, -10000, 10000}));
    // The indicator goes back to the start before the second attempt runs.
    const auto& fractions = upload_->fractions;
    ASSERT_GE(fractions.size(), 4u);
    EXPECT_EQ(fractions.back(), 1.0f);
    EXPECT_NE(std::find(fractions.begin(), fractions.end() - 1, 0.0f), fractions.end() - 1);
}

}  // namespace
