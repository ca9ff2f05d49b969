// Credentials against scripted servers: answering 401 and 407, the session store and what it
// sends before a challenge, refusals that end instead of looping, schemes that cannot be
// answered, redirects to other servers, the delegate, block and queue questions, and logins
// kept for good in a real Secret Service (gnome-keyring-daemon on a private session bus).

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "FetchRun.h"
#include "RecordingServer.h"
#include "RequestTestSupport.h"

using http::HTTPRequest;
using http::HTTPRequestPtr;
using testsupport::RecordingServer;
using testsupport::waitUntil;
using Received = RecordingServer::Request;

namespace {

// Every answer closes its connection, so a server stops as soon as its test is done.
const std::string kOk = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok";

std::string challenge(const std::string& field, int status = 401) {
    const std::string reason = status == 407 ? "Proxy Authentication Required" : "Unauthorized";
    const std::string name = status == 407 ? "Proxy-Authenticate" : "WWW-Authenticate";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + name + ": " + field +
           "\r\nConnection: close\r\nContent-Length: 6\r\n\r\ndenied";
}

// Basic for u:p under realm, the way most servers do it.
RecordingServer basicServer(const std::string& realm = "r") {
    return RecordingServer([realm](const Received& r) {
        return r.header("Authorization") == "Basic dTpw"
                   ? kOk
                   : challenge("Basic realm=\"" + realm + "\"");
    });
}

std::vector<std::string> sent(const RecordingServer& server, const char* field = "Authorization") {
    std::vector<std::string> values;
    for (const auto& r : server.requests()) values.push_back(r.header(field));
    return values;
}

class Credentials : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::application();
        HTTPRequest::clearSession();
    }

    static HTTPRequestPtr run(const QUrl& url, const char* user = nullptr,
                              const char* password = "p",
                              const std::function<void(HTTPRequest&)>& setup = {}) {
        auto request = HTTPRequest::requestWithURL(url);
        if (user) {
            request->setUsername(user);
            request->setPassword(password);
        }
        if (setup) setup(*request);
        request->startSynchronous();
        return request;
    }
};

TEST_F(Credentials, ALoginFromTheUrlIsRememberedAndSentFirstToTheSameServerOnly) {
    auto server = basicServer();
    auto other = basicServer();
    QUrl withUser = server.url("/first");
    withUser.setUserInfo("u:p");
    const auto fromUrl = run(withUser);
    EXPECT_EQ(fromUrl->authenticationRealm(), "r");
    EXPECT_EQ(fromUrl->authenticationRetryCount(), 1);
    // Nothing goes out before the server asks; the user part never reaches the wire.
    EXPECT_EQ(sent(server), (std::vector<std::string>{"", "Basic dTpw"}));
    EXPECT_EQ(server.requests()[0].requestLine, "GET /first HTTP/1.1");
    ASSERT_EQ(HTTPRequest::sessionCredentialsStore().size(), 1);
    // Another path on the same server: sent before any challenge (a close match).
    EXPECT_EQ(run(server.url("/second"))->responseStatusCode(), 200);
    EXPECT_EQ(sent(server).back(), "Basic dTpw");
    EXPECT_EQ(server.requests().size(), 3u);
    // Another port is another server: nothing is sent and nobody is asked.
    EXPECT_EQ(run(other.url("/first"))->error()->code, http::AuthenticationErrorType);
    for (const auto& value : sent(other)) EXPECT_EQ(value, "");
    // Without session persistence the login is neither used nor stored.
    const auto alone = run(server.url("/third"), nullptr, nullptr,
                           [](HTTPRequest& r) { r.setUseSessionPersistence(false); });
    EXPECT_EQ(alone->error()->code, http::AuthenticationErrorType);
    HTTPRequest::clearSession();
    EXPECT_TRUE(HTTPRequest::sessionCredentialsStore().isEmpty());
}

TEST_F(Credentials, SessionMatchingPrefersTheExactAddressAndChecksRealmAndUser) {
    RecordingServer server([](const Received&) { return kOk; });
    for (const char* user : {"close", "exact"}) {
        http::SessionCredentials e;
        e.credentials = std::make_shared<const platform::HttpCredentials>(
            platform::HttpCredentials{user, "pw", {}});
        e.url = server.url(user == std::string("close") ? "/elsewhere" : "/exact");
        e.authenticationScheme = "Basic";
        HTTPRequest::storeAuthenticationCredentialsInSessionStore(e);
    }
    const struct {
        std::string path;
        const char* username;  // set on the request with password "pw"
        QByteArray expectedUser;
    } cases[] = {
        {"/exact", nullptr, "exact"},
        {"/other", nullptr, "close"},
        {"/exact", "close", "close"},
        {"/other", "nobody", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + (c.username ? c.username : "-"));
        run(server.url(c.path), c.username, "pw");
        const QByteArray expected =
            c.expectedUser.isEmpty() ? "" : "Basic " + (c.expectedUser + ":pw").toBase64();
        EXPECT_EQ(sent(server).back(), expected.toStdString());
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
        RecordingServer server([&](const Received&) { return c.answer; });
        const auto request = run(server.url("/"), c.user, "wrong");
        ASSERT_NE(request->error(), nullptr);
        EXPECT_EQ(request->error()->code, c.code);
        EXPECT_EQ(request->error()->localizedDescription, c.message);
        EXPECT_EQ(server.requests().size(), c.requests);
        // What was refused is not kept for later requests.
        EXPECT_TRUE(HTTPRequest::sessionCredentialsStore().isEmpty());
    }
}

TEST_F(Credentials, AStaleDigestNonceIsAnsweredWithTheSameCredentials) {
    RecordingServer server([](const Received& r) {
        const std::string sent = r.header("Authorization");
        if (sent.empty())
            return challenge(R"(Digest realm="r", nonce="one", qop="auth", opaque="o")");
        if (sent.find("nonce=\"one\"") != std::string::npos) {
            return challenge(R"(Digest realm="r", nonce="two", qop="auth", stale=true)");
        }
        return kOk;
    });
    EXPECT_EQ(run(server.url("/d?x=1"), "u")->responseStatusCode(), 200);
    const auto values = sent(server);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_NE(values[1].find("opaque=\"o\""), std::string::npos);
    for (const char* part : {"nonce=\"two\"", "nc=00000001", "uri=\"/d?x=1\""}) {
        EXPECT_NE(values[2].find(part), std::string::npos) << part;
    }
}

TEST_F(Credentials, RequestCredentialsStayBehindWhenARedirectLeadsToAnotherServer) {
    auto other = basicServer();
    const std::string location = other.url("/landing").toString().toStdString();
    RecordingServer first([location](const Received& r) {
        if (r.header("Authorization") != "Basic dTpw") return challenge("Basic realm=r");
        return "HTTP/1.1 302 Found\r\nLocation: " + location +
               "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    });
    const auto request = run(first.url("/"), "u");
    ASSERT_NE(request->error(), nullptr);
    EXPECT_EQ(request->error()->code, http::AuthenticationErrorType);
    EXPECT_EQ(sent(first).back(), "Basic dTpw");
    ASSERT_FALSE(other.requests().empty());
    for (const auto& value : sent(other)) EXPECT_EQ(value, "");
}

TEST_F(Credentials, ProxyCredentialsGoOnlyToTheProxy) {
    const auto proxyLogin = [](HTTPRequest& r) {
        r.setProxyUsername("pu");
        r.setProxyPassword("pp");
    };
    // A server that is not a proxy asking as one gets nothing.
    RecordingServer impostor([](const Received&) { return challenge("Basic realm=p", 407); });
    EXPECT_EQ(run(impostor.url("/"), nullptr, nullptr, proxyLogin)->error()->code,
              http::AuthenticationErrorType);
    EXPECT_EQ(sent(impostor, "Proxy-Authorization"), std::vector<std::string>{""});

    // A proxy that asks: the proxy credentials answer it, the server's do not.
    RecordingServer proxy([](const Received& r) {
        return r.header("Proxy-Authorization") == "Basic cHU6cHA="
                   ? kOk
                   : challenge("Basic realm=p", 407);
    });
    const auto through = [&](HTTPRequest& r) {
        r.setProxyHost("127.0.0.1");
        r.setProxyPort(proxy.url().port());
    };
    const auto viaProxy = run(QUrl("http://origin.invalid/page"), "u", "p", [&](HTTPRequest& r) {
        through(r);
        proxyLogin(r);
    });
    EXPECT_EQ(viaProxy->error(), nullptr);
    EXPECT_EQ(viaProxy->proxyAuthenticationRetryCount(), 1);
    EXPECT_EQ(viaProxy->proxyAuthenticationRealm(), "p");
    for (const auto& value : sent(proxy)) EXPECT_EQ(value, "");
    ASSERT_EQ(HTTPRequest::sessionProxyCredentialsStore().size(), 1);
    // A later request through the same proxy sends them first.
    run(QUrl("http://origin.invalid/again"), nullptr, nullptr, through);
    EXPECT_EQ(sent(proxy, "Proxy-Authorization").back(), "Basic cHU6cHA=");
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

TEST_F(Credentials, TheDelegateOrBlockIsAskedAndItsAnswerRetriesOrCancels) {
    auto server = basicServer();
    // A wrong answer first: asked again, and the second answer gets through.
    auto delegate = std::make_shared<AskingDelegate>();
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
    auto withBlock = HTTPRequest::requestWithURL(server.url("/block"));
    withBlock->setAuthenticationNeededBlock([&] { withBlock->cancelAuthentication(); });
    withBlock->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return withBlock->isFinished(); }));
    EXPECT_EQ(withBlock->error()->code, http::AuthenticationErrorType);
    withBlock->setAuthenticationNeededBlock(nullptr);
}

// A session bus and a keyring daemon of the test's own; why not, when they cannot run.
class PasswordStore {
public:
    PasswordStore() { problem = start(); }
    ~PasswordStore() {
        for (QProcess* process : {&keyring, &bus}) {
            process->terminate();
            if (!process->waitForFinished(3000)) process->kill();
            process->waitForFinished(3000);
        }
    }
    QString problem;

private:
    static bool dbusSend(const QStringList& arguments, const QByteArray& expected = {}) {
        const auto run = testsupport::runProgram(
            "dbus-send", QStringList{"--session", "--print-reply"} + arguments, 5000);
        return run.exitCode == 0 && run.out.contains(expected);
    }
    QString start() {
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
            qputenv(name, home.path().toUtf8());
        }
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1",
                                  "--address=unix:path=" + home.filePath("bus")});
        if (!bus.waitForReadyRead(5000)) return "dbus-daemon did not start";
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
        keyring.start("gnome-keyring-daemon", {"--foreground", "--components=secrets", "--unlock"});
        if (!keyring.waitForStarted(5000)) return "gnome-keyring-daemon did not start";
        // The password of the login keyring it creates and unlocks.
        keyring.write("test-password");
        keyring.waitForBytesWritten(3000);
        keyring.closeWriteChannel();
        const QStringList owner = {"--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus.NameHasOwner",
                                   "string:org.freedesktop.secrets"};
        bool offered = false;
        for (int i = 0; i < 100 && !(offered = dbusSend(owner, "true")); ++i) QThread::msleep(50);
        if (!offered) return "gnome-keyring-daemon did not offer the Secret Service";
        // The login keyring it unlocked is where logins go by default: without that, storing
        // would wait for a prompt nobody can answer.
        if (!dbusSend({"--dest=org.freedesktop.secrets", "/org/freedesktop/secrets",
                       "org.freedesktop.Secret.Service.SetAlias", "string:default",
                       "objpath:/org/freedesktop/secrets/collection/login"})) {
            return "the login keyring could not be made the default one";
        }
        return {};
    }
    QTemporaryDir home;
    QProcess bus;
    QProcess keyring;
};

class SavedLogins : public Credentials {
protected:
    static void SetUpTestSuite() {
        testsupport::application();
        store = new PasswordStore();
    }
    static void TearDownTestSuite() {
        delete store;
        store = nullptr;
    }
    void SetUp() override {
        if (!store->problem.isEmpty()) {
            GTEST_SKIP() << "No Secret Service for this test: " << store->problem.toStdString();
        }
        Credentials::SetUp();
    }
    static PasswordStore* store;
};

PasswordStore* SavedLogins::store = nullptr;

TEST_F(SavedLogins, AreKeptPerProtectionSpace) {
    ASSERT_TRUE(HTTPRequest::saveCredentials({"alice", "s3cret:\"quoted\"", {}}, "Example.org",
                                             8080, "http", "realm one"));
    ASSERT_TRUE(HTTPRequest::saveCredentialsForProxy({"proxy", "pp", {}}, "example.org", 8080,
                                                     "realm one"));
    // Any other part of the space is another space; a proxy's login is not its host's.
    const struct {
        bool proxy;
        int port;
        const char* protocol;
        const char* realm;
        QString expected;  // "user password", empty: none
    } lookups[] = {
        {false, 8080, "HTTP", "realm one", "alice s3cret:\"quoted\""},
        {false, 8080, "http", "realm two", ""},
        {false, 8081, "http", "realm one", ""},
        {false, 8080, "https", "realm one", ""},
        {true, 8080, "http", "realm one", "proxy pp"},
    };
    for (bool removed : {false, true}) {
        for (const auto& l : lookups) {
            const auto found = (l.proxy ? &HTTPRequest::savedCredentialsForProxy
                                        : &HTTPRequest::savedCredentialsForHost)(
                "example.org", l.port, l.protocol, l.realm);
            EXPECT_EQ(found ? found->username + " " + found->password : QString(),
                      removed && !l.proxy ? QString() : l.expected)
                << removed << l.proxy << l.port << l.protocol << l.realm;
        }
        if (!removed) {
            EXPECT_TRUE(
                HTTPRequest::removeCredentialsForHost("example.org", 8080, "http", "realm one"));
        }
    }
}

TEST_F(SavedLogins, ARequestSavesWhatTheServerTookAndALaterOneFindsIt) {
    RecordingServer server([](const Received& r) {
        // The answer's body is still on its way while the taken login is saved.
        return r.header("Authorization") == "Basic dTpw"
                   ? kOk
                   : "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"vault\"\r\n"
                     "Connection: close\r\nContent-Length: 0\r\n\r\n";
    });
    const QUrl url = server.url("/");
    const auto attempt = [&](const char* user, const char* password) {
        const auto request =
            run(url, user, password, [](HTTPRequest& r) { r.setUseKeychainPersistence(true); });
        HTTPRequest::clearSession();
        return request;
    };
    const auto saved = [&] {
        return HTTPRequest::savedCredentialsForHost("127.0.0.1", url.port(), "http", "vault");
    };
    // A refused password is not saved.
    EXPECT_EQ(attempt("u", "wrong")->error()->code, http::AuthenticationErrorType);
    EXPECT_EQ(saved(), nullptr);
    EXPECT_EQ(attempt("u", "p")->responseStatusCode(), 200);
    ASSERT_NE(saved(), nullptr);
    EXPECT_EQ(saved()->password, "p");
    // Nobody to ask and nothing on the request: the saved login answers.
    EXPECT_EQ(attempt(nullptr, nullptr)->responseStatusCode(), 200);
    EXPECT_EQ(sent(server).back(), "Basic dTpw");
    HTTPRequest::removeCredentialsForHost("127.0.0.1", url.port(), "http", "vault");
}

}  // namespace
