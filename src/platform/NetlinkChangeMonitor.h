#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class QSocketNotifier;

namespace platform {

// Listens to the kernel's announcements of link, address and route changes (a
// NETLINK_ROUTE socket on the thread's event loop; no polling) and calls onChange
// on its own thread once per burst: the first announcement opens a short window,
// and everything that arrives within it is answered by the same call.
class NetlinkChangeMonitor : public QObject {
public:
    static constexpr int kCoalesceMilliseconds = 150;

    explicit NetlinkChangeMonitor(std::function<void()> onChange);
    ~NetlinkChangeMonitor() override;

    // False when the kernel's announcements cannot be received here.
    bool isListening() const { return notifier_ != nullptr; }

    // Stops listening at once; the object itself may be deleted later.
    void stop();

private:
    void drain();

    std::function<void()> onChange_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer window_;
};

}  // namespace platform
