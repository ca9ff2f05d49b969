#pragma once

#include <QtGlobal>

namespace platform {

// The bits of a reachability answer. The values are fixed: callers store and print them.
enum ReachabilityFlag : quint32 {
    kReachabilityFlagTransientConnection = 0x1,
    kReachabilityFlagReachable = 0x2,
    kReachabilityFlagConnectionRequired = 0x4,
    kReachabilityFlagConnectionOnTraffic = 0x8,
    kReachabilityFlagInterventionRequired = 0x10,
    kReachabilityFlagConnectionOnDemand = 0x20,
    kReachabilityFlagIsLocalAddress = 0x10000,
    kReachabilityFlagIsDirect = 0x20000,
    kReachabilityFlagIsWWAN = 0x40000,
};

}  // namespace platform
