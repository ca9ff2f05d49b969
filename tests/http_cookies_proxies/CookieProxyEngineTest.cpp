// Cookies: which a response may set, which go out over plain HTTP, and the session's own. A proxy
// auto-configuration script fetched over HTTP widens the shared queue by one while it comes, so
// that it cannot wait behind the requests that wait for it; a cancel narrows it again.
#include <gtest/gtest.h>

#include "http/RequestTestSupport.h"
#include "platform/CookieStore.h"
#include "servers/InProcessHttpServer.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using platform::CookieStore;

QList<QNetworkCookie> parsed(const QUrl& url, const QByteArray& setCookie) {
    return CookieStore::cookiesWithResponseHeaderFields({{"Set-Cookie", setCookie}}, url);
}

TEST(CookieAcceptance, OnlyForTheHostAndParentsThatAreNoPublicSuffixAndSecureOnesStayOffHttp) {
    TempHome home;
    const struct {
        const char* url;
        const char* setCookie;
        bool taken;
    } cases[] = {
        {"http://www.example.com/", "a=1", true},
        {"http://www.example.com/", "a=1; Domain=example.com", true},
        {"http://badexample.com/", "a=1; Domain=example.com", false},
        {"http://www.example.com/", "a=1; Domain=com", false},
        {"http://www.example.co.uk/", "a=1; Domain=co.uk", false},
        {"http://www.example.co.uk/", "a=1; Domain=example.co.uk", true},
        {"http://127.0.0.1/", "a=1; Domain=0.0.1", false},
        {"http://a.example.com/", "a=1; Secure", false},
        {"https://a.example.com/", "a=1; Secure", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url) + " " + c.setCookie);
        CookieStore store(home.path() + "/acceptance");
        const QUrl url(c.url);
        EXPECT_EQ(store.setCookies(parsed(url, c.setCookie), url).size(), c.taken ? 1 : 0);
        EXPECT_EQ(store.allCookies().size(), c.taken ? 1 : 0);
    }
    // Nor does a Secure one ever go out over plain HTTP.
    CookieStore store(home.path() + "/secure");
    const QUrl https("https://shop.test/");
    store.setCookies(parsed(https, "card=1; Secure") + parsed(https, "lang=en"), https);
    EXPECT_EQ(store.cookiesForUrl(https).size(), 2);
    const auto plain = store.cookiesForUrl(QUrl("http://shop.test/"));
    ASSERT_EQ(plain.size(), 1);
    EXPECT_EQ(plain.first().name(), "lang");
}

TEST(SessionCookies, ALaterCookieReplacesItsNamesakeAndClearSessionTakesOnlyTheEnginesOwn) {
    static TempHome home;
    testsupport::application();
    InProcessHttpServer server;
    server.server().Get("/set", [](const httplib::Request& request, httplib::Response& response) {
        response.set_header("Set-Cookie", "a=" + request.get_param_value("a") + "; Path=/");
    });
    std::string sent;
    server.server().Get("/show", [&](const httplib::Request& request, httplib::Response&) {
        sent = request.get_header_value("Cookie");
    });
    server.start();
    HTTPRequest::clearSession();
    const QUrl show = server.url("/show");
    // Set by the user, not by an answer: the session does not own it.
    CookieStore::shared().setCookies({QNetworkCookie("mine", "1")}, show);
    for (const char* value : {"1", "2"}) {
        HTTPRequest::requestWithURL(server.url(QStringLiteral("/set?a=") + value))
            ->startSynchronous();
    }
    ASSERT_EQ(HTTPRequest::sessionCookies().size(), 1);
    EXPECT_EQ(HTTPRequest::sessionCookies().first().value(), "2");
    HTTPRequest::requestWithURL(show)->startSynchronous();
    EXPECT_NE(sent.find("a=2"), std::string::npos) << sent;
    HTTPRequest::clearSession();
    EXPECT_TRUE(HTTPRequest::sessionCookies().isEmpty());
    HTTPRequest::requestWithURL(show)->startSynchronous();
    EXPECT_EQ(sent, "mine=1");
}

TEST(ProxyDiscovery, TheQueueWidenedForAPacScriptNarrowsAgainWhenTheRequestIsCancelled) {
    static TempHome home;
    testsupport::application();
    InProcessHttpServer server;
    server.server().Get("/slow.pac", [](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        response.set_content("function FindProxyForURL(url, host) { return 'DIRECT'; }",
                             "text/plain");
    });
    server.start();
    const int width = HTTPRequest::sharedQueue().maxConcurrentOperationCount();
    auto request = HTTPRequest::requestWithURL(server.url("/x"));
    request->setPACurl(server.url("/slow.pac"));
    request->startAsynchronous();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return HTTPRequest::sharedQueue().maxConcurrentOperationCount() == width + 1; }));
    request->cancel();
    ASSERT_TRUE(testsupport::waitUntil([&] { return request->isFinished(); }));
    EXPECT_EQ(request->error()->code, http::RequestCancelledErrorType);
    EXPECT_EQ(HTTPRequest::sharedQueue().maxConcurrentOperationCount(), width);
}

}  // namespace
