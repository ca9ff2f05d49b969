#include <gtest/gtest.h>

#include "platform/http/HttpMessage.h"
#include "platform/http/HttpRequestHead.h"
#include "platform/http/HttpStreamError.h"

using platform::HttpRequestHeadOptions;
using platform::HttpRequestMessage;
using platform::HttpRequestTarget;
using platform::HttpVersion;

namespace {

HttpRequestMessage message(const char* url, const char* method = "GET",
                           HttpVersion version = HttpVersion::Http11) {
    auto created = HttpRequestMessage::create(method, QUrl(url), version);
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

TEST(HttpRequestMessage, HeaderFieldsAreReplacedWithoutCaseAndRemovedByNull) {
    auto m = message("http://a/");
    EXPECT_TRUE(m.setHeaderFieldValue("Accept", "text/html"));
    EXPECT_TRUE(m.setHeaderFieldValue("X-One", "1"));
    EXPECT_TRUE(m.setHeaderFieldValue("accept", "*/*"));
    ASSERT_EQ(m.allHeaderFields().size(), 2);
    EXPECT_EQ(m.allHeaderFields()[0].first, "Accept") << "the first spelling and place stay";
    EXPECT_EQ(m.headerFieldValue("ACCEPT"), "*/*");
    EXPECT_TRUE(m.setHeaderFieldValue("X-ONE", QString()));
    EXPECT_EQ(m.allHeaderFields().size(), 1);
    EXPECT_TRUE(m.headerFieldValue("X-One").isNull());
    EXPECT_TRUE(m.setHeaderFieldValue("X-Empty", ""));
    EXPECT_FALSE(m.headerFieldValue("X-Empty").isNull());
}

TEST(HttpRequestMessage, NothingCanBeSmuggledIntoTheHead) {
    auto m = message("http://a/");
    const std::pair<QString, QString> refused[] = {
        {"X", "a\r\nInjected: yes"}, {"X", "a\nb"},     {"X", QString(QChar(0))},
        {"Bad Name", "v"},           {"Bad:Name", "v"}, {"X", QString::fromUtf8("\xe2\x82\xac")},
    };
    for (const auto& [name, value] : refused)
        EXPECT_FALSE(m.setHeaderFieldValue(name, value)) << name.toStdString();
    EXPECT_TRUE(m.allHeaderFields().isEmpty());
}

TEST(HttpRequestHead, OriginFormWithHostAndFraming) {
    auto m = message("http://Example.com:8080/p%C3%A4th?a=1&b=%20#frag", "POST");
    m.setHeaderFieldValue("X-Test", "v");
    HttpRequestHeadOptions options;
    options.bodyLength = 12;
    options.persistent = true;
    EXPECT_EQ(platform::serializeRequestHead(m, options),
              "POST /p%C3%A4th?a=1&b=%20 HTTP/1.1\r\nHost: example.com:8080\r\n"
              "X-Test: v\r\nContent-Length: 12\r\n\r\n");

    options.bodyLength = -1;
    options.persistent = false;
    EXPECT_EQ(
        platform::serializeRequestHead(message("https://h/"), options),
        "GET / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n");
}

TEST(HttpRequestHead, CallerFieldsWinOverTheDerivedOnes) {
    auto m = message("http://h:80/", "POST");
    m.setHeaderFieldValue("Host", "other");
    m.setHeaderFieldValue("Content-Length", "3");
    m.setHeaderFieldValue("Connection", "Upgrade");
    HttpRequestHeadOptions options;
    options.bodyLength = 3;
    EXPECT_EQ(platform::serializeRequestHead(m, options),
              "POST / HTTP/1.1\r\nHost: other\r\nContent-Length: 3\r\nConnection: Upgrade\r\n\r\n");
}

TEST(HttpRequestHead, AbsoluteFormForAnHttpProxy) {
    HttpRequestHeadOptions options;
    options.target = HttpRequestTarget::Absolute;
    options.persistent = true;
    EXPECT_EQ(platform::serializeRequestHead(message("http://user:pw@h:81?q#f"), options),
              "GET http://h:81/?q HTTP/1.1\r\nHost: h:81\r\n\r\n");
    EXPECT_EQ(platform::serializeRequestHead(message("http://[::1]/x"), options),
              "GET http://[::1]/x HTTP/1.1\r\nHost: [::1]\r\n\r\n");
}

TEST(HttpRequestHead, ConnectCarriesOnlyWhatIsForTheProxy) {
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
    const QByteArray inner = platform::serializeRequestHead(m, tunnelled);
    EXPECT_FALSE(inner.contains("Proxy-Authorization"));
    EXPECT_TRUE(inner.contains("Authorization: Basic secret"));
}

TEST(HttpStreamError, DeadConnectionAndSecurityClassification) {
    using platform::HttpStreamError;
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
        const HttpStreamError error{c.domain, c.code, {}};
        EXPECT_EQ(error.isDeadConnection(), c.dead) << c.code;
        EXPECT_EQ(error.isSecurityFailure(), c.security) << c.code;
    }
}

}  // namespace
