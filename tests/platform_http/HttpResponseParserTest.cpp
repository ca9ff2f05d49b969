#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/http/HttpResponseParser.h"

using platform::HttpResponseHead;
using platform::HttpResponseParser;

namespace {

enum class Request { Get, Head, Connect };

// What the parser gave and said about one input.
struct Outcome : platform::HttpResponseParserEvents {
    int interim = 0;
    int heads = 0;
    int completions = 0;
    std::string body;
    bool bodyBeforeHead = false;
    HttpResponseParser::State state = HttpResponseParser::State::Error;
    int status = 0;
    bool keepAlive = false;
    std::size_t consumed = 0;

    void onInterimResponse(const HttpResponseHead&) override { ++interim; }
    void onHeadComplete(const HttpResponseHead&) override { ++heads; }
    void onBody(const char* data, std::size_t length) override {
        bodyBeforeHead |= heads == 0;
        body.append(data, length);
    }
    void onMessageComplete() override { ++completions; }
};

// Feeds input in two parts cut at cut (byte by byte when cut is past its end), then signals the
// end of input when closeAtEnd.
Outcome parse(const std::string& input, std::size_t cut, Request request, bool closeAtEnd,
              HttpResponseParser::Limits limits = {}) {
    HttpResponseParser parser(limits);
    parser.setRequestWasHead(request == Request::Head);
    parser.setRequestWasConnect(request == Request::Connect);
    Outcome outcome;
    std::vector<std::size_t> bounds;
    const bool bytewise = cut > input.size();
    for (std::size_t i = bytewise ? 1 : cut; i < input.size(); i += bytewise ? 1 : input.size())
        bounds.push_back(i);
    bounds.push_back(input.size());
    std::size_t start = 0;
    for (std::size_t end : bounds) {
        const std::size_t used = parser.feed(input.data() + start, end - start, outcome);
        outcome.consumed += used;
        if (used < end - start) break;
        start = end;
    }
    if (closeAtEnd) parser.finish(outcome);
    outcome.state = parser.state();
    outcome.status = parser.isHeadComplete() ? parser.head().statusCode : 0;
    outcome.keepAlive = parser.keepsConnectionAlive();
    return outcome;
}

TEST(HttpResponseParser, ValidAnswersGiveTheSameResultWhereverTheInputIsCut) {
    const struct {
        const char* name;
        std::string input;
        int status;
        std::string body;
        bool keepAlive;
        Request request = Request::Get;
        bool needsClose = false;
        int interim = 0;
    } cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 200, "hello", true},
        {"chunked with extensions and trailers",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
         "5;name=value\r\nhello\r\n6 ; x\r\n world\r\nA\r\n0123456789\r\n"
         "0\r\nExpires: never\r\nX-Check: 1\r\n\r\n",
         200, "hello world0123456789", true},
        {"close-delimited", "HTTP/1.1 200 OK\r\n\r\nuntil the end", 200, "until the end", false,
         Request::Get, true},
        {"interim answers skipped",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\n"
         "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok",
         201, "ok", true, Request::Get, false, 2},
        {"head has no body", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", 200, "", true,
         Request::Head},
        // An established tunnel ends with its head; a refused one has a body.
        {"tunnel established", "HTTP/1.1 200 Connection established\r\n\r\n", 200, "", true,
         Request::Connect},
        {"tunnel refused",
         "HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 4\r\n\r\nnope", 407, "nope",
         true, Request::Connect},
        {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 7\r\n\r\n", 204, "", true},
        {"304 has no body", "HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n", 304, "",
         true},
        {"folded header line",
         "HTTP/1.1 200 OK\r\nX-Long: one\r\n  two\r\nContent-Length: 1\r\n\r\nz", 200, "z", true},
        {"bare LF line ends", "HTTP/1.1 200 OK\nContent-Length: 3\n\nabc", 200, "abc", true},
        {"HTTP/1.0 keep-alive",
         "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 2\r\n\r\nhi", 200, "hi",
         true},
        {"HTTP/1.0 default close", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi", 200, "hi",
         false},
        {"close in a list",
         "HTTP/1.1 200 OK\r\nConnection: keep-alive, close\r\nContent-Length: 2\r\n\r\nhi", 200,
         "hi", false},
        {"chunked wins over length",
         "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nTransfer-Encoding: chunked\r\n\r\n"
         "3\r\nabc\r\n0\r\n\r\n",
         200, "abc", false},
        {"repeated equal lengths",
         "HTTP/1.1 200 OK\r\nContent-Length: 3, 3\r\nContent-Length: 3\r\n\r\nabc", 200, "abc",
         true},
        {"blank lines before status", "\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n!", 200,
         "!", true},
        {"status without reason", "HTTP/1.1 404\r\nContent-Length: 2\r\n\r\nno", 404, "no", true},
    };
    for (const auto& c : cases) {
        for (std::size_t cut = 0; cut <= c.input.size() + 1; ++cut) {
            SCOPED_TRACE(std::string(c.name) + " cut at " + std::to_string(cut));
            const Outcome o = parse(c.input, cut, c.request, c.needsClose);
            ASSERT_EQ(o.state, HttpResponseParser::State::Complete);
            EXPECT_EQ(o.status, c.status);
            EXPECT_EQ(o.body, c.body);
            EXPECT_EQ(o.keepAlive, c.keepAlive);
            EXPECT_EQ(o.interim, c.interim);
            EXPECT_EQ(o.heads, 1);
            EXPECT_EQ(o.completions, 1);
            EXPECT_FALSE(o.bodyBeforeHead);
            EXPECT_EQ(o.consumed, c.input.size());
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(HttpResponseParser, KeepsFieldsInOrderTrailersApartAndStopsAtTheEndOfAnAnswer) {
    HttpResponseParser parser;
    Outcome events;
    const std::string first =
        "HTTP/1.1 302 Found\r\nLocation:   /next  \r\nSet-Cookie: a=1\r\nset-cookie: b=2\r\n"
        "X-Empty:\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\nDigest: abc\r\n\r\n";
    EXPECT_EQ(parser.feed(first + "HTTP/1.1 200 OK\r\n", events), first.size());
    EXPECT_EQ(parser.feed("more", events), 0u);
    const HttpResponseHead& head = parser.head();
    EXPECT_EQ(head.reason, "Found");
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"Location", "/next"},
        {"Set-Cookie", "a=1"},
        {"set-cookie", "b=2"},
        {"X-Empty", ""},
        {"Transfer-Encoding", "chunked"}};
    EXPECT_EQ(head.fields, fields);
    EXPECT_EQ(*head.find("SET-COOKIE"), "a=1");
    EXPECT_EQ(head.find("Digest"), nullptr) << "trailers stay apart";
    EXPECT_EQ(parser.trailers(), (decltype(fields){{"Digest", "abc"}}));
}

TEST(HttpResponseParser, MalformedTruncatedOrOversizedAnswersAreErrorsWhereverCut) {
    using Limits = HttpResponseParser::Limits;
    const Limits small{.maxLineLength = 64, .maxHeaderBytes = 200, .maxFieldCount = 5};
    const Limits manyFields{.maxLineLength = 64, .maxHeaderBytes = 10'000, .maxFieldCount = 5};
    const Limits shortLines{.maxLineLength = 128};
    const Limits smallTrailers{.maxHeaderBytes = 100};
    std::string tenFields = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 10; ++i)
        tenFields += "X-" + std::to_string(i) + ": " + std::string(20, 'b') + "\r\n";
    std::string trailers = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n";
    for (int i = 0; i < 10; ++i) trailers += "T: " + std::string(20, 'c') + "\r\n";
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const struct {
        const char* name;
        std::string input;
        bool closeAtEnd = false;
        Limits limits = {};
    } cases[] = {
        {"HTTP/2 status line", "HTTP/2 200 OK\r\n\r\n"},
        {"not HTTP", "ICY 200 OK\r\n\r\n"},
        {"two-digit status", "HTTP/1.1 20 OK\r\n\r\n"},
        {"status below 100", "HTTP/1.1 099 Odd\r\n\r\n"},
        {"no space after status", "HTTP/1.1 200OK\r\n\r\n"},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n"},
        {"length with junk", "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n"},
        {"empty length", "HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n"},
        {"conflicting lengths",
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello"},
        {"overflowing length", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n"},
        {"length above signed range",
         "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n"},
        {"chunk size not hex", chunked + "zz\r\n"},
        {"chunk size overflow", chunked + "1ffffffffffffffff\r\n"},
        {"chunk size with junk", chunked + "5 x\r\nhello\r\n"},
        {"chunk longer than its size", chunked + "2\r\nabc\r\n0\r\n\r\n"},
        {"field without colon", "HTTP/1.1 200 OK\r\nNoColon\r\n\r\n"},
        {"space before colon", "HTTP/1.1 200 OK\r\nName : value\r\n\r\n"},
        {"empty field name", "HTTP/1.1 200 OK\r\n: value\r\n\r\n"},
        {"NUL in field", std::string("HTTP/1.1 200 OK\r\nX: a\0b\r\n\r\n", 26)},
        {"continuation first", "HTTP/1.1 200 OK\r\n folded\r\n\r\n"},
        {"truncated head", "HTTP/1.1 200 OK\r\nContent-Le", true},
        {"truncated sized body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", true},
        {"truncated chunked body", chunked + "5\r\nhel", true},
        {"missing last chunk", chunked + "1\r\na\r\n", true},
        {"nothing at all", "", true},
        {"long line", "HTTP/1.1 200 OK\r\nX: " + std::string(100, 'a') + "\r\n\r\n", false, small},
        {"endless line", "HTTP/1.1 200 OK\r\nX: " + std::string(100, 'a'), false, small},
        {"too many bytes", tenFields + "\r\n", false, small},
        {"too many fields", tenFields + "\r\n", false, manyFields},
        {"long chunk extension", chunked + "5;" + std::string(1000, 'e') + "\r\nhello\r\n0\r\n\r\n",
         false, shortLines},
        {"too many trailer bytes", trailers + "\r\n", false, smallTrailers},
    };
    for (const auto& c : cases) {
        for (std::size_t cut = 0; cut <= c.input.size() + 1; ++cut) {
            SCOPED_TRACE(std::string(c.name) + " cut at " + std::to_string(cut));
            const Outcome o = parse(c.input, cut, Request::Get, c.closeAtEnd, c.limits);
            ASSERT_EQ(o.state, HttpResponseParser::State::Error);
            ASSERT_EQ(o.completions, 0);
            ASSERT_FALSE(o.keepAlive);
        }
    }
}

}  // namespace
