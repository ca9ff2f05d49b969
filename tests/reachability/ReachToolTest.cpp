// lumaro-reach run as a program: its line, its exit codes, --watch and its signals.
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>

#include "NetworkNamespace.h"
#include "support/Tool.h"

using namespace reachtest;

namespace {

QString tool() { return qEnvironmentVariable("LUMARO_BIN") + "/lumaro-reach"; }
ToolRun reach(const QStringList& arguments) { return runTool("lumaro-reach", arguments); }

// The answer once (the exit code says whether it is reachable), then as it changes.
TEST(ToolWatch, PrintsTheAnswerAndEachChangeUntilTheCount) {
    ENTER_NETWORK_NAMESPACE(ns);
    ASSERT_EQ(ip(kLink), QString());
    const QString unreachable = "InternetConnection: not reachable (flags 0x00000)\n";
    const ToolRun once = reach({"--internet"});
    EXPECT_EQ(once.out, unreachable);
    EXPECT_EQ(once.exitCode, 1) << once.err.toStdString();
    QProcess process;
    process.start(tool(), {"--watch", "--count", "1", "--internet"});
    ASSERT_TRUE(process.waitForReadyRead(10000));
    EXPECT_EQ(process.readAllStandardOutput(), unreachable);
    ASSERT_EQ(ip("route add default via 10.9.0.1"), QString());
    ASSERT_TRUE(process.waitForFinished(2000)) << "no change line within two seconds";
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(process.readAllStandardOutput(),
              "InternetConnection: reachable via Wi-Fi (flags 0x00002)\n");
    EXPECT_EQ(reach({"--internet"}).exitCode, 0);
}

TEST(ToolWatch, StopSignalsEndTheWatchCleanly) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        QProcess process;
        process.start(tool(), {"--watch", "127.0.0.1"});
        ASSERT_TRUE(process.waitForReadyRead(10000));
        EXPECT_TRUE(process.readAllStandardOutput().startsWith("127.0.0.1: "));
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(5000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
    }
}

TEST(ToolUsage, CommandLinesItCannotRunExitWith64) {
    const QList<QStringList> cases = {
        {},
        {"--internet", "--wifi"},
        {"example.org", "127.0.0.1"},
        {"--count", "2", "--internet"},
        {"--watch", "--count", "0", "--internet"},
        {"--watch", "--internet", "--count"},
        {"--bogus", "--internet"},
        {"1.2.3"},
        {""},
        {"bad name"},
        {QString(300, 'a')},
    };
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const ToolRun run = reach(arguments);
        EXPECT_EQ(run.exitCode, 64);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(run.err.startsWith("lumaro-reach: ")) << run.err.toStdString();
    }
}

}  // namespace
