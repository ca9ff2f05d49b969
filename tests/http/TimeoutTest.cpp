#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <mutex>

#include "RequestTestSupport.h"
#include "ScriptedAnswers.h"
#include "servers/ScriptedServer.h"
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

TEST_F(TimeOuts, BytesArrivingInTimeKeepASlowAnswerAlive) {
    ScriptedServer server([](ScriptedConnection& connection) {
        connection.readRequest();
        connection.send("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n");
        connection.sendSlowly("slowbody", 1, 150ms);
    });
    auto request = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(server.url("/"))));
    request->setTimeOutSeconds(0.5);
    request->startSynchronous();
    EXPECT_FALSE(request->error());
    EXPECT_EQ(request->responseData(), "slowbody");
}

// First connection: the head and the first 400 of 1000 bytes, then silence. Second
// connection: what the request asks for, from where it asks.
class BrokenDownload {
public:
    BrokenDownload()
        : server_([this](ScriptedConnection& connection) {
              const auto request = connection.readRequest();
              if (!request) return;
              const std::string body = scripted::pattern(1000);
              if (connection.index() == 0) {
                  connection.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
                  connection.send(body.substr(0, 400));
                  connection.waitForPeerClose(10000);
                  return;
              }
              const std::string range = request->header("Range");
              {
                  std::lock_guard lock(mutex_);
                  range_ = range;
              }
              if (range == "bytes=400-") {
                  connection.send(scripted::answer(body.substr(400),
                                                   "Content-Range: bytes 400-999/1000\r\n",
                                                   "206 Partial Content"));
              } else {
                  connection.send(scripted::answer(body));
              }
          }) {}

    QUrl url() const { return QUrl(QString::fromStdString(server_.url("/file"))); }
    std::string range() const {
        std::lock_guard lock(mutex_);
        return range_;
    }

private:
    mutable std::mutex mutex_;
    std::string range_ = "<none>";
    ScriptedServer server_;
};

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

TEST_F(TimeOuts, AResumableDownloadRetriedAfterATimeOutAsksOnlyForTheRest) {
    BrokenDownload server;
    auto request = HTTPRequest::requestWithURL(server.url());
    const QString destination = files_.filePath("resumed");
    request->setDownloadDestinationPath(destination);
    request->setTemporaryFileDownloadPath(files_.filePath("resumed.part"));
    request->setAllowResumeForFileDownloads(true);
    request->setTimeOutSeconds(0.4);
    request->setNumberOfTimesToRetryOnTimeout(1);
    request->startSynchronous();
    ASSERT_FALSE(request->error()) << request->error()->localizedDescription.toStdString();
    EXPECT_EQ(server.range(), "bytes=400-");
    EXPECT_EQ(contents(destination), QByteArray::fromStdString(scripted::pattern(1000)));
}

TEST_F(TimeOuts, ADownloadThatCannotResumeStartsItsFileAgainOnARetry) {
    BrokenDownload server;
    auto request = HTTPRequest::requestWithURL(server.url());
    const QString destination = files_.filePath("again");
    request->setDownloadDestinationPath(destination);
    // Kept out of the shared temporary folder, which other tests watch.
    request->setTemporaryFileDownloadPath(files_.filePath("again.part"));
    request->setTimeOutSeconds(0.4);
    request->setNumberOfTimesToRetryOnTimeout(1);
    request->startSynchronous();
    ASSERT_FALSE(request->error());
    EXPECT_EQ(server.range(), "");
    EXPECT_EQ(contents(destination), QByteArray::fromStdString(scripted::pattern(1000)));
}

TEST_F(TimeOuts, ATimeOutOfZeroWaitsAsLongAsItTakes) {
    ScriptedServer server([](ScriptedConnection& connection) {
        connection.readRequest();
        std::this_thread::sleep_for(700ms);
        connection.send(scripted::answer("late"));
    });
    auto request = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(server.url("/"))));
    request->setTimeOutSeconds(0);
    request->startSynchronous();
    EXPECT_FALSE(request->error());
    EXPECT_EQ(request->responseData(), "late");
}

}  // namespace
