#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <optional>
#include <vector>

namespace platform {

// One route as the kernel reports it: for a destination (what `ip route get`
// prints) or as an entry of a routing table.
struct KernelRoute {
    unsigned char type = 0;          // RTN_UNICAST, RTN_LOCAL, ...
    unsigned char prefixLength = 0;  // of the table entry; full length for a lookup
    unsigned table = 0;
    unsigned priority = 0;  // the metric; lower wins
    int outputInterface = 0;
    bool viaGateway = false;
};

// One network interface: its name and whether it is up and has a carrier.
struct KernelLink {
    int index = 0;
    QString name;
    bool administrativelyUp = false;
    bool running = false;
};

// Asks the kernel about routes and links over a NETLINK_ROUTE socket, in the
// network namespace of the thread that made it. Nothing is sent on any network.
// Not shared between threads.
class RouteNetlink {
public:
    RouteNetlink();
    ~RouteNetlink();
    RouteNetlink(const RouteNetlink&) = delete;
    RouteNetlink& operator=(const RouteNetlink&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    enum class Outcome { Found, NoRoute, Failed };
    struct Lookup {
        Outcome outcome = Outcome::Failed;
        KernelRoute route;
    };
    // The route the kernel would use to send to this address.
    Lookup lookupRoute(const QHostAddress& destination);

    // Every route of one address family (AF_INET or AF_INET6) in every table;
    // none when the kernel cannot be asked.
    std::optional<std::vector<KernelRoute>> dumpRoutes(int family);

    // The interface with this index; none when it is gone or cannot be asked.
    std::optional<KernelLink> link(int index);

private:
    // Sends one request and collects the answer's messages of `replyType`
    // until the end of a dump or the first answer; a kernel error goes to *error.
    bool exchange(QByteArray request, int replyType, std::vector<QByteArray>* replies, int* error);

    int fd_ = -1;
    unsigned sequence_ = 0;
    std::vector<char> buffer_;
};

}  // namespace platform
