// Credentials against scripted servers: answering 401 and 407, the session store and what it
// sends before a challenge, refusals that end instead of looping, schemes that cannot be
// answered, redirects to other servers, and the delegate, block and queue questions.

#include <gtest/gtest.h>

#include <mutex>

#include "RequestTestSupport.h"
#include "http/NetworkQueue.h"
#include "servers/ScriptedServer.h"

using http::HTTPRequest;
using http::HTTPRequestPtr;
using lumaro::test::ReceivedRequest;
using lumaro::test::ScriptedConnection;
using lumaro::test::ScriptedServer;
using testsupport::waitUntil;

namespace {

// Every answer closes its connection, so a server stops as soon as its test is done.
const std::string kOk = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok";

std::string challenge(const std::string& field, int status = 401) {
    const std::string reason = status == 407 ? "Proxy Authentication Required" : "Unauthorized";
    const std::string name = status == 407 ? "Proxy-Authenticate" : "WWW-Authenticate";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + name + ": " + field +
           "\r\nConnection: close\r\nContent-Length: 6\r\n\r\ndenied";
}

// A server that answers every request from its script and remembers what it was sent.
class AuthServer {
public:
    using Script = std::function<std::string(const ReceivedRequest&)>;
    explicit AuthServer(Script script)
        : m_script(std::move(script)), m_server([this](ScriptedConnection& c) {
              while (auto request = c.readRequest(3000)) {
                  std::string answer;
                  {
                      std::lock_guard lock(m_mutex);
                      m_requests.push_back(*request);
                      answer = m_script(*request);
                  }
                  if (!c.send(answer) || answer.find("Connection: close") != std::string::npos)
                      break;
              }
          }) {}

    // Basic for user:password under realm, the way most servers do it.
    static AuthServer basic(const std::string& expected = "Basic dTpw",
                            const std::string& realm = "r") {
        return AuthServer([expected, realm](const ReceivedRequest& r) {
            return r.header("Authorization") == expected
                       ? kOk
                       : challenge("Basic realm=\"" + realm + "\"");
        });
    }

    QUrl url(const std::string& path = "/") const {
        return QUrl(QString::fromStdString(m_server.url(path)));
    }
    std::vector<ReceivedRequest> requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    std::vector<std::string> authorizations(const char* field = "Authorization") const {
        std::vector<std::string> values;
        for (const auto& r : requests()) values.push_back(r.header(field));
        return values;
    }

private:
    Script m_script;
    mutable std::mutex m_mutex;
    std::vector<ReceivedRequest> m_requests;
    ScriptedServer m_server;
};

class Credentials : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::application();
        HTTPRequest::clearSession();
    }
    void TearDown() override { HTTPRequest::setAuthenticationDialogPresenter(nullptr); }

    static HTTPRequestPtr run(const QUrl& url,
                              const std::function<void(HTTPRequest&)>& setup = {}) {
        auto request = HTTPRequest::requestWithURL(url);
        if (setup) setup(*request);
        request->startSynchronous();
        return request;
    }
};

TEST_F(Credentials, CredentialsFromTheUrlAnswerAChallengeWithoutAsking) {
    auto server = AuthServer::basic();
    QUrl withUser = server.url("/a");
    withUser.setUserInfo("u:p");
    const auto fromUrl = run(withUser);
    EXPECT_EQ(fromUrl->error(), nullptr);
    EXPECT_EQ(fromUrl->responseStatusCode(), 200);
    EXPECT_EQ(fromUrl->authenticationScheme(), "Basic");
    EXPECT_EQ(fromUrl->authenticationRealm(), "r");
    EXPECT_EQ(fromUrl->authenticationRetryCount(), 1);
    // Nothing goes out before the server asks; the user part never reaches the wire.
    EXPECT_EQ(server.authorizations(), (std::vector<std::string>{"", "Basic dTpw"}));
    EXPECT_EQ(server.requests()[0].requestLine, "GET /a HTTP/1.1");
}

TEST_F(Credentials, ALoginIsRememberedAndSentFirstToTheSameServerOnly) {
    auto server = AuthServer::basic();
    auto other = AuthServer::basic();
    run(server.url("/first"), [](HTTPRequest& r) {
        r.setUsername("u");
        r.setPassword("p");
    });
    ASSERT_EQ(HTTPRequest::sessionCredentialsStore().size(), 1);
    // Another path on the same server: sent before any challenge (a close match).
    const auto later = run(server.url("/second"));
    EXPECT_EQ(later->responseStatusCode(), 200);
    EXPECT_EQ(server.authorizations().back(), "Basic dTpw");
    EXPECT_EQ(server.requests().size(), 3u);
    // Another port is another server: nothing is sent and nobody is asked.
    const auto elsewhere = run(other.url("/first"));
    EXPECT_EQ(elsewhere->error()->code, http::AuthenticationErrorType);
    for (const auto& value : other.authorizations()) EXPECT_EQ(value, "");
    // Without session persistence the login is neither used nor stored.
    const auto alone =
        run(server.url("/third"), [](HTTPRequest& r) { r.setUseSessionPersistence(false); });
    EXPECT_EQ(alone->error()->code, http::AuthenticationErrorType);
    HTTPRequest::clearSession();
    EXPECT_TRUE(HTTPRequest::sessionCredentialsStore().isEmpty());
}

TEST_F(Credentials, SessionMatchingPrefersTheExactAddressAndChecksRealmAndUser) {
    auto server = AuthServer([](const ReceivedRequest&) { return kOk; });
    auto entry = [&](const std::string& path, const char* user, const char* realm) {
        http::SessionCredentials e;
        e.credentials = std::make_shared<const platform::HttpCredentials>(
            platform::HttpCredentials{user, "pw", {}});
        e.url = server.url(path);
        e.authenticationScheme = "Basic";
        e.authenticationRealm = realm;
        HTTPRequest::storeAuthenticationCredentialsInSessionStore(e);
    };
    entry("/elsewhere", "close", nullptr);
    entry("/exact", "exact", nullptr);
    const struct {
        std::string path;
        const char* username;  // set on the request with password "pw"
        std::string expectedUser;
    } cases[] = {
        {"/exact", nullptr, "exact"},
        {"/other", nullptr, "close"},
        {"/exact", "close", "close"},
        {"/other", "nobody", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + (c.username ? c.username : "-"));
        run(server.url(c.path), [&](HTTPRequest& r) {
            if (c.username) {
                r.setUsername(c.username);
                r.setPassword("pw");
            }
        });
        const std::string sent = server.authorizations().back();
        const std::string expected =
            c.expectedUser.empty()
                ? ""
                : "Basic " + QByteArray(QByteArray::fromStdString(c.expectedUser) + ":pw")
                                 .toBase64()
                                 .toStdString();
        EXPECT_EQ(sent, expected);
    }
}

TEST_F(Credentials, RefusedCredentialsEndTheRequestInsteadOfLooping) {
    const QString needed = "Authentication needed";
    const QString noObject = "Failed to get authentication object from response headers";
    const int internal = http::InternalErrorWhileApplyingCredentialsType;
    const struct {
        const char* user;
        std::string answer;
        int code;
        QString message;
        size_t requests;
    } cases[] = {
        {"u", challenge("Basic realm=r"), http::AuthenticationErrorType, needed, 2},
        {"u", challenge(R"(Digest realm="r", nonce="n", qop="auth")"),
         http::AuthenticationErrorType, needed, 2},
        {"u", challenge("NTLM"), internal, noObject, 1},
        {"u", challenge("\"Basic realm=, ,=="), internal, noObject, 1},
        {"u", "HTTP/1.1 401 Unauthorized\r\nConnection: close\r\nContent-Length: 0\r\n\r\n",
         internal, noObject, 1},
        {"u:x", challenge("Basic realm=r"), internal, "Failed to apply credentials to request", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.substr(0, 60));
        HTTPRequest::clearSession();
        AuthServer server([&](const ReceivedRequest&) { return c.answer; });
        const auto request = run(server.url("/"), [&](HTTPRequest& r) {
            r.setUsername(c.user);
            r.setPassword("wrong");
        });
        ASSERT_NE(request->error(), nullptr);
        EXPECT_EQ(request->error()->code, c.code);
        EXPECT_EQ(request->error()->localizedDescription, c.message);
        EXPECT_EQ(server.requests().size(), c.requests);
        // What was refused is not kept for later requests.
        EXPECT_TRUE(HTTPRequest::sessionCredentialsStore().isEmpty());
    }
}

TEST_F(Credentials, AStaleDigestNonceIsAnsweredWithTheSameCredentials) {
    AuthServer server([](const ReceivedRequest& r) {
        const std::string sent = r.header("Authorization");
        if (sent.empty())
            return challenge(R"(Digest realm="r", nonce="one", qop="auth", opaque="o")");
        if (sent.find("nonce=\"one\"") != std::string::npos) {
            return challenge(R"(Digest realm="r", nonce="two", qop="auth", stale=true)");
        }
        return kOk;
    });
    const auto request = run(server.url("/d?x=1"), [](HTTPRequest& r) {
        r.setUsername("u");
        r.setPassword("p");
    });
    EXPECT_EQ(request->responseStatusCode(), 200);
    EXPECT_EQ(server.requests().size(), 3u);
    const std::string last = server.authorizations().back();
    EXPECT_NE(last.find("nonce=\"two\""), std::string::npos);
    EXPECT_NE(last.find("nc=00000001"), std::string::npos);
    EXPECT_NE(last.find("uri=\"/d?x=1\""), std::string::npos);
    EXPECT_NE(server.authorizations()[1].find("opaque=\"o\""), std::string::npos);
}

TEST_F(Credentials, RequestCredentialsStayBehindWhenARedirectLeadsToAnotherServer) {
    auto other = AuthServer::basic();
    const std::string location = other.url("/landing").toString().toStdString();
    AuthServer first([location](const ReceivedRequest& r) {
        if (r.header("Authorization") != "Basic dTpw") return challenge("Basic realm=r");
        return "HTTP/1.1 302 Found\r\nLocation: " + location +
               "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    });
    const auto request = run(first.url("/"), [](HTTPRequest& r) {
        r.setUsername("u");
        r.setPassword("p");
    });
    ASSERT_NE(request->error(), nullptr);
    EXPECT_EQ(request->error()->code, http::AuthenticationErrorType);
    EXPECT_EQ(first.authorizations().back(), "Basic dTpw");
    ASSERT_FALSE(other.requests().empty());
    for (const auto& value : other.authorizations()) EXPECT_EQ(value, "");
}

TEST_F(Credentials, ProxyCredentialsGoOnlyToTheProxy) {
    // A server that is not a proxy asking as one gets nothing.
    AuthServer impostor([](const ReceivedRequest&) { return challenge("Basic realm=p", 407); });
    const auto direct = run(impostor.url("/"), [](HTTPRequest& r) {
        r.setProxyUsername("pu");
        r.setProxyPassword("pp");
    });
    EXPECT_EQ(direct->error()->code, http::AuthenticationErrorType);
    EXPECT_EQ(impostor.requests().size(), 1u);
    EXPECT_EQ(impostor.requests()[0].header("Proxy-Authorization"), "");

    // A proxy that asks: the proxy credentials answer it, the server's do not.
    AuthServer proxy([](const ReceivedRequest& r) {
        return r.header("Proxy-Authorization") == "Basic cHU6cHA="
                   ? kOk
                   : challenge("Basic realm=p", 407);
    });
    const auto viaProxy = run(QUrl("http://origin.invalid/page"), [&](HTTPRequest& r) {
        r.setProxyHost("127.0.0.1");
        r.setProxyPort(proxy.url().port());
        r.setUsername("u");
        r.setPassword("p");
        r.setProxyUsername("pu");
        r.setProxyPassword("pp");
    });
    EXPECT_EQ(viaProxy->error(), nullptr);
    EXPECT_EQ(viaProxy->proxyAuthenticationRetryCount(), 1);
    EXPECT_EQ(viaProxy->proxyAuthenticationRealm(), "p");
    for (const auto& value : proxy.authorizations()) EXPECT_EQ(value, "");
    ASSERT_EQ(HTTPRequest::sessionProxyCredentialsStore().size(), 1);
    // A later request through the same proxy sends them first.
    run(QUrl("http://origin.invalid/again"), [&](HTTPRequest& r) {
        r.setProxyHost("127.0.0.1");
        r.setProxyPort(proxy.url().port());
    });
    EXPECT_EQ(proxy.authorizations("Proxy-Authorization").back(), "Basic cHU6cHA=");
    EXPECT_EQ(proxy.requests().size(), 3u);
}

// Answers as a login form would.
void logIn(const HTTPRequestPtr& request, const char* password = "p") {
    request->setUsername("u");
    request->setPassword(password);
    request->retryUsingSuppliedCredentials();
}

class AskingDelegate : public testsupport::RecordingDelegate {
public:
    bool answersAuthenticationNeeded() const override { return true; }
    void authenticationNeededForRequest(const HTTPRequestPtr& request) override {
        ++asked;
        onMain = onMain && platform::isMainThread();
        answer(request);
    }
    std::function<void(const HTTPRequestPtr&)> answer;
    int asked = 0;
    bool onMain = true;
};

class AskingQueueDelegate : public http::NetworkQueueDelegate {
public:
    bool answersAuthenticationNeeded() const override { return true; }
    void authenticationNeededForRequest(const HTTPRequestPtr& request) override {
        ++asked;
        logIn(request);
    }
    int asked = 0;
};

TEST_F(Credentials, TheDelegateBlockOrQueueIsAskedAndItsAnswerRetriesOrCancels) {
    auto server = AuthServer::basic();
    auto delegate = std::make_shared<AskingDelegate>();
    // A wrong answer first: asked again, and the second answer gets through.
    delegate->answer = [&](const HTTPRequestPtr& r) {
        logIn(r, delegate->asked == 1 ? "wrong" : "p");
    };
    auto request = HTTPRequest::requestWithURL(server.url("/delegate"));
    request->setDelegate(delegate);
    request->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return delegate->ended(); }));
    EXPECT_EQ(delegate->count("finished"), 1);
    EXPECT_EQ(delegate->asked, 2);
    EXPECT_TRUE(delegate->onMain);
    EXPECT_EQ(request->authenticationRetryCount(), 2);

    HTTPRequest::clearSession();
    auto cancelling = std::make_shared<AskingDelegate>();
    cancelling->answer = [](const HTTPRequestPtr& r) { r->cancelAuthentication(); };
    auto cancelled = HTTPRequest::requestWithURL(server.url("/cancel"));
    cancelled->setDelegate(cancelling);
    cancelled->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return cancelling->ended(); }));
    EXPECT_EQ(cancelling->count("failed"), 1);
    EXPECT_EQ(cancelled->error()->code, http::AuthenticationErrorType);
    // A synchronous request never asks.
    auto sync = HTTPRequest::requestWithURL(server.url("/sync"));
    sync->setDelegate(cancelling);
    sync->startSynchronous();
    EXPECT_EQ(sync->error()->code, http::AuthenticationErrorType);
    EXPECT_EQ(cancelling->asked, 1);

    HTTPRequest::clearSession();
    auto withBlock = HTTPRequest::requestWithURL(server.url("/block"));
    int asked = 0;
    withBlock->setAuthenticationNeededBlock([&] {
        ++asked;
        logIn(withBlock);
    });
    withBlock->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return withBlock->isFinished(); }));
    EXPECT_EQ(withBlock->error(), nullptr);
    EXPECT_EQ(asked, 1);
    withBlock->setAuthenticationNeededBlock(nullptr);

    HTTPRequest::clearSession();
    auto queue = http::NetworkQueue::queue();
    auto queueDelegate = std::make_shared<AskingQueueDelegate>();
    queue->setDelegate(queueDelegate);
    const HTTPRequestPtr queued[] = {HTTPRequest::requestWithURL(server.url("/q1")),
                                     HTTPRequest::requestWithURL(server.url("/q2"))};
    for (const auto& r : queued) queue->addOperation(r);
    queue->go();
    ASSERT_TRUE(waitUntil([&] { return queued[0]->isFinished() && queued[1]->isFinished(); }));
    for (const auto& r : queued) EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_GE(queueDelegate->asked, 1);
}

TEST_F(Credentials, WithoutAnyoneToAskTheDialogPresenterIsUsedWhenTheRequestAllowsIt) {
    auto server = AuthServer::basic();
    int presented = 0;
    HTTPRequest::setAuthenticationDialogPresenter([&](const HTTPRequestPtr& r) {
        ++presented;
        logIn(r);
    });
    for (bool allowed : {false, true}) {
        HTTPRequest::clearSession();
        auto request = HTTPRequest::requestWithURL(server.url("/dialog"));
        request->setShouldPresentAuthenticationDialog(allowed);
        request->startAsynchronous();
        ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }));
        EXPECT_EQ(request->error() == nullptr, allowed);
        EXPECT_EQ(presented, allowed ? 1 : 0);
    }
}

}  // namespace
