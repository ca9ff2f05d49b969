#pragma once

#include <QString>

namespace platform {

// Whether host is exempt from proxies by a no_proxy list, read as curl reads it: entries
// separated by commas or blanks; "*" alone exempts every host; a name matches itself and
// every name below it ("example.com" and ".example.com" both cover "www.example.com" but
// not "badexample.com"), without regard to case or a trailing dot; an IPv4 or IPv6 address
// matches itself, or a network written with a prefix length ("10.0.0.0/8", "fd00::/8").
// The address's port plays no part, and an entry with a port matches nothing.
bool noProxyListMatches(const QString& host, const QString& list);

}  // namespace platform
