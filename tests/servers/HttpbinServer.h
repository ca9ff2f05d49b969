#pragma once

#include <QProcess>
#include <QString>
#include <QUrl>
#include <chrono>

#include "servers/FreePort.h"

// Debian's httpbin on 127.0.0.1 (run with Debian's own Python), started on a free port and
// stopped with the object. available() is false when it could not be started.
class HttpbinServer {
public:
    HttpbinServer() : port_(lumaro::test::freeLoopbackPort()) {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(
            QStringLiteral("/usr/bin/python3"),
            {"-m", "httpbin.core", "--host", "127.0.0.1", "--port", QString::number(port_)});
        ready_ = process_.waitForStarted(5000) &&
                 lumaro::test::waitForLoopbackPort(static_cast<unsigned short>(port_),
                                                   std::chrono::seconds(20));
        if (!ready_)
            failure_ = "httpbin did not start: " + QString::fromLocal8Bit(process_.readAll());
    }
    ~HttpbinServer() {
        process_.terminate();
        if (!process_.waitForFinished(3000)) process_.kill();
        process_.waitForFinished(3000);
    }
    HttpbinServer(const HttpbinServer&) = delete;
    HttpbinServer& operator=(const HttpbinServer&) = delete;

    bool available() const { return ready_; }
    QString failure() const { return failure_; }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
    }

private:
    QProcess process_;
    int port_ = 0;
    bool ready_ = false;
    QString failure_;
};
