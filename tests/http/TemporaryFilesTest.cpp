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

namespace {

using lumaro::test::ScriptedConnection;
using lumaro::test::ScriptedServer;
using testsupport::waitUntil;

enum class Body { CompressedFromCallersFile, AssembledOnDisk, DownloadedToFile };
enum class Ending { Success, Failure, Cancel };

struct Case {
    const char* name;
    Body body;
    Ending ending;
};

const Case cases[] = {
    {"CompressedCopySucceeds", Body::CompressedFromCallersFile, Ending::Success},
    {"CompressedCopyFails", Body::CompressedFromCallersFile, Ending::Failure},
    {"CompressedCopyCancelled", Body::CompressedFromCallersFile, Ending::Cancel},
    {"AssembledBodySucceeds", Body::AssembledOnDisk, Ending::Success},
    {"AssembledBodyFails", Body::AssembledOnDisk, Ending::Failure},
    {"AssembledBodyCancelled", Body::AssembledOnDisk, Ending::Cancel},
    {"DownloadSucceeds", Body::DownloadedToFile, Ending::Success},
    {"DownloadFails", Body::DownloadedToFile, Ending::Failure},
    {"DownloadCancelled", Body::DownloadedToFile, Ending::Cancel},
};

const std::string kHalf(200000, 'h');

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

class TemporaryFiles : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        testsupport::application();
        previousMask_ = ::umask(022);
        previousTemp_ = qgetenv("TMPDIR");
        qputenv("TMPDIR", temp_.path().toUtf8());
        QFile::setPermissions(private_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner);
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
    const Case& c = GetParam();
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
    if (c.body == Body::CompressedFromCallersFile) {
        QFile file(callersFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(payload);
        file.close();
        request->setShouldStreamPostDataFromDisk(true);
        request->setPostBodyFilePath(callersFile);
        request->setShouldCompressRequestBody(true);
    } else if (c.body == Body::AssembledOnDisk) {
        request->setShouldStreamPostDataFromDisk(true);
        request->appendPostData(payload);
    } else {
        request->setDownloadDestinationPath(destination);
    }
    request->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return halfSent.load(); }));

    // While it runs: the request's own files are private. A download is staged beside its
    // destination, uploads in the temporary folder.
    const QString staging = c.body == Body::DownloadedToFile ? private_.path() : temp_.path();
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

    if (c.ending == Ending::Cancel) request->cancel();
    ending = int(c.ending);
    ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }, 10000));
    EXPECT_EQ(request->error() == nullptr, c.ending == Ending::Success);

    EXPECT_EQ(filesIn(temp_.path()), QStringList{});
    QStringList expected;
    if (c.body == Body::CompressedFromCallersFile) expected << "body.txt";
    if (c.body == Body::DownloadedToFile && c.ending == Ending::Success) expected << "out.bin";
    EXPECT_EQ(filesIn(private_.path()), expected);
    // A finished download gets the permissions of any new file.
    if (expected.contains("out.bin")) {
        EXPECT_EQ(modeOf(destination), mode_t(0644));
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, TemporaryFiles, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
