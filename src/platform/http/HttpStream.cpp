#include "platform/http/HttpStream.h"

#include <QMetaObject>
#include <QThread>

#include "platform/http/HttpConnectionCache.h"
#include "platform/http/HttpStreamPrivate.h"

namespace platform {

HttpStream::HttpStream(const HttpRequestMessage& message, HttpRequestBody body)
    : d(std::make_unique<HttpStreamPrivate>(this, message, std::move(body))) {}

HttpStream::~HttpStream() = default;

std::shared_ptr<HttpStream> HttpStream::create(const HttpRequestMessage& message) {
    return create(message, HttpRequestBody{});
}

std::shared_ptr<HttpStream> HttpStream::create(const HttpRequestMessage& message,
                                               HttpRequestBody body) {
    std::shared_ptr<HttpStream> stream(new HttpStream(message, std::move(body)));
    stream->d->self = stream;
    return stream;
}

void HttpStream::setSecuritySettings(const HttpSecuritySettings& settings) {
    d->security = settings;
}
void HttpStream::setProxy(const HttpProxy& proxy) { d->proxy = proxy; }
void HttpStream::setAttemptPersistentConnection(bool attempt) { d->persistent = attempt; }
void HttpStream::setStreamId(qint64 id) { d->streamId = id; }
HttpSecuritySettings HttpStream::securitySettings() const { return d->security; }
HttpProxy HttpStream::proxy() const { return d->proxy; }
bool HttpStream::attemptsPersistentConnection() const { return d->persistent; }
qint64 HttpStream::streamId() const { return d->streamId; }

void HttpStream::setClient(Client client) { d->client = std::move(client); }

void HttpStream::schedule(QThread* thread) { d->schedule(thread); }
void HttpStream::unschedule() { d->unschedule(); }
bool HttpStream::isScheduled() const { return d->scheduled; }

bool HttpStream::open() { return d->open(); }

void HttpStream::close() {
    if (d->context == nullptr || QThread::currentThread() == d->context->thread()) {
        d->closeNow();
        return;
    }
    d->status = Status::Closed;
    QMetaObject::invokeMethod(
        d->context, [stream = shared_from_this()] { stream->d->closeNow(); }, Qt::QueuedConnection);
}

HttpStream::Status HttpStream::status() const { return d->status; }
bool HttpStream::hasBytesAvailable() { return d->hasBytesAvailable(); }
qint64 HttpStream::read(char* buffer, qint64 maxLength) { return d->read(buffer, maxLength); }

HttpStreamError HttpStream::error() const {
    std::lock_guard lock(d->mutex);
    return d->error;
}

HttpResponseHeader HttpStream::responseHeader() const {
    std::lock_guard lock(d->mutex);
    return d->header;
}

HttpResponseHeader HttpStream::proxyChallenge() const {
    std::lock_guard lock(d->mutex);
    return d->proxyChallenge;
}

qint64 HttpStream::requestBodyBytesWritten() const { return d->bodyBytesWritten; }
bool HttpStream::isReusedConnection() const { return d->reused; }

void HttpStream::closeIdleConnections() { http_connection_cache::closeAll(); }
int HttpStream::idleConnectionCount() { return http_connection_cache::idleCount(); }

}  // namespace platform
