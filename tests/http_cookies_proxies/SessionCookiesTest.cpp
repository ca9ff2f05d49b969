// Cookies: which a response may set, which go out over which scheme, and the session list
// that clearSession empties.
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

class SessionCookies : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The shared store takes its file from LUMARO_HOME when first used.
        static TempHome home;
        testsupport::application();
    }
    void SetUp() override {
        HTTPRequest::setSessionCookies({});
        CookieStore::shared().replaceAllCookies({});
    }
    TempHome home_;
};

TEST_F(SessionCookies, AResponseSetsCookiesOnlyForItsHostAndParentsThatAreNoPublicSuffix) {
    const struct {
        const char* url;
        const char* setCookie;
        bool taken;
    } cases[] = {
        {"http://www.example.com/", "a=1", true},
        {"http://www.example.com/", "a=1; Domain=example.com", true},
        {"http://www.example.com/", "a=1; Domain=.www.example.com", true},
        {"http://www.example.com/", "a=1; Domain=deeper.www.example.com", false},
        {"http://www.example.com/", "a=1; Domain=other.com", false},
        {"http://badexample.com/", "a=1; Domain=example.com", false},
        {"http://www.example.com/", "a=1; Domain=com", false},
        {"http://www.example.co.uk/", "a=1; Domain=co.uk", false},
        {"http://www.example.co.uk/", "a=1; Domain=example.co.uk", true},
        {"http://127.0.0.1/", "a=1", true},
        {"http://127.0.0.1/", "a=1; Domain=0.0.1", false},
        {"http://a.example.com/", "a=1; Secure", false},
        {"https://a.example.com/", "a=1; Secure", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url) + " " + c.setCookie);
        CookieStore store(home_.path() + "/acceptance");
        const QUrl url(c.url);
        EXPECT_EQ(store.setCookies(parsed(url, c.setCookie), url).size(), c.taken ? 1 : 0);
        EXPECT_EQ(store.allCookies().size(), c.taken ? 1 : 0);
    }
}

TEST_F(SessionCookies, SecureCookiesNeverGoOverPlainHttp) {
    CookieStore store(home_.path() + "/secure");
    const QUrl https("https://shop.test/");
    store.setCookies(parsed(https, "card=1; Secure") + parsed(https, "lang=en"), https);
    const auto names = [&](const char* url) {
        QStringList listed;
        for (const auto& cookie : store.cookiesForUrl(QUrl(url))) listed << cookie.name();
        listed.sort();
        return listed;
    };
    EXPECT_EQ(names("https://shop.test/"), QStringList({"card", "lang"}));
    EXPECT_EQ(names("http://shop.test/"), QStringList({"lang"}));
}

TEST_F(SessionCookies, AddingACookieReplacesTheOneWithTheSameDomainPathAndName) {
    for (const char* line : {"a=1; Domain=x.test", "b=1; Domain=x.test", "a=2; Domain=x.test",
                             "a=3; Domain=x.test; Path=/p", "a=4; Domain=.x.test"}) {
        QNetworkCookie cookie = QNetworkCookie::parseCookies(line).first();
        if (cookie.path().isEmpty()) cookie.setPath("/");
        HTTPRequest::addSessionCookie(cookie);
    }
    QStringList listed;
    for (const auto& c : HTTPRequest::sessionCookies()) {
        listed << QString("%1=%2 %3%4").arg(c.name(), c.value(), c.domain(), c.path());
    }
    EXPECT_EQ(listed, QStringList({"b=1 x.test/", "a=2 x.test/", "a=3 x.test/p", "a=4 .x.test/"}));
}

TEST_F(SessionCookies, ClearSessionTakesTheEnginesCookiesOutOfTheSharedStore) {
    InProcessHttpServer server;
    server.server().Get("/set", [](const httplib::Request& request, httplib::Response& response) {
        response.set_header("Set-Cookie", "s=" + request.get_param_value("v") + "; Path=/");
        // Refused by the store, so never the session's.
        response.set_header("Set-Cookie", "wide=1; Domain=0.0.1");
        response.set_content("set", "text/plain");
    });
    server.server().Get("/echo", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.get_header_value("Cookie"), "text/plain");
    });
    server.start();
    auto run = [&](const QString& path) {
        auto request = HTTPRequest::requestWithURL(server.url(path));
        request->startSynchronous();
        EXPECT_FALSE(request->error());
        return request->responseString().value_or("<none>");
    };
    // One the engine did not take stays when the session goes.
    QNetworkCookie own("own", "1");
    own.setDomain("127.0.0.1");
    own.setPath("/");
    CookieStore::shared().setCookies({own}, server.url("/"));

    run("/set?v=1");
    run("/set?v=2");
    ASSERT_EQ(HTTPRequest::sessionCookies().size(), 1);
    EXPECT_EQ(HTTPRequest::sessionCookies().first().value(), "2");
    EXPECT_EQ(run("/echo"), "own=1; s=2");

    HTTPRequest::clearSession();
    EXPECT_TRUE(HTTPRequest::sessionCookies().isEmpty());
    EXPECT_EQ(run("/echo"), "own=1");
}

}  // namespace
