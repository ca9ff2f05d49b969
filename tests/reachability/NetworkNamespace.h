#pragma once

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <functional>

namespace reachtest {

inline QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "reachability_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

// Runs the thread's events until done() holds or the time is up.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    application();
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

inline void settle(int ms) {
    waitUntil([] { return false; }, ms);
}

// Puts the calling thread (and every thread and process it starts from then on) into a
// fresh network namespace with only a loopback link, down; the thread returns to its old
// namespace on destruction. Nothing made inside reaches any real network.
class NetworkNamespace {
public:
    NetworkNamespace() {
        if (::geteuid() != 0) {
            problem_ = "making a network namespace needs root";
            return;
        }
        if (QStandardPaths::findExecutable("ip").isEmpty() && !QFile::exists("/usr/sbin/ip") &&
            !QFile::exists("/sbin/ip")) {
            problem_ = "the ip program (iproute2) is not installed";
            return;
        }
        original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (original_ < 0 || ::unshare(CLONE_NEWNET) != 0) {
            problem_ = std::string("cannot make a network namespace: ") + std::strerror(errno);
            return;
        }
        entered_ = true;
    }

    ~NetworkNamespace() {
        if (entered_) ::setns(original_, CLONE_NEWNET);
        if (original_ >= 0) ::close(original_);
    }

    bool entered() const { return entered_; }
    const std::string& problem() const { return problem_; }

    // Runs `ip -batch` on these lines (one ip command each, without "ip"); empty when all
    // succeeded, else what ip said. A line "await LINK up" or "await LINK down" waits
    // until the kernel has settled the link's operational state that way: carrier changes
    // reach the rest of the kernel a little later (up to a second) than the command.
    // "pause MS" runs the thread's events for that long.
    static QString ip(const QString& commands) {
        QStringList batch;
        for (const QString& line : commands.split('\n', Qt::SkipEmptyParts)) {
            if (!line.startsWith("await ") && !line.startsWith("pause ")) {
                batch << line;
                continue;
            }
            if (QString problem = runBatch(batch); !problem.isEmpty()) return problem;
            batch.clear();
            const QStringList words = line.split(' ');
            if (words[0] == "pause") {
                settle(words.value(1).toInt());
                continue;
            }
            if (words.size() != 3) return "bad line: " + line;
            const bool wantUp = words[2] == "up";
            const bool settled =
                waitUntil([&] { return linkState(words[1]).contains("state UP") == wantUp; }, 5000);
            if (!settled) return "link " + words[1] + " did not settle " + words[2];
        }
        return runBatch(batch);
    }

    // Whether this kernel can make the link pairs the tests use.
    static bool hasVeth() {
        const bool made = ip("link add vethprobe0 type veth peer name vethprobe1").isEmpty();
        if (made) ip("link del vethprobe0");
        return made;
    }

private:
    static QString runBatch(const QStringList& lines) {
        if (lines.isEmpty()) return {};
        QProcess process;
        process.start(ipProgram(), {"-batch", "-"});
        process.write(lines.join('\n').toUtf8() + "\n");
        process.closeWriteChannel();
        if (!process.waitForFinished(30000)) return "ip did not finish";
        if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) return {};
        return QString::fromUtf8(process.readAllStandardError()) + "(in: " + lines.join("; ") + ")";
    }

    static QString linkState(const QString& name) {
        QProcess process;
        process.start(ipProgram(), {"-o", "link", "show", "dev", name});
        process.waitForFinished(30000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    static QString ipProgram() {
        const QString found = QStandardPaths::findExecutable("ip");
        if (!found.isEmpty()) return found;
        return QFile::exists("/usr/sbin/ip") ? "/usr/sbin/ip" : "/sbin/ip";
    }

    int original_ = -1;
    bool entered_ = false;
    std::string problem_;
};

// A sysfs tree of the test's own, naming the kind of each interface the test lists.
class FakeSysfs {
public:
    // devtype: the uevent's DEVTYPE ("wwan", "wlan"), empty for none.
    void describe(const QString& name, const QByteArray& devtype) {
        const QString entry = dir_.path() + "/class/net/" + name;
        QDir().mkpath(entry);
        write(entry + "/ifindex", QByteArray::number(::if_nametoindex(name.toUtf8())) + "\n");
        write(entry + "/uevent",
              "INTERFACE=" + name.toUtf8() + "\n" +
                  (devtype.isEmpty() ? QByteArray() : "DEVTYPE=" + devtype + "\n"));
    }
    QString root() const { return dir_.path(); }

    static void write(const QString& path, const QByteArray& data) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) file.write(data);
    }

private:
    QTemporaryDir dir_;
};

}  // namespace reachtest

// Enters a fresh namespace for the test, or skips it with the reason.
#define ENTER_NETWORK_NAMESPACE(ns)                                                   \
    reachtest::application();                                                         \
    reachtest::NetworkNamespace ns;                                                   \
    if (!ns.entered()) GTEST_SKIP() << "needs a network namespace: " << ns.problem(); \
    if (!reachtest::NetworkNamespace::hasVeth())                                      \
    GTEST_SKIP() << "this kernel cannot make veth link pairs"
