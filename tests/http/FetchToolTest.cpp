// lumaro-fetch run as a program against nginx, httpbin, proxies and raw servers, side by side
// with curl where curl has the option.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "FetchRun.h"
#include "RecordingServer.h"
#include "servers/FreePort.h"
#include "servers/HttpbinServer.h"
#include "servers/NginxServer.h"
#include "servers/ProxyServers.h"
#include "servers/TestCertificates.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using testfiles::readFile;
using testfiles::writeFile;
using testsupport::ProgramRun;
using testsupport::runFetch;

ProgramRun curl(const QStringList& arguments) {
    return testsupport::runProgram("curl", QStringList{"-s"} + arguments);
}

// httpbin's echo without the parts that name the client (its headers and address).
QJsonObject echoed(const QByteArray& body) {
    QJsonObject object = QJsonDocument::fromJson(body).object();
    object.remove("headers");
    object.remove("origin");
    return object;
}

class FetchTool : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir();
        QDir(dir_->path()).mkdir("root");
        writeFile(file("root/big.bin"), testfiles::pattern(3 * 1024 * 1024));
        QByteArray text;
        for (int i = 0; i < 3000; ++i) text += "Some text " + QByteArray::number(i) + "\n";
        writeFile(file("root/text.txt"), text);
        writeFile(file("photo.png"), "\x89PNG photo bytes");
        certificate_ =
            new lumaro::test::ServerCertificate(lumaro::test::makeServerCertificate(dir_->path()));
        lumaro::test::NginxServer::Options options;
        options.root = file("root");
        options.certificateFile = certificate_->certificateFile;
        options.keyFile = certificate_->keyFile;
        options.extraHttpConfig =
            "types { text/plain txt; } gzip on; gzip_types text/plain; gzip_min_length 0;";
        nginx_ = new lumaro::test::NginxServer(options);
        httpbin_ = new HttpbinServer();
    }
    static void TearDownTestSuite() {
        delete httpbin_;
        delete nginx_;
        delete certificate_;
        delete dir_;
    }
    void SetUp() override {
        ASSERT_TRUE(httpbin_->available()) << httpbin_->failure().toStdString();
    }
    static QString bin(const QString& path) { return httpbin_->url(path).toString(); }
    static QString file(const QString& name) { return dir_->filePath(name); }

    TempHome home_;
    static inline QTemporaryDir* dir_ = nullptr;
    static inline lumaro::test::ServerCertificate* certificate_ = nullptr;
    static inline lumaro::test::NginxServer* nginx_ = nullptr;
    static inline HttpbinServer* httpbin_ = nullptr;
};

TEST_F(FetchTool, GetsAndHeadGiveWhatCurlGives) {
    const QString big = nginx_->url("/big.bin"), text = nginx_->url("/text.txt");
    const QString chunked = bin("/stream-bytes/100000?seed=5&chunk_size=3000");
    const struct {
        QStringList ours, theirs;
    } cases[] = {
        {{big}, {big}},
        {{text}, {"--compressed", text}},
        {{"--async", text}, {text}},
        {{chunked}, {chunked}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ours.join(' ').toStdString());
        const ProgramRun ours = runFetch(c.ours);
        ASSERT_EQ(ours.exitCode, 0) << ours.err.toStdString();
        EXPECT_FALSE(ours.out.isEmpty());
        EXPECT_TRUE(ours.out == curl(c.theirs).out);
    }
    const QJsonObject gzip = echoed(runFetch({bin("/gzip")}).out);
    EXPECT_TRUE(gzip["gzipped"].toBool());
    EXPECT_EQ(gzip, echoed(curl({"--compressed", bin("/gzip")}).out));

    // HEAD: the same status line and length, and no body.
    const ProgramRun head = runFetch({"-I", big});
    EXPECT_EQ(head.exitCode, 0);
    EXPECT_EQ(head.out.split('\n').first(), curl({"-I", big}).out.split('\n').first());
    EXPECT_TRUE(head.out.contains("Content-Length: 3145728\r\n"));
    EXPECT_TRUE(head.out.endsWith("\r\n\r\n"));
}

TEST_F(FetchTool, PostsFromMemoryAndDiskGiveWhatCurlGives) {
    const QString post = bin("/post");
    const ProgramRun form = runFetch({"-d", "a=1&b=two words", post});
    ASSERT_EQ(form.exitCode, 0) << form.err.toStdString();
    EXPECT_EQ(echoed(form.out), echoed(curl({"-d", "a=1&b=two words", post}).out));
    EXPECT_EQ(echoed(form.out)["form"].toObject()["a"].toString(), "1");

    QByteArray payload;
    for (int i = 0; i < 20000; ++i) payload += "payload " + QByteArray::number(i) + "\n";
    writeFile(file("payload.txt"), payload);
    const QStringList binary = {"-H", "Content-Type: application/octet-stream", "--data-binary",
                                "@" + file("payload.txt"), post};
    const ProgramRun fromDisk = runFetch(binary);
    ASSERT_EQ(fromDisk.exitCode, 0) << fromDisk.err.toStdString();
    EXPECT_EQ(echoed(fromDisk.out), echoed(curl(binary).out));
    EXPECT_EQ(echoed(fromDisk.out)["data"].toString().toUtf8(), payload);
    // The caller's file is sent, not consumed.
    EXPECT_EQ(readFile(file("payload.txt")), payload);
    const QStringList fileToMemory = {"-H", "Content-Type: application/octet-stream", "-d",
                                      "@" + file("payload.txt"), post};
    EXPECT_EQ(echoed(runFetch(fileToMemory).out)["data"].toString().toUtf8(), payload);
    // A compressed body reaches the server whole.
    const ProgramRun compressed =
        runFetch({"--compress-body", "-H", "Content-Type: application/octet-stream",
                  "--data-binary", "@" + file("payload.txt"), bin("/anything")});
    EXPECT_EQ(QJsonDocument::fromJson(compressed.out)["headers"]["Content-Encoding"].toString(),
              "gzip");
}

TEST_F(FetchTool, MultipartAndUrlEncodedFormsReachHttpbinAsCurlsDo) {
    const QString photo = file("photo.png");
    const std::vector<QStringList> forms = {
        {"-F", "a=1", "-F", "f=@" + photo + ";type=image/png"},
        {"-F", "a=1", "--form-string", "b=@not a file"},
        {"-F", "f=@" + photo + ";filename=\"shot.png\"", "-F", "g=@" + photo},
        {"--data-urlencode", "a=a b&c~", "--data-urlencode", "b=x=y"},
    };
    for (const QStringList& form : forms) {
        SCOPED_TRACE(form.join(' ').toStdString());
        const ProgramRun ours = runFetch(form + QStringList{bin("/post")});
        ASSERT_EQ(ours.exitCode, 0) << ours.err.toStdString();
        const QJsonObject theirs = echoed(curl(form + QStringList{bin("/post")}).out);
        EXPECT_FALSE(theirs["form"].toObject().isEmpty() && theirs["files"].toObject().isEmpty());
        EXPECT_EQ(echoed(ours.out)["form"], theirs["form"]);
        EXPECT_EQ(echoed(ours.out)["files"], theirs["files"]);
    }
    // What httpbin does not show: the name and type given to a part.
    testsupport::RecordingServer server;
    const ProgramRun named = runFetch(
        {"-F", "f=@" + photo + ";filename=shot.bin;type=image/x-test", server.url().toString()});
    EXPECT_EQ(named.exitCode, 0) << named.err.toStdString();
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_NE(server.requests()[0].body.find(
                  "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"shot.bin\"\r\n"
                  "Content-Type: image/x-test\r\n\r\n\x89PNG photo bytes\r\n--"),
              std::string::npos);
}

TEST_F(FetchTool, WriteOutReportsStatusSizeAndConnections) {
    const QString text = nginx_->url("/text.txt");
    const ProgramRun run =
        runFetch({"--no-compressed", "-w",
                  "%{http_code} %{size_download} %{num_connects} %{url_effective}\\n", "-o",
                  file("first.txt"), text, text});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(readFile(file("first.txt")), readFile(file("root/text.txt")));
    const QByteArray size = QByteArray::number(readFile(file("first.txt")).size());
    // The first request opens the connection, the second reuses it.
    EXPECT_EQ(run.out, "200 " + size + " 1 " + text.toUtf8() + "\n" + readFile(file("first.txt")) +
                           "200 " + size + " 0 " + text.toUtf8() + "\n");
}

TEST_F(FetchTool, EachRunGivesItsOutputOrItsExitCodeAndMessage) {
    lumaro::test::TinyproxyServer httpProxy;
    lumaro::test::MicrosocksServer socksProxy;
    const QString viaHttp = QString("http://127.0.0.1:%1").arg(httpProxy.port());
    const QString viaSocks = QString("socks5://127.0.0.1:%1").arg(socksProxy.port());
    const QString refused =
        QStringLiteral("http://127.0.0.1:%1/").arg(lumaro::test::freeLoopbackPort());
    const QString plain = nginx_->url("/text.txt"), tls = nginx_->httpsUrl("/text.txt");
    const QString post = bin("/post"), notFound = bin("/status/404");
    const struct {
        QStringList arguments;
        int exitCode;
        QByteArray message;  // a part of standard error
        bool text;           // standard output is the text file, else empty
    } cases[] = {
        // clang-format off
        {{"--cacert", certificate_->certificateFile, tls}, 0, "", true},
        {{"-k", tls}, 0, "", true},
        {{"-k", "-x", viaHttp, plain}, 0, "", true},
        {{"-k", "-x", viaHttp, tls}, 0, "", true},
        {{"-k", "-x", viaSocks, plain}, 0, "", true},
        {{"-k", "-x", viaSocks, tls}, 0, "", true},
        {{notFound}, 0, "", false},
        {{refused}, 1, "lumaro-fetch: A connection failure occurred\n", false},
        {{tls}, 1, "lumaro-fetch: A connection failure occurred: SSL problem (Possible causes may include "
                   "a bad/expired/self-signed certificate, clock set to wrong date)\n", false},
        {{"--fail", notFound}, 22, "lumaro-fetch: The requested URL returned error: 404\n", false},
        {{"--no-such-option", plain}, 64, "", false},
        {{"-x", "127.0.0.1:notaport", plain}, 64, "bad proxy", false},
        {{"-F", "novalue", post}, 64, "form part 'novalue' is not NAME=VALUE", false},
        {{"-F", "f=@x;size=3", post}, 64, "unknown form part setting 'size=3'", false},
        {{"-F", "a=1", "-d", "b=2", post}, 64, "-F cannot be combined", false},
        {{"--data-urlencode", "a=1", "-d", "b=2", post}, 64, "--data-urlencode cannot be combined", false},
        {{"--data-urlencode", "=x", post}, 64, "--data-urlencode needs NAME=VALUE", false},
        {{"-Z", "--parallel-max", "0", post}, 64, "needs a count from 1 to 50", false},
        {{"-Z", "--parallel-max", "51", post}, 64, "needs a count from 1 to 50", false},
        {{"-F", "f=@/no/such/photo.png", post}, 6, "No file exists at /no/such/photo.png", false},
        // clang-format on
    };
    const QByteArray text = readFile(file("root/text.txt"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const ProgramRun run = runFetch(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
        EXPECT_EQ(run.out, c.text ? text : QByteArray());
    }
}

TEST_F(FetchTool, ParallelTransfersPrintAsTheyFinishAndAFailureCancelsTheRest) {
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

    const QString refused =
        QStringLiteral("http://127.0.0.1:%1/").arg(lumaro::test::freeLoopbackPort());
    const auto failed = runFetch({"-Z", "-w", "%{http_code}\\n", bin("/delay/3"), refused});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.err, "lumaro-fetch: A connection failure occurred\n");
    // Both transfers end without an answer: the slow one was cancelled, not waited for.
    EXPECT_EQ(failed.out, "000\n000\n");
    EXPECT_EQ(runFetch({"-Z", "--fail", bin("/status/404"), bin("/bytes/3")}).exitCode, 22);
}

}  // namespace
