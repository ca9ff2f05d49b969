#include <gtest/gtest.h>

#include "platform/http/HttpMessage.h"
#include "platform/http/HttpRequestHead.h"

using platform::HttpRequestHeadOptions;
using platform::HttpRequestMessage;
using platform::HttpVersion;

namespace {

HttpRequestMessage message(const char* url, const char* method = "GET") {
    auto created = HttpRequestMessage::create(method, QUrl(url), HttpVersion::Http11);
    EXPECT_TRUE(created.has_value()) << url;
    return *created;
}

TEST(HttpRequestMessage, OnlyAbsoluteHttpUrlsAndTokenMethodsMakeAMessage) {
    const auto valid = [](const char* method, const char* url) {
        return HttpRequestMessage::create(method, QUrl(url), HttpVersion::Http11).has_value();
    };
    EXPECT_TRUE(valid("PROPFIND", "HTTPS://example.com:8443/x"));
    for (const char* url : {"ftp://example.com/", "/relative", "http://"})
        EXPECT_FALSE(valid("GET", url)) << url;
    for (const char* method : {"GE T", "", "GET\r\nX: y"})
        EXPECT_FALSE(valid(method, "http://a/")) << method;
}

TEST(HttpRequestMessage, HeaderFieldsAreReplacedWithoutCaseRemovedByNullAndNeverSmuggled) {
    auto m = message("http://a/");
    EXPECT_TRUE(m.setHeaderFieldValue("Accept", "text/html"));
    EXPECT_TRUE(m.setHeaderFieldValue("X-One", "1"));
    EXPECT_TRUE(m.setHeaderFieldValue("accept", "*/*"));
    ASSERT_EQ(m.allHeaderFields().size(), 2);
    EXPECT_EQ(m.allHeaderFields()[0].first, "Accept") << "the first spelling and place stay";
    EXPECT_EQ(m.headerFieldValue("ACCEPT"), "*/*");
    EXPECT_TRUE(m.setHeaderFieldValue("X-ONE", QString()));
    EXPECT_TRUE(m.headerFieldValue("X-One").isNull());
    EXPECT_TRUE(m.setHeaderFieldValue("X-Empty", ""));
    EXPECT_FALSE(m.headerFieldValue("X-Empty").isNull());
    const std::pair<QString, QString> refused[] = {
        {"X", "a\r\nInjected: yes"}, {"X", "a\nb"},     {"X", QString(QChar(0))},
        {"Bad Name", "v"},           {"Bad:Name", "v"}, {"X", QString::fromUtf8("\xe2\x82\xac")},
    };
    for (const auto& [name, value] : refused)
        EXPECT_FALSE(m.setHeaderFieldValue(name, value)) << name.toStdString();
    EXPECT_EQ(m.allHeaderFields().size(), 2);
}

// Credentials for the proxy go to the proxy alone, the site's only through the tunnel.
TEST(HttpRequestHead, ConnectCarriesOnlyWhatIsForTheProxyAndTheTunnelTheRest) {
    auto m = message("https://secure.example/path");
    m.setHeaderFieldValue("Proxy-Authorization", "Basic abc");
    m.setHeaderFieldValue("Authorization", "Basic secret");
    m.setHeaderFieldValue("Cookie", "c=1");
    EXPECT_EQ(platform::serializeConnectRequest(m),
              "CONNECT secure.example:443 HTTP/1.1\r\nHost: secure.example:443\r\n"
              "Proxy-Authorization: Basic abc\r\n\r\n");
    HttpRequestHeadOptions tunnelled;
    tunnelled.dropProxyAuthorization = true;
    tunnelled.persistent = true;
    EXPECT_EQ(platform::serializeRequestHead(m, tunnelled),
              "GET /path HTTP/1.1\r\nHost: secure.example\r\nAuthorization: Basic secret\r\n"
              "Cookie: c=1\r\n\r\n");
}

}  // namespace
