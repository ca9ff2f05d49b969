// The stream against real servers: Debian's nginx over HTTP and TLS (certificates made here)
// and tinyproxy refusing a tunnel. Requests carried through tinyproxy and microsocks are
// lumaro-fetch's tests.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <memory>

#include "platform/http/HttpStream.h"
#include "platform_http/StreamDriver.h"
#include "servers/FreePort.h"
#include "servers/NginxServer.h"
#include "servers/ProxyServers.h"
#include "servers/TestCertificates.h"
#include "support/Files.h"

using lumaro::test::makeMessage;
using lumaro::test::persistentStream;
using lumaro::test::runStream;
using platform::HttpProxyType;
using platform::HttpSecuritySettings;
using platform::HttpStream;
using platform::HttpStreamErrorDomain;
using testfiles::writeFile;

namespace {

constexpr qint64 kLargeFileSize = 48 * 1024 * 1024 + 123;

class HttpStreamInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        lumaro::test::ensureCoreApplication();
        s_dir = std::make_unique<QTemporaryDir>();
        const QString root = s_dir->filePath("www");
        QDir().mkpath(root + "/private");
        writeFile(root + "/hello.txt", "hello from nginx\n");
        writeFile(root + "/private/secret.txt", "for certified clients\n");
        const QByteArray large = testfiles::pattern(kLargeFileSize);
        writeFile(root + "/large.bin", large);
        s_largeDigest = QCryptographicHash::hash(large, QCryptographicHash::Sha256);

        s_server = lumaro::test::makeServerCertificate(s_dir->path());
        s_client = lumaro::test::makeClientCertificate(s_dir->path());
        lumaro::test::NginxServer::Options options;
        options.root = root;
        options.certificateFile = s_server.certificateFile;
        options.keyFile = s_server.keyFile;
        options.clientCaFile = s_client.caFile;
        options.extraTlsServerConfig = QStringLiteral(
            "location /private/ { if ($ssl_client_verify != SUCCESS) { return 403; } }");
        s_nginx = std::make_unique<lumaro::test::NginxServer>(options);
    }

    static void TearDownTestSuite() {
        s_nginx.reset();
        s_dir.reset();
    }

    void TearDown() override { HttpStream::closeIdleConnections(); }

    static HttpSecuritySettings trustingTheServer() {
        HttpSecuritySettings settings;
        settings.extraCaCertificates = QSslCertificate::fromPath(s_server.certificateFile);
        return settings;
    }

    static std::shared_ptr<HttpStream> stream(const QString& url,
                                              const HttpSecuritySettings& security = {},
                                              const QString& method = "GET") {
        auto s = HttpStream::create(makeMessage(url.toStdString(), method));
        s->setSecuritySettings(security);
        return s;
    }

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline std::unique_ptr<lumaro::test::NginxServer> s_nginx;
    static inline lumaro::test::ServerCertificate s_server;
    static inline lumaro::test::ClientCertificate s_client;
    static inline QByteArray s_largeDigest;
};

TEST_F(HttpStreamInterop, LargeFileArrivesWholeOverHttpAndHttps) {
    for (const QString& url : {s_nginx->url("/large.bin"), s_nginx->httpsUrl("/large.bin")}) {
        SCOPED_TRACE(url.toStdString());
        const auto outcome = runStream(stream(url, trustingTheServer()), 30000, 262144);
        ASSERT_TRUE(outcome.ended) << outcome.error.description.toStdString();
        EXPECT_EQ(outcome.header.statusCode(), 200);
        EXPECT_EQ(outcome.header.value("content-length").toLongLong(), kLargeFileSize);
        ASSERT_EQ(static_cast<qint64>(outcome.body.size()), kLargeFileSize);
        EXPECT_EQ(QCryptographicHash::hash(QByteArray::fromStdString(outcome.body),
                                           QCryptographicHash::Sha256),
                  s_largeDigest);
    }
}

TEST_F(HttpStreamInterop, HeadAndNotModifiedAnswersCarryNoBody) {
    const auto head = runStream(stream(s_nginx->url("/hello.txt"), {}, "HEAD"));
    ASSERT_TRUE(head.ended);
    EXPECT_EQ(head.body, "");
    EXPECT_EQ(head.header.value("Content-Length"), "17");

    auto message = makeMessage(s_nginx->url("/hello.txt").toStdString());
    message.setHeaderFieldValue("If-Modified-Since", head.header.value("Last-Modified"));
    auto conditional = persistentStream(message, 1);
    const auto notModified = runStream(conditional);
    ASSERT_TRUE(notModified.ended);
    EXPECT_EQ(notModified.header.statusCode(), 304);
    EXPECT_EQ(HttpStream::idleConnectionCount(), 1) << "a 304 leaves the connection usable";
}

TEST_F(HttpStreamInterop, CertificateFaultsAreSecurityFailuresUnlessAllowed) {
    const auto expired = lumaro::test::makeExpiredServerCertificate(s_dir->path());
    lumaro::test::NginxServer::Options options;
    options.root = s_dir->filePath("www");
    options.certificateFile = expired.certificateFile;
    options.keyFile = expired.keyFile;
    lumaro::test::NginxServer expiredNginx(options);
    HttpSecuritySettings trustingExpired;
    trustingExpired.extraCaCertificates = QSslCertificate::fromPath(expired.caFile);
    HttpSecuritySettings allowingExpiry = trustingExpired;
    allowingExpiry.allowsExpiredCertificates = true;
    HttpSecuritySettings anyName = trustingTheServer();
    anyName.checksPeerName = false;

    const int anyCode = 0;
    const struct {
        const char* name;
        QString url;
        HttpSecuritySettings strict;
        int code;
        HttpSecuritySettings allowed;
    } cases[] = {
        {"untrusted",
         s_nginx->httpsUrl("/hello.txt"),
         {},
         platform::security_error::kUnknownRootCertificate,
         HttpSecuritySettings::unvalidated()},
        {"untrusted, then trusted",
         s_nginx->httpsUrl("/hello.txt"),
         {},
         anyCode,
         trustingTheServer()},
        {"another name", s_nginx->httpsUrl("/hello.txt", "localhost"), trustingTheServer(), anyCode,
         anyName},
        {"expired", expiredNginx.httpsUrl("/hello.txt"), trustingExpired,
         platform::security_error::kCertificateExpired, allowingExpiry},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto refused = runStream(stream(c.url, c.strict));
        ASSERT_TRUE(refused.failed);
        EXPECT_TRUE(refused.error.isSecurityFailure());
        if (c.code != anyCode) {
            EXPECT_EQ(refused.error.code, c.code);
        }
        const auto admitted = runStream(stream(c.url, c.allowed));
        ASSERT_TRUE(admitted.ended) << admitted.error.description.toStdString();
        EXPECT_EQ(admitted.body, "hello from nginx\n");
    }
}

TEST_F(HttpStreamInterop, ClientIdentityFromPkcs12IsPresented) {
    QFile bundle(s_client.pkcs12File);
    ASSERT_TRUE(bundle.open(QIODevice::ReadOnly));
    auto identity = platform::HttpClientIdentity::fromPkcs12(&bundle, s_client.passphrase);
    ASSERT_TRUE(identity.has_value());
    bundle.seek(0);
    EXPECT_FALSE(platform::HttpClientIdentity::fromPkcs12(&bundle, "wrong").has_value());

    HttpSecuritySettings withIdentity = trustingTheServer();
    withIdentity.identity = identity;
    const auto admitted = runStream(stream(s_nginx->httpsUrl("/private/secret.txt"), withIdentity));
    ASSERT_TRUE(admitted.ended) << admitted.error.description.toStdString();
    EXPECT_EQ(admitted.header.statusCode(), 200);
    EXPECT_EQ(admitted.body, "for certified clients\n");

    const auto refused =
        runStream(stream(s_nginx->httpsUrl("/private/secret.txt"), trustingTheServer()));
    ASSERT_TRUE(refused.ended);
    EXPECT_EQ(refused.header.statusCode(), 403);
}

TEST_F(HttpStreamInterop, KeepAliveOverTlsReusesTheConnection) {
    for (int i = 0; i < 3; ++i) {
        auto s = persistentStream(makeMessage(s_nginx->httpsUrl("/hello.txt").toStdString()), 77);
        s->setSecuritySettings(trustingTheServer());
        const auto outcome = runStream(s);
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(outcome.reused, i > 0);
    }
    // Other TLS settings make another connection even with the same id.
    auto other = persistentStream(makeMessage(s_nginx->httpsUrl("/hello.txt").toStdString()), 77);
    other->setSecuritySettings(HttpSecuritySettings::unvalidated());
    const auto outcome = runStream(other);
    ASSERT_TRUE(outcome.ended);
    EXPECT_FALSE(outcome.reused);
}

TEST_F(HttpStreamInterop, ARefusedTunnelOrNoProxyIsAProxyFailure) {
    lumaro::test::TinyproxyServer proxy({1});  // CONNECT allowed to port 1 only
    auto tunnel = stream(s_nginx->httpsUrl("/hello.txt"), trustingTheServer());
    tunnel->setProxy({HttpProxyType::Https, "127.0.0.1", proxy.port()});
    const auto refused = runStream(tunnel, 10000);
    ASSERT_TRUE(refused.failed);
    EXPECT_EQ(refused.error.code, platform::network_error::kProxyConnectionFailed);
    EXPECT_FALSE(refused.header.isHeaderComplete());

    const unsigned short closedPort = lumaro::test::freeLoopbackPort();
    for (HttpProxyType type : {HttpProxyType::Http, HttpProxyType::Socks}) {
        auto s = stream(s_nginx->url("/hello.txt"));
        s->setProxy({type, "127.0.0.1", closedPort});
        const auto outcome = runStream(s);
        ASSERT_TRUE(outcome.failed);
        EXPECT_EQ(outcome.error.code, platform::network_error::kProxyConnectionFailed);
    }
}

}  // namespace
