// The files a request makes for itself: readable by their owner only while the request
// runs, and gone once it has succeeded, failed or been cancelled.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>

#include "RequestTestSupport.h"
#include "servers/ScriptedServer.h"
#include "support/Files.h"

namespace {

using lumaro::test::ScriptedConnection;
using lumaro::test::ScriptedServer;
using testsupport::waitUntil;

enum class Body { CompressedFromCallersFile, AssembledOnDisk, DownloadedToFile };
enum class Ending { Success, Failure, Cancel };

const std::string kHalf(200000, 'h');

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

class TemporaryFiles : public ::testing::TestWithParam<std::tuple<Body, Ending>> {
protected:
    void SetUp() override {
        testsupport::application();
        previousMask_ = ::umask(022);
        previousTemp_ = qgetenv("TMPDIR");
        qputenv("TMPDIR", temp_.path().toUtf8());
    }
    void TearDown() override {
        qputenv("TMPDIR", previousTemp_);
        ::umask(previousMask_);
    }

    QTemporaryDir temp_;
    QTemporaryDir private_;
    QByteArray previousTemp_;
    mode_t previousMask_ = 022;
};

TEST_P(TemporaryFiles, AreTheOwnersOnlyAndGoneWhenTheRequestEnds) {
    const auto [body, end] = GetParam();
    std::atomic<bool> halfSent{false};
    std::atomic<int> ending{-1};
    ScriptedServer server([&](ScriptedConnection& connection) {
        if (!connection.readRequest()) return;
        connection.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(2 * kHalf.size()) +
                        "\r\n\r\n" + kHalf);
        halfSent = true;
        while (ending < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (ending == int(Ending::Success)) connection.send(kHalf);
        if (ending == int(Ending::Failure)) connection.reset();
        if (ending == int(Ending::Cancel)) connection.waitForPeerClose();
    });

    auto request = http::HTTPRequest::requestWithURL(QUrl(QString::fromStdString(server.url())));
    request->setShouldAttemptPersistentConnection(false);
    const QString callersFile = private_.filePath("body.txt");
    const QString destination = private_.filePath("out.bin");
    const QByteArray payload = QByteArray(300000, 'p');
    request->setShouldStreamPostDataFromDisk(body != Body::DownloadedToFile);
    if (body == Body::CompressedFromCallersFile) {
        testfiles::writeFile(callersFile, payload);
        request->setPostBodyFilePath(callersFile);
        request->setShouldCompressRequestBody(true);
    } else if (body == Body::AssembledOnDisk) {
        request->appendPostData(payload);
    } else {
        request->setDownloadDestinationPath(destination);
    }
    request->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return halfSent.load(); }));

    // While it runs: the request's own files are private. A download is staged beside its
    // destination, uploads in the temporary folder.
    const QString staging = body == Body::DownloadedToFile ? private_.path() : temp_.path();
    ASSERT_TRUE(waitUntil([&] {
        for (const QString& name : filesIn(staging)) {
            if (name != "body.txt" && QFileInfo(staging + "/" + name).size() > 0) return true;
        }
        return false;
    }));
    for (const QString& folder : {temp_.path(), private_.path()}) {
        for (const QString& name : filesIn(folder)) {
            if (name == "body.txt") continue;
            SCOPED_TRACE(name.toStdString());
            EXPECT_EQ(modeOf(folder + "/" + name), mode_t(0600));
        }
    }

    if (end == Ending::Cancel) request->cancel();
    ending = int(end);
    ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }, 10000));
    EXPECT_EQ(request->error() == nullptr, end == Ending::Success);

    EXPECT_EQ(filesIn(temp_.path()), QStringList{});
    QStringList expected;
    if (body == Body::CompressedFromCallersFile) expected << "body.txt";
    if (body == Body::DownloadedToFile && end == Ending::Success) expected << "out.bin";
    EXPECT_EQ(filesIn(private_.path()), expected);
    // A finished download gets the permissions of any new file.
    if (expected.contains("out.bin")) {
        EXPECT_EQ(modeOf(destination), mode_t(0644));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, TemporaryFiles,
    ::testing::Combine(::testing::Values(Body::CompressedFromCallersFile, Body::AssembledOnDisk,
                                         Body::DownloadedToFile),
                       ::testing::Values(Ending::Success, Ending::Failure, Ending::Cancel)));

}  // namespace
