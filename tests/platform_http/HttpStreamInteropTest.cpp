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
using testfiles::writeFile;

namespace {

// Three times the stream's socket read buffer, so that the reader has to catch up.
constexpr qint64 kLargeFileSize = 12 * 1024 * 1024 + 123;

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

    static HttpSecuritySettings trusting(const QString& caFile = s_server.certificateFile) {
        HttpSecuritySettings settings;
        settings.extraCaCertificates = QSslCertificate::fromPath(caFile);
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
        const auto outcome = runStream(stream(url, trusting()), 30000, 262144);
        ASSERT_TRUE(outcome.ended) << outcome.error.description.toStdString();
        EXPECT_EQ(outcome.header.value("content-length").toLongLong(), kLargeFileSize);
        ASSERT_EQ(static_cast<qint64>(outcome.body.size()), kLargeFileSize);
        EXPECT_EQ(QCryptographicHash::hash(QByteArray::fromStdString(outcome.body),
                                           QCryptographicHash::Sha256),
                  s_largeDigest);
    }
}

TEST_F(HttpStreamInterop, HeadCarriesNoBodyAndKeepAliveOverTlsOutlivesA304) {
    const auto head = runStream(stream(s_nginx->url("/hello.txt"), {}, "HEAD"));
    ASSERT_TRUE(head.ended);
    EXPECT_EQ(head.body, "");
    EXPECT_EQ(head.header.value("Content-Length"), "17");
    auto message = makeMessage(s_nginx->httpsUrl("/hello.txt").toStdString());
    message.setHeaderFieldValue("If-Modified-Since", head.header.value("Last-Modified"));
    for (int i = 0; i < 3; ++i) {
        auto s = persistentStream(message, 77);
        s->setSecuritySettings(trusting());
        const auto outcome = runStream(s);
        ASSERT_TRUE(outcome.ended);
        EXPECT_EQ(outcome.header.statusCode(), 304);
        EXPECT_EQ(outcome.reused, i > 0);
    }
    // Other TLS settings make another connection even with the same id.
    auto other = persistentStream(message, 77);
    other->setSecuritySettings(HttpSecuritySettings::unvalidated());
    const auto outcome = runStream(other);
    ASSERT_TRUE(outcome.ended);
    EXPECT_FALSE(outcome.reused);
}

TEST_F(HttpStreamInterop, CertificateFaultsAreSecurityFailuresUnlessAllowed) {
    const auto expired = lumaro::test::makeExpiredServerCertificate(s_dir->path());
    lumaro::test::NginxServer::Options options;
    options.root = s_dir->filePath("www");
    options.certificateFile = expired.certificateFile;
    options.keyFile = expired.keyFile;
    lumaro::test::NginxServer expiredNginx(options);
    HttpSecuritySettings allowingExpiry = trusting(expired.caFile);
    allowingExpiry.allowsExpiredCertificates = true;
    HttpSecuritySettings anyName = trusting();
    anyName.checksPeerName = false;
    const QString hello = s_nginx->httpsUrl("/hello.txt");
    const int anyCode = 0;
    using namespace platform::security_error;
    const struct {
        const char* name;
        QString url;
        HttpSecuritySettings strict;
        int code;
        HttpSecuritySettings allowed;
    } cases[] = {
        {"untrusted", hello, {}, kUnknownRootCertificate, HttpSecuritySettings::unvalidated()},
        {"untrusted, then trusted", hello, {}, anyCode, trusting()},
        {"another name", s_nginx->httpsUrl("/hello.txt", "localhost"), trusting(), anyCode,
         anyName},
        {"expired", expiredNginx.httpsUrl("/hello.txt"), trusting(expired.caFile),
         kCertificateExpired, allowingExpiry},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto refused = runStream(stream(c.url, c.strict));
        ASSERT_TRUE(refused.failed);
        EXPECT_TRUE(refused.error.isSecurityFailure());
        EXPECT_TRUE(c.code == anyCode || refused.error.code == c.code) << refused.error.code;
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
    HttpSecuritySettings withIdentity = trusting();
    for (const bool presented : {true, false}) {
        withIdentity.identity = presented ? identity : std::nullopt;
        const auto outcome =
            runStream(stream(s_nginx->httpsUrl("/private/secret.txt"), withIdentity));
        ASSERT_TRUE(outcome.ended) << outcome.error.description.toStdString();
        EXPECT_EQ(outcome.header.statusCode(), presented ? 200 : 403);
        EXPECT_EQ(outcome.body == "for certified clients\n", presented);
    }
}

TEST_F(HttpStreamInterop, ARefusedTunnelOrNoProxyIsAProxyFailure) {
    lumaro::test::TinyproxyServer tinyproxy({1});  // CONNECT allowed to port 1 only
    const unsigned short closedPort = lumaro::test::freeLoopbackPort();
    const struct {
        HttpProxyType type;
        unsigned short port;
        QString url;
    } cases[] = {
        {HttpProxyType::Https, tinyproxy.port(), s_nginx->httpsUrl("/hello.txt")},
        {HttpProxyType::Http, closedPort, s_nginx->url("/hello.txt")},
        {HttpProxyType::Socks, closedPort, s_nginx->url("/hello.txt")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        auto s = stream(c.url, trusting());
        s->setProxy({c.type, "127.0.0.1", c.port});
        const auto outcome = runStream(s, 10000);
        ASSERT_TRUE(outcome.failed);
        EXPECT_EQ(outcome.error.code, platform::network_error::kProxyConnectionFailed);
        EXPECT_FALSE(outcome.header.isHeaderComplete());
    }
}

}  // namespace
