// The arithmetic of the shared bandwidth budget, on times the test chooses.
#include <gtest/gtest.h>

#include <vector>

#include "http/BandwidthBudget.h"

namespace {

using http::BandwidthBudget;
using namespace std::chrono_literals;

const BandwidthBudget::TimePoint kStart{std::chrono::hours(1)};

BandwidthBudget limitedTo(quint32 limit, quint32 used) {
    BandwidthBudget budget;
    budget.maxBandwidthPerSecond = limit;
    budget.recordBandwidthUsage(kStart);
    budget.bandwidthUsedInLastSecond = used;
    return budget;
}

TEST(BandwidthBudget, WhoIsThrottled) {
    struct Case {
        quint32 limit;
        bool onlyOnWWAN;
        bool onWWAN;
        bool throttled;
    };
    const Case cases[] = {
        {0, false, false, false},     // no limit at all
        {1000, false, false, true},   // a limit everywhere
        {14800, true, false, false},  // the mobile limit, on Wi-Fi
        {14800, true, true, true},    // the mobile limit, on the mobile network
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.limit << " wwan-only " << c.onlyOnWWAN << " on wwan " << c.onWWAN);
        BandwidthBudget budget = limitedTo(c.limit, 0);
        budget.throttleOnlyOnWWAN = c.onlyOnWWAN;
        budget.wwanThrottleActive = c.onlyOnWWAN && c.onWWAN;
        EXPECT_EQ(budget.isBandwidthThrottled(), c.throttled);
        EXPECT_EQ(budget.capsReads(), c.throttled);
        // Reads are capped only under a limit.
        EXPECT_EQ(budget.downloadReadLength(262144) < 262144, c.throttled);
    }
}

TEST(BandwidthBudget, AnOverspentPeriodHoldsStreamsForTheExcessAtTheLimitsRate) {
    struct Case {
        quint32 limit;
        quint32 used;
        std::optional<std::chrono::milliseconds> holdAfterPeriodEnd;
    };
    const Case cases[] = {
        {1000, 1500, 500ms},         // half the limit over: half a second beyond the period
        {1000, 3000, 2000ms},        // two limits over: two seconds
        {14800, 14801, 0ms},         // one byte over: resumes as the period ends
        {1000, 1000, std::nullopt},  // spent exactly: nothing held
        {1000, 999, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.limit << " limit, " << c.used << " used");
        BandwidthBudget budget = limitedTo(c.limit, c.used);
        budget.measureBandwidthUsage(kStart + 100ms);
        ASSERT_EQ(budget.throttleResumeTime.has_value(), c.holdAfterPeriodEnd.has_value());
        if (!c.holdAfterPeriodEnd) continue;
        const auto hold = *budget.throttleResumeTime - *budget.bandwidthPeriodEnd;
        EXPECT_NEAR(std::chrono::duration<double>(hold).count(),
                    std::chrono::duration<double>(*c.holdAfterPeriodEnd).count(), 0.001);
        EXPECT_TRUE(budget.holdsStreams(kStart + 1s));
        EXPECT_FALSE(budget.holdsStreams(*budget.throttleResumeTime));
    }
}

TEST(BandwidthBudget, AZeroLimitHoldsNothingEvenOnTheMobileNetwork) {
    BandwidthBudget budget = limitedTo(0, 50000);
    budget.throttleOnlyOnWWAN = true;
    budget.wwanThrottleActive = true;
    budget.measureBandwidthUsage(kStart + 100ms);
    EXPECT_FALSE(budget.throttleResumeTime);
    EXPECT_EQ(budget.maxUploadReadLength(kStart + 100ms), 0u);
    EXPECT_FALSE(budget.throttleResumeTime);
    EXPECT_FALSE(budget.capsReads());
    EXPECT_EQ(budget.downloadReadLength(16384), 16384);
}

TEST(BandwidthBudget, DownloadReadsTakeAQuarterOfWhatIsLeftAndNeverNothing) {
    struct Case {
        quint32 limit, used;
        qint64 wanted, length;
    };
    const Case cases[] = {
        {1000, 0, 16384, 250},    // a quarter of the whole budget
        {1000, 600, 16384, 100},  // a quarter of what is left
        {1000, 0, 100, 100},      // a smaller read stays as it is
        {1000, 997, 16384, 1},    // 3 left: a quarter is 0, made 1
        {1000, 1000, 16384, 1},   // spent
        {1000, 5000, 16384, 1},   // overspent
        {14800, 0, 262144, 3700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.limit << " limit, " << c.used << " used, " << c.wanted << " wanted");
        EXPECT_EQ(limitedTo(c.limit, c.used).downloadReadLength(c.wanted), c.length);
    }
}

TEST(BandwidthBudget, UploadReadsTakeAQuarterOfTheLimitUntilThePeriodIsSpent) {
    struct Case {
        quint32 limit, used, length;
        bool holdsUntilPeriodEnd;
    };
    const Case cases[] = {
        {14800, 0, 3700, false},                       // 65536 asked for, at most 3700 given
        {14800, 12000, 2800, false},                   // what is left, when that is less
        {14800, 14800, 0, true},                       // spent: streams wait for the next period
        {14800, 20000, 0, true},     {3, 0, 0, true},  // a limit below 4 gives no quarter at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.limit << " limit, " << c.used << " used");
        BandwidthBudget budget = limitedTo(c.limit, c.used);
        EXPECT_EQ(budget.maxUploadReadLength(kStart + 100ms), c.length);
        EXPECT_EQ(budget.throttleResumeTime == budget.bandwidthPeriodEnd, c.holdsUntilPeriodEnd);
    }
    // Once the period is over, the streams wait for its end however much is left: the next
    // measurement starts a new period.
    BandwidthBudget late = limitedTo(14800, 0);
    EXPECT_EQ(late.maxUploadReadLength(kStart + 1500ms), 3700u);
    EXPECT_EQ(late.throttleResumeTime, late.bandwidthPeriodEnd);
}

TEST(BandwidthBudget, TheAverageIsTheIntegerMeanOfTheRecentPeriods) {
    struct Step {
        quint32 used;
        std::chrono::milliseconds at;  // since the start
        std::vector<quint32> history;
        quint32 average;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"integer average", {{1, 0s, {1}, 1}, {2, 1s, {1, 2}, 1}, {2, 2s, {1, 2, 2}, 1}}},
        {"an idle period starts afresh", {{500, 0s, {500}, 500}, {0, 1s, {0}, 0}}},
        {"at most six periods",
         {{1, 0s, {1}, 1},
          {2, 1s, {1, 2}, 1},
          {3, 2s, {1, 2, 3}, 2},
          {4, 3s, {1, 2, 3, 4}, 2},
          {5, 4s, {1, 2, 3, 4, 5}, 3},
          {6, 5s, {1, 2, 3, 4, 5, 6}, 3},
          {7, 6s, {2, 3, 4, 5, 6, 7}, 4}}},
        // The last period ended 1.5 s before it was measured: one whole period and a half
        // passed unmeasured, and two entries go.
        {"unmeasured periods drop out",
         {{1, 0s, {1}, 1},
          {2, 1s, {1, 2}, 1},
          {3, 2s, {1, 2, 3}, 2},
          {4, 3s, {1, 2, 3, 4}, 2},
          {5, 4s, {1, 2, 3, 4, 5}, 3},
          {6, 6500ms, {3, 4, 5, 6}, 4}}},
        {"counts too large to add in 32 bits",
         {{4000000000u, 0s, {4000000000u}, 4000000000u},
          {4000000000u, 1s, {4000000000u, 4000000000u}, 4000000000u}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BandwidthBudget budget;
        for (const Step& step : c.steps) {
            budget.incrementBandwidthUsedInLastSecond(step.used);
            budget.measureBandwidthUsage(kStart + step.at);
            EXPECT_EQ(std::vector<quint32>(budget.bandwidthHistory.begin(),
                                           budget.bandwidthHistory.end()),
                      step.history);
            EXPECT_EQ(budget.averageBandwidthUsedPerSecond, step.average);
            EXPECT_EQ(budget.bandwidthUsedInLastSecond, 0u);
            EXPECT_EQ(budget.bandwidthPeriodEnd, kStart + step.at + 1s);
        }
    }
}

TEST(BandwidthBudget, APeriodStillRunningIsNotRecorded) {
    BandwidthBudget budget = limitedTo(1000, 0);
    budget.incrementBandwidthUsedInLastSecond(300);
    budget.measureBandwidthUsage(kStart + 999ms);
    EXPECT_EQ(budget.bandwidthUsedInLastSecond, 300u);
    EXPECT_EQ(budget.bandwidthHistory.size(), 1u);
    // The count saturates instead of wrapping round to a period that looks unspent.
    budget.incrementBandwidthUsedInLastSecond(0xFFFFFFFFull);
    EXPECT_EQ(budget.bandwidthUsedInLastSecond, 0xFFFFFFFFu);
}

}  // namespace
