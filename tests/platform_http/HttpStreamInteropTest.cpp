// The stream against Debian's nginx over TLS (certificates made here) and tinyproxy refusing a
// tunnel. Requests carried through tinyproxy and microsocks are lumaro-fetch's tests.

#include <gtest/gtest.h>

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

using namespace lumaro::test;
using namespace platform;
using testfiles::writeFile;

namespace {

class HttpStreamInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ensureCoreApplication();
        s_dir = std::make_unique<QTemporaryDir>();
        const QString root = s_dir->filePath("www");
        QDir().mkpath(root + "/private");
        writeFile(root + "/hello.txt", "hello from nginx\n");
        writeFile(root + "/private/secret.txt", "for certified clients\n");

        s_server = makeServerCertificate(s_dir->path());
        s_client = makeClientCertificate(s_dir->path());
        NginxServer::Options options;
        options.root = root;
        options.certificateFile = s_server.certificateFile;
        options.keyFile = s_server.keyFile;
        options.clientCaFile = s_client.caFile;
        options.extraTlsServerConfig = QStringLiteral(
            "location /private/ { if ($ssl_client_verify != SUCCESS) { return 403; } }");
        s_nginx = std::make_unique<NginxServer>(options);
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
                                              const HttpSecuritySettings& security = {}) {
        auto s = HttpStream::create(makeMessage(url.toStdString()));
        s->setSecuritySettings(security);
        return s;
    }

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline std::unique_ptr<NginxServer> s_nginx;
    static inline ServerCertificate s_server;
    static inline ClientCertificate s_client;
};

TEST_F(HttpStreamInterop, CertificateFaultsAreSecurityFailuresUnlessAllowed) {
    const auto expired = makeExpiredServerCertificate(s_dir->path());
    NginxServer::Options options;
    options.root = s_dir->filePath("www");
    options.certificateFile = expired.certificateFile;
    options.keyFile = expired.keyFile;
    NginxServer expiredNginx(options);
    HttpSecuritySettings allowingExpiry = trusting(expired.caFile);
    allowingExpiry.allowsExpiredCertificates = true;
    HttpSecuritySettings anyName = trusting();
    anyName.checksPeerName = false;
    const QString hello = s_nginx->httpsUrl("/hello.txt");
    const int anyCode = 0;
    using namespace security_error;
    const struct {
        const char* name;
        QString url;
        HttpSecuritySettings strict;
        int code;
        HttpSecuritySettings allowed;
    } cases[] = {
        {"untrusted", hello, {}, kUnknownRootCertificate, HttpSecuritySettings::unvalidated()},
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

// A kept connection was checked against one stream's TLS settings and identity; it serves no
// stream with other settings.
TEST_F(HttpStreamInterop, ClientIdentityIsPresentedAndItsConnectionServesNoOtherSettings) {
    QFile bundle(s_client.pkcs12File);
    ASSERT_TRUE(bundle.open(QIODevice::ReadOnly));
    auto identity = HttpClientIdentity::fromPkcs12(&bundle, s_client.passphrase);
    ASSERT_TRUE(identity.has_value());
    bundle.seek(0);
    EXPECT_FALSE(HttpClientIdentity::fromPkcs12(&bundle, "wrong").has_value());
    HttpSecuritySettings settings = trusting();
    const struct {
        bool presented;
        bool reused;
    } cases[] = {{true, false}, {false, false}, {true, true}};
    for (const auto& c : cases) {
        settings.identity = c.presented ? identity : std::nullopt;
        auto s = persistentStream(
            makeMessage(s_nginx->httpsUrl("/private/secret.txt").toStdString()), 77);
        s->setSecuritySettings(settings);
        const auto outcome = runStream(s);
        ASSERT_TRUE(outcome.ended) << outcome.error.description.toStdString();
        EXPECT_EQ(outcome.header.statusCode(), c.presented ? 200 : 403);
        EXPECT_EQ(outcome.body == "for certified clients\n", c.presented);
        EXPECT_EQ(outcome.reused, c.reused);
    }
}

TEST_F(HttpStreamInterop, ARefusedTunnelOrNoProxyIsAProxyFailure) {
    TinyproxyServer tinyproxy({1});  // CONNECT allowed to port 1 only
    const unsigned short closedPort = freeLoopbackPort();
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
        EXPECT_EQ(outcome.error.code, network_error::kProxyConnectionFailed);
        EXPECT_FALSE(outcome.header.isHeaderComplete());
    }
}

}  // namespace
