#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QStringList>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

#include "servers/FreePort.h"
#include "servers/NginxServer.h"
#include "support/Files.h"

// nginx serving root with an access log of "METHOD URI STATUS" lines: everything fresh for
// an hour, gzip under /gz/, and no-store under /nostore/.
class LoggingNginx {
public:
    explicit LoggingNginx(const QString& root)
        : log_(root + "/../access.log"),
          port_(lumaro::test::freeLoopbackPort()),
          nginx_({.root = root,
                  .certificateFile = {},
                  .keyFile = {},
                  .clientCaFile = {},
                  .extraHttpConfig = QStringLiteral(R"(
    log_format brief '$request_method $uri $status';
    server {
        listen 127.0.0.1:%1;
        root %2;
        access_log %3 brief;
        expires 1h;
        location /gz/ { gzip on; gzip_types *; gzip_min_length 0; }
        location /nostore/ { expires off; add_header Cache-Control no-store; }
    }
)")
                                         .arg(port_)
                                         .arg(root, log_),
                  .extraTlsServerConfig = {}}) {
        lumaro::test::waitForLoopbackPort(port_, std::chrono::milliseconds(5000));
    }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
    }
    // The statuses nginx answered for path, in order. nginx logs a request after its answer
    // has gone out, so a client that has read the answer can look before the line is there:
    // a marker request, logged by the one worker after every earlier request, is awaited first.
    QStringList statuses(const QString& path) {
        const QString marker = QStringLiteral("/log-marker-%1").arg(++markers_);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port_);
        if (socket.waitForConnected(5000)) {
            socket.write("GET " + marker.toUtf8() + " HTTP/1.0\r\n\r\n");
            while (socket.waitForReadyRead(5000)) socket.readAll();
        }
        const QDeadlineTimer deadline(5000);
        while (logged(marker).isEmpty() && !deadline.hasExpired()) QThread::msleep(5);
        return logged(path);
    }

private:
    QStringList logged(const QString& path) const {
        QStringList found;
        for (const QString& line : QString::fromUtf8(testfiles::readFile(log_)).split('\n')) {
            const QStringList parts = line.split(' ');
            if (parts.size() == 3 && parts[1] == path) found.append(parts[2]);
        }
        return found;
    }

    QString log_;
    int markers_ = 0;
    unsigned short port_;
    lumaro::test::NginxServer nginx_;
};
