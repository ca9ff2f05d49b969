#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/http/HttpResponseHeadReading.h"

using platform::HttpResponseParser;

namespace {

platform::HttpResponseHeader headerOf(const std::string& answer) {
    HttpResponseParser parser;
    platform::HttpResponseParserEvents events;
    parser.feed(answer, events);
    EXPECT_TRUE(parser.isHeadComplete()) << answer;
    return platform::responseHeaderOf(parser);
}

TEST(ConnectionReuseOffer, VersionConnectionKeepAliveAndFramingDecide) {
    struct Case {
        std::string head;
        bool reusable;
        std::optional<int> timeout;
    };
    const std::vector<Case> cases = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\n", true, std::nullopt},
        {"HTTP/1.1 200 OK\r\nKeep-Alive: timeout=15, max=5\r\nContent-Length: 1\r\n", false,
         std::nullopt},
        // Without a time the connection may be reused, but not kept waiting.
        {"HTTP/1.1 200 OK\r\nKeep-Alive: max=10\r\nContent-Length: 1\r\n", true, 0},
        {"HTTP/1.1 200 OK\r\nConnection: keep-alive, Close\r\nContent-Length: 1\r\n", false,
         std::nullopt},
        {"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n", false, std::nullopt},
        {"HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nKeep-Alive: timeout=7, max=100\r\n"
         "Content-Length: 1\r\n",
         true, 7},
        // A body that ends with the connection leaves nothing to reuse.
        {"HTTP/1.1 200 OK\r\n", false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.head);
        const auto offer = platform::connectionReuseOffer(headerOf(c.head + "\r\n"));
        EXPECT_EQ(offer.reusable, c.reusable);
        EXPECT_EQ(offer.timeoutSeconds, c.timeout);
    }
}

TEST(ResponseHeaderOf, FieldBytesComeBackAsTheyArrived) {
    const std::string answer =
        "HTTP/1.0 404 Nicht gef\xfcnden\r\nSet-Cookie: a=1\r\nX-Name: caf\xe9\r\n"
        "set-cookie: b=\xff\r\n\r\n";
    const platform::HttpResponseHeader header = headerOf(answer);
    EXPECT_EQ(header.statusCode(), 404);
    EXPECT_EQ(header.statusLine().toLatin1(), QByteArray("HTTP/1.0 404 Nicht gef\xfcnden"));

    const QList<std::pair<QByteArray, QByteArray>> expected = {
        {"Set-Cookie", "a=1"},
        {"X-Name", "caf\xe9"},
        {"set-cookie", "b=\xff"},
    };
    EXPECT_EQ(platform::fieldBytes(header.rawHeaderFields()), expected);
}

}  // namespace
