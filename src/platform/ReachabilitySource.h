#pragma once

#include <netinet/in.h>

#include <QByteArray>
#include <QString>
#include <memory>

#include "platform/ReachabilityFlags.h"

class QObject;

namespace platform {

// Reachability of one target (a host name or an address) as flag bits
// (ReachabilityFlags.h), read on demand and announced on change. Linux: routes and
// links from rtnetlink, interface kinds from sysfs, names from the system resolver.
//
// Queries may be made on any thread. Change callbacks come on the thread that
// scheduled the source; destroy or unschedule it on that thread.
class ReachabilitySource {
public:
    using Callback = void (*)(ReachabilitySource& source, quint32 flags, QObject* info);

    // How long a question about a host name waits for the resolver when it has no
    // current answer; a late answer is announced as a change.
    static constexpr int kNameWaitMilliseconds = 2000;

    // None for an empty name or one with a NUL byte.
    static std::unique_ptr<ReachabilitySource> createWithName(const QByteArray& hostName);
    // An AF_INET or AF_INET6 address record; none for any other family.
    static std::unique_ptr<ReachabilitySource> createWithAddress(const sockaddr* address);

    // Where interface kinds are read: /sys unless a caller (a test, or a system that
    // mounts sysfs elsewhere) says otherwise. Applies to every source from then on.
    static void setSysfsRoot(const QString& root);

    ~ReachabilitySource();
    ReachabilitySource(const ReachabilitySource&) = delete;
    ReachabilitySource& operator=(const ReachabilitySource&) = delete;

    // The current flags; false when they cannot be read (the kernel cannot be asked, or a
    // host name has had no answer within kNameWaitMilliseconds).
    bool getFlags(quint32* flags) const;

    // The function called on change, with `info` passed through untouched; none clears it.
    bool setCallback(Callback callback, QObject* info);

    // Starts announcing changes on the calling thread, which must run a Qt event loop.
    // True when announcing there (also when it already was); false when the thread has no
    // event loop, the kernel's announcements cannot be received, or changes are already
    // announced on another thread.
    bool scheduleWithCurrentThread();

    // Stops announcing; false when the source was not scheduled on the calling thread.
    bool unscheduleFromCurrentThread();

private:
    struct Impl;
    explicit ReachabilitySource(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform
