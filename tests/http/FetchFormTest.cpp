// lumaro-fetch's form and parallel options, run as a program against httpbin and a raw
// server, side by side with curl where curl has the option.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <mutex>

#include "servers/FreePort.h"
#include "servers/HttpbinServer.h"
#include "servers/ScriptedServer.h"
#include "support/TempHome.h"

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Outcome execute(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    Outcome run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

Outcome fetch(const QStringList& arguments) {
    return execute(qEnvironmentVariable("LUMARO_BIN") + "/lumaro-fetch", arguments);
}

Outcome curl(const QStringList& arguments) {
    return execute("curl", QStringList{"-s"} + arguments);
}

class FetchForm : public ::testing::Test {
protected:
    static void SetUpTestSuite() { httpbin_ = new HttpbinServer(); }
    static void TearDownTestSuite() {
        delete httpbin_;
        httpbin_ = nullptr;
    }
    void SetUp() override {
        if (!httpbin_->available()) GTEST_SKIP() << httpbin_->failure().toStdString();
        photo_ = dir_.filePath("photo.png");
        QFile file(photo_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("\x89PNG photo bytes");
    }
    static QString bin(const QString& path) { return httpbin_->url(path).toString(); }
    static QJsonObject echoed(const QByteArray& body) {
        return QJsonDocument::fromJson(body).object();
    }

    static inline HttpbinServer* httpbin_ = nullptr;
    TempHome home_;
    QTemporaryDir dir_;
    QString photo_;
};

// The one request a raw server received, and what lumaro-fetch made of the answer.
lumaro::test::ReceivedRequest sendToRawServer(const QStringList& arguments) {
    std::mutex mutex;
    lumaro::test::ReceivedRequest received;
    lumaro::test::ScriptedServer server([&](lumaro::test::ScriptedConnection& connection) {
        if (auto request = connection.readRequest()) {
            std::lock_guard lock(mutex);
            received = *request;
            connection.send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        }
    });
    const Outcome run = fetch(arguments + QStringList{QString::fromStdString(server.url("/form"))});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    std::lock_guard lock(mutex);
    return received;
}

TEST_F(FetchForm, MultipartFormsReachHttpbinAsCurlsDo) {
    const QString typed = "f=@" + photo_ + ";type=image/png";
    const std::vector<QStringList> forms = {
        {"-F", "a=1", "-F", typed},
        {"-F", "a=1", "--form-string", "b=@not a file"},
        {"-F", "f=@" + photo_ + ";filename=\"shot.png\"", "-F", "g=@" + photo_},
    };
    for (const QStringList& form : forms) {
        SCOPED_TRACE(form.join(' ').toStdString());
        const Outcome ours = fetch(form + QStringList{bin("/post")});
        ASSERT_EQ(ours.exitCode, 0) << ours.err.toStdString();
        const QJsonObject theirs = echoed(curl(form + QStringList{bin("/post")}).out);
        EXPECT_EQ(echoed(ours.out)["form"], theirs["form"]);
        EXPECT_EQ(echoed(ours.out)["files"], theirs["files"]);
        EXPECT_TRUE(echoed(ours.out)["headers"].toObject()["Content-Type"].toString().startsWith(
            "multipart/form-data; charset=utf-8; boundary=LumaroFormBoundary-"));
    }
}

TEST_F(FetchForm, FilePartsCarryTheirNameAndType) {
    const struct {
        QString argument;
        std::string disposition;
        std::string type;
    } cases[] = {
        {"f=@" + photo_, "name=\"f\"; filename=\"photo.png\"", "Content-Type: image/png"},
        {"f=@" + photo_ + ";filename=shot.bin;type=image/x-test",
         "name=\"f\"; filename=\"shot.bin\"", "Content-Type: image/x-test"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument.toStdString());
        const auto received = sendToRawServer({"-F", c.argument});
        EXPECT_NE(received.body.find("Content-Disposition: form-data; " + c.disposition + "\r\n" +
                                     c.type + "\r\n\r\n\x89PNG photo bytes\r\n--"),
                  std::string::npos)
            << received.body;
    }
}

TEST_F(FetchForm, UrlEncodedValuesAreEscapedAndJoinedInOrder) {
    const struct {
        QStringList arguments;
        std::string body;
    } cases[] = {
        {{"--data-urlencode", "api=LMRHD00001"}, "api=LMRHD00001"},
        {{"--data-urlencode", "a=a b&c~", "--data-urlencode", "b=x=y"}, "a=a%20b%26c%7E&b=x%3Dy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const auto received = sendToRawServer(c.arguments);
        EXPECT_EQ(received.body, c.body);
        EXPECT_EQ(received.header("Content-Length"), std::to_string(c.body.size()));
        EXPECT_EQ(received.header("Content-Type"),
                  "application/x-www-form-urlencoded; charset=utf-8");
        EXPECT_EQ(received.requestLine, "POST /form HTTP/1.1");
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
        const Outcome run = fetch(c.arguments + QStringList{bin("/post")});
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST_F(FetchForm, ParallelTransfersPrintAsTheyFinish) {
    const QString slow = bin("/delay/1");
    const QString fast = bin("/base64/QUJD");
    // The slow body goes to -o, the fast one (ABC) to standard output.
    const QStringList common = {"-o", "/dev/null", "-w", "%{url_effective}\\n"};
    const QByteArray slowLine = slow.toUtf8() + "\n";
    const QByteArray fastLines = "ABC" + fast.toUtf8() + "\n";
    // One at a time, in the order given; several at once, the fast one first.
    const Outcome serial =
        fetch(QStringList{"-Z", "--parallel-max", "1"} + common + QStringList{slow, fast});
    ASSERT_EQ(serial.exitCode, 0) << serial.err.toStdString();
    EXPECT_EQ(serial.out, slowLine + fastLines);
    const Outcome parallel = fetch(QStringList{"-Z"} + common + QStringList{slow, fast});
    ASSERT_EQ(parallel.exitCode, 0) << parallel.err.toStdString();
    EXPECT_EQ(parallel.out, fastLines + slowLine);
}

TEST_F(FetchForm, ParallelFailureCancelsTheRestAndGivesItsCode) {
    const QString refused =
        QStringLiteral("http://127.0.0.1:%1/").arg(lumaro::test::freeLoopbackPort());
    const Outcome run = fetch({"-Z", "-w", "%{http_code}\\n", bin("/delay/3"), refused});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "lumaro-fetch: A connection failure occurred\n");
    // Both transfers end without an answer: the slow one was cancelled, not waited for.
    EXPECT_EQ(run.out, "000\n000\n");
    const Outcome failing = fetch({"-Z", "--fail", bin("/status/404"), bin("/bytes/3")});
    EXPECT_EQ(failing.exitCode, 22);
}

}  // namespace
