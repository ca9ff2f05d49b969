#include "platform/http/HttpConnectionCache.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <vector>

namespace platform {

namespace {

// An idle connection is dropped after this long; servers close theirs after a similar time
// (nginx 75 s, Apache 5 s), and an engine that wants a shorter life closes it itself.
constexpr int kIdleLifetimeMs = 60'000;

struct ThreadCache {
    std::vector<std::shared_ptr<HttpConnection>> idle;
    bool hookedThreadEnd = false;

    ~ThreadCache() {
        // At process exit the event machinery may be gone: let the OS close the sockets
        // rather than tearing down Qt objects without it.
        for (auto& connection : idle) (void)connection->socket.release();
    }
};

thread_local ThreadCache cache;

void remove(const HttpConnection* connection) {
    auto& idle = cache.idle;
    auto it = std::find_if(idle.begin(), idle.end(),
                           [&](const auto& entry) { return entry.get() == connection; });
    if (it == idle.end()) return;
    std::shared_ptr<HttpConnection> doomed = std::move(*it);
    idle.erase(it);
    doomed->socket->disconnect();
    doomed->socket->abort();
    // Signals of this very socket may be on the stack: delete it from the event loop.
    doomed->socket.release()->deleteLater();
}

}  // namespace

bool HttpConnectionKey::operator==(const HttpConnectionKey& other) const {
    return scheme == other.scheme && host == other.host && port == other.port &&
           proxy == other.proxy && security == other.security && streamId == other.streamId;
}

HttpConnection::~HttpConnection() = default;

namespace http_connection_cache {

void put(std::shared_ptr<HttpConnection> connection) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!cache.hookedThreadEnd && app != nullptr && QThread::currentThread() != app->thread()) {
        cache.hookedThreadEnd = true;
        QObject::connect(QThread::currentThread(), &QThread::finished, [] { closeAll(); });
    }
    QTcpSocket* socket = connection->socket.get();
    const HttpConnection* raw = connection.get();
    socket->disconnect();
    auto drop = [raw] { remove(raw); };
    QObject::connect(socket, &QTcpSocket::readyRead, socket, drop);
    QObject::connect(socket, &QTcpSocket::disconnected, socket, drop);
    QObject::connect(socket, &QAbstractSocket::errorOccurred, socket, drop);
    connection->idleTimer = std::make_unique<QTimer>();
    connection->idleTimer->setSingleShot(true);
    QObject::connect(connection->idleTimer.get(), &QTimer::timeout, drop);
    connection->idleTimer->start(kIdleLifetimeMs);
    cache.idle.push_back(std::move(connection));
}

std::shared_ptr<HttpConnection> take(const HttpConnectionKey& key) {
    auto& idle = cache.idle;
    for (auto it = idle.rbegin(); it != idle.rend(); ++it) {
        if (!((*it)->key == key)) continue;
        HttpConnection* candidate = it->get();
        QTcpSocket* socket = candidate->socket.get();
        if (socket->state() != QAbstractSocket::ConnectedState || socket->bytesAvailable() > 0) {
            remove(candidate);
            return take(key);
        }
        std::shared_ptr<HttpConnection> taken = std::move(*it);
        idle.erase(std::next(it).base());
        taken->idleTimer.reset();
        taken->socket->disconnect();
        return taken;
    }
    return nullptr;
}

void closeIfIdle(const std::shared_ptr<HttpConnection>& connection, const void* user) {
    if (connection && connection->lastUser == user) remove(connection.get());
}

void closeAll() {
    while (!cache.idle.empty()) remove(cache.idle.back().get());
}

int idleCount() { return static_cast<int>(cache.idle.size()); }

}  // namespace http_connection_cache

}  // namespace platform
