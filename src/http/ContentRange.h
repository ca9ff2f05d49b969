#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace http {

// A "Content-Range" value: "bytes 100-199/1000", "bytes 100-199/*" for a
// length the server does not know, "bytes */1000" when it sends no range
// (the answer to a range it cannot satisfy).
struct ContentRange {
    std::optional<quint64> first;
    std::optional<quint64> last;
    std::optional<quint64> total;
};
// Nothing for a value that is not one of the three forms, or whose numbers
// contradict each other (first after last, last beyond the length).
std::optional<ContentRange> parseContentRange(const QString& value);

// The offset a "Range" value of the form "bytes=N-" asks to resume from.
std::optional<quint64> parseResumeOffset(const QString& range);

}  // namespace http
