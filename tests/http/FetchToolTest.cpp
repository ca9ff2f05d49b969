// lumaro-fetch run as a program against nginx and httpbin, side by side with curl.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include "FileServer.h"
#include "http/FetchRun.h"
#include "servers/HttpbinServer.h"
#include "servers/NginxServer.h"
#include "servers/ProxyServers.h"
#include "servers/TestCertificates.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using Outcome = testsupport::ProgramRun;
Outcome execute(const QString& program, const QStringList& arguments) {
    return testsupport::runProgram(program, arguments);
}

Outcome fetch(const QStringList& arguments) {
    return execute(qEnvironmentVariable("LUMARO_BIN") + "/lumaro-fetch", arguments);
}

Outcome curl(const QStringList& arguments) {
    return execute("curl", QStringList{"-s"} + arguments);
}

using testfiles::readFile;
using testfiles::writeFile;

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
        writeFile(dir_->filePath("root/big.bin"), testfiles::pattern(3 * 1024 * 1024));
        QByteArray text;
        for (int i = 0; i < 3000; ++i) text += "Some text " + QByteArray::number(i) + "\n";
        writeFile(dir_->filePath("root/text.txt"), text);
        certificate_ =
            new lumaro::test::ServerCertificate(lumaro::test::makeServerCertificate(dir_->path()));
        nginx_ = testsupport::startFileServer(dir_->filePath("root"), *certificate_);
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

TEST_F(FetchTool, GetGzipChunkedAndHeadGiveWhatCurlGives) {
    const QString big = nginx_->url("/big.bin");
    const Outcome ours = fetch({big});
    ASSERT_EQ(ours.exitCode, 0) << ours.err.toStdString();
    EXPECT_TRUE(ours.out == curl({big}).out);
    EXPECT_EQ(ours.out.size(), 3 * 1024 * 1024);

    const QString text = nginx_->url("/text.txt");
    EXPECT_EQ(fetch({text}).out, curl({"--compressed", text}).out);
    EXPECT_EQ(fetch({"--async", text}).out, curl({text}).out);

    const QString chunked = bin("/stream-bytes/100000?seed=5&chunk_size=3000");
    const Outcome chunks = fetch({chunked});
    EXPECT_EQ(chunks.out.size(), 100000);
    EXPECT_TRUE(chunks.out == curl({chunked}).out);
    EXPECT_EQ(fetch({bin("/gzip")}).out.isEmpty(), false);
    EXPECT_EQ(echoed(fetch({bin("/gzip")}).out), echoed(curl({"--compressed", bin("/gzip")}).out));

    // HEAD: the same status line and length, and no body.
    const Outcome head = fetch({"-I", big});
    const Outcome curlHead = curl({"-I", big});
    EXPECT_EQ(head.exitCode, 0);
    EXPECT_EQ(head.out.split('\n').first(), curlHead.out.split('\n').first());
    EXPECT_TRUE(head.out.contains("Content-Length: 3145728\r\n"));
    EXPECT_TRUE(head.out.endsWith("\r\n\r\n"));
}

TEST_F(FetchTool, PostsFromMemoryAndDiskGiveWhatCurlGives) {
    const QString post = bin("/post");
    const Outcome form = fetch({"-d", "a=1&b=two words", post});
    ASSERT_EQ(form.exitCode, 0) << form.err.toStdString();
    EXPECT_EQ(echoed(form.out), echoed(curl({"-d", "a=1&b=two words", post}).out));
    EXPECT_EQ(echoed(form.out)["form"].toObject()["a"].toString(), "1");

    QByteArray payload;
    for (int i = 0; i < 20000; ++i) payload += "payload " + QByteArray::number(i) + "\n";
    writeFile(file("payload.txt"), payload);
    const QStringList binary = {"-H", "Content-Type: application/octet-stream", "--data-binary",
                                "@" + file("payload.txt"), post};
    const Outcome fromDisk = fetch(binary);
    ASSERT_EQ(fromDisk.exitCode, 0) << fromDisk.err.toStdString();
    EXPECT_EQ(echoed(fromDisk.out), echoed(curl(binary).out));
    EXPECT_EQ(echoed(fromDisk.out)["data"].toString().toUtf8(), payload);
    // The caller's file is sent, not consumed.
    EXPECT_EQ(readFile(file("payload.txt")), payload);

    const QStringList fromFileToMemory = {"-H", "Content-Type: application/octet-stream", "-d",
                                          "@" + file("payload.txt"), post};
    EXPECT_EQ(echoed(fetch(fromFileToMemory).out)["data"].toString().toUtf8(), payload);

    // A compressed body reaches the server whole.
    const Outcome compressed =
        fetch({"--compress-body", "-H", "Content-Type: application/octet-stream", "--data-binary",
               "@" + file("payload.txt"), bin("/anything")});
    EXPECT_EQ(QJsonDocument::fromJson(compressed.out)["headers"]["Content-Encoding"].toString(),
              "gzip");
}

TEST_F(FetchTool, DownloadsToFilesAndResumes) {
    const QString big = nginx_->url("/big.bin");
    const Outcome ours = fetch({"-o", file("ours.bin"), big});
    ASSERT_EQ(ours.exitCode, 0) << ours.err.toStdString();
    curl({"-o", file("theirs.bin"), big});
    EXPECT_TRUE(readFile(file("ours.bin")) == readFile(file("theirs.bin")));

    const QByteArray whole = readFile(file("theirs.bin"));
    writeFile(file("resumed.bin"), whole.left(1000000));
    const Outcome resumed = fetch({"-C", "-o", file("resumed.bin"), "-w", "%{http_code}", big});
    EXPECT_EQ(resumed.out, "206");
    EXPECT_TRUE(readFile(file("resumed.bin")) == whole);
    EXPECT_FALSE(QFile::exists(file("resumed.bin.part")));
}

TEST_F(FetchTool, WriteOutReportsStatusSizeAndConnections) {
    const QString text = nginx_->url("/text.txt");
    const Outcome run = fetch({"--no-compressed", "-w",
                               "%{http_code} %{size_download} %{num_connects} %{url_effective}\\n",
                               "-o", file("first.txt"), text, text});
    ASSERT_EQ(run.exitCode, 0);
    const QByteArray size = QByteArray::number(readFile(file("first.txt")).size());
    const QByteArray expected =
        readFile(file("first.txt")) + "200 " + size + " 0 " + text.toUtf8() + "\n";
    // The first request opens the connection, the second reuses it.
    EXPECT_TRUE(run.out.startsWith("200 " + size + " 1 " + text.toUtf8() + "\n"));
    EXPECT_TRUE(run.out.endsWith(expected));
}

TEST_F(FetchTool, FailuresExitWithTheErrorCodeAndItsText) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const QString refused = QString("http://127.0.0.1:%1/").arg(probe.serverPort());
    probe.close();

    struct Case {
        QStringList arguments;
        int exitCode;
        QByteArray message;
    };
    const std::vector<Case> cases = {
        {{refused}, 1, "lumaro-fetch: A connection failure occurred\n"},
        {{"http://"}, 5, "lumaro-fetch: Unable to create request (bad url?)\n"},
        {{"not a url at all"}, 5, "lumaro-fetch: Unable to create request (bad url?)\n"},
        {{bin("/status/401")}, 3, "lumaro-fetch: Authentication needed\n"},
        {{nginx_->httpsUrl("/text.txt")},
         1,
         "lumaro-fetch: A connection failure occurred: SSL problem (Possible causes may include "
         "a bad/expired/self-signed certificate, clock set to wrong date)\n"},
        {{bin("/status/404")}, 0, ""},
        {{"--fail", bin("/status/404")},
         22,
         "lumaro-fetch: The requested URL returned error: 404\n"},
        {{"--no-such-option", bin("/get")}, 64, ""},
    };
    for (const Case& c : cases) {
        const Outcome run = fetch(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments.join(' ').toStdString();
        if (!c.message.isEmpty()) {
            EXPECT_EQ(run.err, c.message) << c.arguments.join(' ').toStdString();
        }
    }
}

TEST_F(FetchTool, TlsWithTheServersCertificateTrustedOrUnchecked) {
    const QString url = nginx_->httpsUrl("/text.txt");
    const QByteArray expected = readFile(file("root/text.txt"));
    EXPECT_EQ(fetch({"--cacert", certificate_->certificateFile, url}).out, expected);
    EXPECT_EQ(fetch({"-k", url}).out, expected);
}

TEST_F(FetchTool, ProxiesCarryPlainAndTlsRequests) {
    lumaro::test::TinyproxyServer httpProxy;
    lumaro::test::MicrosocksServer socksProxy;
    const QByteArray expected = readFile(file("root/text.txt"));
    const QString viaHttp = QString("http://127.0.0.1:%1").arg(httpProxy.port());
    const QString viaSocks = QString("socks5://127.0.0.1:%1").arg(socksProxy.port());
    for (const QString& proxy : {viaHttp, viaSocks}) {
        for (const QString& url : {nginx_->url("/text.txt"), nginx_->httpsUrl("/text.txt")}) {
            const Outcome run = fetch({"-k", "-x", proxy, url});
            EXPECT_EQ(run.exitCode, 0)
                << (proxy + " " + url).toStdString() << run.err.toStdString();
            EXPECT_EQ(run.out, expected) << (proxy + " " + url).toStdString();
        }
    }
    EXPECT_EQ(fetch({"-x", "127.0.0.1:notaport", nginx_->url("/text.txt")}).exitCode, 64);
}

}  // namespace
