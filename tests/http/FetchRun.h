#pragma once

#include <QProcess>
#include <QStringList>

namespace testsupport {

// What a run of a program gave; exitCode is -1 when it crashed or did not end in time.
struct ProgramRun {
    int exitCode = -1;
    QByteArray out, err;
};

// Standard input is closed, so a program that would ask on a terminal cannot wait for one.
inline ProgramRun runProgram(
    const QString& program, const QStringList& arguments, int timeoutMs = 60000,
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// lumaro-fetch from the build being tested.
inline ProgramRun runFetch(const QStringList& arguments, int timeoutMs = 60000) {
    return runProgram(qEnvironmentVariable("LUMARO_BIN") + "/lumaro-fetch", arguments, timeoutMs);
}

}  // namespace testsupport
