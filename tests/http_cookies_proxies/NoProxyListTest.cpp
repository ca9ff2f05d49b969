// The no_proxy list as curl reads it.
#include <gtest/gtest.h>

#include "platform/NoProxyList.h"

namespace {

struct Case {
    const char* host;
    const char* list;
    bool exempt;
};

TEST(NoProxyList, MatchesNamesBySuffixAtDotsAndAddressesByNetwork) {
    const Case cases[] = {
        {"example.com", "example.com", true},
        {"www.example.com", "example.com", true},
        {"www.example.com", ".example.com", true},
        {"example.com", ".example.com", true},
        {"badexample.com", "example.com", false},
        {"example.com", "www.example.com", false},
        {"WWW.Example.COM", "example.com", true},
        {"www.example.com.", "example.com.", true},
        {"a.test", "other.test, a.test", true},
        {"a.test", "other.test  a.test", true},
        {"a.test", ",,a.test,,", true},
        {"a.test", "*", true},
        {"a.test", "other.test,*", false},
        {"a.test", "a.test:8080", false},
        {"a.test", "", false},
        {"127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1", "127.0.0.2", false},
        {"127.0.0.1", "127.0.0.0/8", true},
        {"10.1.2.3", "127.0.0.0/8", false},
        {"127.0.0.1", "127.0.0.1:80", false},
        {"127.0.0.1", "localhost", false},
        {"localhost", "127.0.0.1", false},
        {"::1", "::1", true},
        {"[::1]", "::1", true},
        {"fd00::5", "fd00::/8", true},
        {"fe80::5", "fd00::/8", false},
        {"::1", "127.0.0.1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " in '" + c.list + "'");
        EXPECT_EQ(platform::noProxyListMatches(c.host, c.list), c.exempt);
    }
}

}  // namespace
