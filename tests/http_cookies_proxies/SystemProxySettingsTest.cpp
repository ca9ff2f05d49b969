// The system's proxy for an address: LUMARO_PAC_URL, no_proxy and curl's proxy variables.
#include <gtest/gtest.h>

#include <QtGlobal>

#include "platform/SystemProxySettings.h"

namespace {

using platform::SystemProxy;
namespace settings = platform::SystemProxySettings;

const char* const kVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                  "HTTPS_PROXY", "all_proxy",  "ALL_PROXY",
                                  "no_proxy",    "NO_PROXY",   "LUMARO_PAC_URL"};

// Sets exactly the given "name=value" variables (space-separated), clears the rest.
void setEnvironment(const QString& variables) {
    for (const char* name : kVariables) qunsetenv(name);
    for (const QString& pair : variables.split(' ', Qt::SkipEmptyParts))
        qputenv(pair.section('=', 0, 0).toUtf8().constData(), pair.section('=', 1).toUtf8());
}

// "http p:3128; ...", "" for direct, "refused" when the variables cannot be used.
QString proxiesFor(const char* url) {
    static const char* const kTypes[] = {"none", "http", "https", "socks", "pac"};
    QString problem;
    const auto proxies = settings::proxiesForURL(QUrl(url), &problem);
    if (!proxies) return problem.isEmpty() ? "refused without a reason" : "refused";
    QStringList entries;
    for (const SystemProxy& p : *proxies) {
        entries << QString("%1 %2:%3 %4")
                       .arg(kTypes[static_cast<int>(p.type)], p.host)
                       .arg(p.port)
                       .arg(p.autoConfigurationURL.toString())
                       .trimmed();
    }
    return entries.join("; ");
}

TEST(SystemProxySettings, FollowsCurlsEnvironmentRulesAndRefusesWhatItCannotUse) {
    const struct {
        const char* environment;
        const char* url;
        const char* expected;
    } cases[] = {
        {"http_proxy=http://p:3128", "http://a.test/", "http p:3128"},
        {"HTTP_PROXY=http://p:3128", "http://a.test/", ""},  // upper case is never read
        {"http_proxy=http://p:3128", "https://a.test/", ""},
        {"https_proxy=p:8080", "https://a.test/", "https p:8080"},
        {"HTTPS_PROXY=p:8080", "https://a.test/", "https p:8080"},
        {"https_proxy=low:1 HTTPS_PROXY=up:2", "https://a.test/", "https low:1"},
        {"all_proxy=socks5://s:1080", "http://a.test/", "socks s:1080"},
        {"ALL_PROXY=socks5h://s", "https://a.test/", "socks s:1080"},
        {"http_proxy=h:1 all_proxy=socks5://s:2", "http://a.test/", "http h:1"},
        {"http_proxy= all_proxy=a:9", "http://a.test/", "http a:9"},  // empty is unset
        {"http_proxy=h:1 no_proxy=test", "http://a.test/", ""},
        {"http_proxy=h:1 no_proxy=a.test", "http://a.test:8080/", ""},
        {"http_proxy=h:1 NO_PROXY=a.test", "http://a.test/", ""},
        {"http_proxy=h:1 no_proxy=b.test NO_PROXY=a.test", "http://a.test/", "http h:1"},
        {"http_proxy=http://u:pw@h:1/", "http://a.test/", "http h:1"},
        {"LUMARO_PAC_URL=http://pac.test/p.pac http_proxy=h:1", "http://a.test/",
         "pac :0 http://pac.test/p.pac"},
        {"http_proxy=socks4://s:1080", "http://a.test/", "refused"},
        {"http_proxy=socks4a://s:1", "http://a.test/", "refused"},
        {"http_proxy=socks://s:1", "http://a.test/", "refused"},
        {"http_proxy=https://p:443", "http://a.test/", "refused"},
        {"http_proxy=ftp://p:21", "http://a.test/", "refused"},
        {"http_proxy=http://:80", "http://a.test/", "refused"},
        {"http_proxy=http://p:99999", "http://a.test/", "refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.environment) + " for " + c.url);
        setEnvironment(c.environment);
        EXPECT_EQ(proxiesFor(c.url), c.expected);
    }
    setEnvironment("");
}

}  // namespace
