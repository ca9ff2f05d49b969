// The login dialog on the offscreen platform, driven by real requests to a scripted server:
// its words, one dialog at a time, one answer for every request that asked the same server
// for the same realm, Cancel for all of them, and the next dialog once the first has gone.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <mutex>

#include "http/dialog/AuthenticationDialog.h"
#include "servers/ScriptedServer.h"

using http::AuthenticationDialog;
using http::HTTPRequest;
using http::HTTPRequestPtr;
using lumaro::test::ScriptedConnection;
using lumaro::test::ScriptedServer;

namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "dialog_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 8000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

// Asks for Basic under realm "r" until it gets the expected login; counts what it was sent.
class LoginServer {
public:
    explicit LoginServer(std::string expected = "Basic dTpw")
        : m_expected(std::move(expected)), m_server([this](ScriptedConnection& c) {
              while (auto request = c.readRequest(3000)) {
                  const std::string sent = request->header("Authorization");
                  {
                      std::lock_guard lock(m_mutex);
                      m_sent.push_back(sent);
                  }
                  const bool ok = sent == m_expected;
                  c.send(ok ? "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok"
                            : "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                              "Connection: close\r\nContent-Length: 0\r\n\r\n");
                  break;
              }
          }) {}

    QUrl url(const std::string& path) const {
        return QUrl(QString::fromStdString(m_server.url(path)));
    }
    int count(const std::string& value) const {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(std::count(m_sent.begin(), m_sent.end(), value));
    }

private:
    std::string m_expected;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_sent;
    ScriptedServer m_server;
};

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        HTTPRequest::clearSession();
        AuthenticationDialog::install();
        window.resize(400, 700);
        window.show();
        AuthenticationDialog::setPresentingWindow(&window);
    }
    void TearDown() override {
        HTTPRequest::setAuthenticationDialogPresenter(nullptr);
        waitUntil([] { return AuthenticationDialog::current() == nullptr; }, 2000);
    }

    static HTTPRequestPtr start(const QUrl& url) {
        auto request = HTTPRequest::requestWithURL(url);
        request->setShouldPresentAuthenticationDialog(true);
        request->startAsynchronous();
        return request;
    }
    static bool dialogFor(const HTTPRequestPtr& request) {
        return waitUntil([&] {
            return AuthenticationDialog::current() != nullptr &&
                   AuthenticationDialog::current()->request() == request;
        });
    }
    static bool finished(const std::vector<HTTPRequestPtr>& requests) {
        return waitUntil([&] {
            return std::all_of(requests.begin(), requests.end(),
                               [](const HTTPRequestPtr& r) { return r->isFinished(); });
        });
    }

    // The application comes first: widgets cannot be made before it.
    const bool applicationReady_ = (application(), true);
    QWidget window;
};

TEST_F(Dialog, ShowsTheFormsWordsForTheLoginAsked) {
    LoginServer server;
    auto request = start(server.url("/words"));
    ASSERT_TRUE(dialogFor(request));
    AuthenticationDialog* dialog = AuthenticationDialog::current();
    EXPECT_EQ(dialog->windowTitle(), "127.0.0.1");
    EXPECT_EQ(dialog->promptLabel()->text(), "Login to this secure server.");
    EXPECT_TRUE(dialog->promptLabel()->isVisible());
    EXPECT_EQ(dialog->headerLabel()->text(), "r");
    EXPECT_EQ(dialog->footerLabel()->text(), "Password will be sent in the clear.");
    EXPECT_EQ(dialog->usernameField()->placeholderText(), "User");
    EXPECT_EQ(dialog->passwordField()->placeholderText(), "Password");
    EXPECT_EQ(dialog->passwordField()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog->domainField(), nullptr);
    EXPECT_EQ(dialog->loginButton()->text(), "Login");
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->parentWidget(), &window);
    dialog->cancelButton()->click();
    ASSERT_TRUE(finished({request}));
    EXPECT_EQ(request->error()->code, http::AuthenticationErrorType);

    // The other words: a secure address, an NTLM login with its domain, a proxy login, and
    // no prompt while the window lies on its side.
    const struct {
        QString url;
        QString scheme;
        int needed;
        QString prompt;
        QString footer;
        bool domain;
    } cases[] = {
        {"https://secure.example/", "Basic", 1, "Login to this secure server.",
         "Password will be sent securely.", false},
        {"http://plain.example/", "Digest", 1, "Login to this secure server.",
         "Password will be sent securely.", false},
        {"http://plain.example/", "NTLM", 1, "Login to this secure server.",
         "Password will be sent securely.", true},
        {"https://secure.example/", "Basic", 2, "Login to this secure proxy server.",
         "Password will be sent in the clear.", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.url + " " + c.scheme).toStdString());
        // A request that was asked, by a server or by its proxy, and then given the address
        // and scheme of the case.
        ScriptedServer asking([&](ScriptedConnection& connection) {
            if (!connection.readRequest(3000)) return;
            connection.send(c.needed == 2
                                ? "HTTP/1.1 407 No\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
                                  "Connection: close\r\nContent-Length: 0\r\n\r\n"
                                : "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                                  "Connection: close\r\nContent-Length: 0\r\n\r\n");
        });
        auto asked = HTTPRequest::requestWithURL(QUrl("http://origin.example/"));
        asked->setProxyHost("127.0.0.1");
        asked->setProxyPort(asking.port());
        asked->startSynchronous();
        ASSERT_EQ(asked->authenticationNeeded(), c.needed);
        asked->setURL(QUrl(c.url));
        asked->setAuthenticationScheme(c.scheme);
        asked->setProxyAuthenticationScheme(c.scheme);
        AuthenticationDialog::presentAuthenticationDialogForRequest(asked);
        ASSERT_TRUE(dialogFor(asked));
        AuthenticationDialog* shown = AuthenticationDialog::current();
        EXPECT_EQ(shown->promptLabel()->text(), c.prompt);
        EXPECT_EQ(shown->footerLabel()->text(), c.footer);
        EXPECT_EQ(shown->domainField() != nullptr, c.domain);
        if (c.domain) {
            EXPECT_EQ(shown->domainField()->placeholderText(), "Domain");
        }
        EXPECT_EQ(shown->windowTitle(), c.needed == 2 ? "127.0.0.1" : QUrl(c.url).host());
        window.resize(700, 400);
        EXPECT_TRUE(waitUntil([&] { return !shown->promptLabel()->isVisible(); }));
        window.resize(400, 700);
        shown->cancelButton()->click();
        ASSERT_TRUE(waitUntil([] { return AuthenticationDialog::current() == nullptr; }));
    }
}

TEST_F(Dialog, OneLoginAnswersEveryRequestForTheSameServerAndRealmAndTheNextWaits) {
    LoginServer server;
    LoginServer other("Basic bzpw");  // o:p
    std::vector<HTTPRequestPtr> same;
    for (int i = 0; i < 3; ++i) same.push_back(start(server.url("/" + std::to_string(i))));
    auto elsewhere = start(other.url("/"));
    ASSERT_TRUE(waitUntil([&] { return AuthenticationDialog::waitingRequests().size() == 3; }));
    AuthenticationDialog* first = AuthenticationDialog::current();
    ASSERT_NE(first, nullptr);
    const bool firstIsOther = first->request() == elsewhere;
    first->usernameField()->setText(firstIsOther ? "o" : "u");
    first->passwordField()->setText("p");
    first->loginButton()->click();
    // The next dialog comes once the first has gone, for the request it did not answer.
    ASSERT_TRUE(waitUntil([&] {
        return AuthenticationDialog::current() != nullptr &&
               AuthenticationDialog::current() != first;
    }));
    AuthenticationDialog* second = AuthenticationDialog::current();
    EXPECT_EQ(second->request() == elsewhere, !firstIsOther);
    second->usernameField()->setText(firstIsOther ? "u" : "o");
    second->passwordField()->setText("p");
    second->loginButton()->click();
    std::vector<HTTPRequestPtr> all = same;
    all.push_back(elsewhere);
    ASSERT_TRUE(finished(all));
    for (const auto& r : all) EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_EQ(server.count("Basic dTpw"), 3);
    EXPECT_EQ(other.count("Basic bzpw"), 1);
    EXPECT_TRUE(AuthenticationDialog::waitingRequests().isEmpty());
}

TEST_F(Dialog, CancelEndsEveryRequestItAnswersAndAnEmptyPasswordIsSentEmpty) {
    LoginServer server;
    std::vector<HTTPRequestPtr> requests;
    for (int i = 0; i < 2; ++i) requests.push_back(start(server.url("/c" + std::to_string(i))));
    ASSERT_TRUE(waitUntil([&] {
        return AuthenticationDialog::current() != nullptr &&
               AuthenticationDialog::waitingRequests().size() == 1;
    }));
    AuthenticationDialog::current()->cancelButton()->click();
    ASSERT_TRUE(finished(requests));
    for (const auto& r : requests) EXPECT_EQ(r->error()->code, http::AuthenticationErrorType);
    EXPECT_TRUE(AuthenticationDialog::waitingRequests().isEmpty());

    LoginServer empty("Basic dTo=");  // u and the empty password
    auto request = start(empty.url("/empty"));
    ASSERT_TRUE(dialogFor(request));
    AuthenticationDialog::current()->usernameField()->setText("u");
    AuthenticationDialog::current()->loginButton()->click();
    ASSERT_TRUE(finished({request}));
    EXPECT_EQ(request->responseStatusCode(), 200);
}

}  // namespace
