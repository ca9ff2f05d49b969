#include "servers/HttpbinServer.h"

#include <chrono>

#include "servers/FreePort.h"

HttpbinServer::HttpbinServer() : port_(lumaro::test::freeLoopbackPort()) {
    process_.setProgram(QStringLiteral("/usr/bin/python3"));
    process_.setArguments(
        {"-m", "httpbin.core", "--host", "127.0.0.1", "--port", QString::number(port_)});
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start();
    if (!process_.waitForStarted(5000)) {
        failure_ = QStringLiteral("cannot run /usr/bin/python3 -m httpbin.core");
        return;
    }
    ready_ = lumaro::test::waitForLoopbackPort(static_cast<unsigned short>(port_),
                                               std::chrono::milliseconds(20000));
    if (!ready_) {
        failure_ = "httpbin did not start: " + QString::fromLocal8Bit(process_.readAll());
    }
}

HttpbinServer::~HttpbinServer() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

QUrl HttpbinServer::url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
}
