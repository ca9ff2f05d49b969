// The system's proxy for an address: LUMARO_PAC_URL, no_proxy and curl's proxy variables.
#include <gtest/gtest.h>

#include <QtGlobal>
#include <map>

#include "platform/SystemProxySettings.h"

namespace {

using platform::SystemProxy;
namespace settings = platform::SystemProxySettings;

const char* const kVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                  "HTTPS_PROXY", "all_proxy",  "ALL_PROXY",
                                  "no_proxy",    "NO_PROXY",   "LUMARO_PAC_URL"};

// Sets exactly the given variables for one case and clears the others afterwards.
class Environment {
public:
    explicit Environment(const std::map<std::string, std::string>& values) {
        for (const char* name : kVariables) qunsetenv(name);
        for (const auto& [name, value] : values) qputenv(name.c_str(), value.c_str());
    }
    ~Environment() {
        for (const char* name : kVariables) qunsetenv(name);
        settings::setNoProxyOverride(std::nullopt);
    }
};

SystemProxy proxy(SystemProxy::Type type, const char* host, quint16 port) {
    SystemProxy entry;
    entry.type = type;
    entry.host = host;
    entry.port = port;
    return entry;
}

struct Case {
    const char* name;
    std::map<std::string, std::string> environment;
    const char* url;
    QList<SystemProxy> expected;
};

TEST(SystemProxySettings, FollowsCurlsEnvironmentRules) {
    using T = SystemProxy::Type;
    const Case cases[] = {
        {"http_proxy for http",
         {{"http_proxy", "http://p:3128"}},
         "http://a.test/",
         {proxy(T::Http, "p", 3128)}},
        {"upper-case HTTP_PROXY is never read",
         {{"HTTP_PROXY", "http://p:3128"}},
         "http://a.test/",
         {}},
        {"http_proxy is not for https", {{"http_proxy", "http://p:3128"}}, "https://a.test/", {}},
        {"https_proxy for https, tunnelled",
         {{"https_proxy", "p:8080"}},
         "https://a.test/",
         {proxy(T::Https, "p", 8080)}},
        {"HTTPS_PROXY is read",
         {{"HTTPS_PROXY", "p:8080"}},
         "https://a.test/",
         {proxy(T::Https, "p", 8080)}},
        {"lower case before upper case",
         {{"https_proxy", "low:1"}, {"HTTPS_PROXY", "up:2"}},
         "https://a.test/",
         {proxy(T::Https, "low", 1)}},
        {"all_proxy when the scheme has none",
         {{"all_proxy", "socks5://s:1080"}},
         "http://a.test/",
         {proxy(T::Socks, "s", 1080)}},
        {"ALL_PROXY, default port 1080",
         {{"ALL_PROXY", "socks5h://s"}},
         "https://a.test/",
         {proxy(T::Socks, "s", 1080)}},
        {"scheme's own before all_proxy",
         {{"http_proxy", "h:1"}, {"all_proxy", "socks5://s:2"}},
         "http://a.test/",
         {proxy(T::Http, "h", 1)}},
        {"empty variable is unset",
         {{"http_proxy", ""}, {"all_proxy", "a:9"}},
         "http://a.test/",
         {proxy(T::Http, "a", 9)}},
        {"no_proxy suffix", {{"http_proxy", "h:1"}, {"no_proxy", "test"}}, "http://a.test/", {}},
        {"no_proxy ignores the address's port",
         {{"http_proxy", "h:1"}, {"no_proxy", "a.test"}},
         "http://a.test:8080/",
         {}},
        {"NO_PROXY when no_proxy is unset",
         {{"http_proxy", "h:1"}, {"NO_PROXY", "a.test"}},
         "http://a.test/",
         {}},
        {"no_proxy before NO_PROXY",
         {{"http_proxy", "h:1"}, {"no_proxy", "b.test"}, {"NO_PROXY", "a.test"}},
         "http://a.test/",
         {proxy(T::Http, "h", 1)}},
        {"credentials in the address are not part of it",
         {{"http_proxy", "http://u:pw@h:1/"}},
         "http://a.test/",
         {proxy(T::Http, "h", 1)}},
        {"LUMARO_PAC_URL wins",
         {{"LUMARO_PAC_URL", "http://pac.test/proxy.pac"}, {"http_proxy", "h:1"}},
         "http://a.test/",
         {[] {
             SystemProxy entry;
             entry.type = T::AutoConfigurationURL;
             entry.autoConfigurationURL = QUrl("http://pac.test/proxy.pac");
             return entry;
         }()}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Environment environment(c.environment);
        QString problem;
        const auto proxies = settings::proxiesForURL(QUrl(c.url), &problem);
        ASSERT_TRUE(proxies) << problem.toStdString();
        EXPECT_EQ(*proxies, c.expected);
    }
}

TEST(SystemProxySettings, RefusesProxiesItCannotUse) {
    for (const char* value : {"socks4://s:1080", "socks4a://s:1", "socks://s:1", "https://p:443",
                              "ftp://p:21", "http://:80", "http://p:99999"}) {
        SCOPED_TRACE(value);
        Environment environment(std::map<std::string, std::string>{{"http_proxy", value}});
        QString problem;
        EXPECT_FALSE(settings::proxiesForURL(QUrl("http://a.test/"), &problem));
        EXPECT_FALSE(problem.isEmpty());
    }
}

}  // namespace
