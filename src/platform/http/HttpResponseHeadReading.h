#pragma once

#include <QByteArray>
#include <QList>
#include <optional>
#include <utility>

#include "platform/http/HttpMessage.h"
#include "platform/http/HttpResponseParser.h"

namespace platform {

// The head the parser has read, as text (its bytes read as Latin-1), with the parser's verdict
// on keeping the connection. Only for a parser whose head is complete.
HttpResponseHeader responseHeaderOf(const HttpResponseParser& parser);

// Header fields as the bytes they arrived as, for readers that take bytes (cookies).
QList<std::pair<QByteArray, QByteArray>> fieldBytes(const HttpHeaderFields& fields);

// What an answer offers a client that wants to send its next request on the same connection.
struct ConnectionReuseOffer {
    bool reusable = false;
    // From "Keep-Alive: timeout=t"; none when the answer names no time.
    std::optional<int> timeoutSeconds;
};

// Reusable when the connection stays alive (see HttpResponseHeader) and a "Keep-Alive"
// field, if there is one, allows more than five requests ("max="); its "timeout=" comes first
// and a missing number reads as 0.
ConnectionReuseOffer connectionReuseOffer(const HttpResponseHeader& header);

}  // namespace platform
