// lumaro-fetch's cookie jars beside curl's, and its proxies from the environment,
// --noproxy and --proxy-pac, counted by tinyproxy and microsocks.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "ProxyCounters.h"
#include "http/FetchRun.h"
#include "servers/HttpbinServer.h"
#include "support/Files.h"

namespace {

using lumaro::test::CountingMicrosocks;
using lumaro::test::CountingTinyproxy;

using Outcome = testsupport::ProgramRun;

// Runs a program with the proxy variables of this process removed and extra added.
Outcome execute(const QString& program, const QStringList& arguments,
                const QStringList& extra = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : lumaro::test::kProxyVariables) environment.remove(name);
    for (const QString& pair : extra)
        environment.insert(pair.section('=', 0, 0), pair.section('=', 1));
    return testsupport::runProgram(program, arguments, 60000, environment);
}

Outcome fetch(const QStringList& arguments, const QStringList& environment = {}) {
    return execute(qEnvironmentVariable("LUMARO_BIN") + "/lumaro-fetch", arguments, environment);
}

Outcome curl(const QStringList& arguments) {
    return execute("curl", QStringList{"-s", "-L"} + arguments);
}

QJsonObject cookiesIn(const QByteArray& body) {
    return QJsonDocument::fromJson(body).object()["cookies"].toObject();
}

class Fetch : public ::testing::Test {
protected:
    void SetUp() override {
        if (!httpbin_.available()) GTEST_SKIP() << httpbin_.failure().toStdString();
    }
    QString url(const QString& path) const { return httpbin_.url(path).toString(); }
    QString file(const QString& name) const { return dir_.filePath(name); }

    // Runs lumaro-fetch for /get and checks it went by the expected proxy, if any.
    void expectRoute(const QStringList& arguments, const QStringList& environment, int viaTinyproxy,
                     int viaMicrosocks) {
        const int tiny = tinyproxy_.carried();
        const int socks = microsocks_.carried();
        const Outcome run = fetch(arguments + QStringList{url("/get")}, environment);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("\"url\"")) << run.out.toStdString();
        // microsocks may write its log line just after it passed the answer on.
        for (int waited = 0; microsocks_.carried() - socks != viaMicrosocks && waited < 2000;
             waited += 10) {
            QThread::msleep(10);
        }
        EXPECT_EQ(tinyproxy_.carried() - tiny, viaTinyproxy);
        EXPECT_EQ(microsocks_.carried() - socks, viaMicrosocks);
    }

    HttpbinServer httpbin_;
    QTemporaryDir dir_;
    CountingTinyproxy tinyproxy_;
    CountingMicrosocks microsocks_;
};

TEST_F(Fetch, JarsPassBetweenLumaroFetchAndCurlBothWays) {
    // lumaro-fetch writes, curl reads.
    const Outcome set = fetch({"-c", file("ours"), url("/cookies/set?a=1")});
    ASSERT_EQ(set.exitCode, 0) << set.err.toStdString();
    EXPECT_EQ(cookiesIn(set.out)["a"].toString(), "1");
    EXPECT_EQ(QFileInfo(file("ours")).permissions() & 0x0077, 0);  // no one else reads it
    EXPECT_EQ(cookiesIn(curl({"-b", file("ours"), url("/cookies")}).out)["a"].toString(), "1");

    // curl writes, lumaro-fetch reads, adds one and writes it back for curl again.
    curl({"-c", file("curls"), url("/cookies/set?b=2")});
    const Outcome back = fetch({"-b", file("curls"), "-c", file("both"), url("/cookies/set?c=3")});
    ASSERT_EQ(back.exitCode, 0) << back.err.toStdString();
    const QJsonObject both = cookiesIn(curl({"-b", file("both"), url("/cookies")}).out);
    EXPECT_EQ(both["b"].toString(), "2");
    EXPECT_EQ(both["c"].toString(), "3");
    EXPECT_EQ(both.size(), 2);
}

TEST_F(Fetch, CookieOptionsDoWhatCurlsDo) {
    testfiles::writeFile(file("jar"),
                         "# Netscape HTTP Cookie File\n"
                         "127.0.0.1\tFALSE\t/\tFALSE\t0\tkept\tyes\n"
                         "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\thidden\t1\n"
                         "127.0.0.1\tFALSE\t/\tFALSE\t1000\texpired\t1\n"
                         "127.0.0.1\tFALSE\t/\tTRUE\t0\tsecure\t1\n"
                         "127.0.0.1\tFALSE\t/elsewhere\tFALSE\t0\tpath\t1\n"
                         "other.test\tFALSE\t/\tFALSE\t0\tforeign\t1\n"
                         "127.0.0.1\tFALSE\t/\tFALSE\tsoon\tbroken\t1\n"
                         "not enough fields\n");
    const struct {
        const char* name;
        QStringList arguments;
    } cases[] = {
        {"no jar: nothing is kept, not even across a redirect", {"/cookies/set?a=1"}},
        {"a jar to write keeps them across the redirect", {"-c", "@out", "/cookies/set?a=1"}},
        {"cookies given as text", {"-b", "x=9; y=8", "/cookies"}},
        {"a jar read: live cookies for this address only", {"-b", "@jar", "/cookies"}},
        {"a missing jar is an empty one", {"-b", "@missing", "/cookies/set?a=1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList arguments;
        for (const QString& argument : c.arguments) {
            arguments << (argument.startsWith('@')   ? file(argument.mid(1))
                          : argument.startsWith('/') ? url(argument)
                                                     : argument);
        }
        const Outcome ours = fetch(arguments);
        ASSERT_EQ(ours.exitCode, 0) << ours.err.toStdString();
        // curl sends Secure cookies to a loopback address over plain HTTP; we never do.
        QJsonObject theirs = cookiesIn(curl(arguments).out);
        theirs.remove("secure");
        EXPECT_EQ(cookiesIn(ours.out), theirs);
    }
}

TEST_F(Fetch, EnvironmentNoProxyAndPacScriptsChooseTheRoute) {
    const QString tiny = "http_proxy=" + tinyproxy_.address();
    const QString script = file("proxy.pac");
    testfiles::writeFile(script, QStringLiteral("function FindProxyForURL(url, host) {\n"
                                                "  return isInNet(host, '127.0.0.0', '255.0.0.0')"
                                                " ? 'PROXY 127.0.0.1:%1' : 'DIRECT';\n}\n")
                                     .arg(tinyproxy_.port())
                                     .toUtf8());
    const QString pacUrl = "LUMARO_PAC_URL=" + QUrl::fromLocalFile(script).toString();
    const struct {
        const char* name;
        QStringList arguments;
        QStringList environment;
        int tinyproxy;
        int microsocks;
    } cases[] = {
        {"http_proxy", {}, {tiny}, 1, 0},
        {"no_proxy", {}, {tiny, "no_proxy=127.0.0.1"}, 0, 0},
        {"--noproxy in no_proxy's place", {"--noproxy", "127.0.0.1"}, {tiny, "no_proxy=x"}, 0, 0},
        {"--noproxy naming another host", {"--noproxy", "x"}, {tiny, "no_proxy=127.0.0.1"}, 1, 0},
        {"--noproxy covers -x as well", {"--noproxy", "*", "-x", tinyproxy_.address()}, {}, 0, 0},
        {"all_proxy through SOCKS", {}, {"all_proxy=" + microsocks_.address()}, 0, 1},
        {"--proxy-pac with a path", {"--proxy-pac", script}, {}, 1, 0},
        // The script's choice is the request's: no_proxy is for the proxy variables.
        {"LUMARO_PAC_URL over no_proxy", {}, {pacUrl, "no_proxy=*"}, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectRoute(c.arguments, c.environment, c.tinyproxy, c.microsocks);
    }
}

TEST_F(Fetch, APacScriptThatLoopsGoesDirectAfterASecond) {
    testfiles::writeFile(file("loop.pac"), "function FindProxyForURL(url, host) { for (;;) {} }");
    QElapsedTimer clock;
    clock.start();
    expectRoute({"--proxy-pac", file("loop.pac"), "-x", "", "--async"}, {}, 0, 0);
    EXPECT_GE(clock.elapsed(), 1000);
}

}  // namespace
