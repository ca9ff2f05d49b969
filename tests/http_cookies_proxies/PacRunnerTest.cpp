// Proxy auto-configuration scripts: the helper functions, the answer's entries, and
// scripts that fail, throw or never end.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <thread>

#include "platform/PacRunner.h"

namespace {

using platform::PacProxy;
using platform::PacRunner;
using namespace std::chrono_literals;

// Script engines need the application object.
class PacRunnerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "proxy_choice_tests";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
    }
};

// Wednesday 4 March 2026, 10:30:15 UTC.
QDateTime fixedNow() { return QDateTime(QDate(2026, 3, 4), QTime(10, 30, 15), Qt::UTC); }

QString evaluate(const QString& expression) {
    PacRunner runner("function FindProxyForURL(url, host) { return String(" + expression + "); }",
                     1s, fixedNow);
    return runner.findProxyForURL(QUrl("http://a.test/")).value_or("<no answer>");
}

TEST_F(PacRunnerTest, HelperFunctionsAnswerAsScriptsExpect) {
    const struct {
        const char* expression;
        const char* result;
    } cases[] = {
        {"isPlainHostName('www')", "true"},
        {"isPlainHostName('www.a.test')", "false"},
        {"dnsDomainIs('www.netscape.com', '.netscape.com')", "true"},
        {"dnsDomainIs('www.mcom.com', '.netscape.com')", "false"},
        {"localHostOrDomainIs('www.netscape.com', 'www.netscape.com')", "true"},
        {"localHostOrDomainIs('www', 'www.netscape.com')", "true"},
        {"localHostOrDomainIs('home.netscape.com', 'www.netscape.com')", "false"},
        {"isResolvable('localhost')", "true"},
        {"isResolvable('')", "false"},
        {"dnsResolve('localhost')", "127.0.0.1"},
        {"isInNet('127.0.0.5', '127.0.0.0', '255.0.0.0')", "true"},
        {"isInNet('192.168.1.200', '192.168.1.128', '255.255.255.128')", "true"},
        {"isInNet('localhost', '127.0.0.0', '255.0.0.0')", "true"},
        {"isInNet('127.0.0.1', 'nonsense', '255.0.0.0')", "false"},
        {"/^\\d+\\.\\d+\\.\\d+\\.\\d+$/.test(myIpAddress())", "true"},
        {"dnsDomainLevels('www.netscape.com')", "2"},
        {"shExpMatch('a.b', 'a?b')", "true"},
        {"shExpMatch('axb', 'a.b')", "false"},
        {"shExpMatch('x(y)[z]', 'x(y)[z]')", "true"},
        {"shExpMatch('www.example.com', '*.example.com')", "true"},
        {"shExpMatch('example.com', '*.example.com')", "false"},
        {"shExpMatch('110.1.2.3', '10.*')", "false"},
        {"shExpMatch('abc', 'abc') && !shExpMatch('abcd', 'abc')", "true"},
        {"shExpMatch('axxb', 'a*b') && !shExpMatch('axxc', 'a*b')", "true"},
        {"weekdayRange('WED', 'GMT')", "true"},
        {"weekdayRange('MON', 'FRI', 'GMT')", "true"},
        {"weekdayRange('FRI', 'MON', 'GMT')", "false"},
        {"weekdayRange('TUE', 'MON', 'GMT')", "true"},
        {"dateRange(4, 'GMT')", "true"},
        {"dateRange(5, 31, 'GMT')", "false"},
        {"dateRange('JAN', 'FEB', 'GMT')", "false"},
        {"dateRange('DEC', 'MAR', 'GMT')", "true"},
        {"dateRange(2020, 2025, 'GMT')", "false"},
        {"dateRange('FEB', 2026, 'APR', 2026, 'GMT')", "true"},
        {"dateRange(5, 'MAR', 2026, 31, 'DEC', 2026, 'GMT')", "false"},
        {"timeRange(11, 'GMT')", "false"},
        {"timeRange(9, 11, 'GMT')", "true"},
        {"timeRange(22, 2, 'GMT')", "false"},
        {"timeRange(22, 11, 'GMT')", "true"},
        {"timeRange(10, 30, 15, 10, 30, 16, 'GMT')", "true"},
        {"timeRange(10, 30, 0, 10, 30, 15, 'GMT')", "false"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        EXPECT_EQ(evaluate(c.expression), c.result);
    }
}

TEST_F(PacRunnerTest, TakesTheEntriesItCanUseInOrder) {
    using T = PacProxy::Type;
    const struct {
        const char* answer;
        QList<PacProxy> entries;
    } cases[] = {
        {"PROXY p:3128; DIRECT", {{T::Http, "p", 3128}, {}}},
        {"  direct  ", {{}}},
        {"SOCKS4 s:1; SOCKS5 s:2; SOCKS t:3", {{T::Socks, "s", 2}, {T::Socks, "t", 3}}},
        {"HTTPS h:443;HTTP g:80", {{T::Https, "h", 443}, {T::Http, "g", 80}}},
        {"PROXY [::1]:8080", {{T::Http, "::1", 8080}}},
        {"proxy p:1", {{T::Http, "p", 1}}},
        {"PROXY nohost; PROXY p:0; PROXY p:70000; PROXY :80; PROXY a:1 b:2", {}},
        {"", {}},
        {"nonsense", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(PacRunner::parseAnswer(c.answer), c.entries);
    }
}

TEST_F(PacRunnerTest, ScriptSeesNoCredentialsNorTheRestOfAnHttpsAddress) {
    PacRunner runner("function FindProxyForURL(url, host) { return url + ' ' + host; }");
    EXPECT_EQ(runner.findProxyForURL(QUrl("http://u:pw@a.test:81/p?q=1#f")).value_or(""),
              "http://a.test:81/p?q=1 a.test");
    EXPECT_EQ(runner.findProxyForURL(QUrl("https://u:pw@b.test/secret?token=1")).value_or(""),
              "https://b.test/ b.test");
}

TEST_F(PacRunnerTest, BrokenOrEndlessScriptsAnswerNothingAndTheRunnerGoesOn) {
    for (const char* script : {"function FindProxyForURL(url, host) {", "var nothing = 1;",
                               "throw new Error('at load');", "for (;;) {}",
                               "function FindProxyForURL() { throw new Error('boom'); }",
                               "function FindProxyForURL() { return 42; }",
                               "function FindProxyForURL() { return undefinedName; }"}) {
        SCOPED_TRACE(script);
        EXPECT_FALSE(PacRunner(script, 200ms).findProxyForURL(QUrl("http://a.test/")));
    }
    PacRunner runner(
        "function FindProxyForURL(url, host) {"
        "  if (host === 'loop.test') for (;;) {}"
        "  return 'PROXY p:1';"
        "}",
        200ms);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(runner.findProxyForURL(QUrl("http://loop.test/")));
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_EQ(runner.findProxyForURL(QUrl("http://a.test/")).value_or(""), "PROXY p:1");
}

TEST_F(PacRunnerTest, CompiledScriptsAreKeptPerAddressThreadAndText) {
    const QString script = "function FindProxyForURL(url, host) { return 'DIRECT'; }";
    auto first = PacRunner::cached("http://pac.test/a.pac", script);
    EXPECT_EQ(PacRunner::cached("http://pac.test/a.pac", script), first);
    EXPECT_NE(PacRunner::cached("http://pac.test/b.pac", script), first);
    EXPECT_NE(PacRunner::cached("http://pac.test/a.pac", script + " "), first);
    // Engines stay on their threads: another thread compiles its own.
    const PacRunner* elsewhere = nullptr;
    std::thread([&] {
        elsewhere = PacRunner::cached("http://pac.test/a.pac", script).get();
    }).join();
    EXPECT_NE(elsewhere, first.get());
}

}  // namespace
