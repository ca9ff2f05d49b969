#pragma once

#include <QtGlobal>
#include <chrono>
#include <deque>
#include <optional>

namespace http {

// The bandwidth budget that every request of the process shares: bytes moved in
// one-second periods against a limit in bytes per second, the hold-off that follows an
// overspent period, and a running average over the last few periods. Plain arithmetic on
// times it is given; the caller guards it with one lock and supplies the clock.
struct BandwidthBudget {
    // A monotonic clock: changing the wall clock neither stalls nor frees a transfer.
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // Periods kept before a new one is appended.
    static constexpr std::size_t kHistoryKept = 5;
    // The limit used on the wide-area mobile network.
    static constexpr quint32 kWWANBandwidthLimit = 14800;

    quint32 maxBandwidthPerSecond = 0;  // 0: no limit
    quint32 bandwidthUsedInLastSecond = 0;
    std::optional<TimePoint> bandwidthPeriodEnd;
    // Streams stay off the event loop until then; once set, only its time matters.
    std::optional<TimePoint> throttleResumeTime;
    std::deque<quint32> bandwidthHistory;
    quint32 averageBandwidthUsedPerSecond = 0;
    bool throttleOnlyOnWWAN = false;
    bool wwanThrottleActive = false;

    // True while on the wide-area network with its limit switched on, or when a limit
    // applies everywhere.
    bool isBandwidthThrottled() const;
    // A limit that actually caps reads: throttled, and above 0.
    bool capsReads() const { return isBandwidthThrottled() && maxBandwidthPerSecond > 0; }

    void incrementBandwidthUsedInLastSecond(quint64 bytes);
    // Closes the current period at now and starts the next.
    void recordBandwidthUsage(TimePoint now);
    // Starts a new period when the current one is over, and sets the hold-off when the
    // current one is overspent.
    void measureBandwidthUsage(TimePoint now);
    // The most an upload read may take now; 0 when the period's budget is spent.
    quint32 maxUploadReadLength(TimePoint now);
    // The size of a download read that wanted `wanted` bytes: a quarter of what is left
    // of the period's budget, and never below 1.
    qint64 downloadReadLength(qint64 wanted) const;
    // True while streams are to stay off the event loop.
    bool holdsStreams(TimePoint now) const {
        return throttleResumeTime && *throttleResumeTime > now;
    }
};

}  // namespace http
