#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/http/HttpResponseParser.h"

using platform::HttpResponseHead;
using platform::HttpResponseParser;
using platform::HttpResponseParserEvents;

namespace {

struct Collector : HttpResponseParserEvents {
    int interim = 0;
    int heads = 0;
    int completions = 0;
    std::string body;
    bool bodyBeforeHead = false;

    void onInterimResponse(const HttpResponseHead&) override { ++interim; }
    void onHeadComplete(const HttpResponseHead&) override { ++heads; }
    void onBody(const char* data, std::size_t length) override {
        if (heads == 0) bodyBeforeHead = true;
        body.append(data, length);
    }
    void onMessageComplete() override { ++completions; }
};

// What the parser said about one input, besides the events it gave.
struct Outcome : Collector {
    HttpResponseParser::State state = HttpResponseParser::State::Error;
    int status = 0;
    bool keepAlive = false;
    std::size_t consumed = 0;
};

// Feeds input cut at the given positions, then signals the end of input when closeAtEnd.
Outcome parse(const std::string& input, const std::vector<std::size_t>& cuts, bool head = false,
              bool closeAtEnd = false, HttpResponseParser::Limits limits = {}) {
    HttpResponseParser parser(limits);
    parser.setRequestWasHead(head);
    Outcome outcome;
    std::size_t start = 0;
    std::vector<std::size_t> bounds = cuts;
    bounds.push_back(input.size());
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

struct ValidCase {
    const char* name;
    std::string input;
    int status;
    std::string body;
    bool keepAlive;
    bool head = false;
    bool needsClose = false;
    int interim = 0;
};

std::vector<ValidCase> validCases() {
    return {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 200, "hello", true},
        {"chunked with extensions and trailers",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
         "5;name=value\r\nhello\r\n6 ; x\r\n world\r\nA\r\n0123456789\r\n"
         "0\r\nExpires: never\r\nX-Check: 1\r\n\r\n",
         200, "hello world0123456789", true},
        {"close-delimited", "HTTP/1.1 200 OK\r\n\r\nuntil the end", 200, "until the end", false,
         false, true},
        {"100 continue skipped",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok", 201,
         "ok", true, false, false, 1},
        {"two early hints skipped",
         "HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\nHTTP/1.1 103 Early Hints\r\n\r\n"
         "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx",
         200, "x", true, false, false, 2},
        {"head has no body", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", 200, "", true,
         true},
        {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 7\r\n\r\n", 204, "", true},
        {"304 has no body", "HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n", 304, "",
         true},
        {"zero length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 200, "", true},
        {"folded header line",
         "HTTP/1.1 200 OK\r\nX-Long: one\r\n  two\r\nContent-Length: 1\r\n\r\nz", 200, "z", true},
        {"bare LF line ends", "HTTP/1.1 200 OK\nContent-Length: 3\n\nabc", 200, "abc", true},
        {"HTTP/1.0 keep-alive",
         "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 2\r\n\r\nhi", 200, "hi",
         true},
        {"HTTP/1.0 default close", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi", 200, "hi",
         false},
        {"connection close", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nhi",
         200, "hi", false},
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
        {"upper-case chunk size",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
         "1F\r\n0123456789abcdef0123456789abcde\r\n0\r\n\r\n",
         200, "0123456789abcdef0123456789abcde", true},
    };
}

TEST(HttpResponseParser, ValidAnswersGiveTheSameResultWhereverTheInputIsCut) {
    for (const ValidCase& c : validCases()) {
        SCOPED_TRACE(c.name);
        const Outcome whole = parse(c.input, {}, c.head, c.needsClose);
        ASSERT_EQ(whole.state, HttpResponseParser::State::Complete);
        EXPECT_EQ(whole.status, c.status);
        EXPECT_EQ(whole.body, c.body);
        EXPECT_EQ(whole.keepAlive, c.keepAlive);
        EXPECT_EQ(whole.interim, c.interim);
        EXPECT_EQ(whole.heads, 1);
        EXPECT_EQ(whole.completions, 1);
        EXPECT_FALSE(whole.bodyBeforeHead);
        EXPECT_EQ(whole.consumed, c.input.size());

        for (std::size_t cut = 1; cut < c.input.size(); ++cut) {
            const Outcome split = parse(c.input, {cut}, c.head, c.needsClose);
            ASSERT_EQ(split.state, HttpResponseParser::State::Complete) << "cut at " << cut;
            ASSERT_EQ(split.body, c.body) << "cut at " << cut;
            ASSERT_EQ(split.interim, c.interim) << "cut at " << cut;
            ASSERT_EQ(split.completions, 1) << "cut at " << cut;
        }
        std::vector<std::size_t> everyByte;
        for (std::size_t i = 1; i < c.input.size(); ++i) everyByte.push_back(i);
        const Outcome bytewise = parse(c.input, everyByte, c.head, c.needsClose);
        EXPECT_EQ(bytewise.state, HttpResponseParser::State::Complete);
        EXPECT_EQ(bytewise.body, c.body);
    }
}

TEST(HttpResponseParser, KeepsFieldsInOrderTrailersApartAndStopsAtTheEndOfAnAnswer) {
    HttpResponseParser parser;
    Collector events;
    const std::string first =
        "HTTP/1.1 302 Found\r\nLocation:   /next  \r\nSet-Cookie: a=1\r\nset-cookie: b=2\r\n"
        "X-Empty:\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\nDigest: abc\r\n\r\n";
    EXPECT_EQ(parser.feed(first + "HTTP/1.1 200 OK\r\n", events), first.size());
    ASSERT_TRUE(parser.isComplete());
    EXPECT_EQ(parser.feed("more", events), 0u);
    EXPECT_EQ(events.body, "x");
    const HttpResponseHead& head = parser.head();
    EXPECT_EQ(head.statusLine, "HTTP/1.1 302 Found");
    EXPECT_EQ(head.reason, "Found");
    ASSERT_EQ(head.fields.size(), 5u);
    EXPECT_EQ(head.fields[0], (std::pair<std::string, std::string>("Location", "/next")));
    EXPECT_EQ(head.fields[2].first, "set-cookie");
    EXPECT_EQ(head.fields[3].second, "");
    ASSERT_NE(head.find("SET-COOKIE"), nullptr);
    EXPECT_EQ(*head.find("SET-COOKIE"), "a=1");
    EXPECT_EQ(head.find("Digest"), nullptr);
    ASSERT_EQ(parser.trailers().size(), 1u);
    EXPECT_EQ(parser.trailers()[0].second, "abc");
}

TEST(HttpResponseParser, RawBodyTakingMatchesFeeding) {
    // The stream takes body bytes straight into the reader's buffer; the parser only counts.
    const std::string input =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n3;e\r\nefg\r\n0\r\n\r\n";
    HttpResponseParser parser;
    Collector events;
    std::string body;
    std::size_t pos = 0;
    while (pos < input.size() && !parser.isComplete()) {
        const std::uint64_t raw = parser.rawBodyBytesExpected();
        if (raw > 0) {
            const std::size_t take = std::min<std::size_t>(raw, 2);  // small reader buffer
            body.append(input, pos, take);
            parser.consumeRawBody(take, events);
            pos += take;
        } else {
            pos += parser.feed(input.data() + pos, 1, events);
        }
    }
    EXPECT_TRUE(parser.isComplete());
    EXPECT_EQ(body, "abcdefg");
    EXPECT_EQ(events.body, "");
    EXPECT_EQ(parser.bodyBytesSeen(), 7u);
}

TEST(HttpResponseParser, CloseDelimitedAndConnectAnswersEndAsTheyShould) {
    HttpResponseParser parser;
    Collector events;
    parser.feed("HTTP/1.0 200 OK\r\n\r\npart", events);
    EXPECT_EQ(parser.state(), HttpResponseParser::State::Body);
    EXPECT_EQ(parser.rawBodyBytesExpected(), UINT64_MAX);
    parser.finish(events);
    EXPECT_TRUE(parser.isComplete());
    EXPECT_EQ(events.completions, 1);

    // An established tunnel ends with its head; a refused one has a body.
    HttpResponseParser tunnel;
    tunnel.setRequestWasConnect(true);
    const std::string input = "HTTP/1.1 200 Connection established\r\n\r\n";
    EXPECT_EQ(tunnel.feed(input + "\x16\x03", events), input.size());
    EXPECT_TRUE(tunnel.isComplete());
    HttpResponseParser refused;
    refused.setRequestWasConnect(true);
    refused.feed("HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 4\r\n\r\n", events);
    EXPECT_EQ(refused.state(), HttpResponseParser::State::Body);
}

struct BadCase {
    const char* name;
    std::string input;
    bool closeAtEnd = false;
};

TEST(HttpResponseParser, MalformedOrTruncatedAnswersAreErrors) {
    const std::vector<BadCase> cases = {
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
        {"chunk size not hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"},
        {"chunk size overflow",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1ffffffffffffffff\r\n"},
        {"chunk size with junk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5 x\r\nhello\r\n"},
        {"chunk longer than its size",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n"},
        {"field without colon", "HTTP/1.1 200 OK\r\nNoColon\r\n\r\n"},
        {"space before colon", "HTTP/1.1 200 OK\r\nName : value\r\n\r\n"},
        {"empty field name", "HTTP/1.1 200 OK\r\n: value\r\n\r\n"},
        {"NUL in field", std::string("HTTP/1.1 200 OK\r\nX: a\0b\r\n\r\n", 26)},
        {"continuation first", "HTTP/1.1 200 OK\r\n folded\r\n\r\n"},
        {"truncated head", "HTTP/1.1 200 OK\r\nContent-Le", true},
        {"truncated sized body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", true},
        {"truncated chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel",
         true},
        {"missing last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n",
         true},
        {"nothing at all", "", true},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = parse(c.input, {}, false, c.closeAtEnd);
        EXPECT_EQ(outcome.state, HttpResponseParser::State::Error);
        EXPECT_EQ(outcome.completions, 0);
        EXPECT_FALSE(outcome.keepAlive);
    }
}

TEST(HttpResponseParser, LimitsStopOversizedHeadsEvenBeforeALineEnds) {
    HttpResponseParser::Limits small;
    small.maxLineLength = 64;
    small.maxHeaderBytes = 200;
    small.maxFieldCount = 5;
    HttpResponseParser::Limits manyFields = small;
    manyFields.maxHeaderBytes = 10'000;
    HttpResponseParser::Limits roomy = manyFields;
    roomy.maxFieldCount = 100;
    HttpResponseParser::Limits shortLines;
    shortLines.maxLineLength = 128;
    HttpResponseParser::Limits smallTrailers;
    smallTrailers.maxHeaderBytes = 100;

    std::string tenFields = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 10; ++i)
        tenFields += "X-" + std::to_string(i) + ": " + std::string(20, 'b') + "\r\n";
    tenFields += "\r\n";
    std::string trailers = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n";
    for (int i = 0; i < 10; ++i) trailers += "T: " + std::string(20, 'c') + "\r\n";
    trailers += "\r\n";
    using State = HttpResponseParser::State;
    const struct {
        const char* name;
        std::string input;
        std::vector<std::size_t> cuts;
        HttpResponseParser::Limits limits;
        State state;
    } cases[] = {
        {"long line",
         "HTTP/1.1 200 OK\r\nX: " + std::string(100, 'a') + "\r\n\r\n",
         {},
         small,
         State::Error},
        {"endless line",
         "HTTP/1.1 200 OK\r\nX: " + std::string(100, 'a'),
         {30, 60, 90},
         small,
         State::Error},
        {"too many bytes", tenFields, {}, small, State::Error},
        {"too many fields", tenFields, {}, manyFields, State::Error},
        {"within the limits", tenFields, {}, roomy, State::Complete},
        {"long chunk extension",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;" + std::string(1000, 'e') +
             "\r\nhello\r\n0\r\n\r\n",
         {},
         shortLines,
         State::Error},
        {"too many trailer bytes", trailers, {}, smallTrailers, State::Error},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Only a close-delimited answer needs the end of input to complete.
        EXPECT_EQ(parse(c.input, c.cuts, false, c.state == State::Complete, c.limits).state,
                  c.state);
    }
}

}  // namespace
