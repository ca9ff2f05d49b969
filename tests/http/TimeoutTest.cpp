#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <mutex>
#include <random>

#include "RequestTestSupport.h"
#include "ScriptedAnswers.h"
#include "http/DataCompressor.h"
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

// Reads one request and then says nothing until the client gives up.
void silent(ScriptedConnection& connection) {
    connection.readRequest();
    connection.waitForPeerClose(10000);
}

class TimeOuts : public ::testing::Test {
protected:
    void SetUp() override { application(); }

    TempHome home_;
    QTemporaryDir files_;
};

TEST_F(TimeOuts, ASilentServerFailsARequestAfterItsTimeAndAnUnconfirmedBodyHalfAsLongAgain) {
    ScriptedServer server(silent);
    auto get = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(server.url("/get"))));
    auto post = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(server.url("/post"))));
    post->appendPostData(QByteArray(100, 'x'));
    QElapsedTimer clock;
    qint64 getFailedAt = -1;
    qint64 postFailedAt = -1;
    for (const auto& request : {get, post}) request->setTimeOutSeconds(1.0);
    get->setFailedBlock([&] { getFailedAt = clock.elapsed(); });
    post->setFailedBlock([&] { postFailedAt = clock.elapsed(); });
    clock.start();
    get->startAsynchronous();
    post->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return getFailedAt >= 0 && postFailedAt >= 0; }, 10000));

    for (const auto& request : {get, post}) {
        ASSERT_TRUE(request->error());
        EXPECT_EQ(request->error()->code, 2);
        EXPECT_EQ(request->error()->localizedDescription, "The request timed out");
        EXPECT_TRUE(request->isFinished());
    }
    EXPECT_GE(getFailedAt, 1000);
    EXPECT_GE(postFailedAt, 1500);
    EXPECT_LT(getFailedAt, postFailedAt);
}

TEST_F(TimeOuts, RetriesMakeNewAttemptsOnNewConnectionsAndThenFailOnce) {
    ScriptedServer server(silent);
    auto delegate = std::make_shared<RecordingDelegate>();
    auto request = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(server.url("/"))));
    request->setDelegate(delegate);
    request->setTimeOutSeconds(0.3);
    request->setNumberOfTimesToRetryOnTimeout(2);
    request->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return delegate->ended(); }, 10000));
    settle();
    EXPECT_EQ(request->error()->code, 2);
    EXPECT_EQ(request->retryCount(), 2);
    EXPECT_EQ(server.connectionCount(), 3);
    EXPECT_EQ(delegate->count("started"), 3);
    EXPECT_EQ(delegate->count("failed"), 1);
}

// First connection: the head and the first 40 % of the body, then silence. Second
// connection: what the request asks for, from where it asks, unless the server is one that
// ignores ranges and always sends the whole body.
class BrokenDownload {
public:
    explicit BrokenDownload(std::string body = scripted::pattern(1000),
                            std::string extraHeaders = {}, bool honoursRanges = true)
        : body_(std::move(body)),
          cut_(body_.size() * 2 / 5),
          server_([this, extraHeaders, honoursRanges](ScriptedConnection& connection) {
              const auto request = connection.readRequest();
              if (!request) return;
              if (connection.index() == 0) {
                  connection.send("HTTP/1.1 200 OK\r\nContent-Length: " +
                                  std::to_string(body_.size()) + "\r\n" + extraHeaders + "\r\n");
                  connection.send(body_.substr(0, cut_));
                  connection.waitForPeerClose(10000);
                  return;
              }
              const std::string range = request->header("Range");
              {
                  std::lock_guard lock(mutex_);
                  range_ = range;
              }
              if (honoursRanges && range == "bytes=" + std::to_string(cut_) + "-") {
                  const std::string contentRange = "Content-Range: bytes " + std::to_string(cut_) +
                                                   "-" + std::to_string(body_.size() - 1) + "/" +
                                                   std::to_string(body_.size()) + "\r\n";
                  connection.send(scripted::answer(body_.substr(cut_), extraHeaders + contentRange,
                                                   "206 Partial Content"));
              } else {
                  connection.send(scripted::answer(body_, extraHeaders));
              }
          }) {}

    QUrl url() const { return QUrl(QString::fromStdString(server_.url("/file"))); }
    std::string rangeOfTheRest() const { return "bytes=" + std::to_string(cut_) + "-"; }
    std::string range() const {
        std::lock_guard lock(mutex_);
        return range_;
    }

private:
    const std::string body_;
    const std::size_t cut_;
    mutable std::mutex mutex_;
    std::string range_ = "<none>";
    ScriptedServer server_;
};

TEST_F(TimeOuts, ADownloadRetriedAfterATimeOutIsWholeResumedOrStartedAgain) {
    // Random bytes barely compress, so the cut falls well inside the compressed stream.
    std::mt19937 random(7);
    QByteArray plain(60000, Qt::Uninitialized);
    for (char& byte : plain) byte = static_cast<char>(random() % 256);
    const QByteArray gzipped = http::DataCompressor::compressData(plain, nullptr);
    const std::string text = scripted::pattern(1000);
    const struct {
        const char* name;
        std::string body;
        std::string headers;
        bool honoursRanges;
        bool resume;
        bool asksForTheRest;
    } cases[] = {
        {"resumed", text, "", true, true, true},
        {"not resumable", text, "", true, false, false},
        {"gzip inflated on the fly, resumed", gzipped.toStdString(), "Content-Encoding: gzip\r\n",
         true, true, true},
        {"gzip inflated on the fly, range ignored", gzipped.toStdString(),
         "Content-Encoding: gzip\r\n", false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BrokenDownload server(c.body, c.headers, c.honoursRanges);
        auto request = HTTPRequest::requestWithURL(server.url());
        const QString destination = files_.filePath(c.name);
        request->setDownloadDestinationPath(destination);
        // Kept out of the shared temporary folder, which other tests watch.
        request->setTemporaryFileDownloadPath(destination + ".part");
        request->setAllowResumeForFileDownloads(c.resume);
        request->setShouldWaitToInflateCompressedResponses(false);
        request->setTimeOutSeconds(0.4);
        request->setNumberOfTimesToRetryOnTimeout(1);
        request->startSynchronous();
        ASSERT_FALSE(request->error()) << request->error()->localizedDescription.toStdString();
        EXPECT_EQ(server.range(), c.asksForTheRest ? server.rangeOfTheRest() : "");
        const QByteArray expected = c.headers.empty() ? QByteArray::fromStdString(text) : plain;
        EXPECT_TRUE(testfiles::readFile(destination) == expected);
    }
}

TEST_F(TimeOuts, BytesArrivingInTimeKeepASlowAnswerAliveAndZeroWaitsAsLongAsItTakes) {
    ScriptedServer trickle([](ScriptedConnection& connection) {
        connection.readRequest();
        connection.send("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n");
        connection.sendSlowly("slowbody", 1, 150ms);
    });
    ScriptedServer late([](ScriptedConnection& connection) {
        connection.readRequest();
        std::this_thread::sleep_for(700ms);
        connection.send(scripted::answer("slowbody"));
    });
    for (const auto& [server, timeout] : {std::pair{&trickle, 0.5}, std::pair{&late, 0.0}}) {
        auto request = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(server->url("/"))));
        request->setTimeOutSeconds(timeout);
        request->startSynchronous();
        EXPECT_FALSE(request->error()) << timeout;
        EXPECT_EQ(request->responseData(), "slowbody");
    }
}

}  // namespace
