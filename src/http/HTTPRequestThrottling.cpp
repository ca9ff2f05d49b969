// Sharing one bandwidth limit among all requests: the class-wide budget, holding streams
// off the event loop while it is overspent, and the limit for the wide-area mobile network.
//
// Every byte is counted once, where the budget is decided: download bytes as they are
// read from the stream, upload bytes as the body is read through ThrottledInputStream.
// The growth of the bytes-written count seen by the status check is not counted again,
// which would let uploads run at half the limit.
#include <QThread>
#include <QTimer>
#include <cmath>

#include "http/BandwidthBudget.h"
#include "http/HTTPRequest.h"
#include "platform/NotificationCenter.h"
#include "reachability/Reachability.h"

namespace http {

namespace {

using Clock = BandwidthBudget::Clock;

struct ThrottlingState {
    // Guards budget; a plain lock, taken after a request's own lock and before the
    // connection pool's.
    std::mutex bandwidthLock;
    BandwidthBudget budget;

    // Guards the observing of the internet connection's reachability.
    std::mutex reachabilityLock;
    std::unique_ptr<reachability::Reachability> internetReachability;
    platform::NotificationCenter::ObserverId observer = 0;
};

ThrottlingState& throttling() {
    // Never destroyed: requests on the network thread may outlive static destruction.
    static auto* state = new ThrottlingState();
    return *state;
}

}  // namespace

// ---- The class-wide budget ----

quint32 HTTPRequest::maxBandwidthPerSecond() {
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    return state.budget.maxBandwidthPerSecond;
}

void HTTPRequest::setMaxBandwidthPerSecond(quint32 bytes) {
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    state.budget.maxBandwidthPerSecond = bytes;
}

bool HTTPRequest::isBandwidthThrottled() {
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    return state.budget.isBandwidthThrottled();
}

void HTTPRequest::incrementBandwidthUsedInLastSecond(quint64 bytes) {
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    state.budget.incrementBandwidthUsedInLastSecond(bytes);
}

quint32 HTTPRequest::averageBandwidthUsedPerSecond() {
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    return state.budget.averageBandwidthUsedPerSecond;
}

void HTTPRequest::measureBandwidthUsage() {
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    state.budget.measureBandwidthUsage(Clock::now());
}

void HTTPRequest::recordBandwidthUsage() {
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    state.budget.recordBandwidthUsage(Clock::now());
}

quint32 HTTPRequest::maxUploadReadLength() {
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    return state.budget.maxUploadReadLength(Clock::now());
}

std::optional<qint64> HTTPRequest::uploadReadAllowance() {
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    // A limit of 0 caps nothing, also while the wide-area limit is switched on.
    if (!state.budget.capsReads()) return std::nullopt;
    return state.budget.maxUploadReadLength(Clock::now());
}

qint64 HTTPRequest::throttledReadLength(qint64 wanted) {
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    // The read is sized against the period it falls in: without this, the first read of a
    // process (before any period has begun) or the first after a pause would be counted
    // in a period already over and escape the budget.
    state.budget.measureBandwidthUsage(Clock::now());
    return state.budget.downloadReadLength(wanted);
}

bool HTTPRequest::throttleHoldsNewStreams() {
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    return state.budget.holdsStreams(Clock::now());
}

// ---- Holding one request's stream ----

void HTTPRequest::performThrottling() {
    std::lock_guard lock(cancelledLock_);
    // A finished attempt's stream stays where the end of the answer left it.
    if (!readStream_ || complete_) return;
    auto& state = throttling();
    std::lock_guard bandwidth(state.bandwidthLock);
    const Clock::time_point now = Clock::now();
    state.budget.measureBandwidthUsage(now);
    if (state.budget.isBandwidthThrottled() && state.budget.holdsStreams(now)) {
        unscheduleReadStream();
        wakeWhenThrottleEnds(*state.budget.throttleResumeTime - now);
    } else {
        scheduleReadStream();
    }
}

void HTTPRequest::wakeWhenThrottleEnds(std::chrono::steady_clock::duration wait) {
    // The status check would resume the stream too, but only at its next quarter second:
    // a transfer would lose up to a quarter of every period.
    if (statusTimer_ == nullptr) return;
    if (throttleWakeUpTimer_.isNull()) {
        throttleWakeUpTimer_ = new QTimer(statusTimer_);
        throttleWakeUpTimer_->setSingleShot(true);
        throttleWakeUpTimer_->setTimerType(Qt::PreciseTimer);
        std::weak_ptr<HTTPRequest> weak = self();
        QObject::connect(throttleWakeUpTimer_, &QTimer::timeout, [weak] {
            auto request = weak.lock();
            if (!request) return;
            std::lock_guard lock(request->cancelledLock_);
            if (!request->cancelled_) request->performThrottling();
        });
    }
    const double ms = std::chrono::duration<double, std::milli>(wait).count();
    // One millisecond late rather than early, so that the hold-off has ended on waking.
    throttleWakeUpTimer_->start(static_cast<int>(std::ceil(ms)) + 1);
}

// ---- The wide-area mobile network ----

void HTTPRequest::setShouldThrottleBandwidthForWWAN(bool on) {
    if (on) {
        throttleBandwidthForWWANUsingLimit(BandwidthBudget::kWWANBandwidthLimit);
        return;
    }
    unsubscribeFromNetworkReachabilityNotifications();
    setMaxBandwidthPerSecond(0);
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    state.budget.throttleOnlyOnWWAN = false;
    state.budget.wwanThrottleActive = false;
}

void HTTPRequest::throttleBandwidthForWWANUsingLimit(quint32 limit) {
    auto& state = throttling();
    {
        std::lock_guard lock(state.bandwidthLock);
        state.budget.throttleOnlyOnWWAN = true;
        state.budget.maxBandwidthPerSecond = limit;
    }
    registerForNetworkReachabilityNotifications();
    reachabilityChanged();
}

void HTTPRequest::registerForNetworkReachabilityNotifications() {
    auto& state = throttling();
    std::lock_guard lock(state.reachabilityLock);
    if (state.internetReachability) return;
    state.internetReachability = reachability::Reachability::reachabilityForInternetConnection();
    if (state.internetReachability) state.internetReachability->startNotifier();
    state.observer = platform::NotificationCenter::defaultCenter().addObserver(
        reachability::kNetworkReachabilityChangedNotification, nullptr,
        [](const platform::Notification&) { reachabilityChanged(); });
}

void HTTPRequest::unsubscribeFromNetworkReachabilityNotifications() {
    auto& state = throttling();
    std::lock_guard lock(state.reachabilityLock);
    if (state.observer != 0)
        platform::NotificationCenter::defaultCenter().removeObserver(state.observer);
    state.observer = 0;
    state.internetReachability.reset();
}

bool HTTPRequest::isNetworkReachableViaWWAN() {
    const auto internet = reachability::Reachability::reachabilityForInternetConnection();
    return internet && internet->currentReachabilityStatus() == reachability::StatusViaWWAN;
}

void HTTPRequest::reachabilityChanged() {
    // The kernel is asked before the lock is taken: requests never wait for it.
    const bool viaWWAN = isNetworkReachableViaWWAN();
    auto& state = throttling();
    std::lock_guard lock(state.bandwidthLock);
    state.budget.wwanThrottleActive = state.budget.throttleOnlyOnWWAN && viaWWAN;
}

}  // namespace http
