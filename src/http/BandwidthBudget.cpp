#include "http/BandwidthBudget.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace http {

namespace {

constexpr std::chrono::seconds kPeriod{1};

}  // namespace

bool BandwidthBudget::isBandwidthThrottled() const {
    return wwanThrottleActive || (!throttleOnlyOnWWAN && maxBandwidthPerSecond > 0);
}

void BandwidthBudget::incrementBandwidthUsedInLastSecond(quint64 bytes) {
    // The count saturates rather than wrapping round to a period that looks unspent.
    const quint64 sum = quint64{bandwidthUsedInLastSecond} + bytes;
    bandwidthUsedInLastSecond =
        static_cast<quint32>(std::min<quint64>(sum, std::numeric_limits<quint32>::max()));
}

void BandwidthBudget::recordBandwidthUsage(TimePoint now) {
    if (bandwidthUsedInLastSecond == 0) {
        bandwidthHistory.clear();
    } else {
        // One entry goes for every whole period that passed without a measurement.
        double untilEnd = bandwidthPeriodEnd
                              ? std::chrono::duration<double>(*bandwidthPeriodEnd - now).count()
                              : 0.0;
        while (!bandwidthHistory.empty() &&
               (untilEnd < 0 || bandwidthHistory.size() > kHistoryKept)) {
            bandwidthHistory.pop_front();
            untilEnd += 1;
        }
    }
    bandwidthHistory.push_back(bandwidthUsedInLastSecond);
    bandwidthPeriodEnd = now + kPeriod;
    bandwidthUsedInLastSecond = 0;
    // Summed wide, so that six full periods cannot overflow the total.
    const quint64 total =
        std::accumulate(bandwidthHistory.begin(), bandwidthHistory.end(), quint64{0});
    averageBandwidthUsedPerSecond = static_cast<quint32>(total / bandwidthHistory.size());
}

void BandwidthBudget::measureBandwidthUsage(TimePoint now) {
    if (!bandwidthPeriodEnd || now >= *bandwidthPeriodEnd) recordBandwidthUsage(now);
    // A limit of 0 is no limit, also while the wide-area limit is switched on: an overspent
    // period then holds nothing off (there is no rate to pay the excess back at).
    if (isBandwidthThrottled() && maxBandwidthPerSecond > 0 &&
        bandwidthUsedInLastSecond > maxBandwidthPerSecond) {
        const double excess = bandwidthUsedInLastSecond - maxBandwidthPerSecond;
        const std::chrono::duration<double> holdOff(excess / maxBandwidthPerSecond);
        throttleResumeTime =
            *bandwidthPeriodEnd + std::chrono::duration_cast<Clock::duration>(holdOff);
    }
}

quint32 BandwidthBudget::maxUploadReadLength(TimePoint now) {
    const quint32 limit = maxBandwidthPerSecond;
    const quint32 used = bandwidthUsedInLastSecond;
    quint32 length = limit / 4;
    if (limit > 0 && quint64{used} + length > limit) length = used > limit ? 0 : limit - used;
    // Streams wait for the end of the period; with no limit there is nothing to wait for.
    if (limit > 0 && (length == 0 || !bandwidthPeriodEnd || now >= *bandwidthPeriodEnd)) {
        throttleResumeTime = bandwidthPeriodEnd;
    }
    return length;
}

qint64 BandwidthBudget::downloadReadLength(qint64 wanted) const {
    if (!capsReads()) return wanted;
    const qint64 left = qint64{maxBandwidthPerSecond} - qint64{bandwidthUsedInLastSecond};
    qint64 length = wanted;
    if (left < 0) {
        length = 1;
    } else if (left / 4 < length) {
        length = left / 4;
    }
    return std::max<qint64>(length, 1);
}

}  // namespace http
