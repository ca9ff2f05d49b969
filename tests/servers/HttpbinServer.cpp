#include "servers/HttpbinServer.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

int freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    return probe.serverPort();
}

}  // namespace

HttpbinServer::HttpbinServer() : port_(freePort()) {
    process_.setProgram(QStringLiteral("/usr/bin/python3"));
    process_.setArguments({QStringLiteral("-m"), QStringLiteral("httpbin.core"),
                           QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("--port"), QString::number(port_)});
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start();
    if (!process_.waitForStarted(5000)) {
        failure_ = QStringLiteral("cannot run /usr/bin/python3 -m httpbin.core");
        return;
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port_));
        if (probe.waitForConnected(200)) {
            ready_ = true;
            return;
        }
        if (process_.state() != QProcess::Running) break;
        QThread::msleep(100);
    }
    failure_ =
        QStringLiteral("httpbin did not start: ") + QString::fromLocal8Bit(process_.readAll());
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
