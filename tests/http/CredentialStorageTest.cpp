// Logins kept for good in a real Secret Service: gnome-keyring-daemon on a private D-Bus
// session bus started here. Saving, finding and removing by protection space, a request that
// saves what the server took and a later one that finds it, and nothing saved that was
// refused.

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <mutex>

#include "RequestTestSupport.h"
#include "http/HTTPRequest.h"
#include "servers/ScriptedServer.h"

using http::HTTPRequest;
using lumaro::test::ScriptedConnection;
using lumaro::test::ScriptedServer;

namespace {

// A session bus and a keyring daemon of the test's own; why not, when they cannot run.
class PasswordStore {
public:
    PasswordStore() {
        const QString bus = QStandardPaths::findExecutable("dbus-daemon");
        const QString keyring = QStandardPaths::findExecutable("gnome-keyring-daemon");
        if (bus.isEmpty() || keyring.isEmpty()) {
            problem = "dbus-daemon or gnome-keyring-daemon is not installed";
            return;
        }
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
        qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
        busProcess.start(bus, {"--session", "--nofork", "--print-address=1",
                               "--address=unix:path=" + home.filePath("bus")});
        if (!busProcess.waitForReadyRead(5000)) {
            problem = "dbus-daemon did not start";
            return;
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", busProcess.readLine().trimmed());
        keyringProcess.start(keyring, {"--foreground", "--components=secrets", "--unlock"});
        if (!keyringProcess.waitForStarted(5000)) {
            problem = "gnome-keyring-daemon did not start";
            return;
        }
        // The password of the login keyring it creates and unlocks.
        keyringProcess.write("test-password");
        keyringProcess.waitForBytesWritten(3000);
        keyringProcess.closeWriteChannel();
        for (int i = 0; i < 100 && !serviceOnTheBus(); ++i) QThread::msleep(50);
        if (!serviceOnTheBus()) {
            problem = "gnome-keyring-daemon did not offer the Secret Service";
            return;
        }
        // The login keyring it unlocked is where logins go by default: without that, storing
        // would wait for a prompt nobody can answer.
        QProcess alias;
        alias.start("dbus-send",
                    {"--session", "--print-reply", "--dest=org.freedesktop.secrets",
                     "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.SetAlias",
                     "string:default", "objpath:/org/freedesktop/secrets/collection/login"});
        if (!alias.waitForFinished(5000) || alias.exitCode() != 0) {
            problem = "the login keyring could not be made the default one";
        }
    }
    ~PasswordStore() {
        for (QProcess* process : {&keyringProcess, &busProcess}) {
            process->terminate();
            if (!process->waitForFinished(3000)) process->kill();
            process->waitForFinished(3000);
        }
    }

    QString problem;
    QTemporaryDir home;

private:
    static bool serviceOnTheBus() {
        QProcess ask;
        ask.start("dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                                "string:org.freedesktop.secrets"});
        return ask.waitForFinished(3000) && ask.readAllStandardOutput().contains("true");
    }

    QProcess busProcess;
    QProcess keyringProcess;
};

class SavedLogins : public ::testing::Test {
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
        HTTPRequest::clearSession();
    }
    static PasswordStore* store;
};

PasswordStore* SavedLogins::store = nullptr;

TEST_F(SavedLogins, AreKeptPerProtectionSpace) {
    const platform::HttpCredentials login{"alice", "s3cret:\"quoted\"", {}};
    ASSERT_TRUE(HTTPRequest::saveCredentials(login, "Example.org", 8080, "http", "realm one"));
    ASSERT_TRUE(HTTPRequest::saveCredentialsForProxy({"proxy", "pp", {}}, "example.org", 8080,
                                                     "realm one"));
    const auto found =
        HTTPRequest::savedCredentialsForHost("example.org", 8080, "HTTP", "realm one");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->username, "alice");
    EXPECT_EQ(found->password, login.password);
    // Any other part of the space is another space.
    EXPECT_EQ(HTTPRequest::savedCredentialsForHost("example.org", 8080, "http", "realm two"),
              nullptr);
    EXPECT_EQ(HTTPRequest::savedCredentialsForHost("example.org", 8081, "http", "realm one"),
              nullptr);
    EXPECT_EQ(HTTPRequest::savedCredentialsForHost("example.org", 8080, "https", "realm one"),
              nullptr);
    EXPECT_EQ(
        HTTPRequest::savedCredentialsForProxy("example.org", 8080, "http", "realm one")->username,
        "proxy");
    EXPECT_TRUE(HTTPRequest::removeCredentialsForHost("example.org", 8080, "http", "realm one"));
    EXPECT_EQ(HTTPRequest::savedCredentialsForHost("example.org", 8080, "http", "realm one"),
              nullptr);
    EXPECT_NE(HTTPRequest::savedCredentialsForProxy("example.org", 8080, "http", "realm one"),
              nullptr);
}

TEST_F(SavedLogins, ARequestSavesWhatTheServerTookAndALaterOneFindsIt) {
    std::mutex mutex;
    std::vector<std::string> sent;
    ScriptedServer server([&](ScriptedConnection& c) {
        auto request = c.readRequest(3000);
        if (!request) return;
        const std::string authorization = request->header("Authorization");
        {
            std::lock_guard lock(mutex);
            sent.push_back(authorization);
        }
        c.send(authorization == "Basic dTpw"
                   ? "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"
                   : "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"vault\"\r\n"
                     "Connection: close\r\nContent-Length: 0\r\n\r\n");
    });
    const QUrl url(QString::fromStdString(server.url("/")));
    auto attempt = [&](const char* user, const char* password) {
        auto request = HTTPRequest::requestWithURL(url);
        request->setUseKeychainPersistence(true);
        if (user) {
            request->setUsername(user);
            request->setPassword(password);
        }
        request->startSynchronous();
        HTTPRequest::clearSession();
        return request;
    };
    // A refused password is not saved.
    EXPECT_EQ(attempt("u", "wrong")->error()->code, http::AuthenticationErrorType);
    EXPECT_EQ(HTTPRequest::savedCredentialsForHost("127.0.0.1", url.port(), "http", "vault"),
              nullptr);
    EXPECT_EQ(attempt("u", "p")->responseStatusCode(), 200);
    const auto saved =
        HTTPRequest::savedCredentialsForHost("127.0.0.1", url.port(), "http", "vault");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->password, "p");
    // Nobody to ask and nothing on the request: the saved login answers.
    EXPECT_EQ(attempt(nullptr, nullptr)->responseStatusCode(), 200);
    std::lock_guard lock(mutex);
    EXPECT_EQ(sent.back(), "Basic dTpw");
    HTTPRequest::removeCredentialsForHost("127.0.0.1", url.port(), "http", "vault");
}

TEST(NoPasswordStore, OneWarningAndTheSessionGoesOnWithoutAPlainFile) {
    const std::string expected = "Basic " + QByteArray("u:n0t-in-a-file").toBase64().toStdString();
    ScriptedServer server([&](ScriptedConnection& c) {
        auto request = c.readRequest(3000);
        if (!request) return;
        c.send(request->header("Authorization") == expected
                   ? "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"
                   : "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                     "Connection: close\r\nContent-Length: 0\r\n\r\n");
    });
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    environment.remove("DISPLAY");
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_RUNTIME_DIR", home.path());
    QProcess fetch;
    fetch.setProcessEnvironment(environment);
    fetch.setStandardInputFile(QProcess::nullDevice());
    const QString page = QString::fromStdString(server.url("/"));
    fetch.start(qEnvironmentVariable("LUMARO_BIN") + "/lumaro-fetch",
                {"-v", "--keychain", "-u", "u:n0t-in-a-file", "-o", "/dev/null", page, page});
    ASSERT_TRUE(fetch.waitForFinished(60000));
    const QByteArray errors = fetch.readAllStandardError();
    EXPECT_EQ(fetch.exitCode(), 0) << errors.constData();
    EXPECT_EQ(errors.count("No password store is running"), 1) << errors.constData();
    QProcess grep;
    grep.start("grep", {"-r", "-l", "n0t-in-a-file", home.path()});
    grep.waitForFinished(10000);
    EXPECT_EQ(grep.readAllStandardOutput(), "");
}

}  // namespace
