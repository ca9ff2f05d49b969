#pragma once

#include <QProcess>
#include <QString>
#include <QUrl>

// Debian's httpbin on 127.0.0.1 (run with Debian's own Python), started on a free port and
// stopped with the object. available() is false when it could not be started.
class HttpbinServer {
public:
    HttpbinServer();
    ~HttpbinServer();
    HttpbinServer(const HttpbinServer&) = delete;
    HttpbinServer& operator=(const HttpbinServer&) = delete;

    bool available() const { return ready_; }
    QString failure() const { return failure_; }
    int port() const { return port_; }
    QUrl url(const QString& path) const;

private:
    QProcess process_;
    int port_ = 0;
    bool ready_ = false;
    QString failure_;
};
