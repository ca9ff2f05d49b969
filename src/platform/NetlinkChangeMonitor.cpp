#include "platform/NetlinkChangeMonitor.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace platform {

NetlinkChangeMonitor::NetlinkChangeMonitor(std::function<void()> onChange)
    : onChange_(std::move(onChange)) {
    window_.setSingleShot(true);
    window_.setInterval(kCoalesceMilliseconds);
    connect(&window_, &QTimer::timeout, this, [this] {
        if (onChange_) onChange_();
    });
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ < 0) return;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR |
                      RTMGRP_IPV6_ROUTE;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &NetlinkChangeMonitor::drain);
}

NetlinkChangeMonitor::~NetlinkChangeMonitor() { stop(); }

void NetlinkChangeMonitor::stop() {
    onChange_ = nullptr;
    window_.stop();
    delete notifier_;
    notifier_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

// What the messages say does not matter: the answer is asked of the kernel afresh. An
// overrun (ENOBUFS) means announcements were lost, which is a change as well.
void NetlinkChangeMonitor::drain() {
    char buffer[16 * 1024];
    bool changed = false;
    for (;;) {
        const ssize_t received = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received > 0) {
            changed = true;
            continue;
        }
        if (received < 0 && errno == EINTR) continue;
        if (received < 0 && errno == ENOBUFS) {
            changed = true;
            continue;
        }
        break;
    }
    if (changed && !window_.isActive()) window_.start();
}

}  // namespace platform
