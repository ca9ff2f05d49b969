#pragma once

#include <QString>
#include <optional>

#include "http/Headers.h"

namespace http {

// The headers file of a cached answer is JSON: an array of [name, value] pairs in the
// order the server sent them, values as strings, except "X-HTTPRequest-Expires" (seconds
// since 1970) and "X-HTTPRequest-Response-Status-Code", which are numbers.

// None for a missing, oversized or malformed file: such an entry is simply not there.
std::optional<Headers> readCachedHeaders(const QString& path);
// Writes through a private staging file renamed over path; false when that fails.
bool writeCachedHeaders(const QString& path, const Headers& headers);

}  // namespace http
