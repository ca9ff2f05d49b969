// Which proxy a request takes: one set on it, the environment's, or a PAC script's, read
// from a file or fetched from nginx; checked by what tinyproxy and microsocks carried.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <atomic>

#include "ProxyCounters.h"
#include "http/RequestTestSupport.h"
#include "servers/InProcessHttpServer.h"
#include "servers/NginxServer.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;
using lumaro::test::CountingMicrosocks;
using lumaro::test::CountingTinyproxy;
using lumaro::test::NginxServer;

void clearProxyVariables() {
    for (const char* name : lumaro::test::kProxyVariables) qunsetenv(name);
}

enum class Route { Direct, Tinyproxy, Microsocks };

class ProxyDiscovery : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static TempHome home;
        testsupport::application();
    }
    void SetUp() override {
        clearProxyVariables();
        testfiles::writeFile(root_.filePath("hello.txt"), "hello");
        NginxServer::Options options;
        options.root = root_.path();
        nginx_ = std::make_unique<NginxServer>(options);
    }
    void TearDown() override { clearProxyVariables(); }

    QString writeScript(const QString& name, const QByteArray& text) {
        testfiles::writeFile(root_.filePath(name), text);
        return root_.filePath(name);
    }
    // A script that sends /via-tinyproxy/ to tinyproxy, /via-socks/ to microsocks and the
    // rest directly.
    QByteArray routingScript() const {
        return QStringLiteral(
                   "function FindProxyForURL(url, host) {\n"
                   "  if (shExpMatch(url, '*/via-tinyproxy/*')) return 'PROXY 127.0.0.1:%1; "
                   "DIRECT';\n"
                   "  if (shExpMatch(url, '*/via-socks/*')) return 'SOCKS5 127.0.0.1:%2';\n"
                   "  return 'DIRECT';\n"
                   "}\n")
            .arg(tinyproxy_.port())
            .arg(microsocks_.port())
            .toUtf8();
    }

    // Runs request and checks that it was answered over route alone.
    void expectRoute(const HTTPRequestPtr& request, bool synchronous, Route route) {
        const int tinyExpected = tinyproxy_.carried() + (route == Route::Tinyproxy ? 1 : 0);
        const int socksExpected = microsocks_.carried() + (route == Route::Microsocks ? 1 : 0);
        // Each request its own connection, so each shows in a proxy's log.
        request->setShouldAttemptPersistentConnection(false);
        synchronous ? request->startSynchronous() : request->startAsynchronous();
        ASSERT_TRUE(testsupport::waitUntil([&] { return request->isFinished(); }, 15000));
        ASSERT_FALSE(request->error()) << request->error()->localizedDescription.toStdString();
        EXPECT_EQ(request->responseStatusCode(), 404);  // nginx answered, through whatever
        // A proxy may write its log line just after it passed the answer on.
        testsupport::waitUntil([&] { return tinyproxy_.carried() == tinyExpected; }, 2000);
        testsupport::waitUntil([&] { return microsocks_.carried() == socksExpected; }, 2000);
        EXPECT_EQ(tinyproxy_.carried(), tinyExpected);
        EXPECT_EQ(microsocks_.carried(), socksExpected);
    }

    QTemporaryDir root_;
    CountingTinyproxy tinyproxy_;
    CountingMicrosocks microsocks_;
    std::unique_ptr<NginxServer> nginx_;
};

TEST_F(ProxyDiscovery, AProxySetOnTheRequestIsUsedWithoutAskingTheSystem) {
    qputenv("http_proxy", "socks4://127.0.0.1:1");
    auto refused = HTTPRequest::requestWithURL(QUrl(nginx_->url("/x")));
    refused->startSynchronous();
    ASSERT_TRUE(refused->error());
    EXPECT_EQ(refused->error()->code, http::InternalErrorWhileBuildingRequestType);
    EXPECT_EQ(refused->error()->localizedDescription,
              "Unable to obtain information on proxy servers needed for request");

    auto request = HTTPRequest::requestWithURL(QUrl(nginx_->url("/x")));
    request->setProxyHost("127.0.0.1");
    request->setProxyPort(tinyproxy_.port());
    expectRoute(request, true, Route::Tinyproxy);
}

TEST_F(ProxyDiscovery, ARedirectToAnotherHostFindsItsOwnProxy) {
    InProcessHttpServer server;
    const QString target = nginx_->url("/x").replace("127.0.0.1", "localhost");
    server.server().Get("/go", [&](const httplib::Request&, httplib::Response& response) {
        response.set_redirect(target.toStdString());
    });
    server.start();
    qputenv("http_proxy", tinyproxy_.address().toUtf8());
    qputenv("no_proxy", "localhost");
    auto request = HTTPRequest::requestWithURL(server.url("/go"));
    expectRoute(request, true, Route::Tinyproxy);  // the first hop only
    EXPECT_EQ(request->url().toString(), target);
    EXPECT_TRUE(request->proxyHost().isEmpty());
}

TEST_F(ProxyDiscovery, APacScriptFromAFileOrFromNginxChoosesPerAddress) {
    const QString file = writeScript("route.pac", routingScript());
    const struct {
        const char* path;
        Route route;
    } cases[] = {{"/via-tinyproxy/x", Route::Tinyproxy},
                 {"/via-socks/x", Route::Microsocks},
                 {"/x", Route::Direct}};
    for (const QUrl& script : {QUrl::fromLocalFile(file), QUrl(nginx_->url("/route.pac"))}) {
        for (const auto& c : cases) {
            for (bool synchronous : {true, false}) {
                SCOPED_TRACE(script.toString().toStdString() + " " + c.path +
                             (synchronous ? " synchronous" : " queued"));
                auto request = HTTPRequest::requestWithURL(QUrl(nginx_->url(c.path)));
                request->setPACurl(script);
                expectRoute(request, synchronous, c.route);
            }
        }
    }
    EXPECT_EQ(HTTPRequest::sharedQueue().maxConcurrentOperationCount(), 4);
}

TEST_F(ProxyDiscovery, APacFileThatIsNotUtf8IsReadAsLatin1) {
    // "\xe9" alone is not UTF-8; read as ISO Latin 1 it is the letter the script compares.
    const QByteArray text = QStringLiteral(
                                "function FindProxyForURL(url, host) {\n"
                                "  return '\xe9' === '\\u00e9' ? 'PROXY 127.0.0.1:%1' : 'DIRECT';\n"
                                "}\n")
                                .arg(tinyproxy_.port())
                                .toLatin1();
    auto request = HTTPRequest::requestWithURL(QUrl(nginx_->url("/x")));
    request->setPACurl(QUrl::fromLocalFile(writeScript("latin1.pac", text)));
    expectRoute(request, true, Route::Tinyproxy);
}

TEST_F(ProxyDiscovery, APacFileThatNeverArrivesTimesOutAndTheRequestGoesDirect) {
    const QString fifo = root_.filePath("silent.pac");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    // A writer that keeps the pipe open and says nothing.
    const int writer = ::open(fifo.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    auto request = HTTPRequest::requestWithURL(QUrl(nginx_->url("/x")));
    request->setPACurl(QUrl::fromLocalFile(fifo));
    request->setTimeOutSeconds(0.5);
    QElapsedTimer clock;
    clock.start();
    expectRoute(request, true, Route::Direct);
    EXPECT_GE(clock.elapsed(), 500);
    ::close(writer);
}

TEST_F(ProxyDiscovery, APacScriptIsFetchedOnceOnAWidenedQueueThatNarrowsAgainEvenOnCancel) {
    InProcessHttpServer server;
    std::atomic<int> fetches{0};
    std::atomic<int> widthWhileFetching{0};
    const std::string text = routingScript().toStdString();
    server.server().Get("/p.pac", [&](const httplib::Request&, httplib::Response& response) {
        ++fetches;
        widthWhileFetching = HTTPRequest::sharedQueue().maxConcurrentOperationCount();
        response.set_content(text, "application/x-ns-proxy-autoconfig");
    });
    server.server().Get("/slow.pac", [&](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        response.set_content(text, "text/plain");
    });
    server.start();
    auto request = HTTPRequest::requestWithURL(QUrl(nginx_->url("/via-socks/x")));
    request->setPACurl(server.url("/p.pac"));
    expectRoute(request, false, Route::Microsocks);
    EXPECT_EQ(fetches, 1);
    EXPECT_EQ(widthWhileFetching, 5);
    EXPECT_EQ(HTTPRequest::sharedQueue().maxConcurrentOperationCount(), 4);

    auto cancelled = HTTPRequest::requestWithURL(QUrl(nginx_->url("/x")));
    cancelled->setPACurl(server.url("/slow.pac"));
    cancelled->startAsynchronous();
    ASSERT_TRUE(testsupport::waitUntil(
        [] { return HTTPRequest::sharedQueue().maxConcurrentOperationCount() == 5; }));
    cancelled->cancel();
    ASSERT_TRUE(testsupport::waitUntil([&] { return cancelled->isFinished(); }));
    EXPECT_EQ(cancelled->error()->code, http::RequestCancelledErrorType);
    EXPECT_EQ(HTTPRequest::sharedQueue().maxConcurrentOperationCount(), 4);
}

}  // namespace
