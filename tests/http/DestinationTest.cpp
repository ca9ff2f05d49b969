#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>

#include "RequestTestSupport.h"
#include "servers/InProcessHttpServer.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

TEST(Destinations, ADownloadIntoSomethingOtherThanAFileFailsLeavesItAloneAndKeepsTheBody) {
    testsupport::application();
    TempHome home;
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    InProcessHttpServer server;
    server.server().Get("/body", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("the body", "text/plain");
    });
    server.start();
    auto request = http::HTTPRequest::requestWithURL(server.url("/body"));
    request->setDownloadDestinationPath(fifo);
    // The body stays in its temporary file when the destination cannot take it.
    request->setTemporaryFileDownloadPath(dir.filePath("body.part"));
    // An answer as sent is moved into place at the end (an inflated one would be written
    // into the pipe, which nobody reads here).
    request->setAllowCompressedResponse(false);
    request->startSynchronous();
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code, 8);
    EXPECT_EQ(request->error()->localizedDescription,
              QString("Failed to delete file at path '%1'").arg(fifo));
    EXPECT_TRUE(request->error()->underlyingError);
    EXPECT_EQ(testfiles::readFile(request->temporaryFileDownloadPath()), "the body");
    struct stat info {};
    EXPECT_TRUE(::lstat(QFile::encodeName(fifo).constData(), &info) == 0 && S_ISFIFO(info.st_mode));
}

}  // namespace
