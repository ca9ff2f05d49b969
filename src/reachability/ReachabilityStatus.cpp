#include "reachability/ReachabilityStatus.h"

#include "platform/ReachabilityFlags.h"

namespace reachability {

using namespace platform;

ReachabilityStatus statusForFlags(quint32 flags, bool localWiFiTarget) {
    if (!(flags & kReachabilityFlagReachable)) return StatusUnreachable;
    if (localWiFiTarget)
        return (flags & kReachabilityFlagIsDirect) ? StatusViaWiFi : StatusUnreachable;
    if (flags & kReachabilityFlagIsWWAN) return StatusViaWWAN;
    const quint32 rest = flags & ~(kReachabilityFlagReachable | kReachabilityFlagIsLocalAddress |
                                   kReachabilityFlagIsDirect);
    if (rest == (kReachabilityFlagTransientConnection | kReachabilityFlagConnectionRequired))
        return StatusUnreachable;
    if (flags & kReachabilityFlagTransientConnection) return StatusViaWiFi;
    if (rest == 0) return StatusViaWiFi;
    return (flags & kReachabilityFlagConnectionRequired) ? StatusViaWiFi : StatusUnreachable;
}

bool flagsRequireConnection(quint32 flags) { return flags & kReachabilityFlagConnectionRequired; }

bool flagsConnectOnDemand(quint32 flags) {
    return (flags & kReachabilityFlagConnectionRequired) &&
           (flags & (kReachabilityFlagConnectionOnTraffic | kReachabilityFlagConnectionOnDemand));
}

bool flagsRequireIntervention(quint32 flags) {
    return (flags & kReachabilityFlagConnectionRequired) &&
           (flags & kReachabilityFlagInterventionRequired);
}

}  // namespace reachability
