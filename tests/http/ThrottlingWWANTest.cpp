// The mobile-network limit against a real kernel: a network namespace of the test's own
// whose only link is described as a wide-area (mobile) link; routes come and go, and the
// reachability notifications switch the limit on and off.
#include <gtest/gtest.h>
#include <net/if.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "http/HTTPRequest.h"
#include "platform/ReachabilitySource.h"
#include "reachability/NetworkNamespace.h"

namespace {

using http::HTTPRequest;
using namespace reachtest;

bool throttledWithin(bool expected, int ms) {
    return waitUntil([&] { return HTTPRequest::isBandwidthThrottled() == expected; }, ms);
}

TEST(ThrottlingOnWWAN, FollowsTheLinkTheInternetIsReachedOver) {
    ENTER_NETWORK_NAMESPACE(ns);
    FakeSysfs sysfs;
    ASSERT_EQ(ip(kLink), QString());
    sysfs.describe("v0", "wwan");

    // No default route: the internet cannot be reached at all, so nothing is throttled.
    HTTPRequest::setShouldThrottleBandwidthForWWAN(true);
    EXPECT_EQ(HTTPRequest::maxBandwidthPerSecond(), 14800u);
    EXPECT_FALSE(HTTPRequest::isNetworkReachableViaWWAN());
    EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());

    // A default route over the mobile link: the change is announced and the limit applies.
    ASSERT_EQ(ip("route add default via 10.9.0.1"), QString());
    EXPECT_TRUE(throttledWithin(true, 5000));
    EXPECT_TRUE(HTTPRequest::isNetworkReachableViaWWAN());
    HTTPRequest::recordBandwidthUsage();
    EXPECT_EQ(HTTPRequest::uploadReadAllowance(), 3700);

    // The same link described as Wi-Fi once the route is made again: no limit.
    ASSERT_EQ(ip("route del default"), QString());
    EXPECT_TRUE(throttledWithin(false, 5000));
    sysfs.describe("v0", "wlan");
    ASSERT_EQ(ip("route add default via 10.9.0.1"), QString());
    settle(300);
    EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());
    EXPECT_EQ(HTTPRequest::uploadReadAllowance(), std::nullopt);

    // A limit of its own for the mobile network.
    sysfs.describe("v0", "wwan");
    ASSERT_EQ(ip("route del default\nroute add default via 10.9.0.1"), QString());
    HTTPRequest::throttleBandwidthForWWANUsingLimit(40000);
    EXPECT_TRUE(HTTPRequest::isBandwidthThrottled());
    EXPECT_EQ(HTTPRequest::uploadReadAllowance(), 10000);

    // Switched off while on the mobile network: the limit goes.
    HTTPRequest::setShouldThrottleBandwidthForWWAN(false);
    EXPECT_EQ(HTTPRequest::maxBandwidthPerSecond(), 0u);
    EXPECT_FALSE(HTTPRequest::isBandwidthThrottled());
}

}  // namespace
