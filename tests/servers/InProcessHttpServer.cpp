#include "servers/InProcessHttpServer.h"

#include <stdexcept>

InProcessHttpServer::InProcessHttpServer() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot bind a test server to 127.0.0.1");
}

InProcessHttpServer::~InProcessHttpServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
}

void InProcessHttpServer::start() {
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
}

QUrl InProcessHttpServer::url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
}
