#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

struct ToolRun {
    int exitCode = -1;  // -1 when the program crashed or had to be stopped
    QString out, err;
};

// Runs one of the built programs to its end, in the test's environment plus the given variables.
inline ToolRun runTool(const QString& program, const QStringList& arguments,
                       const QStringList& environment = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& variable : environment)
        env.insert(variable.section('=', 0, 0), variable.section('=', 1));
    process.setProcessEnvironment(env);
    process.start(qEnvironmentVariable("LUMARO_BIN") + "/" + program, arguments);
    if (!process.waitForFinished(60000)) process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}
