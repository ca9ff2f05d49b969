// lumaro-fetch's form and parallel options, run as a program against httpbin and a raw
// server, side by side with curl where curl has the option.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "FetchRun.h"
#include "RecordingServer.h"
#include "servers/FreePort.h"
#include "servers/HttpbinServer.h"
#include "support/TempHome.h"

namespace {

using testsupport::runFetch;
using testsupport::runProgram;

QJsonObject echoed(const QByteArray& body) { return QJsonDocument::fromJson(body).object(); }

class FetchForm : public ::testing::Test {
protected:
    static void SetUpTestSuite() { httpbin_ = new HttpbinServer(); }
    static void TearDownTestSuite() { delete httpbin_; }
    void SetUp() override {
        if (!httpbin_->available()) GTEST_SKIP() << httpbin_->failure().toStdString();
        photo_ = dir_.filePath("photo.png");
        QFile file(photo_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("\x89PNG photo bytes");
    }
    static QString bin(const QString& path) { return httpbin_->url(path).toString(); }

    static inline HttpbinServer* httpbin_ = nullptr;
    TempHome home_;
    QTemporaryDir dir_;
    QString photo_;
};

TEST_F(FetchForm, MultipartFormsReachHttpbinAsCurlsDo) {
    const std::vector<QStringList> forms = {
        {"-F", "a=1", "-F", "f=@" + photo_ + ";type=image/png"},
        {"-F", "a=1", "--form-string", "b=@not a file"},
        {"-F", "f=@" + photo_ + ";filename=\"shot.png\"", "-F", "g=@" + photo_},
    };
    for (const QStringList& form : forms) {
        SCOPED_TRACE(form.join(' ').toStdString());
        const auto ours = runFetch(form + QStringList{bin("/post")});
        ASSERT_EQ(ours.exitCode, 0) << ours.err.toStdString();
        const QJsonObject theirs =
            echoed(runProgram("curl", QStringList{"-s"} + form + QStringList{bin("/post")}).out);
        EXPECT_EQ(echoed(ours.out)["form"], theirs["form"]);
        EXPECT_EQ(echoed(ours.out)["files"], theirs["files"]);
    }
}

TEST_F(FetchForm, PartsAndValuesReachARawServerAsWritten) {
    const struct {
        QStringList arguments;
        std::string contentType;  // the start of it
        std::string body;         // the whole url-encoded body, or a part of a multipart one
    } cases[] = {
        {{"-F", "f=@" + photo_ + ";filename=shot.bin;type=image/x-test"},
         "multipart/form-data; charset=utf-8; boundary=LumaroFormBoundary-",
         "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"shot.bin\"\r\n"
         "Content-Type: image/x-test\r\n\r\n\x89PNG photo bytes\r\n--"},
        {{"--data-urlencode", "a=a b&c~", "--data-urlencode", "b=x=y"},
         "application/x-www-form-urlencoded; charset=utf-8",
         "a=a%20b%26c%7E&b=x%3Dy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        testsupport::RecordingServer server;
        const auto run = runFetch(c.arguments + QStringList{server.url().toString()});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        ASSERT_EQ(server.requests().size(), 1u);
        const auto received = server.requests()[0];
        EXPECT_EQ(received.requestLine, "POST /form HTTP/1.1");
        EXPECT_EQ(received.header("Content-Type").rfind(c.contentType, 0), 0u);
        if (c.contentType.rfind("multipart", 0) == 0) {
            EXPECT_NE(received.body.find(c.body), std::string::npos) << received.body;
        } else {
            EXPECT_EQ(received.body, c.body);
        }
    }
}

TEST_F(FetchForm, BadFormsAndCountsAreRefused) {
    const struct {
        QStringList arguments;
        int exitCode;
        const char* message;
    } cases[] = {
        {{"-F", "novalue"}, 64, "form part 'novalue' is not NAME=VALUE"},
        {{"-F", "f=@x;size=3"}, 64, "unknown form part setting 'size=3'"},
        {{"-F", "a=1", "-d", "b=2"}, 64, "-F cannot be combined"},
        {{"--data-urlencode", "a=1", "-d", "b=2"}, 64, "--data-urlencode cannot be combined"},
        {{"--data-urlencode", "=x"}, 64, "--data-urlencode needs NAME=VALUE"},
        {{"-Z", "--parallel-max", "0"}, 64, "--parallel-max needs a count from 1 to 50"},
        {{"-Z", "--parallel-max", "51"}, 64, "--parallel-max needs a count from 1 to 50"},
        {{"-F", "f=@/no/such/photo.png"}, 6, "No file exists at /no/such/photo.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const auto run = runFetch(c.arguments + QStringList{bin("/post")});
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST_F(FetchForm, ParallelTransfersPrintAsTheyFinish) {
    const QString slow = bin("/delay/1"), fast = bin("/base64/QUJD");
    // The slow body goes to -o, the fast one (ABC) to standard output.
    const QStringList common = {"-o", "/dev/null", "-w", "%{url_effective}\\n"};
    const QByteArray slowLine = slow.toUtf8() + "\n", fastLines = "ABC" + fast.toUtf8() + "\n";
    // One at a time, in the order given; several at once, the fast one first.
    const auto serial =
        runFetch(QStringList{"-Z", "--parallel-max", "1"} + common + QStringList{slow, fast});
    EXPECT_EQ(serial.out, slowLine + fastLines) << serial.err.toStdString();
    const auto parallel = runFetch(QStringList{"-Z"} + common + QStringList{slow, fast});
    EXPECT_EQ(parallel.out, fastLines + slowLine) << parallel.err.toStdString();
}

TEST_F(FetchForm, ParallelFailureCancelsTheRestAndGivesItsCode) {
    const QString refused =
        QStringLiteral("http://127.0.0.1:%1/").arg(lumaro::test::freeLoopbackPort());
    const auto run = runFetch({"-Z", "-w", "%{http_code}\\n", bin("/delay/3"), refused});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "lumaro-fetch: A connection failure occurred\n");
    // Both transfers end without an answer: the slow one was cancelled, not waited for.
    EXPECT_EQ(run.out, "000\n000\n");
    EXPECT_EQ(runFetch({"-Z", "--fail", bin("/status/404"), bin("/bytes/3")}).exitCode, 22);
}

}  // namespace
