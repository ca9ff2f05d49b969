// lumaro-fetch logging in: -u and credentials in the address against httpbin's Basic and
// Digest pages and nginx's auth_basic, --proxy-user through tinyproxy with BasicAuth, the
// terminal login when nothing was given, and --keychain with no password store running.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "RecordingServer.h"
#include "http/FetchRun.h"
#include "servers/HttpbinServer.h"
#include "servers/NginxServer.h"
#include "servers/ProxyServers.h"
#include "servers/TestCertificates.h"

namespace {

using Outcome = testsupport::ProgramRun;
using testsupport::RecordingServer;
// lumaro-fetch with no terminal: standard input is closed.
Outcome fetch(const QStringList& arguments) { return testsupport::runFetch(arguments); }

QStringList statusOnly(const QStringList& arguments) {
    return QStringList{"-o", "/dev/null", "-w", "%{http_code}"} + arguments;
}

class FetchLogin : public ::testing::Test {
protected:
    static void SetUpTestSuite() { httpbin = new HttpbinServer(); }
    static void TearDownTestSuite() {
        delete httpbin;
        httpbin = nullptr;
    }
    void SetUp() override {
        if (!httpbin->available()) GTEST_SKIP() << httpbin->failure().toStdString();
    }
    static QString at(const QString& path) { return httpbin->url(path).toString(); }
    static HttpbinServer* httpbin;
};

HttpbinServer* FetchLogin::httpbin = nullptr;

TEST_F(FetchLogin, BasicAndDigestPagesTakeTheRightLoginAndRefuseTheWrongOne) {
    const struct {
        QStringList arguments;
        int exitCode;
        QByteArray status;
    } cases[] = {
        {{"-u", "u:p", at("/basic-auth/u/p")}, 0, "200"},
        {{"-u", "u:p", at("/digest-auth/auth/u/p/MD5")}, 0, "200"},
        {{"-u", "u:p", at("/digest-auth/auth/u/p/SHA-256")}, 0, "200"},
        {{"-u", "u:p", at("/digest-auth/auth-int/u/p/MD5")}, 0, "200"},
        {{"-u", QString::fromUtf8("jürgen:pä:ss"), at("/basic-auth/j%C3%BCrgen/p%C3%A4:ss")},
         0,
         "200"},
        {{at("/basic-auth/u/p").replace("http://", "http://u:p@")}, 0, "200"},
        {{"-u", "u:wrong", at("/basic-auth/u/p")}, 3, "401"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Outcome run = fetch(statusOnly(c.arguments));
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.constData();
        EXPECT_EQ(run.out, c.status);
        if (c.exitCode == 3) {
            EXPECT_EQ(run.err, "lumaro-fetch: Authentication needed\n");
        }
    }
}

TEST(FetchLoginInterop, NginxAuthBasicAndTinyproxyBasicAuth) {
    QTemporaryDir dir;
    for (const auto& [name, bytes] :
         {std::pair{"users", "u:{PLAIN}p\n"}, std::pair{"index.html", "behind the door\n"}}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) > 0);
    }
    const auto certificate = lumaro::test::makeServerCertificate(dir.path());
    lumaro::test::NginxServer nginx(
        {.root = dir.path(),
         .certificateFile = certificate.certificateFile,
         .keyFile = certificate.keyFile,
         .clientCaFile = {},
         .extraHttpConfig =
             "auth_basic \"Lumaro\";\nauth_basic_user_file " + dir.filePath("users") + ";",
         .extraTlsServerConfig = {}});
    const Outcome in = fetch({"-v", "-u", "u:p", nginx.url("/index.html")});
    EXPECT_EQ(in.out, "behind the door\n") << in.err.constData() << nginx.errorLog().toStdString();

    lumaro::test::TinyproxyServer proxy({}, QStringLiteral("BasicAuth pu pp\n"));
    const QString via = QStringLiteral("127.0.0.1:%1").arg(proxy.port());
    const Outcome through =
        fetch({"-x", via, "--proxy-user", "pu:pp", "-u", "u:p", nginx.url("/index.html")});
    EXPECT_EQ(through.exitCode, 0) << through.err.constData();
    EXPECT_EQ(through.out, "behind the door\n");
    const Outcome refused = fetch(statusOnly({"-x", via, nginx.url("/index.html")}));
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_EQ(refused.out, "407");
    EXPECT_EQ(fetch({"-x", via, "--proxy-user", "pu:wrong", nginx.url("/index.html")}).exitCode, 3);
    // Through the proxy's tunnel to a secure site: the proxy's challenge comes with the
    // refused tunnel, and the answer goes with the next tunnel request.
    const Outcome tunnelled = fetch(
        {"-k", "-x", via, "--proxy-user", "pu:pp", "-u", "u:p", nginx.httpsUrl("/index.html")});
    EXPECT_EQ(tunnelled.exitCode, 0) << tunnelled.err.constData();
    EXPECT_EQ(tunnelled.out, "behind the door\n");
    // tinyproxy answers a wrong login with 401, not 407: for a tunnel that is a plain refusal.
    const Outcome wrong =
        fetch({"-k", "-x", via, "--proxy-user", "pu:wrong", nginx.httpsUrl("/index.html")});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_EQ(wrong.out, "");
}

TEST_F(FetchLogin, ATerminalIsAskedWithTheLoginFormsWords) {
    const QString script = QStandardPaths::findExecutable("script");
    if (script.isEmpty()) GTEST_SKIP() << "util-linux's script is not installed";
    // script gives the tool a terminal; what it is fed is typed there.
    QProcess process;
    const QString command = QStringLiteral("%1/lumaro-fetch -w ' %{http_code}' %2")
                                .arg(qEnvironmentVariable("LUMARO_BIN"), at("/basic-auth/u/p"));
    process.start(script, {"-qec", command, "/dev/null"});
    process.write("u\np\n");
    ASSERT_TRUE(process.waitForFinished(60000));
    const QByteArray shown = process.readAllStandardOutput();
    EXPECT_EQ(process.exitCode(), 0) << shown.constData();
    for (const char* text :
         {"Login to this secure server.", "127.0.0.1", "Fake Realm",
          "Password will be sent in the clear.", "User: ", "Password: ", " 200"}) {
        EXPECT_TRUE(shown.contains(text)) << text << "\n" << shown.constData();
    }
    // The password is not echoed.
    EXPECT_FALSE(shown.contains("Password: p")) << shown.constData();
}

TEST(FetchWithoutPasswordStore, OneWarningAndTheSessionGoesOnWithoutAPlainFile) {
    RecordingServer server([](const RecordingServer::Request& r) {
        return r.header("Authorization") == "Basic dTpuMHQtaW4tYS1maWxl"  // u:n0t-in-a-file
                   ? std::string(
                         "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok")
                   : "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                     "Connection: close\r\nContent-Length: 0\r\n\r\n";
    });
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY"}) environment.remove(name);
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        environment.insert(name, home.path());
    }
    const QString page = server.url("/").toString();
    const Outcome run = testsupport::runProgram(
        qEnvironmentVariable("LUMARO_BIN") + "/lumaro-fetch",
        {"-v", "--keychain", "-u", "u:n0t-in-a-file", "-o", "/dev/null", page, page}, 60000,
        environment);
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(run.err.count("No password store is running"), 1) << run.err.constData();
    EXPECT_EQ(testsupport::runProgram("grep", {"-r", "-l", "n0t-in-a-file", home.path()}).out, "");
}

}  // namespace
