// The login dialog on the offscreen platform, driven by real requests to scripted servers:
// its words, one dialog at a time, one answer for every request that asked the same server
// for the same realm, Cancel for all of them, and the next dialog once the first has gone.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "RecordingServer.h"
#include "http/RequestTestSupport.h"
#include "http/dialog/AuthenticationDialog.h"

using http::AuthenticationDialog;
using http::HTTPRequest;
using http::HTTPRequestPtr;
using testsupport::RecordingServer;

namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "dialog_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 8000) {
    return testsupport::waitUntil(done, timeoutMs);
}

const std::string kAskServer =
    "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"r\"\r\nConnection: close\r\n"
    "Content-Length: 0\r\n\r\n";
const std::string kAskProxy =
    "HTTP/1.1 407 No\r\nProxy-Authenticate: Basic realm=\"p\"\r\nConnection: close\r\n"
    "Content-Length: 0\r\n\r\n";

// Asks for Basic under realm "r" until it gets the expected login.
RecordingServer loginServer(const std::string& expected = "Basic dTpw") {
    return RecordingServer([expected](const RecordingServer::Request& r) {
        return r.header("Authorization") == expected
                   ? "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok"
                   : kAskServer;
    });
}

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
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
    // Each case: a request that was asked, by a server or by its proxy, and then given the
    // address and scheme of the case. No prompt while the window lies on its side.
    const struct {
        QString url;
        QString scheme;
        int needed;
        QString prompt;
        QString footer;
        bool domain;
    } cases[] = {
        {"http://plain.example/", "Basic", 1, "Login to this secure server.",
         "Password will be sent in the clear.", false},
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
        RecordingServer asking([&](const auto&) { return c.needed == 2 ? kAskProxy : kAskServer; });
        auto asked = HTTPRequest::requestWithURL(QUrl("http://origin.example/"));
        asked->setProxyHost("127.0.0.1");
        asked->setProxyPort(asking.url().port());
        asked->startSynchronous();
        ASSERT_EQ(asked->authenticationNeeded(), c.needed);
        asked->setURL(QUrl(c.url));
        asked->setAuthenticationScheme(c.scheme);
        asked->setProxyAuthenticationScheme(c.scheme);
        AuthenticationDialog::presentAuthenticationDialogForRequest(asked);
        AuthenticationDialog* shown = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (shown = AuthenticationDialog::current()); }));
        ASSERT_EQ(shown->request(), asked);
        EXPECT_EQ(shown->windowTitle(), c.needed == 2 ? "127.0.0.1" : QUrl(c.url).host());
        EXPECT_EQ(shown->promptLabel()->text(), c.prompt);
        EXPECT_TRUE(shown->promptLabel()->isVisible());
        EXPECT_EQ(shown->footerLabel()->text(), c.footer);
        EXPECT_EQ(shown->usernameField()->placeholderText(), "User");
        EXPECT_EQ(shown->passwordField()->placeholderText(), "Password");
        EXPECT_EQ(shown->passwordField()->echoMode(), QLineEdit::Password);
        EXPECT_EQ(shown->domainField() ? shown->domainField()->placeholderText() : QString(),
                  c.domain ? "Domain" : QString());
        EXPECT_EQ(shown->loginButton()->text(), "Login");
        EXPECT_TRUE(shown->isModal());
        EXPECT_EQ(shown->parentWidget(), &window);
        window.resize(700, 400);
        EXPECT_TRUE(waitUntil([&] { return !shown->promptLabel()->isVisible(); }));
        window.resize(400, 700);
        shown->cancelButton()->click();
        ASSERT_TRUE(waitUntil([] { return AuthenticationDialog::current() == nullptr; }));
    }
}

// Two servers: one login (with an empty password) answers both requests of one, and Cancel
// ends both requests of the other.
TEST_F(Dialog, OneAnswerServesEveryRequestForTheSameServerAndRealmAndTheNextWaits) {
    auto server = loginServer("Basic dTo=");  // u and the empty password
    auto cancelled = loginServer();
    std::vector<HTTPRequestPtr> answered, refused;
    for (int i = 0; i < 2; ++i) {
        answered.push_back(start(server.url("/" + std::to_string(i))));
        refused.push_back(start(cancelled.url("/" + std::to_string(i))));
    }
    ASSERT_TRUE(waitUntil([&] { return AuthenticationDialog::waitingRequests().size() == 3; }));
    // The next dialog comes once the previous has gone, for a request it did not answer.
    AuthenticationDialog* previous = nullptr;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(waitUntil([&] {
            return AuthenticationDialog::current() != nullptr &&
                   AuthenticationDialog::current() != previous;
        }));
        previous = AuthenticationDialog::current();
        EXPECT_EQ(previous->headerLabel()->text(), "r");
        if (previous->request()->url().port() == cancelled.url().port()) {
            previous->cancelButton()->click();
        } else {
            previous->usernameField()->setText("u");
            previous->loginButton()->click();
        }
    }
    ASSERT_TRUE(finished(answered) && finished(refused));
    // The server takes only u with the empty password.
    for (const auto& r : answered) EXPECT_EQ(r->responseStatusCode(), 200);
    for (const auto& r : refused) EXPECT_EQ(r->error()->code, http::AuthenticationErrorType);
    EXPECT_TRUE(AuthenticationDialog::waitingRequests().isEmpty());
}

}  // namespace
