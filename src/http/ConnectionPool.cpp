// The pool of persistent connections: which connection an attempt uses, when a connection
// becomes free again, and when an idle one is closed.
#include "http/ConnectionPool.h"

#include <algorithm>
#include <atomic>

#include "http/HTTPRequest.h"
#include "http/RequestClassState.h"
#include "platform/http/HttpStream.h"

namespace http {

namespace {

std::atomic<quint64> newConnections{0};

}  // namespace

bool ConnectionRecord::matches(const QString& otherHost, const QString& otherScheme,
                               int otherPort) const {
    return host == otherHost && scheme == otherScheme && port == otherPort;
}

std::vector<ConnectionRecordPtr>& sharedConnectionPool() {
    // Never destroyed, like the rest of the class-wide state.
    static auto* pool = new std::vector<ConnectionRecordPtr>();
    return *pool;
}

void removeFromConnectionPool(const ConnectionRecordPtr& record) {
    auto& pool = sharedConnectionPool();
    pool.erase(std::remove(pool.begin(), pool.end(), record), pool.end());
}

std::vector<ConnectionRecord> connectionPoolSnapshot() {
    std::lock_guard lock(RequestClassState::instance().connectionPoolLock);
    std::vector<ConnectionRecord> copy;
    for (const auto& record : sharedConnectionPool()) copy.push_back(*record);
    return copy;
}

void HTTPRequest::countNewConnection() { ++newConnections; }

quint64 HTTPRequest::newConnectionCount() { return newConnections; }

void HTTPRequest::expirePersistentConnections() {
    std::lock_guard lock(RequestClassState::instance().connectionPoolLock);
    auto& pool = sharedConnectionPool();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (auto it = pool.begin(); it != pool.end();) {
        const ConnectionRecordPtr& record = *it;
        if (record->request || !record->isExpired(now)) {
            ++it;
            continue;
        }
        if (record->stream) record->stream->close();
        it = pool.erase(it);
    }
}

qint64 HTTPRequest::connectionID() const {
    return connectionInfo_ ? static_cast<qint64>(connectionInfo_->id) : 0;
}

std::shared_ptr<platform::HttpStream> HTTPRequest::choosePersistentConnection() {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.connectionPoolLock);
    auto& pool = sharedConnectionPool();
    const QString host = url_.host();
    const QString scheme = url_.scheme();
    const int port = url_.port(0);
    const QDateTime now = QDateTime::currentDateTimeUtc();

    if (connectionInfo_) {
        const bool expired = connectionInfo_->isExpired(now);
        if (expired) removeFromConnectionPool(connectionInfo_);
        if (!connectionInfo_->matches(host, scheme, port) || expired || connectionInfo_->request) {
            connectionInfo_.reset();
        }
    }
    if (!connectionInfo_) {
        // The last free match in pool order: the most recently made connection.
        for (const ConnectionRecordPtr& record : pool) {
            if (!record->request && record->matches(host, scheme, port)) connectionInfo_ = record;
        }
    }
    std::shared_ptr<platform::HttpStream> olderStream =
        connectionInfo_ ? connectionInfo_->stream : nullptr;
    if (!connectionInfo_) {
        connectionInfo_ = std::make_shared<ConnectionRecord>();
        connectionInfo_->id = ++state.connectionCounter;
        connectionInfo_->host = host;
        connectionInfo_->port = port;
        connectionInfo_->scheme = scheme;
        pool.push_back(connectionInfo_);
    }
    if (requestID_ == 0) requestID_ = ++state.requestCounter;
    connectionInfo_->request = requestID_;
    connectionInfo_->stream = readStream_;
    readStream_->setAttemptPersistentConnection(true);
    readStream_->setStreamId(connectionID());
    return olderStream;
}

void HTTPRequest::releaseConnection() {
    std::lock_guard lock(RequestClassState::instance().connectionPoolLock);
    if (!connectionInfo_) return;
    connectionInfo_->request.reset();
    connectionInfo_->expires = QDateTime::currentDateTimeUtc().addMSecs(
        static_cast<qint64>(persistentConnectionTimeoutSeconds_ * 1000));
}

void HTTPRequest::discardConnection() {
    std::lock_guard lock(RequestClassState::instance().connectionPoolLock);
    if (!connectionInfo_) return;
    connectionInfo_->request.reset();
    removeFromConnectionPool(connectionInfo_);
    connectionInfo_.reset();
}

}  // namespace http
