#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <thread>

#include "FetchRun.h"
#include "RequestTestSupport.h"
#include "servers/InProcessHttpServer.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using namespace testsupport;

class Destinations : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        server_.server().Get("/body", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("the body", "text/plain");
        });
        server_.start();
        fifo_ = dir_.filePath("pipe");
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo_).constData(), 0600), 0);
    }
    bool fifoIsThere() const {
        struct stat info {};
        return ::lstat(QFile::encodeName(fifo_).constData(), &info) == 0 && S_ISFIFO(info.st_mode);
    }

    TempHome home_;
    QTemporaryDir dir_;
    QString fifo_;
    InProcessHttpServer server_;
};

TEST_F(Destinations, OnlyFilesAreRemovedAndAMissingOneIsNoFailure) {
    QFile(dir_.filePath("file")).open(QIODevice::WriteOnly);
    QDir(dir_.path()).mkdir("folder");
    const struct {
        QString path;
        bool removed;
    } cases[] = {{dir_.filePath("never-there"), true},
                 {dir_.filePath("file"), true},
                 {dir_.filePath("folder"), false},
                 {fifo_, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        http::ErrorPtr error;
        EXPECT_EQ(HTTPRequest::removeFileAtPath(c.path, &error), c.removed);
        EXPECT_EQ(QFileInfo::exists(c.path), !c.removed);
        if (c.removed) continue;
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, 8);
        EXPECT_EQ(error->localizedDescription,
                  QString("Failed to delete file at path '%1'").arg(c.path));
    }
    EXPECT_TRUE(fifoIsThere());
}

TEST_F(Destinations, ADownloadIntoSomethingOtherThanAFileFailsAndKeepsTheBody) {
    auto request = HTTPRequest::requestWithURL(server_.url("/body"));
    request->setDownloadDestinationPath(fifo_);
    // The body stays in its temporary file when the destination cannot take it.
    request->setTemporaryFileDownloadPath(dir_.filePath("body.part"));
    // An answer as sent is moved into place at the end (an inflated one would be written
    // into the pipe, which nobody reads here).
    request->setAllowCompressedResponse(false);
    request->startSynchronous();
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code, 8);
    EXPECT_EQ(request->error()->localizedDescription,
              QString("Failed to delete file at path '%1'").arg(fifo_));
    EXPECT_TRUE(request->error()->underlyingError);
    EXPECT_EQ(testfiles::readFile(request->temporaryFileDownloadPath()), "the body");
    EXPECT_TRUE(fifoIsThere());
}

TEST_F(Destinations, TheFetchToolWritesIntoAPipeGivenAsItsOutput) {
    QByteArray received;
    std::thread reader([&] {
        QFile pipe(fifo_);
        if (pipe.open(QIODevice::ReadOnly)) received = pipe.readAll();
    });
    const auto run = testsupport::runFetch({"-o", fifo_, server_.url("/body").toString()}, 10000);
    reader.join();
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(received, "the body");
    EXPECT_TRUE(fifoIsThere());
}

}  // namespace
