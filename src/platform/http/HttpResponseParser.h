#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The head of one HTTP/1.x answer, bytes as received (header values are opaque octets).
struct HttpResponseHead {
    int versionMajor = 1;
    int versionMinor = 1;
    int statusCode = 0;
    std::string statusLine;  // without its line end
    std::string reason;
    std::vector<std::pair<std::string, std::string>> fields;  // in order, values trimmed

    // The first field of that name, compared without case; nullptr when absent.
    const std::string* find(std::string_view name) const;
};

// What the parser found; the receiver overrides what it wants.
class HttpResponseParserEvents {
public:
    virtual ~HttpResponseParserEvents() = default;
    // A 1xx answer that was skipped (100 Continue, 103 Early Hints...).
    virtual void onInterimResponse(const HttpResponseHead&) {}
    virtual void onHeadComplete(const HttpResponseHead&) {}
    virtual void onBody(const char*, std::size_t) {}
    virtual void onMessageComplete() {}
};

// A sans-I/O reader of one HTTP/1.x answer: bytes go in through feed(), events come out.
// No sockets, no allocation per body byte. Framing: Content-Length, chunked (extensions
// ignored, trailers collected), close-delimited; 1xx answers skipped; no body for HEAD, 204,
// 304 (and 1xx). Anything malformed or over the limits stops it in the Error state with a
// reason; nothing is thrown.
class HttpResponseParser {
public:
    struct Limits {
        // Status line, one header field line, one chunk-size line. Long cookies fit.
        std::size_t maxLineLength = 64 * 1024;
        // The whole head of one answer (and, separately, the trailer section).
        std::size_t maxHeaderBytes = 256 * 1024;
        std::size_t maxFieldCount = 1000;
    };

    enum class State { Head, Body, Complete, Error };

    enum class BodyKind { None, Length, Chunked, UntilClose };

    HttpResponseParser();
    explicit HttpResponseParser(Limits limits);

    // The request was HEAD: the answer has no body whatever its headers say.
    void setRequestWasHead(bool head) { m_requestWasHead = head; }
    // The request was CONNECT: a 2xx answer ends with its head (the tunnel follows).
    void setRequestWasConnect(bool connect) { m_requestWasConnect = connect; }

    // Consumes bytes of the answer. Answers how many were taken: fewer than given when the
    // answer completes (the rest belongs to whatever follows) or an error stops the parser.
    std::size_t feed(const char* data, std::size_t length, HttpResponseParserEvents& events);
    std::size_t feed(std::string_view data, HttpResponseParserEvents& events) {
        return feed(data.data(), data.size(), events);
    }
    // The input ended (connection closed): completes a close-delimited body, otherwise an
    // answer that is not complete becomes an error ("truncated").
    void finish(HttpResponseParserEvents& events);

    // Body bytes the caller may take straight from its input without feed() (to read them
    // into its own buffer with no copy here): the rest of the current chunk or of a sized
    // body, UINT64_MAX until close; 0 when framing bytes come next or not in the body.
    std::uint64_t rawBodyBytesExpected() const;
    // Tells the parser that n raw body bytes (n <= rawBodyBytesExpected()) were taken.
    void consumeRawBody(std::uint64_t n, HttpResponseParserEvents& events);

    State state() const { return m_state; }
    bool isHeadComplete() const { return m_state == State::Body || m_state == State::Complete; }
    bool isComplete() const { return m_state == State::Complete; }
    bool hasError() const { return m_state == State::Error; }
    const std::string& errorReason() const { return m_error; }
    // Valid once the head is complete.
    const HttpResponseHead& head() const { return m_head; }
    const std::vector<std::pair<std::string, std::string>>& trailers() const { return m_trailers; }
    BodyKind bodyKind() const { return m_bodyKind; }
    // Declared length for BodyKind::Length.
    std::uint64_t contentLength() const { return m_contentLength; }
    std::uint64_t bodyBytesSeen() const { return m_bodySeen; }
    // Whether the answer lets the connection carry another exchange: HTTP/1.1 without
    // "Connection: close", or HTTP/1.0 with "Connection: keep-alive"; never for a body that
    // ends with the connection.
    bool keepsConnectionAlive() const;

private:
    enum class Phase {
        StatusLine,
        HeaderLine,
        ChunkSize,
        ChunkData,
        ChunkDataEnd,
        TrailerLine,
        BodyData,
        Done,
    };

    std::size_t consumeLine(const char* data, std::size_t length, std::string_view& line,
                            bool& haveLine);
    bool handleStatusLine(std::string_view line);
    bool handleHeaderLine(std::string_view line, bool trailer);
    bool finishHead(HttpResponseParserEvents& events);
    bool handleChunkSizeLine(std::string_view line);
    bool decideBody();
    void complete(HttpResponseParserEvents& events);
    void fail(std::string reason);
    void resetForNextHead();

    Limits m_limits;
    bool m_requestWasHead = false;
    bool m_requestWasConnect = false;
    State m_state = State::Head;
    Phase m_phase = Phase::StatusLine;
    BodyKind m_bodyKind = BodyKind::None;
    std::string m_error;
    std::string m_line;  // a line split across feeds
    std::size_t m_headBytes = 0;
    std::size_t m_trailerBytes = 0;
    HttpResponseHead m_head;
    std::vector<std::pair<std::string, std::string>> m_trailers;
    std::uint64_t m_contentLength = 0;
    std::uint64_t m_remaining = 0;  // of the current chunk or sized body
    std::uint64_t m_bodySeen = 0;
    bool m_lengthConflict = false;
};

}  // namespace platform
