// Feeds arbitrary bytes to the response parser in arbitrary pieces, once through feed() and
// once taking body bytes raw as the stream does, and checks that both agree and that the
// parser keeps its own promises.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/http/HttpResponseParser.h"

using platform::HttpResponseHead;
using platform::HttpResponseParser;
using platform::HttpResponseParserEvents;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

struct Collector : HttpResponseParserEvents {
    bool head = false;
    int completions = 0;
    std::string body;

    void onHeadComplete(const HttpResponseHead&) override {
        check(!head);
        head = true;
    }
    void onBody(const char* data, std::size_t length) override {
        check(head);
        check(length > 0);
        body.append(data, length);
    }
    void onMessageComplete() override { ++completions; }
};

struct Options {
    bool head;
    bool connect;
    bool close;
    HttpResponseParser::Limits limits;
    std::size_t piece;
};

Options readOptions(const std::uint8_t*& data, std::size_t& size) {
    Options options{false, false, false, {}, 1};
    if (size < 2) return options;
    options.head = data[0] & 1;
    options.connect = data[0] & 2;
    options.close = data[0] & 4;
    if (data[0] & 8) {
        options.limits.maxLineLength = 16 + data[1];
        options.limits.maxHeaderBytes = 64 + 4 * data[1];
        options.limits.maxFieldCount = 1 + (data[1] & 15);
    }
    options.piece = 1 + (data[1] % 37);
    data += 2;
    size -= 2;
    return options;
}

HttpResponseParser makeParser(const Options& options) {
    HttpResponseParser parser(options.limits);
    parser.setRequestWasHead(options.head);
    parser.setRequestWasConnect(options.connect);
    return parser;
}

// The way a plain consumer uses the parser.
std::string byFeeding(const Options& options, const char* input, std::size_t size,
                      HttpResponseParser& parser, std::size_t& consumed) {
    Collector events;
    consumed = 0;
    while (consumed < size) {
        const std::size_t piece = std::min(options.piece, size - consumed);
        const std::size_t used = parser.feed(input + consumed, piece, events);
        check(used <= piece);
        consumed += used;
        if (used < piece) break;
    }
    const bool stopped = parser.isComplete() || parser.hasError();
    check(consumed == size || stopped);
    if (parser.hasError()) {
        check(parser.feed(input, size, events) == 0);
    }
    if (options.close) parser.finish(events);
    check(events.completions == (parser.isComplete() ? 1 : 0));
    check(parser.bodyBytesSeen() == events.body.size());
    if (parser.isComplete() && parser.bodyKind() == HttpResponseParser::BodyKind::Length) {
        check(events.body.size() == parser.contentLength());
    }
    if (parser.isComplete() && parser.bodyKind() == HttpResponseParser::BodyKind::None) {
        check(events.body.empty());
    }
    return events.body;
}

// The way the stream uses it: framing fed line by line, body bytes taken raw.
std::string byTakingRaw(const Options& options, const char* input, std::size_t size,
                        HttpResponseParser& parser, std::size_t& consumed) {
    Collector events;
    std::string body;
    consumed = 0;
    while (consumed < size && !parser.isComplete() && !parser.hasError()) {
        const std::uint64_t raw = parser.rawBodyBytesExpected();
        if (raw > 0) {
            const std::size_t take = static_cast<std::size_t>(
                std::min<std::uint64_t>({raw, options.piece, size - consumed}));
            body.append(input + consumed, take);
            parser.consumeRawBody(take, events);
            consumed += take;
            continue;
        }
        const std::size_t used = parser.feed(input + consumed, 1, events);
        consumed += used;
        if (used == 0) break;
    }
    if (options.close) parser.finish(events);
    check(events.body.empty() || body.empty());
    return body + events.body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Options options = readOptions(data, size);
    const char* input = reinterpret_cast<const char*>(data);

    HttpResponseParser fed = makeParser(options);
    std::size_t fedConsumed = 0;
    const std::string fedBody = byFeeding(options, input, size, fed, fedConsumed);

    HttpResponseParser raw = makeParser(options);
    std::size_t rawConsumed = 0;
    const std::string rawBody = byTakingRaw(options, input, size, raw, rawConsumed);

    check(fed.state() == raw.state());
    if (!fed.hasError()) {
        check(fedBody == rawBody);
        check(fedConsumed == rawConsumed);
        check(fed.keepsConnectionAlive() == raw.keepsConnectionAlive());
    }
    if (fed.isHeadComplete()) {
        check(fed.head().statusCode >= 100 && fed.head().statusCode <= 999);
    }
    return 0;
}
