// The engine against real servers: Debian's nginx (static files, keep-alive, gzip, TLS with
// a certificate made here) and httpbin.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <memory>

#include "FileServer.h"
#include "RequestTestSupport.h"
#include "servers/HttpbinServer.h"
#include "servers/NginxServer.h"
#include "servers/TestCertificates.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;
using namespace testsupport;

using namespace testfiles;

HTTPRequestPtr run(const QString& url, const std::function<void(HTTPRequest&)>& setup = {}) {
    auto request = HTTPRequest::requestWithURL(QUrl(url));
    if (setup) setup(*request);
    request->startSynchronous();
    return request;
}

class NginxInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        application();
        dir_ = new QTemporaryDir();
        QDir(dir_->path()).mkdir("root");
        big_ = new QByteArray(pattern(8 * 1024 * 1024 + 17));
        writeFile(dir_->filePath("root/big.bin"), *big_);
        QByteArray text;
        for (int i = 0; i < 5000; ++i)
            text += "A line of text that compresses well, number " + QByteArray::number(i) + "\n";
        text_ = new QByteArray(text);
        writeFile(dir_->filePath("root/text.txt"), text);
        certificate_ =
            new lumaro::test::ServerCertificate(lumaro::test::makeServerCertificate(dir_->path()));
        nginx_ = testsupport::startFileServer(dir_->filePath("root"), *certificate_);
    }
    static void TearDownTestSuite() {
        delete nginx_;
        delete certificate_;
        delete text_;
        delete big_;
        delete dir_;
    }
    void SetUp() override { ASSERT_NE(nginx_, nullptr); }

    TempHome home_;
    static inline QTemporaryDir* dir_ = nullptr;
    static inline QByteArray* big_ = nullptr;
    static inline QByteArray* text_ = nullptr;
    static inline lumaro::test::ServerCertificate* certificate_ = nullptr;
    static inline lumaro::test::NginxServer* nginx_ = nullptr;
};

TEST_F(NginxInterop, LargeFileArrivesWholeInMemoryAndOnDisk) {
    auto inMemory = run(nginx_->url("/big.bin"));
    ASSERT_FALSE(inMemory->error());
    EXPECT_EQ(inMemory->contentLength(), static_cast<quint64>(big_->size()));
    EXPECT_TRUE(inMemory->responseData() == *big_);

    QTemporaryDir out;
    auto onDisk = run(nginx_->url("/big.bin"), [&](HTTPRequest& r) {
        r.setDownloadDestinationPath(out.filePath("big.bin"));
    });
    ASSERT_FALSE(onDisk->error());
    EXPECT_TRUE(readFile(out.filePath("big.bin")) == *big_);
}

TEST_F(NginxInterop, KeepAliveConnectionsAreReusedAcrossRequests) {
    int reused = 0;
    for (int i = 0; i < 20; ++i) {
        auto request = run(nginx_->url("/text.txt"));
        ASSERT_FALSE(request->error());
        EXPECT_TRUE(request->connectionCanBeReused());
        reused += request->connectionWasReused() ? 1 : 0;
    }
    EXPECT_GE(reused, 19);

    auto closing = run(nginx_->url("/text.txt"),
                       [](HTTPRequest& r) { r.setShouldAttemptPersistentConnection(false); });
    EXPECT_FALSE(closing->connectionCanBeReused());
}

TEST_F(NginxInterop, GzipAnswersAreInflatedAndHeadRequestsHaveNoBody) {
    auto compressed = run(nginx_->url("/text.txt"));
    ASSERT_FALSE(compressed->error());
    EXPECT_TRUE(compressed->isResponseCompressed());
    EXPECT_LT(compressed->rawResponseData().size(), text_->size() / 5);
    EXPECT_EQ(compressed->responseData(), *text_);

    auto plain =
        run(nginx_->url("/text.txt"), [](HTTPRequest& r) { r.setAllowCompressedResponse(false); });
    EXPECT_FALSE(plain->isResponseCompressed());
    EXPECT_EQ(plain->rawResponseData(), *text_);

    auto head = run(nginx_->url("/big.bin"), [](HTTPRequest& r) { r.setRequestMethod("HEAD"); });
    ASSERT_FALSE(head->error());
    EXPECT_EQ(head->responseStatusCode(), 200);
    EXPECT_EQ(head->responseHeaders().value("Content-Length").toLongLong(), big_->size());
    EXPECT_TRUE(head->rawResponseData().isEmpty());
}

TEST_F(NginxInterop, InterruptedDownloadResumesWithARange) {
    QTemporaryDir out;
    const QString partial = out.filePath("big.part");
    writeFile(partial, big_->left(1234567));
    auto request = run(nginx_->url("/big.bin"), [&](HTTPRequest& r) {
        r.setDownloadDestinationPath(out.filePath("big.bin"));
        r.setTemporaryFileDownloadPath(partial);
        r.setAllowResumeForFileDownloads(true);
    });
    ASSERT_FALSE(request->error());
    EXPECT_EQ(request->responseStatusCode(), 206);
    EXPECT_EQ(request->totalBytesRead(), static_cast<quint64>(big_->size() - 1234567));
    EXPECT_TRUE(readFile(out.filePath("big.bin")) == *big_);
}

TEST_F(NginxInterop, TlsCertificatesAreCheckedUnlessTrustedOrToldNotTo) {
    auto strict = run(nginx_->httpsUrl("/text.txt"));
    ASSERT_TRUE(strict->error());
    EXPECT_EQ(strict->error()->code, 1);
    EXPECT_EQ(strict->error()->localizedDescription,
              "A connection failure occurred: SSL problem (Possible causes may include a "
              "bad/expired/self-signed certificate, clock set to wrong date)");
    ASSERT_TRUE(strict->error()->underlyingError);
    EXPECT_GE(strict->error()->underlyingError->code, -9818);
    EXPECT_LE(strict->error()->underlyingError->code, -9800);

    auto trusting = run(nginx_->httpsUrl("/text.txt"), [](HTTPRequest& r) {
        r.setExtraTrustedCertificates(QSslCertificate::fromPath(certificate_->certificateFile));
    });
    ASSERT_FALSE(trusting->error()) << trusting->error()->localizedDescription.toStdString();
    EXPECT_EQ(trusting->responseData(), *text_);

    auto unchecked = run(nginx_->httpsUrl("/big.bin"),
                         [](HTTPRequest& r) { r.setValidatesSecureCertificate(false); });
    ASSERT_FALSE(unchecked->error());
    EXPECT_TRUE(unchecked->responseData() == *big_);
}

class HttpbinInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        application();
        httpbin_ = new HttpbinServer();
    }
    static void TearDownTestSuite() { delete httpbin_; }
    void SetUp() override {
        ASSERT_TRUE(httpbin_->available()) << httpbin_->failure().toStdString();
    }
    static QJsonObject json(const HTTPRequestPtr& request) {
        return QJsonDocument::fromJson(request->responseData()).object();
    }
    static QString url(const QString& path) { return httpbin_->url(path).toString(); }

    TempHome home_;
    static inline HttpbinServer* httpbin_ = nullptr;
};

TEST_F(HttpbinInterop, GetPostAndHeadAsTheServerSeesThem) {
    auto get = run(url("/get?x=1"), [](HTTPRequest& r) { r.addRequestHeader("X-Test", "yes"); });
    ASSERT_FALSE(get->error());
    EXPECT_EQ(json(get)["args"].toObject()["x"].toString(), "1");
    EXPECT_EQ(json(get)["headers"].toObject()["X-Test"].toString(), "yes");

    auto post = run(url("/post"), [](HTTPRequest& r) {
        r.addRequestHeader("Content-Type", "application/octet-stream");
        r.appendPostData("from memory");
    });
    ASSERT_FALSE(post->error());
    EXPECT_EQ(json(post)["data"].toString(), "from memory");

    QTemporaryDir dir;
    writeFile(dir.filePath("body.txt"), "from disk");
    auto fromDisk = run(url("/put"), [&](HTTPRequest& r) {
        r.setRequestMethod("PUT");
        r.addRequestHeader("Content-Type", "application/octet-stream");
        r.setShouldStreamPostDataFromDisk(true);
        r.setPostBodyFilePath(dir.filePath("body.txt"));
    });
    ASSERT_FALSE(fromDisk->error());
    EXPECT_EQ(json(fromDisk)["data"].toString(), "from disk");

    auto head = run(url("/get"), [](HTTPRequest& r) { r.setRequestMethod("HEAD"); });
    ASSERT_FALSE(head->error());
    EXPECT_EQ(head->responseStatusCode(), 200);
    EXPECT_TRUE(head->rawResponseData().isEmpty());
}

TEST_F(HttpbinInterop, GzipChunkedCharsetAndStatusAnswers) {
    auto gzip = run(url("/gzip"));
    ASSERT_FALSE(gzip->error());
    EXPECT_TRUE(gzip->isResponseCompressed());
    EXPECT_TRUE(json(gzip)["gzipped"].toBool());

    auto chunked = run(url("/stream-bytes/50000?seed=3&chunk_size=1000"));
    ASSERT_FALSE(chunked->error());
    EXPECT_EQ(chunked->responseData().size(), 50000);

    auto typed = run(url("/response-headers?Content-Type=text/plain;%20charset=utf-8"));
    EXPECT_EQ(typed->responseEncoding(), http::StringEncodings::UTF8);

    auto missing = run(url("/status/404"));
    EXPECT_FALSE(missing->error());
    EXPECT_EQ(missing->responseStatusCode(), 404);

    auto unauthorised = run(url("/basic-auth/user/pass"));
    ASSERT_TRUE(unauthorised->error());
    EXPECT_EQ(unauthorised->error()->code, 3);

    auto authorised = run(url("/basic-auth/user/pass"), [](HTTPRequest& r) {
        r.addBasicAuthenticationHeaderWithUsername("user", "pass");
    });
    ASSERT_FALSE(authorised->error());
    EXPECT_TRUE(json(authorised)["authenticated"].toBool());
}

TEST_F(HttpbinInterop, CookiesSetByTheServerAreSentBack) {
    auto set = run(url("/cookies/set?flavour=oat"));
    ASSERT_FALSE(set->error());
    auto back = run(url("/cookies"));
    EXPECT_EQ(json(back)["cookies"].toObject()["flavour"].toString(), "oat");
}

}  // namespace
