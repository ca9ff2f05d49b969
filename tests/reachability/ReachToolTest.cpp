// lumaro-reach run as a program: its line, its exit codes, --watch and its signals.
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>

#include "NetworkNamespace.h"

using namespace reachtest;

namespace {

const QString kLink =
    "link set lo up\nlink add v0 type veth peer name v1\nlink set v1 up"
    "\naddr add 10.9.0.2/24 dev v0\nlink set v0 up\nawait v0 up";

QString tool() { return qEnvironmentVariable("LUMARO_BIN") + "/lumaro-reach"; }

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Outcome reach(const QStringList& arguments) {
    QProcess process;
    process.start(tool(), arguments);
    Outcome run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

struct AnswerCase {
    const char* name;
    QString setup;
    QStringList arguments;
    QByteArray line;
    int exitCode;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class ToolAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(ToolAnswers, PrintsOneLineAndExitsByReachability) {
    const AnswerCase& c = GetParam();
    ENTER_NETWORK_NAMESPACE(ns);
    ASSERT_EQ(ip(c.setup), QString());
    const Outcome run = reach(c.arguments);
    EXPECT_EQ(run.out, c.line + "\n");
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err.constData();
}

INSTANTIATE_TEST_SUITE_P(
    Namespace, ToolAnswers,
    // clang-format off
    ::testing::Values(
        AnswerCase{"InternetWithOnlyLoopbackDown", "", {"--internet"},
                   "InternetConnection: not reachable (flags 0x00000)", 1},
        AnswerCase{"LoopbackAddress", "link set lo up", {"127.0.0.1"},
                   "127.0.0.1: reachable via Wi-Fi (flags 0x30002)", 0},
        AnswerCase{"InternetThroughGateway", kLink + "\nroute add default via 10.9.0.1", {"--internet"},
                   "InternetConnection: reachable via Wi-Fi (flags 0x00002)", 0},
        AnswerCase{"InternetWithoutCarrier", kLink + "\nroute add default via 10.9.0.1\nlink set v1 down\nawait v0 down",
                   {"--internet"}, "InternetConnection: not reachable (flags 0x00004)", 1}),
    // clang-format on
    [](const auto& info) { return std::string(info.param.name); });

TEST(ToolWatch, PrintsTheChangeAndStopsAtTheCount) {
    ENTER_NETWORK_NAMESPACE(ns);
    ASSERT_EQ(ip(kLink), QString());
    QProcess process;
    process.start(tool(), {"--watch", "--count", "1", "--internet"});
    ASSERT_TRUE(process.waitForReadyRead(10000));
    QByteArray out = process.readAllStandardOutput();
    EXPECT_EQ(out, "InternetConnection: not reachable (flags 0x00000)\n");
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(ip("route add default via 10.9.0.1"), QString());
    ASSERT_TRUE(process.waitForFinished(2000)) << "no change line within two seconds";
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(process.readAllStandardOutput(),
              "InternetConnection: reachable via Wi-Fi (flags 0x00002)\n");
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
        {"--watch"},
        {"--internet", "--wifi"},
        {"example.org", "127.0.0.1"},
        {"--count", "2", "--internet"},
        {"--watch", "--count", "0", "--internet"},
        {"--watch", "--count", "x", "--internet"},
        {"--watch", "--internet", "--count"},
        {"--bogus", "--internet"},
        {"1.2.3"},
        {"256.1.1.1"},
        {"bad name"},
        {""},
        {QString(300, 'a')},
    };
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Outcome run = reach(arguments);
        EXPECT_EQ(run.exitCode, 64);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(run.err.startsWith("lumaro-reach: ")) << run.err.constData();
    }
}

}  // namespace
