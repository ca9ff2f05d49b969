#pragma once

#include <httplib.h>

#include <QString>
#include <QUrl>
#include <thread>

// A cpp-httplib server on 127.0.0.1 with an ephemeral port, running on its own thread for
// the lifetime of the object. Register handlers on server() before start().
class InProcessHttpServer {
public:
    InProcessHttpServer();
    ~InProcessHttpServer();
    InProcessHttpServer(const InProcessHttpServer&) = delete;
    InProcessHttpServer& operator=(const InProcessHttpServer&) = delete;

    httplib::Server& server() { return server_; }
    void start();
    int port() const { return port_; }
    QUrl url(const QString& path) const;

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};
