#pragma once

#include <QHostAddress>
#include <optional>
#include <vector>

#include "platform/InterfaceClassifier.h"
#include "platform/RouteNetlink.h"

namespace platform {

// Reachability flags computed from what the kernel says now. None means the kernel
// could not be asked.
//
// For an address: reachable when there is a route to it and the route's link is up
// with a carrier; connection required (and not reachable) when the route goes
// through a link without one; local when it is one of this machine's addresses;
// direct when the route has no gateway; WWAN when the link is a mobile-broadband one.
std::optional<quint32> flagsForRouteTo(RouteNetlink& netlink, const InterfaceClassifier& classifier,
                                       const QHostAddress& address);

// As flagsForRouteTo, except for the two addresses that stand for more than one host:
// 0.0.0.0 asks for the internet (a default route, IPv4 or IPv6), and the link-local
// network 169.254.0.0 asks for a Wi-Fi link that is up with an IPv4 address.
std::optional<quint32> flagsForAddress(RouteNetlink& netlink, const InterfaceClassifier& classifier,
                                       const QHostAddress& address);

// For the addresses of a host name: the flags of the first reachable address, else those
// of the first address the kernel answered for; 0 for a name without addresses.
std::optional<quint32> flagsForHostAddresses(RouteNetlink& netlink,
                                             const InterfaceClassifier& classifier,
                                             const std::vector<QHostAddress>& addresses);

}  // namespace platform
