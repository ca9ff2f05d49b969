#pragma once

#include <QUrl>

#include "platform/http/HttpRequestHead.h"

namespace http {

// True when a and b name the same scheme, host and port, a missing port being the scheme's
// own. Credentials and hand-set Authorization headers go only to their own origin.
inline bool isSameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           platform::effectivePort(a) == platform::effectivePort(b);
}

}  // namespace http
