#include <gtest/gtest.h>

#include "platform/http/HttpMessage.h"
#include "platform/http/HttpRequestHead.h"
#include "platform/http/HttpStreamError.h"

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
    const struct {
        const char* method;
        const char* url;
        bool valid;
    } cases[] = {
        {"GET", "http://example.com", true},
        {"PROPFIND", "HTTPS://example.com:8443/x", true},
        {"GET", "ftp://example.com/", false},
        {"GET", "/relative", false},
        {"GET", "http://", false},
        {"GE T", "http://a/", false},
        {"", "http://a/", false},
        {"GET\r\nX: y", "http://a/", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            HttpRequestMessage::create(c.method, QUrl(c.url), HttpVersion::Http11).has_value(),
            c.valid)
            << c.method << " " << c.url;
    }
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

TEST(HttpRequestHead, TargetHostFramingAndCallerFields) {
    HttpRequestHeadOptions proxied;
    proxied.target = platform::HttpRequestTarget::Absolute;
    proxied.persistent = true;
    HttpRequestHeadOptions tunnelled;
    tunnelled.dropProxyAuthorization = true;
    tunnelled.persistent = true;
    const struct {
        const char* name;
        const char* url;
        const char* method;
        QList<std::pair<QString, QString>> fields;
        qint64 bodyLength;
        HttpRequestHeadOptions options;
        QByteArray expected;
    } cases[] = {
        {"origin form",
         "http://Example.com:8080/p%C3%A4th?a=1&b=%20#frag",
         "POST",
         {{"X-Test", "v"}},
         12,
         tunnelled,
         "POST /p%C3%A4th?a=1&b=%20 HTTP/1.1\r\nHost: example.com:8080\r\n"
         "X-Test: v\r\nContent-Length: 12\r\n\r\n"},
        {"chunked, not kept",
         "https://h/",
         "GET",
         {},
         -1,
         {},
         "GET / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"},
        {"caller fields win",
         "http://h:80/",
         "POST",
         {{"Host", "other"}, {"Content-Length", "3"}, {"Connection", "Upgrade"}},
         3,
         {},
         "POST / HTTP/1.1\r\nHost: other\r\nContent-Length: 3\r\nConnection: Upgrade\r\n\r\n"},
        {"absolute form",
         "http://user:pw@h:81?q#f",
         "GET",
         {},
         0,
         proxied,
         "GET http://h:81/?q HTTP/1.1\r\nHost: h:81\r\n\r\n"},
        {"absolute form, IPv6",
         "http://[::1]/x",
         "GET",
         {},
         0,
         proxied,
         "GET http://[::1]/x HTTP/1.1\r\nHost: [::1]\r\n\r\n"},
        {"through a tunnel",
         "https://s.example/",
         "GET",
         {{"Proxy-Authorization", "Basic abc"}, {"Authorization", "Basic secret"}},
         0,
         tunnelled,
         "GET / HTTP/1.1\r\nHost: s.example\r\nAuthorization: Basic secret\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto m = message(c.url, c.method);
        for (const auto& [name, value] : c.fields) m.setHeaderFieldValue(name, value);
        HttpRequestHeadOptions options = c.options;
        options.bodyLength = c.bodyLength;
        EXPECT_EQ(platform::serializeRequestHead(m, options), c.expected);
    }
    // The CONNECT that opens the tunnel carries only what is for the proxy.
    auto m = message("https://secure.example/path");
    m.setHeaderFieldValue("Proxy-Authorization", "Basic abc");
    m.setHeaderFieldValue("Authorization", "Basic secret");
    m.setHeaderFieldValue("Cookie", "c=1");
    EXPECT_EQ(platform::serializeConnectRequest(m),
              "CONNECT secure.example:443 HTTP/1.1\r\nHost: secure.example:443\r\n"
              "Proxy-Authorization: Basic abc\r\n\r\n");
}

TEST(HttpStreamError, DeadConnectionAndSecurityClassification) {
    using Domain = platform::HttpStreamErrorDomain;
    const struct {
        Domain domain;
        int code;
        bool dead;
        bool security;
    } cases[] = {
        {Domain::Posix, 57, true, false},       {Domain::Posix, 32, true, false},
        {Domain::Network, -1005, true, false},  {Domain::Network, 57, false, false},
        {Domain::Network, -1011, false, false}, {Domain::Security, -9800, false, true},
        {Domain::Security, -9818, false, true}, {Domain::Security, -9819, false, false},
        {Domain::Network, -9810, false, false},
    };
    for (const auto& c : cases) {
        const platform::HttpStreamError error{c.domain, c.code, {}};
        EXPECT_EQ(error.isDeadConnection(), c.dead) << c.code;
        EXPECT_EQ(error.isSecurityFailure(), c.security) << c.code;
    }
}

}  // namespace
