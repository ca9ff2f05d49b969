// The arithmetic of the shared bandwidth budget, on times the test chooses.
#include <gtest/gtest.h>

#include <vector>

#include "http/BandwidthBudget.h"

namespace {

using http::BandwidthBudget;
using namespace std::chrono_literals;

const BandwidthBudget::TimePoint kStart{std::chrono::hours(1)};

// A period begun at kStart with `used` bytes already moved in it.
BandwidthBudget limitedTo(quint32 limit, quint32 used, bool onlyOnWWAN = false) {
    BandwidthBudget budget;
    budget.maxBandwidthPerSecond = limit;
    budget.throttleOnlyOnWWAN = budget.wwanThrottleActive = onlyOnWWAN;
    budget.recordBandwidthUsage(kStart);
    budget.bandwidthUsedInLastSecond = used;
    return budget;
}

TEST(BandwidthBudget, AnOverspentPeriodHoldsStreamsForTheExcessAtTheLimitsRate) {
    // limit, used, hold beyond the period's end in ms (-1: nothing held)
    const int cases[][3] = {{1000, 1500, 500}, {1000, 3000, 2000}, {14800, 14801, 0},
                            {1000, 1000, -1},  {1000, 999, -1},    {0, 50000, -1}};
    for (const auto& [limit, used, holdMs] : cases) {
        SCOPED_TRACE(testing::Message() << limit << " limit, " << used << " used");
        // A zero limit is no limit, also while the mobile limit is on: nothing to pay back.
        BandwidthBudget budget = limitedTo(limit, used, limit == 0);
        budget.measureBandwidthUsage(kStart + 100ms);
        ASSERT_EQ(budget.throttleResumeTime.has_value(), holdMs >= 0);
        if (holdMs < 0) continue;
        const auto hold = *budget.throttleResumeTime - *budget.bandwidthPeriodEnd;
        EXPECT_NEAR(std::chrono::duration<double>(hold).count(), holdMs / 1000.0, 0.001);
        EXPECT_TRUE(budget.holdsStreams(kStart + 1s));
        EXPECT_FALSE(budget.holdsStreams(*budget.throttleResumeTime));
    }
}

TEST(BandwidthBudget, ReadsTakeAQuarterOfTheBudgetAndNeverNothing) {
    // limit, used, download wanted -> download length; upload length, upload waits for the
    // period's end
    const struct {
        quint32 limit, used;
        qint64 wanted, download;
        quint32 upload;
        bool waits;
    } cases[] = {
        {1000, 0, 16384, 250, 250, false},
        {1000, 600, 16384, 100, 250, false},
        {1000, 0, 100, 100, 250, false},
        {1000, 997, 16384, 1, 3, false},
        {1000, 1000, 16384, 1, 0, true},
        {1000, 5000, 16384, 1, 0, true},
        {14800, 0, 262144, 3700, 3700, false},
        {14800, 12000, 262144, 700, 2800, false},
        {3, 0, 16384, 1, 0, true},
        {0, 0, 16384, 16384, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.limit << " limit, " << c.used << " used");
        BandwidthBudget budget = limitedTo(c.limit, c.used);
        EXPECT_EQ(budget.downloadReadLength(c.wanted), c.download);
        EXPECT_EQ(budget.maxUploadReadLength(kStart + 100ms), c.upload);
        EXPECT_EQ(budget.throttleResumeTime == budget.bandwidthPeriodEnd, c.waits);
    }
    // Once the period is over, uploads wait for its end whatever is left of it.
    BandwidthBudget late = limitedTo(14800, 0);
    EXPECT_EQ(late.maxUploadReadLength(kStart + 1500ms), 3700u);
    EXPECT_EQ(late.throttleResumeTime, late.bandwidthPeriodEnd);
}

TEST(BandwidthBudget, TheAverageIsTheIntegerMeanOfTheRecentPeriods) {
    struct Step {
        quint64 used;
        std::chrono::milliseconds at;
        std::vector<quint32> history;
        quint32 average;
    };
    const std::vector<std::vector<Step>> cases = {
        {{1, 0s, {1}, 1}, {2, 1s, {1, 2}, 1}, {2, 2s, {1, 2, 2}, 1}},
        // An idle period starts the history afresh.
        {{500, 0s, {500}, 500}, {0, 1s, {0}, 0}},
        // Six periods at most; a measurement 1.5 s after the end of the last one drops two.
        {{1, 0s, {1}, 1},
         {2, 1s, {1, 2}, 1},
         {3, 2s, {1, 2, 3}, 2},
         {4, 3s, {1, 2, 3, 4}, 2},
         {5, 4s, {1, 2, 3, 4, 5}, 3},
         {6, 5s, {1, 2, 3, 4, 5, 6}, 3},
         {7, 6s, {2, 3, 4, 5, 6, 7}, 4},
         {8, 8500ms, {4, 5, 6, 7, 8}, 6}},
        // Counts saturate, and their sum does not wrap.
        {{5000000000, 0s, {4294967295}, 4294967295},
         {4000000000, 1s, {4294967295, 4000000000}, 4147483647}},
    };
    for (const auto& steps : cases) {
        BandwidthBudget budget;
        for (const Step& step : steps) {
            SCOPED_TRACE(testing::Message() << step.used << " at " << step.at.count() << " ms");
            budget.incrementBandwidthUsedInLastSecond(step.used);
            budget.measureBandwidthUsage(kStart + step.at);
            EXPECT_EQ(std::vector<quint32>(budget.bandwidthHistory.begin(),
                                           budget.bandwidthHistory.end()),
                      step.history);
            EXPECT_EQ(budget.averageBandwidthUsedPerSecond, step.average);
            EXPECT_EQ(budget.bandwidthPeriodEnd, kStart + step.at + 1s);
        }
    }
}

}  // namespace
