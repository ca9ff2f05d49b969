#pragma once

#include <QString>
#include <optional>

namespace sharing {

// What a service's answer body means, judged before anything is stored.

// The user key in a registration answer: the body as one line of 1 to 256
// printable characters (one line break at its end is allowed). Nothing for
// anything else, so an error page never becomes the key.
std::optional<QString> userKeyFromAnswer(int status, const QString& body);

// The short link in an upload answer: an http or https address as the
// whole body (surrounding white space aside). Nothing for anything else.
std::optional<QString> linkFromAnswer(int status, const QString& body);

// Why the service refused: its status and the first line of its answer,
// shortened, as one line for a person to read.
QString refusalReason(int status, const QString& body);

}  // namespace sharing
