#include "platform/RouteNetlink.h"

#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QtEndian>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// Answers of the kernel come in one read; a dump in several of at most this size.
constexpr size_t kReceiveBufferSize = 64 * 1024;

template <typename T>
T readStruct(const char* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

// Calls f(type, payload, payloadLength) for each well-formed attribute; stops at the first
// attribute whose length does not fit.
template <typename F>
void forEachAttribute(const char* data, size_t size, F f) {
    while (size >= sizeof(rtattr)) {
        const auto attribute = readStruct<rtattr>(data);
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > size) return;
        f(attribute.rta_type & NLA_TYPE_MASK, data + RTA_LENGTH(0),
          size_t(attribute.rta_len) - RTA_LENGTH(0));
        const size_t step = RTA_ALIGN(attribute.rta_len);
        if (step >= size) return;
        data += step;
        size -= step;
    }
}

void appendAttribute(QByteArray* message, unsigned short type, const void* payload, size_t length) {
    rtattr attribute{};
    attribute.rta_type = type;
    attribute.rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
    message->append(reinterpret_cast<const char*>(&attribute), sizeof attribute);
    message->append(static_cast<const char*>(payload), qsizetype(length));
    message->append(QByteArray(qsizetype(RTA_ALIGN(attribute.rta_len) - attribute.rta_len), '\0'));
}

template <typename Body>
QByteArray requestMessage(unsigned short type, unsigned short flags, const Body& body) {
    nlmsghdr header{};
    header.nlmsg_type = type;
    header.nlmsg_flags = flags;
    QByteArray message(reinterpret_cast<const char*>(&header), sizeof header);
    message.append(reinterpret_cast<const char*>(&body), sizeof body);
    message.append(QByteArray(qsizetype(NLMSG_ALIGN(sizeof body) - sizeof body), '\0'));
    return message;
}

// Gateway and output interface of the first next hop of a multipath route.
void readFirstNextHop(const char* data, size_t size, KernelRoute* route) {
    if (size < sizeof(rtnexthop)) return;
    const auto hop = readStruct<rtnexthop>(data);
    if (hop.rtnh_len < sizeof(rtnexthop) || hop.rtnh_len > size) return;
    route->outputInterface = hop.rtnh_ifindex;
    forEachAttribute(data + RTNH_LENGTH(0), size_t(hop.rtnh_len) - RTNH_LENGTH(0),
                     [&](unsigned type, const char*, size_t) {
                         if (type == RTA_GATEWAY || type == RTA_VIA) route->viaGateway = true;
                     });
}

std::optional<KernelRoute> parseRoute(const QByteArray& message) {
    const char* data = message.constData() + NLMSG_HDRLEN;
    const size_t size = size_t(message.size()) - NLMSG_HDRLEN;
    if (size < sizeof(rtmsg)) return std::nullopt;
    const auto header = readStruct<rtmsg>(data);
    KernelRoute route;
    route.type = header.rtm_type;
    route.prefixLength = header.rtm_dst_len;
    route.table = header.rtm_table;
    const size_t offset = NLMSG_ALIGN(sizeof(rtmsg));
    if (size < offset) return route;
    forEachAttribute(data + offset, size - offset,
                     [&](unsigned type, const char* payload, size_t length) {
                         switch (type) {
                             case RTA_OIF:
                                 if (length >= sizeof(int))
                                     route.outputInterface = readStruct<int>(payload);
                                 break;
                             case RTA_TABLE:
                                 if (length >= sizeof(unsigned))
                                     route.table = readStruct<unsigned>(payload);
                                 break;
                             case RTA_PRIORITY:
                                 if (length >= sizeof(unsigned))
                                     route.priority = readStruct<unsigned>(payload);
                                 break;
                             case RTA_GATEWAY:
                             case RTA_VIA:
                             // A shared next-hop object is, in practice, a gateway; the
                             // kernel does not say which in the table entry itself.
                             case RTA_NH_ID:
                                 route.viaGateway = true;
                                 break;
                             case RTA_MULTIPATH:
                                 readFirstNextHop(payload, length, &route);
                                 break;
                             default:
                                 break;
                         }
                     });
    return route;
}

}  // namespace

RouteNetlink::RouteNetlink() {
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ < 0) return;
    // The kernel answers at once; the limit only keeps a wedged kernel from hanging a caller.
    timeval limit{2, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    buffer_.resize(kReceiveBufferSize);
}

RouteNetlink::~RouteNetlink() {
    if (fd_ >= 0) ::close(fd_);
}

bool RouteNetlink::exchange(QByteArray request, int replyType, std::vector<QByteArray>* replies,
                            int* error) {
    if (fd_ < 0) return false;
    *error = 0;
    const unsigned sequence = ++sequence_;
    auto header = readStruct<nlmsghdr>(request.constData());
    header.nlmsg_len = static_cast<unsigned>(request.size());
    header.nlmsg_seq = sequence;
    std::memcpy(request.data(), &header, sizeof header);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd_, request.constData(), size_t(request.size()), 0,
                 reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) != request.size())
        return false;
    for (;;) {
        const ssize_t received = ::recv(fd_, buffer_.data(), buffer_.size(), MSG_TRUNC);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0 || size_t(received) > buffer_.size()) return false;
        const char* data = buffer_.data();
        size_t size = size_t(received);
        while (size >= sizeof(nlmsghdr)) {
            const auto message = readStruct<nlmsghdr>(data);
            if (message.nlmsg_len < sizeof(nlmsghdr) || message.nlmsg_len > size) return false;
            if (message.nlmsg_seq == sequence) {
                if (message.nlmsg_type == NLMSG_DONE) return true;
                if (message.nlmsg_type == NLMSG_ERROR) {
                    if (message.nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) return false;
                    *error = -readStruct<nlmsgerr>(data + NLMSG_HDRLEN).error;
                    return true;
                }
                if (message.nlmsg_type == replyType) {
                    replies->emplace_back(data, qsizetype(message.nlmsg_len));
                    if (!(message.nlmsg_flags & NLM_F_MULTI)) return true;
                }
            }
            const size_t step = NLMSG_ALIGN(message.nlmsg_len);
            if (step >= size) break;
            data += step;
            size -= step;
        }
    }
}

RouteNetlink::Lookup RouteNetlink::lookupRoute(const QHostAddress& destination) {
    rtmsg body{};
    QByteArray address;
    if (destination.protocol() == QAbstractSocket::IPv4Protocol) {
        body.rtm_family = AF_INET;
        const quint32 value = qToBigEndian(destination.toIPv4Address());
        address = QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
    } else if (destination.protocol() == QAbstractSocket::IPv6Protocol) {
        body.rtm_family = AF_INET6;
        const Q_IPV6ADDR value = destination.toIPv6Address();
        address = QByteArray(reinterpret_cast<const char*>(value.c), sizeof value.c);
    } else {
        return {Outcome::NoRoute, {}};
    }
    body.rtm_dst_len = static_cast<unsigned char>(address.size() * 8);
    QByteArray request = requestMessage(RTM_GETROUTE, NLM_F_REQUEST, body);
    appendAttribute(&request, RTA_DST, address.constData(), size_t(address.size()));
    std::vector<QByteArray> replies;
    int error = 0;
    if (!exchange(request, RTM_NEWROUTE, &replies, &error)) return {Outcome::Failed, {}};
    // No route, an unreachable or prohibited destination and a black hole all mean the
    // same to a caller: nothing can be sent there.
    if (error != 0 || replies.empty()) return {Outcome::NoRoute, {}};
    const auto route = parseRoute(replies.front());
    if (!route) return {Outcome::Failed, {}};
    return {Outcome::Found, *route};
}

std::optional<std::vector<KernelRoute>> RouteNetlink::dumpRoutes(int family) {
    rtmsg body{};
    body.rtm_family = static_cast<unsigned char>(family);
    std::vector<QByteArray> replies;
    int error = 0;
    if (!exchange(requestMessage(RTM_GETROUTE, NLM_F_REQUEST | NLM_F_DUMP, body), RTM_NEWROUTE,
                  &replies, &error))
        return std::nullopt;
    // A family without any routing (IPv6 switched off) has no table to dump.
    if (error == EAFNOSUPPORT) return std::vector<KernelRoute>{};
    if (error != 0) return std::nullopt;
    std::vector<KernelRoute> routes;
    for (const QByteArray& reply : replies)
        if (auto route = parseRoute(reply)) routes.push_back(*route);
    return routes;
}

std::optional<KernelLink> RouteNetlink::link(int index) {
    ifinfomsg body{};
    body.ifi_family = AF_UNSPEC;
    body.ifi_index = index;
    std::vector<QByteArray> replies;
    int error = 0;
    if (!exchange(requestMessage(RTM_GETLINK, NLM_F_REQUEST, body), RTM_NEWLINK, &replies,
                  &error) ||
        error != 0 || replies.empty())
        return std::nullopt;
    const QByteArray& message = replies.front();
    const char* data = message.constData() + NLMSG_HDRLEN;
    const size_t size = size_t(message.size()) - NLMSG_HDRLEN;
    if (size < sizeof(ifinfomsg)) return std::nullopt;
    const auto header = readStruct<ifinfomsg>(data);
    KernelLink link;
    link.index = header.ifi_index;
    link.administrativelyUp = header.ifi_flags & IFF_UP;
    link.running = (header.ifi_flags & IFF_UP) && (header.ifi_flags & IFF_RUNNING);
    const size_t offset = NLMSG_ALIGN(sizeof(ifinfomsg));
    if (size < offset) return link;
    forEachAttribute(
        data + offset, size - offset, [&](unsigned type, const char* payload, size_t length) {
            if (type == IFLA_IFNAME)
                link.name = QString::fromUtf8(payload, qsizetype(strnlen(payload, length)));
        });
    return link;
}

}  // namespace platform
