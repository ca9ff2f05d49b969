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
    EXPECT_TRUE(HttpRequestMessage::create("GET", QUrl("http://example.com"), HttpVersion::Http11));
    EXPECT_TRUE(HttpRequestMessage::create("PROPFIND", QUrl("HTTPS://example.com:8443/x"),
                                           HttpVersion::Http10));
    EXPECT_FALSE(
        HttpRequestMessage::create("GET", QUrl("ftp://example.com/"), HttpVersion::Http11));
    EXPECT_FALSE(HttpRequestMessage::create("GET", QUrl("/relative"), HttpVersion::Http11));
    EXPECT_FALSE(HttpRequestMessage::create("GET", QUrl("http://"), HttpVersion::Http11));
    EXPECT_FALSE(HttpRequestMessage::create("GE T", QUrl("http://a/"), HttpVersion::Http11));
    EXPECT_FALSE(HttpRequestMessage::create("", QUrl("http://a/"), HttpVersion::Http11));
    EXPECT_FALSE(HttpRequestMessage::create("GET\r\nX: y", QUrl("http://a/"), HttpVersion::Http11));
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
    EXPECT_FALSE(m.setHeaderFieldValue("X", "a\r\nInjected: yes"));
    EXPECT_FALSE(m.setHeaderFieldValue("X", QString("a\nb")));
    EXPECT_FALSE(m.setHeaderFieldValue("X", QString(QChar(0))));
    EXPECT_FALSE(m.setHeaderFieldValue("Bad Name", "v"));
    EXPECT_FALSE(m.setHeaderFieldValue("Bad:Name", "v"));
    EXPECT_FALSE(m.setHeaderFieldValue("X", QString::fromUtf8("\xe2\x82\xac")))
        << "not representable in a header";
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
    using platform::HttpStreamErrorDomain;
    EXPECT_TRUE((HttpStreamError{HttpStreamErrorDomain::Posix, 57, {}}).isDeadConnection());
    EXPECT_TRUE((HttpStreamError{HttpStreamErrorDomain::Posix, 32, {}}).isDeadConnection());
    EXPECT_TRUE((HttpStreamError{HttpStreamErrorDomain::Network, -1005, {}}).isDeadConnection());
    EXPECT_FALSE((HttpStreamError{HttpStreamErrorDomain::Network, 57, {}}).isDeadConnection());
    EXPECT_FALSE((HttpStreamError{HttpStreamErrorDomain::Network, -1011, {}}).isDeadConnection());
    EXPECT_TRUE((HttpStreamError{HttpStreamErrorDomain::Security, -9800, {}}).isSecurityFailure());
    EXPECT_TRUE((HttpStreamError{HttpStreamErrorDomain::Security, -9818, {}}).isSecurityFailure());
    EXPECT_FALSE((HttpStreamError{HttpStreamErrorDomain::Security, -9819, {}}).isSecurityFailure());
    EXPECT_FALSE((HttpStreamError{HttpStreamErrorDomain::Network, -9810, {}}).isSecurityFailure());
}

}  // namespace
