#pragma once

#include <httplib.h>

#include <QString>
#include <QUrl>
#include <stdexcept>
#include <thread>

// A cpp-httplib server on 127.0.0.1 with an ephemeral port, running on its own thread for
// the lifetime of the object. Register handlers on server() before start().
class InProcessHttpServer {
public:
    InProcessHttpServer() : port_(server_.bind_to_any_port("127.0.0.1")) {
        if (port_ <= 0) throw std::runtime_error("cannot bind a test server to 127.0.0.1");
    }
    ~InProcessHttpServer() {
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }
    InProcessHttpServer(const InProcessHttpServer&) = delete;
    InProcessHttpServer& operator=(const InProcessHttpServer&) = delete;

    httplib::Server& server() { return server_; }
    void start() {
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    int port() const { return port_; }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};
