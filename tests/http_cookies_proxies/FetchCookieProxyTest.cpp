// lumaro-fetch's cookie jars beside curl's, and the proxy each request takes, counted by
// tinyproxy and microsocks.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include "http/FetchRun.h"
#include "servers/HttpbinServer.h"
#include "servers/NginxServer.h"
#include "servers/ProxyServers.h"
#include "support/Files.h"

namespace {

using Outcome = testsupport::ProgramRun;

// Runs a program without this machine's proxy variables, with extra ("NAME=VALUE") added.
Outcome execute(const QString& program, const QStringList& arguments,
                const QStringList& extra = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY", "LUMARO_PAC_URL"}) {
        environment.remove(name);
    }
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

    HttpbinServer httpbin_;
    QTemporaryDir dir_;
};

TEST_F(Fetch, JarsPassToAndFromCurlAndCookieOptionsDoWhatCurlsDo) {
    // lumaro-fetch writes (after the redirect to /cookies), curl reads.
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

    // Options that send cookies, and a jar with lines to skip, as curl reads them.
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
    for (const QStringList& arguments :
         {QStringList{url("/cookies/set?a=1")},  // no jar: nothing kept across the redirect
          QStringList{"-b", "x=9; y=8", url("/cookies")},
          QStringList{"-b", file("jar"), url("/cookies")},  // live ones for this address only
          QStringList{"-b", file("missing"), url("/cookies/set?a=1")}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Outcome ours = fetch(arguments);
        ASSERT_EQ(ours.exitCode, 0) << ours.err.toStdString();
        // curl sends Secure cookies to a loopback address over plain HTTP; we never do.
        QJsonObject theirs = cookiesIn(curl(arguments).out);
        theirs.remove("secure");
        EXPECT_EQ(cookiesIn(ours.out), theirs);
    }
}

TEST_F(Fetch, EachSettingSendsTheRequestByItsRoute) {
    lumaro::test::TinyproxyServer tinyproxy;
    lumaro::test::MicrosocksServer microsocks;
    lumaro::test::NginxServer::Options served;
    served.root = dir_.path();
    lumaro::test::NginxServer nginx(served);
    // Not UTF-8: read as ISO Latin 1, "\xe9" is the letter the script compares.
    testfiles::writeFile(
        file("proxy.pac"),
        QStringLiteral("function FindProxyForURL(url, host) {\n"
                       "  if ('\xe9' !== '\\u00e9') return 'DIRECT';\n"
                       "  if (shExpMatch(url, '*/anything/socks')) return 'SOCKS5 127.0.0.1:%2';\n"
                       "  return isInNet(host, '127.0.0.0', '255.0.0.0') ? "
                       "'PROXY 127.0.0.1:%1; DIRECT' : 'DIRECT';\n}\n")
            .arg(tinyproxy.port())
            .arg(microsocks.port())
            .toLatin1());
    testfiles::writeFile(file("loop.pac"), "function FindProxyForURL(url, host) { for (;;) {} }");
    const auto expand = [&](QString text) {
        return text.replace("$tiny", QStringLiteral("127.0.0.1:%1").arg(tinyproxy.port()))
            .replace("$socks", QStringLiteral("socks5://127.0.0.1:%1").arg(microsocks.port()))
            .replace("$nginx", nginx.url(""))
            .replace("$dir", dir_.path())
            .replace("$localhost", url("").replace("127.0.0.1", "localhost"))
            .split(' ', Qt::SkipEmptyParts);
    };
    enum Route { Direct, Tinyproxy, Microsocks, Refused };
    const struct {
        const char* arguments;
        const char* environment;
        const char* path;
        Route route;
        int atLeastMs;
    } cases[] = {
        // Credentials in the address are for the proxy's challenge, not for choosing it.
        {"", "http_proxy=http://u:pw@$tiny/", "/get", Tinyproxy, 0},
        {"", "HTTP_PROXY=$tiny", "/get", Direct, 0},  // never read, as curl
        {"", "http_proxy=$tiny no_proxy=127.0.0.1", "/get", Direct, 0},
        {"", "http_proxy=$tiny NO_PROXY=127.0.0.1", "/get", Direct, 0},
        {"", "http_proxy=$tiny no_proxy=x NO_PROXY=127.0.0.1", "/get", Tinyproxy, 0},
        {"--noproxy 127.0.0.1", "http_proxy=$tiny no_proxy=x", "/get", Direct, 0},
        {"", "http_proxy= all_proxy=$socks", "/get", Microsocks, 0},  // empty is unset
        {"", "http_proxy=socks4://127.0.0.1:1", "/get", Refused, 0},
        {"", "http_proxy=http://:80", "/get", Refused, 0},
        // Only the first hop is proxied: the next host finds its own way.
        {"", "http_proxy=$tiny no_proxy=localhost", "/redirect-to?url=$localhost/get", Tinyproxy,
         0},
        {"--proxy-pac $dir/proxy.pac", "", "/get", Tinyproxy, 0},
        {"--proxy-pac $nginx/proxy.pac --async", "", "/anything/socks", Microsocks, 0},
        // The script's choice is the request's: no_proxy is for the proxy variables.
        {"", "LUMARO_PAC_URL=$nginx/proxy.pac no_proxy=*", "/get", Tinyproxy, 0},
        {"--proxy-pac $dir/loop.pac --async", "", "/get", Direct, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.environment) + " lumaro-fetch " + c.arguments + " " + c.path);
        const int tinyBefore = tinyproxy.carried();
        const int socksBefore = microsocks.carried();
        QElapsedTimer clock;
        clock.start();
        const Outcome run = fetch(expand(c.arguments) + expand(url(c.path)), expand(c.environment));
        EXPECT_GE(clock.elapsed(), c.atLeastMs);
        if (c.route == Refused) {
            EXPECT_EQ(run.err,
                      "lumaro-fetch: Unable to obtain information on proxy servers "
                      "needed for request\n");
            continue;
        }
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("\"url\"")) << run.out.toStdString();
        // A proxy may write its log line just after it passed the answer on.
        const auto carried = [&] {
            return std::pair(tinyproxy.carried() - tinyBefore, microsocks.carried() - socksBefore);
        };
        const auto expected = std::pair<int, int>(c.route == Tinyproxy, c.route == Microsocks);
        for (int waited = 0; carried() != expected && waited < 2000; waited += 10)
            QThread::msleep(10);
        EXPECT_EQ(carried(), expected);
    }
}

}  // namespace
