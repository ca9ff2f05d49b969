#include "platform/ReachabilityProbe.h"

#include <ifaddrs.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <tuple>

#include "platform/ReachabilityFlags.h"

namespace platform {
namespace {

constexpr quint32 kLinkLocalNetwork = 0xA9FE0000;  // 169.254.0.0

std::optional<quint32> flagsForRoute(RouteNetlink& netlink, const InterfaceClassifier& classifier,
                                     const KernelRoute& route) {
    switch (route.type) {
        case RTN_LOCAL:
            return kReachabilityFlagReachable | kReachabilityFlagIsLocalAddress |
                   kReachabilityFlagIsDirect;
        case RTN_UNICAST:
        case RTN_BROADCAST:
        case RTN_MULTICAST:
        case RTN_ANYCAST:
            break;
        default:
            return 0;
    }
    quint32 flags = route.viaGateway ? 0u : quint32(kReachabilityFlagIsDirect);
    bool running = true;
    if (route.outputInterface > 0) {
        const auto link = netlink.link(route.outputInterface);
        // The link went away between the two questions: so did its routes.
        if (!link) return 0;
        running = link->running;
        if (classifier.classify(link->name, link->index) == InterfaceKind::WWAN)
            flags |= kReachabilityFlagIsWWAN;
    }
    return flags |
           quint32(running ? kReachabilityFlagReachable : kReachabilityFlagConnectionRequired);
}

// The best default route of any table but the kernel's own list of local addresses:
// one whose link is up before one whose link is not, IPv4 before IPv6, then by metric.
std::optional<quint32> internetFlags(RouteNetlink& netlink, const InterfaceClassifier& classifier) {
    std::optional<std::tuple<bool, int, unsigned>> bestRank;
    quint32 best = 0;
    const int families[] = {AF_INET, AF_INET6};
    for (int familyOrder = 0; familyOrder < 2; ++familyOrder) {
        const auto routes = netlink.dumpRoutes(families[familyOrder]);
        if (!routes) return std::nullopt;
        for (const KernelRoute& route : *routes) {
            if (route.type != RTN_UNICAST || route.prefixLength != 0 ||
                route.table == RT_TABLE_LOCAL)
                continue;
            const auto flags = flagsForRoute(netlink, classifier, route);
            if (!flags || *flags == 0) continue;
            const auto rank = std::make_tuple(!(*flags & kReachabilityFlagReachable), familyOrder,
                                              route.priority);
            if (!bestRank || rank < *bestRank) {
                bestRank = rank;
                best = *flags;
            }
        }
    }
    return best;
}

std::optional<quint32> localWiFiFlags(const InterfaceClassifier& classifier) {
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) return std::nullopt;
    quint32 flags = 0;
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        const QString name = QString::fromUtf8(entry->ifa_name);
        const int index = int(::if_nametoindex(entry->ifa_name));
        if (classifier.classify(name, index) != InterfaceKind::WiFi) continue;
        if ((entry->ifa_flags & IFF_UP) && (entry->ifa_flags & IFF_RUNNING)) {
            flags = kReachabilityFlagReachable | kReachabilityFlagIsDirect;
            break;
        }
        flags = kReachabilityFlagConnectionRequired | kReachabilityFlagIsDirect;
    }
    ::freeifaddrs(interfaces);
    return flags;
}

// An IPv4 address written as IPv6 (::ffff:a.b.c.d) is routed as the IPv4 address.
QHostAddress plain(const QHostAddress& address) {
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4) : address;
}

}  // namespace

std::optional<quint32> flagsForRouteTo(RouteNetlink& netlink, const InterfaceClassifier& classifier,
                                       const QHostAddress& address) {
    const auto lookup = netlink.lookupRoute(plain(address));
    switch (lookup.outcome) {
        case RouteNetlink::Outcome::Found:
            return flagsForRoute(netlink, classifier, lookup.route);
        case RouteNetlink::Outcome::NoRoute:
            return 0;
        case RouteNetlink::Outcome::Failed:
            break;
    }
    return std::nullopt;
}

std::optional<quint32> flagsForAddress(RouteNetlink& netlink, const InterfaceClassifier& classifier,
                                       const QHostAddress& address) {
    const QHostAddress target = plain(address);
    if (target.protocol() == QAbstractSocket::IPv4Protocol) {
        if (target.toIPv4Address() == 0) return internetFlags(netlink, classifier);
        if (target.toIPv4Address() == kLinkLocalNetwork) return localWiFiFlags(classifier);
    }
    return flagsForRouteTo(netlink, classifier, target);
}

std::optional<quint32> flagsForHostAddresses(RouteNetlink& netlink,
                                             const InterfaceClassifier& classifier,
                                             const std::vector<QHostAddress>& addresses) {
    std::optional<quint32> first;
    for (const QHostAddress& address : addresses) {
        const auto flags = flagsForRouteTo(netlink, classifier, address);
        if (flags && (*flags & kReachabilityFlagReachable)) return flags;
        if (!first) first = flags;
    }
    if (addresses.empty()) return 0;
    return first;
}

}  // namespace platform
