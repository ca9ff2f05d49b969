#include "platform/ReachabilitySource.h"

#include <sys/socket.h>

#include <QAbstractEventDispatcher>
#include <QHostAddress>
#include <QThread>
#include <mutex>
#include <optional>

#include "platform/HostResolver.h"
#include "platform/InterfaceClassifier.h"
#include "platform/NetlinkChangeMonitor.h"
#include "platform/ReachabilityProbe.h"
#include "platform/RouteNetlink.h"

namespace platform {
namespace {

std::mutex sysfsRootMutex;
QString sysfsRoot = QStringLiteral("/sys");

InterfaceClassifier currentClassifier() {
    std::lock_guard lock(sysfsRootMutex);
    return InterfaceClassifier(sysfsRoot);
}

}  // namespace

struct ReachabilitySource::Impl {
    std::optional<QHostAddress> address;
    std::unique_ptr<HostResolver> resolver;

    std::mutex mutex;  // guards the four below
    ReachabilitySource* owner = nullptr;
    Callback callback = nullptr;
    QObject* info = nullptr;
    NetlinkChangeMonitor* monitor = nullptr;

    // The flags last announced; touched only on the monitor's thread.
    std::optional<quint32> announced;

    std::optional<quint32> flags(std::chrono::milliseconds wait) const {
        RouteNetlink netlink;
        if (!netlink.isOpen()) return std::nullopt;
        const InterfaceClassifier classifier = currentClassifier();
        if (address) return flagsForAddress(netlink, classifier, *address);
        const auto addresses = resolver->addresses(wait);
        if (!addresses) return std::nullopt;
        return flagsForHostAddresses(netlink, classifier, *addresses);
    }

    // Calls back only when the answer differs from the one last given: a burst of kernel
    // announcements that leaves this target as it was says nothing to the caller.
    void announceIfChanged() {
        const auto now = flags(std::chrono::milliseconds(0));
        if (!now || now == announced) return;
        announced = now;
        ReachabilitySource* source = nullptr;
        Callback function = nullptr;
        QObject* context = nullptr;
        {
            std::lock_guard lock(mutex);
            source = owner;
            function = callback;
            context = info;
        }
        if (source != nullptr && function != nullptr) function(*source, *now, context);
    }

    void networkChanged() {
        // Addresses may depend on the network (a different resolver, a split-horizon name).
        if (resolver) resolver->refresh();
        announceIfChanged();
    }
};

std::unique_ptr<ReachabilitySource> ReachabilitySource::createWithName(const QByteArray& hostName) {
    if (hostName.isEmpty() || hostName.contains('\0')) return nullptr;
    auto impl = std::make_shared<Impl>();
    impl->resolver = std::make_unique<HostResolver>(hostName);
    return std::unique_ptr<ReachabilitySource>(new ReachabilitySource(std::move(impl)));
}

std::unique_ptr<ReachabilitySource> ReachabilitySource::createWithAddress(const sockaddr* address) {
    if (address == nullptr || (address->sa_family != AF_INET && address->sa_family != AF_INET6))
        return nullptr;
    auto impl = std::make_shared<Impl>();
    impl->address = QHostAddress(address);
    return std::unique_ptr<ReachabilitySource>(new ReachabilitySource(std::move(impl)));
}

void ReachabilitySource::setSysfsRoot(const QString& root) {
    std::lock_guard lock(sysfsRootMutex);
    sysfsRoot = root;
}

ReachabilitySource::ReachabilitySource(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {
    impl_->owner = this;
}

ReachabilitySource::~ReachabilitySource() {
    NetlinkChangeMonitor* monitor = nullptr;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->owner = nullptr;
        impl_->callback = nullptr;
        std::swap(monitor, impl_->monitor);
    }
    if (impl_->resolver) impl_->resolver->setAnswerHandler(nullptr);
    if (monitor == nullptr) return;
    if (monitor->thread() == QThread::currentThread()) monitor->stop();
    // Later, not now: the destruction may come from inside the monitor's own callback.
    monitor->deleteLater();
}

bool ReachabilitySource::getFlags(quint32* flags) const {
    const auto now = impl_->flags(std::chrono::milliseconds(kNameWaitMilliseconds));
    if (!now) return false;
    *flags = *now;
    return true;
}

bool ReachabilitySource::setCallback(Callback callback, QObject* info) {
    std::lock_guard lock(impl_->mutex);
    impl_->callback = callback;
    impl_->info = callback != nullptr ? info : nullptr;
    return true;
}

bool ReachabilitySource::scheduleWithCurrentThread() {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->monitor != nullptr) return impl_->monitor->thread() == QThread::currentThread();
    }
    if (QAbstractEventDispatcher::instance() == nullptr) return false;
    std::weak_ptr<Impl> weak = impl_;
    auto* monitor = new NetlinkChangeMonitor([weak] {
        if (auto impl = weak.lock()) impl->networkChanged();
    });
    if (!monitor->isListening()) {
        delete monitor;
        return false;
    }
    impl_->announced = impl_->flags(std::chrono::milliseconds(0));
    {
        std::lock_guard lock(impl_->mutex);
        impl_->monitor = monitor;
    }
    if (impl_->resolver) {
        // Runs on the resolver's thread; the answer is looked at on the monitor's.
        impl_->resolver->setAnswerHandler([weak, monitor] {
            QMetaObject::invokeMethod(
                monitor,
                [weak] {
                    if (auto impl = weak.lock()) impl->announceIfChanged();
                },
                Qt::QueuedConnection);
        });
    }
    return true;
}

bool ReachabilitySource::unscheduleFromCurrentThread() {
    NetlinkChangeMonitor* monitor = nullptr;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->monitor == nullptr || impl_->monitor->thread() != QThread::currentThread())
            return false;
        std::swap(monitor, impl_->monitor);
    }
    if (impl_->resolver) impl_->resolver->setAnswerHandler(nullptr);
    monitor->stop();
    monitor->deleteLater();
    impl_->announced.reset();
    return true;
}

}  // namespace platform
