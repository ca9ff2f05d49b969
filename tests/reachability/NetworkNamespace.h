#pragma once

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/ReachabilitySource.h"
#include "support/Files.h"

namespace reachtest {

inline QCoreApplication& application() {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>("reachability_tests"), nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

// Runs the thread's events until done() holds or the time is up.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (; !done(); QThread::msleep(2)) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

inline void settle(int ms) {
    waitUntil([] { return false; }, ms);
}

// Runs ip with these arguments and the input; none when it fails, else its output.
inline std::optional<QByteArray> runIp(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;  // without ip the start fails, and so does the wait
    process.start(QStandardPaths::findExecutable("ip", {"/usr/sbin", "/sbin", "/usr/bin"}),
                  arguments);
    process.write(input);
    process.closeWriteChannel();
    const bool ok = process.waitForFinished(30000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ok ? std::optional(process.readAllStandardOutput()) : std::nullopt;
}

// Runs ip commands (one a line, without "ip"); empty when all succeeded. "await LINK up"
// or "await LINK down" waits until the link's operational state has settled that way
// (carrier changes reach the rest of the kernel up to a second after the command);
// "pause MS" runs the thread's events for that long.
inline QString ip(const QString& commands) {
    QStringList batch;
    const auto flush = [&batch]() -> QString {
        const bool ok = batch.isEmpty() || runIp({"-batch", "-"}, batch.join('\n').toUtf8() + "\n");
        const QString failed = ok ? QString() : "ip failed on: " + batch.join("; ");
        batch.clear();
        return failed;
    };
    for (const QString& line : commands.split('\n', Qt::SkipEmptyParts)) {
        const QStringList words = line.split(' ');
        if (words[0] != "await" && words[0] != "pause") {
            batch << line;
        } else if (QString failed = flush(); !failed.isEmpty()) {
            return failed;
        } else if (words[0] == "pause") {
            settle(words.value(1).toInt());
        } else if (!waitUntil(
                       [&] {
                           const auto shown = runIp({"-o", "link", "show", "dev", words.value(1)});
                           return shown && shown->contains("state UP") == (words.value(2) == "up");
                       },
                       5000)) {
            return line + ": did not happen";
        }
    }
    return flush();
}

// Puts the calling thread (and every thread and process it starts from then on) into a
// fresh network namespace with only a loopback link, down; the thread goes back to its
// old namespace on destruction. Nothing made inside reaches any real network.
class NetworkNamespace {
public:
    NetworkNamespace() {
        original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (::geteuid() != 0) {
            problem_ = "making a network namespace needs root";
        } else if (original_ < 0 || ::unshare(CLONE_NEWNET) != 0) {
            problem_ = std::string("cannot make a network namespace: ") + std::strerror(errno);
        } else {
            entered_ = true;
            static const bool vethWorks =
                runIp({"link", "add", "v0", "type", "veth", "peer", "name", "v1"}) &&
                runIp({"link", "del", "v0"});
            if (!vethWorks) problem_ = "ip (iproute2) cannot make veth link pairs here";
        }
    }
    ~NetworkNamespace() {
        if (entered_) ::setns(original_, CLONE_NEWNET);
        if (original_ >= 0) ::close(original_);
    }
    bool ready() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }

private:
    int original_ = -1;
    bool entered_ = false;
    std::string problem_;
};

// A loopback link up and a veth pair whose v0 has 10.9.0.2/24, both ends up.
inline const QString kLink =
    "link set lo up\nlink add v0 type veth peer name v1\nlink set v1 up"
    "\naddr add 10.9.0.2/24 dev v0\nlink set v0 up\nawait v0 up";
inline const QString kRoute = kLink + "\nroute add default via 10.9.0.1";
inline const QString kNoCarrier = "\nlink set v1 down\nawait v0 down";

// A sysfs tree of the test's own, where interface kinds are read while it lives.
class FakeSysfs {
public:
    FakeSysfs() { platform::ReachabilitySource::setSysfsRoot(dir_.path()); }
    ~FakeSysfs() { platform::ReachabilitySource::setSysfsRoot("/sys"); }
    // Gives the interface the DEVTYPE its uevent names.
    void describe(const QString& name, const QByteArray& devtype) {
        const QString entry = dir_.path() + "/class/net/" + name;
        QDir().mkpath(entry);
        testfiles::writeFile(entry + "/ifindex",
                             QByteArray::number(::if_nametoindex(name.toUtf8())) + "\n");
        testfiles::writeFile(entry + "/uevent", "DEVTYPE=" + devtype + "\n");
    }

private:
    QTemporaryDir dir_;
};

}  // namespace reachtest

// Enters a fresh namespace for the rest of the test, or skips the test with the reason.
#define ENTER_NETWORK_NAMESPACE(ns) \
    reachtest::application();       \
    reachtest::NetworkNamespace ns; \
    if (!ns.ready()) GTEST_SKIP() << "needs a network namespace: " << ns.problem()
