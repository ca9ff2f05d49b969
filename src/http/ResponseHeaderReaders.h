#pragma once

#include <QString>

#include "http/StringEncoding.h"

// The readers of the header values an answer's server chooses freely: its length and its
// content type. Every value here may be hostile.
namespace http::response_headers {

// A Content-Length value read the way strtoull does with base 0: leading blanks skipped,
// "0x" for hexadecimal, a leading 0 for octal, stopping at the first other character,
// 0 when there is no number.
quint64 parseContentLength(const QString& value);

// The MIME type of a Content-Type value, and the encoding its charset names when the
// platform knows the name (the encoding is left as it was otherwise).
void parseContentType(QString* mimeType, StringEncoding* encoding, const QString& contentType);

}  // namespace http::response_headers
