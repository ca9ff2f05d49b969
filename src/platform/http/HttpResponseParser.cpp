#include "platform/http/HttpResponseParser.h"

#include <cstring>
#include <limits>

namespace platform {

namespace {

bool isTokenChar(unsigned char c) {
    if (c >= '0' && c <= '9') return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
    return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

bool isOptionalWhitespace(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isOptionalWhitespace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isOptionalWhitespace(text.back())) text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x | 0x20);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y | 0x20);
        if (x != y) return false;
    }
    return true;
}

// Calls fn with each trimmed, non-empty element of the comma lists of every field named name.
template <typename Fn>
void forEachListElement(const HttpResponseHead& head, std::string_view name, Fn fn) {
    for (const auto& [fieldName, value] : head.fields) {
        if (!equalsIgnoringCase(fieldName, name)) continue;
        std::string_view rest = value;
        while (true) {
            const std::size_t comma = rest.find(',');
            const std::string_view element = trimmed(rest.substr(0, comma));
            if (!element.empty()) fn(element);
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
}

bool parseDecimal(std::string_view text, std::uint64_t& value) {
    if (text.empty()) return false;
    std::uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (result > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

const std::string* HttpResponseHead::find(std::string_view name) const {
    for (const auto& [fieldName, value] : fields) {
        if (equalsIgnoringCase(fieldName, name)) return &value;
    }
    return nullptr;
}

HttpResponseParser::HttpResponseParser() : HttpResponseParser(Limits{}) {}

HttpResponseParser::HttpResponseParser(Limits limits) : m_limits(limits) {}

void HttpResponseParser::fail(std::string reason) {
    m_state = State::Error;
    m_error = std::move(reason);
}

void HttpResponseParser::resetForNextHead() {
    m_head = HttpResponseHead{};
    m_headBytes = 0;
    m_phase = Phase::StatusLine;
}

std::size_t HttpResponseParser::consumeLine(const char* data, std::size_t length,
                                            std::string_view& line, bool& haveLine) {
    const void* found = std::memchr(data, '\n', length);
    if (found == nullptr) {
        if (m_line.size() + length > m_limits.maxLineLength + 1) {
            fail("line too long");
            return length;
        }
        m_line.append(data, length);
        haveLine = false;
        return length;
    }
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(found) - data);
    if (m_line.empty()) {
        line = std::string_view(data, end);
    } else {
        m_line.append(data, end);
        line = m_line;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > m_limits.maxLineLength) fail("line too long");
    haveLine = true;
    return end + 1;
}

bool HttpResponseParser::handleStatusLine(std::string_view line) {
    // "HTTP/1.x SSS reason"; the reason may be empty or missing with its space.
    if (line.size() < 12 || line.substr(0, 5) != "HTTP/" || line[5] != '1' || line[6] != '.' ||
        line[7] < '0' || line[7] > '9' || line[8] != ' ') {
        fail("malformed status line");
        return false;
    }
    int code = 0;
    for (int i = 9; i < 12; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            fail("malformed status code");
            return false;
        }
        code = code * 10 + (line[i] - '0');
    }
    if (code < 100 || (line.size() > 12 && line[12] != ' ')) {
        fail("malformed status code");
        return false;
    }
    for (char c : line) {
        if (c == '\0' || c == '\r') {
            fail("control character in status line");
            return false;
        }
    }
    m_head.versionMajor = 1;
    m_head.versionMinor = line[7] == '0' ? 0 : 1;
    m_head.statusCode = code;
    m_head.statusLine.assign(line);
    m_head.reason.assign(line.size() > 13 ? line.substr(13) : std::string_view{});
    return true;
}

bool HttpResponseParser::handleHeaderLine(std::string_view line, bool trailer) {
    auto& fields = trailer ? m_trailers : m_head.fields;
    for (char c : line) {
        if (c == '\0' || c == '\r') {
            fail("control character in header field");
            return false;
        }
    }
    if (isOptionalWhitespace(line.front())) {
        // An obsolete folded continuation: joins the previous value with one space.
        if (fields.empty()) {
            fail("continuation line without a field");
            return false;
        }
        const std::string_view more = trimmed(line);
        if (!more.empty()) {
            std::string& value = fields.back().second;
            if (!value.empty()) value.push_back(' ');
            value.append(more);
        }
        return true;
    }
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) {
        fail("malformed header field");
        return false;
    }
    const std::string_view name = line.substr(0, colon);
    for (char c : name) {
        if (!isTokenChar(static_cast<unsigned char>(c))) {
            fail("malformed header field name");
            return false;
        }
    }
    if (fields.size() >= m_limits.maxFieldCount) {
        fail("too many header fields");
        return false;
    }
    fields.emplace_back(std::string(name), std::string(trimmed(line.substr(colon + 1))));
    return true;
}

bool HttpResponseParser::decideBody() {
    const int code = m_head.statusCode;
    m_bodyKind = BodyKind::None;
    m_lengthConflict = false;
    if (m_requestWasHead || code == 204 || code == 304 ||
        (code >= 100 && code < 200 && code != 101)) {
        return true;
    }
    if (m_requestWasConnect && code >= 200 && code < 300) return true;
    if (code == 101) {
        // The connection now speaks another protocol: hand the caller all that follows.
        m_bodyKind = BodyKind::UntilClose;
        return true;
    }

    bool hasTransferEncoding = false;
    std::string_view lastCoding;
    forEachListElement(m_head, "Transfer-Encoding", [&](std::string_view coding) {
        hasTransferEncoding = true;
        lastCoding = coding;
    });
    bool hasLength = false;
    bool badLength = false;
    std::uint64_t length = 0;
    for (const auto& [name, value] : m_head.fields) {
        if (!equalsIgnoringCase(name, "Content-Length")) continue;
        std::string_view rest = value;
        // Repeated or listed lengths are accepted only when they all agree.
        while (true) {
            const std::size_t comma = rest.find(',');
            std::uint64_t one = 0;
            if (!parseDecimal(trimmed(rest.substr(0, comma)), one) ||
                one > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
                (hasLength && one != length)) {
                badLength = true;
            }
            hasLength = true;
            length = one;
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }

    if (hasTransferEncoding) {
        // Transfer-Encoding wins over Content-Length, but a message carrying both is
        // suspicious enough that its connection is not reused.
        m_lengthConflict = hasLength;
        m_bodyKind =
            equalsIgnoringCase(lastCoding, "chunked") ? BodyKind::Chunked : BodyKind::UntilClose;
        return true;
    }
    if (hasLength) {
        if (badLength) {
            fail("invalid Content-Length");
            return false;
        }
        m_contentLength = length;
        m_remaining = length;
        m_bodyKind = length == 0 ? BodyKind::None : BodyKind::Length;
        return true;
    }
    m_bodyKind = BodyKind::UntilClose;
    return true;
}

bool HttpResponseParser::finishHead(HttpResponseParserEvents& events) {
    const int code = m_head.statusCode;
    if (code >= 100 && code < 200 && code != 101) {
        events.onInterimResponse(m_head);
        resetForNextHead();
        return true;
    }
    if (!decideBody()) return false;
    m_state = State::Body;
    m_bodySeen = 0;
    events.onHeadComplete(m_head);
    switch (m_bodyKind) {
        case BodyKind::None:
            complete(events);
            break;
        case BodyKind::Chunked:
            m_phase = Phase::ChunkSize;
            break;
        case BodyKind::Length:
        case BodyKind::UntilClose:
            m_phase = Phase::BodyData;
            break;
    }
    return true;
}

bool HttpResponseParser::handleChunkSizeLine(std::string_view line) {
    std::uint64_t size = 0;
    std::size_t i = 0;
    for (; i < line.size() && hexValue(line[i]) >= 0; ++i) {
        if (size > (std::numeric_limits<std::uint64_t>::max() >> 4)) {
            fail("chunk size too large");
            return false;
        }
        size = (size << 4) | static_cast<std::uint64_t>(hexValue(line[i]));
    }
    if (i == 0) {
        fail("malformed chunk size");
        return false;
    }
    const std::string_view rest = trimmed(line.substr(i));
    if (!rest.empty() && rest.front() != ';') {
        fail("malformed chunk size");
        return false;
    }
    if (size == 0) {
        m_phase = Phase::TrailerLine;
        m_trailerBytes = 0;
        return true;
    }
    m_remaining = size;
    m_phase = Phase::ChunkData;
    return true;
}

void HttpResponseParser::complete(HttpResponseParserEvents& events) {
    m_state = State::Complete;
    m_phase = Phase::Done;
    events.onMessageComplete();
}

std::size_t HttpResponseParser::feed(const char* data, std::size_t length,
                                     HttpResponseParserEvents& events) {
    std::size_t pos = 0;
    while (pos < length && (m_state == State::Head || m_state == State::Body)) {
        switch (m_phase) {
            case Phase::ChunkData:
            case Phase::BodyData: {
                std::uint64_t take = length - pos;
                if (m_bodyKind != BodyKind::UntilClose && take > m_remaining) take = m_remaining;
                const char* start = data + pos;
                pos += take;
                events.onBody(start, take);
                consumeRawBody(take, events);
                break;
            }
            case Phase::Done:
                return pos;
            default: {
                std::string_view line;
                bool haveLine = false;
                const std::size_t used = consumeLine(data + pos, length - pos, line, haveLine);
                pos += used;
                const bool inHead = m_phase == Phase::StatusLine || m_phase == Phase::HeaderLine;
                std::size_t& budget = inHead ? m_headBytes : m_trailerBytes;
                if (m_phase == Phase::TrailerLine || inHead) {
                    budget += used;
                    if (budget > m_limits.maxHeaderBytes) fail("header section too large");
                }
                if (m_state == State::Error) return pos;
                if (!haveLine) break;
                const Phase phase = m_phase;
                bool ok = true;
                if (phase == Phase::StatusLine) {
                    // Stray blank lines before an answer (left by a sloppy earlier one) are
                    // skipped.
                    if (!line.empty() && handleStatusLine(line)) m_phase = Phase::HeaderLine;
                    ok = m_state != State::Error;
                } else if (phase == Phase::HeaderLine) {
                    ok = line.empty() ? finishHead(events) : handleHeaderLine(line, false);
                } else if (phase == Phase::ChunkSize) {
                    ok = handleChunkSizeLine(line);
                } else if (phase == Phase::ChunkDataEnd) {
                    if (!line.empty()) {
                        fail("chunk longer than its size");
                        ok = false;
                    } else {
                        m_phase = Phase::ChunkSize;
                    }
                } else if (phase == Phase::TrailerLine) {
                    if (line.empty()) {
                        complete(events);
                    } else {
                        ok = handleHeaderLine(line, true);
                    }
                }
                m_line.clear();
                if (!ok) return pos;
                break;
            }
        }
    }
    return pos;
}

void HttpResponseParser::finish(HttpResponseParserEvents& events) {
    if (m_state == State::Body && m_bodyKind == BodyKind::UntilClose) {
        complete(events);
    } else if (m_state == State::Head || m_state == State::Body) {
        fail("answer truncated");
    }
}

std::uint64_t HttpResponseParser::rawBodyBytesExpected() const {
    if (m_state != State::Body) return 0;
    if (m_phase == Phase::ChunkData) return m_remaining;
    if (m_phase != Phase::BodyData) return 0;
    if (m_bodyKind == BodyKind::UntilClose) return std::numeric_limits<std::uint64_t>::max();
    return m_remaining;
}

void HttpResponseParser::consumeRawBody(std::uint64_t n, HttpResponseParserEvents& events) {
    m_bodySeen += n;
    if (m_bodyKind == BodyKind::UntilClose) return;
    m_remaining -= n;
    if (m_remaining != 0) return;
    if (m_phase == Phase::ChunkData) {
        m_phase = Phase::ChunkDataEnd;
    } else {
        complete(events);
    }
}

bool HttpResponseParser::keepsConnectionAlive() const {
    if (m_state != State::Complete && m_state != State::Body) return false;
    if (m_lengthConflict || m_bodyKind == BodyKind::UntilClose || m_head.statusCode == 101) {
        return false;
    }
    bool close = false;
    bool keepAlive = false;
    forEachListElement(m_head, "Connection", [&](std::string_view token) {
        if (equalsIgnoringCase(token, "close")) close = true;
        if (equalsIgnoringCase(token, "keep-alive")) keepAlive = true;
    });
    if (close) return false;
    return m_head.versionMinor >= 1 || keepAlive;
}

}  // namespace platform
