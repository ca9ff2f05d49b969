#pragma once

#include <QtGlobal>

namespace reachability {

enum ReachabilityStatus {
    StatusUnreachable = 0,
    StatusViaWWAN = 1,  // the carrier (mobile-broadband) network
    StatusViaWiFi = 2,  // Wi-Fi, or any link that is not the carrier network
};

// The status a set of flags means. The local Wi-Fi target asks only whether it is
// reachable directly; every other target follows the full rule.
ReachabilityStatus statusForFlags(quint32 flags, bool localWiFiTarget);

// The yes/no questions asked of a set of flags.
bool flagsRequireConnection(quint32 flags);
bool flagsConnectOnDemand(quint32 flags);
bool flagsRequireIntervention(quint32 flags);

}  // namespace reachability
