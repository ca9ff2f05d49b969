#pragma once

#include <QString>
#include <QTimer>
#include <memory>

#include "platform/http/HttpSecuritySettings.h"

class QTcpSocket;

namespace platform {

// What two streams must have in common to share a connection.
struct HttpConnectionKey {
    QString scheme;
    QString host;
    int port = 0;
    HttpProxy proxy;
    HttpSecuritySettings security;
    qint64 streamId = 0;

    bool operator==(const HttpConnectionKey& other) const;
};

// One open TCP or TLS connection to a server (or through a proxy to it).
struct HttpConnection {
    HttpConnectionKey key;
    std::unique_ptr<QTcpSocket> socket;
    // The stream that last used it, to let that stream close it while it is still idle.
    const void* lastUser = nullptr;
    std::unique_ptr<QTimer> idleTimer;

    ~HttpConnection();
};

// Idle persistent connections of the calling thread. A socket belongs to the thread that made
// it, so each thread keeps its own cache; connections never move between threads.
namespace http_connection_cache {

// Keeps connection for later; it closes itself when the server closes it, sends anything
// unasked, or stays idle for too long.
void put(std::shared_ptr<HttpConnection> connection);
// Takes the most recently returned live connection with an equal key, if any.
std::shared_ptr<HttpConnection> take(const HttpConnectionKey& key);
// Closes connection if it is still idle in the cache and user was its last user.
void closeIfIdle(const std::shared_ptr<HttpConnection>& connection, const void* user);
void closeAll();
int idleCount();

}  // namespace http_connection_cache

}  // namespace platform
