// Choosing a proxy: the no_proxy list as curl reads it, and proxy auto-configuration scripts
// (the helper functions, the answer's entries, scripts that fail, throw or never end).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "platform/NoProxyList.h"
#include "platform/PacRunner.h"

namespace {

using platform::PacProxy;
using platform::PacRunner;
using namespace std::chrono_literals;

// Script engines need the application object.
int argc = 1;
char programName[] = "proxy_choice_tests";
char* argv[] = {programName, nullptr};
QCoreApplication application(argc, argv);

// Wednesday 4 March 2026, 10:30:15 UTC.
QDateTime fixedNow() { return QDateTime(QDate(2026, 3, 4), QTime(10, 30, 15), Qt::UTC); }

QString evaluate(const QString& expression) {
    PacRunner runner("function FindProxyForURL(url, host) { return String(" + expression + "); }",
                     1s, fixedNow);
    return runner.findProxyForURL(QUrl("http://a.test/")).value_or("<no answer>");
}

TEST(PacRunner, HelperFunctionsAnswerAsScriptsExpect) {
    const struct {
        const char* expression;
        const char* result;
    } cases[] = {
        {"isPlainHostName('www')", "true"},
        {"dnsDomainIs('www.netscape.com', '.netscape.com')", "true"},
        {"localHostOrDomainIs('www', 'www.netscape.com')", "true"},
        {"localHostOrDomainIs('home.netscape.com', 'www.netscape.com')", "false"},
        {"dnsDomainIs('WWW.Netscape.COM', '.netscape.COM')", "true"},
        {"localHostOrDomainIs('WWW', 'www.netscape.com')", "true"},
        {"localHostOrDomainIs('www', 'wwwx.netscape.com')", "false"},
        {"isResolvable('')", "false"},
        {"dnsResolve('localhost')", "127.0.0.1"},
        {"isInNet('192.168.1.200', '192.168.1.128', '255.255.255.128')", "true"},
        {"isInNet('localhost', '127.0.0.0', '255.0.0.0')", "true"},
        {"isInNet('10.1.2.256', '10.0.0.0', '255.0.0.0')", "false"},
        // Answers are remembered per argument, also past the number kept.
        {"[1, 2].every(function () { for (var i = 0; i < 1500; ++i) {"
         " if (!shExpMatch('h' + i + '.a', 'h' + i + '.*') || shExpMatch('h' + i + '.a', 'h' + "
         "(i + 1) + '.*')) return false; } return isInNet('10.1.2.3', '10.0.0.0', '255.0.0.0'); })",
         "true"},
        {"shExpMatch('constructor', 'constructor') && !shExpMatch('x', '__proto__') && "
         "dnsDomainIs('a.__proto__', '.__proto__')",
         "true"},
        {"/^\\d+\\.\\d+\\.\\d+\\.\\d+$/.test(myIpAddress())", "true"},
        {"dnsDomainLevels('www.netscape.com')", "2"},
        {"shExpMatch('x(y)[z]', 'x(y)[z]')", "true"},
        {"shExpMatch('www.example.com', '*.example.com')", "true"},
        {"shExpMatch('example.com', '*.example.com')", "false"},
        {"shExpMatch('110.1.2.3', '10.*')", "false"},
        {"shExpMatch('abc', 'abc') && !shExpMatch('abcd', 'abc')", "true"},
        {"shExpMatch('axxb', 'a*b') && !shExpMatch('axxc', 'a*b')", "true"},
        {"weekdayRange('WED', 'GMT')", "true"},
        {"weekdayRange('FRI', 'MON', 'GMT')", "false"},
        {"weekdayRange('TUE', 'MON', 'GMT')", "true"},
        {"dateRange(4, 'GMT')", "true"},
        {"dateRange('DEC', 'MAR', 'GMT')", "true"},
        {"dateRange('FEB', 2026, 'APR', 2026, 'GMT')", "true"},
        {"dateRange(5, 'MAR', 2026, 31, 'DEC', 2026, 'GMT')", "false"},
        {"timeRange(11, 'GMT')", "false"},
        {"timeRange(22, 2, 'GMT')", "false"},
        {"timeRange(22, 11, 'GMT')", "true"},
        // A range takes in its start and stops before its end.
        {"timeRange(10, 30, 15, 10, 30, 16, 'GMT') && !timeRange(10, 30, 0, 10, 30, 15, 'GMT')",
         "true"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        EXPECT_EQ(evaluate(c.expression), c.result);
    }
}

TEST(PacRunner, TakesTheEntriesItCanUseInOrder) {
    using T = PacProxy::Type;
    const struct {
        const char* answer;
        QList<PacProxy> entries;
    } cases[] = {
        {"PROXY p:3128; DIRECT", {{T::Http, "p", 3128}, {}}},
        {"SOCKS4 s:1; SOCKS5 s:2; SOCKS t:3", {{T::Socks, "s", 2}, {T::Socks, "t", 3}}},
        {"HTTPS h:443;HTTP g:80", {{T::Https, "h", 443}, {T::Http, "g", 80}}},
        {"PROXY [::1]:8080", {{T::Http, "::1", 8080}}},
        {"proxy p:1", {{T::Http, "p", 1}}},
        {"PROXY nohost; PROXY p:0; PROXY p:70000; PROXY :80; PROXY a:1 b:2", {}},
        {"nonsense", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(PacRunner::parseAnswer(c.answer), c.entries);
    }
}

TEST(PacRunner, FailingScriptsAnswerNothingAndTheNextAddressIsAskedWithoutCredentials) {
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
        "  return url + ' ' + host;"
        "}",
        200ms);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(runner.findProxyForURL(QUrl("http://loop.test/")));
    EXPECT_GE(clock.elapsed(), 200);
    // Nor does the script see more of an https address than its host.
    EXPECT_EQ(runner.findProxyForURL(QUrl("http://u:pw@a.test:81/p?q=1#f")).value_or(""),
              "http://a.test:81/p?q=1 a.test");
    EXPECT_EQ(runner.findProxyForURL(QUrl("https://u:pw@b.test/secret?token=1")).value_or(""),
              "https://b.test/ b.test");
}

TEST(PacRunner, AScriptIsCompiledOncePerAddressAndAgainWhenItsTextChanges) {
    const QString direct = "function FindProxyForURL() { return 'DIRECT'; }";
    const auto first = PacRunner::cached("http://wpad.test/a.pac", direct);
    EXPECT_EQ(PacRunner::cached("http://wpad.test/a.pac", direct), first);
    EXPECT_NE(PacRunner::cached("http://wpad.test/b.pac", direct), first);
    const auto changed = PacRunner::cached("http://wpad.test/a.pac", direct + " ");
    EXPECT_NE(changed, first);
    EXPECT_EQ(PacRunner::cached("http://wpad.test/a.pac", direct + " "), changed);
}

TEST(NoProxyList, MatchesNamesBySuffixAtDotsAndAddressesByNetwork) {
    const struct {
        const char* host;
        const char* list;
        bool exempt;
    } cases[] = {
        {"www.example.com", "example.com", true},
        {"example.com", ".example.com", true},
        {"badexample.com", "example.com", false},
        {"WWW.Example.COM", "example.com", true},
        {"www.example.com.", "example.com.", true},
        {"a.test", ",,other.test,\ta.test  b.test,,", true},
        {"a.test", "*", true},
        {"127.0.0.1", "127.0.0.0/8", true},
        {"127.0.0.1", "127.0.0.1:80", false},
        {"[::1]", "::1", true},
        {"fd00::5", "fd00::/8", true},
        {"::1", "127.0.0.1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " in '" + c.list + "'");
        EXPECT_EQ(platform::noProxyListMatches(c.host, c.list), c.exempt);
    }
}

}  // namespace
