#pragma once

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class HttpStream;
}

namespace http {

// One persistent connection as the engine tracks it. Streams opened for the same record
// carry its id, and only streams with equal ids may share a connection, so a record stands
// for exactly one connection at a time. Guarded by the class-wide connection pool lock.
struct ConnectionRecord {
    quint64 id = 0;
    QString host;
    // The URL's explicit port, 0 when it has none.
    int port = 0;
    QString scheme;
    // The requestID of the request using the connection; none while it is free.
    std::optional<quint64> request;
    // The last read stream opened on the connection; closing it closes an idle connection.
    std::shared_ptr<platform::HttpStream> stream;
    // When a free connection is closed; none counts as already expired.
    std::optional<QDateTime> expires;

    bool isExpired(const QDateTime& now) const { return !expires || *expires <= now; }
    bool matches(const QString& host, const QString& scheme, int port) const;
};

using ConnectionRecordPtr = std::shared_ptr<ConnectionRecord>;

// The pool of persistent connections every request shares, in the order records were made.
// Callers hold the connection pool lock (RequestClassState::connectionPoolLock).
std::vector<ConnectionRecordPtr>& sharedConnectionPool();

// Removes record from the pool, if it is there.
void removeFromConnectionPool(const ConnectionRecordPtr& record);

// A copy of the pool as it is now, taken under the lock; for diagnostics and tests.
std::vector<ConnectionRecord> connectionPoolSnapshot();

}  // namespace http
