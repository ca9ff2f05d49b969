// lumaro-reach: whether a host, an address, the internet or the local Wi-Fi can be
// reached, once or as it changes.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "ReachOptions.h"
#include "platform/NotificationCenter.h"
#include "reachability/Reachability.h"

using reachability::Reachability;

namespace {

std::unique_ptr<Reachability> makeReachability(const ReachOptions& options) {
    switch (options.target) {
        case ReachOptions::Target::Internet:
            return Reachability::reachabilityForInternetConnection();
        case ReachOptions::Target::LocalWiFi:
            return Reachability::reachabilityForLocalWiFi();
        case ReachOptions::Target::Address: {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            ::inet_pton(AF_INET, options.text.toLatin1().constData(), &address.sin_addr);
            return Reachability::reachabilityWithAddress(address);
        }
        case ReachOptions::Target::HostName:
            break;
    }
    return Reachability::reachabilityWithHostName(options.text);
}

const char* statusText(reachability::ReachabilityStatus status) {
    switch (status) {
        case reachability::StatusViaWWAN:
            return "reachable via WWAN";
        case reachability::StatusViaWiFi:
            return "reachable via Wi-Fi";
        case reachability::StatusUnreachable:
            break;
    }
    return "not reachable";
}

// One line, from one reading of the flags, so the status always matches the bits shown.
reachability::ReachabilityStatus printLine(const Reachability& reachability) {
    const quint32 flags = reachability.reachabilityFlags();
    const auto status = reachability.networkStatusForFlags(flags);
    std::printf("%s: %s (flags 0x%05x)\n", qPrintable(reachability.key()), statusText(status),
                flags);
    std::fflush(stdout);
    return status;
}

// SIGINT and SIGTERM arrive as readable data on a descriptor of the event loop, so a
// watch ends as cleanly as when its count is reached.
int signalDescriptor() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) return -1;
    return ::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
}

int watch(QCoreApplication& app, Reachability& reachability, int count, int stopFd) {
    QSocketNotifier stopNotifier(stopFd, QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&app] { app.exit(0); });

    int printed = 0;
    platform::NotificationCenter::defaultCenter().addObserver(
        reachability::kNetworkReachabilityChangedNotification, &reachability,
        [&](const platform::Notification&) {
            printLine(reachability);
            if (count > 0 && ++printed >= count) app.exit(0);
        },
        &app);
    // A host name is looked up before the notifier starts, so that the first answer is
    // the one printed rather than announced as a change.
    reachability.reachabilityFlags();
    if (!reachability.startNotifier()) {
        std::fprintf(stderr, "lumaro-reach: cannot watch for network changes\n");
        return 1;
    }
    printLine(reachability);
    const int code = app.exec();
    reachability.stopNotifier();
    ::close(stopFd);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString problem;
    const auto options = parseReachOptions(QCoreApplication::arguments(), &problem);
    if (!options) {
        std::fprintf(stderr, "lumaro-reach: %s\n%s", qPrintable(problem), kReachUsage);
        return kUsageExitCode;
    }
    if (options->help) {
        std::printf("%s", kReachUsage);
        return 0;
    }
    // Blocked before any thread starts (a host name is looked up on one), so that every
    // thread leaves the two signals to the descriptor.
    const int stopFd = options->watch ? signalDescriptor() : -1;
    if (options->watch && stopFd < 0) {
        std::fprintf(stderr, "lumaro-reach: cannot catch SIGINT and SIGTERM\n");
        return 1;
    }
    const auto reachability = makeReachability(*options);
    if (!reachability) {
        std::fprintf(stderr, "lumaro-reach: cannot ask about %s\n", qPrintable(options->text));
        return 1;
    }
    if (options->watch) return watch(app, *reachability, options->count, stopFd);
    return printLine(*reachability) == reachability::StatusUnreachable ? 1 : 0;
}
