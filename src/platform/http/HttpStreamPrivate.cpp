#include "platform/http/HttpStreamPrivate.h"

#include <QLoggingCategory>
#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QThread>
#include <algorithm>
#include <cstring>

#include "platform/http/HttpRequestHead.h"
#include "platform/http/HttpResponseHeadReading.h"
#include "platform/http/HttpSocketErrors.h"

namespace platform {

namespace {

Q_LOGGING_CATEGORY(lcStream, "lumaro.http.stream", QtWarningMsg)

// Body pieces read from the source at a time, and how much may wait in the socket's write
// buffer: enough to keep the link busy, small enough that a huge upload stays small in memory.
constexpr qint64 kBodyPiece = 64 * 1024;
constexpr qint64 kWriteHighWater = 512 * 1024;
// How much the socket may buffer of an answer nobody reads (an unscheduled stream).
constexpr qint64 kSocketReadBuffer = 4 * 1024 * 1024;
constexpr qint64 kHeadRead = 64 * 1024;
constexpr qint64 kFramingRead = 4 * 1024;

HttpStreamError networkError(int code, const QString& text) {
    return {HttpStreamErrorDomain::Network, code, text};
}

}  // namespace

HttpStreamPrivate::HttpStreamPrivate(HttpStream* owner, const HttpRequestMessage& msg,
                                     HttpRequestBody requestBody)
    : q(owner), message(msg), body(std::move(requestBody)) {}

HttpStreamPrivate::~HttpStreamPrivate() {
    if (connection) {
        QTcpSocket* socket = connection->socket.release();
        if (context != nullptr) socket->disconnect(context);
        if (QThread::currentThread() == socket->thread()) socket->abort();
        socket->deleteLater();
    }
    if (context != nullptr) {
        if (QThread::currentThread() == context->thread()) {
            delete context;
        } else {
            context->deleteLater();
        }
    }
}

bool HttpStreamPrivate::isHttps() const {
    return message.url().scheme().compare("https", Qt::CaseInsensitive) == 0;
}

bool HttpStreamPrivate::viaHttpProxy() const {
    return !proxy.isNull() &&
           (proxy.type == HttpProxyType::Http || proxy.type == HttpProxyType::Https);
}

HttpConnectionKey HttpStreamPrivate::connectionKey() const {
    HttpConnectionKey key;
    key.scheme = message.url().scheme().toLower();
    key.host = message.url().host().toLower();
    key.port = effectivePort(message.url());
    key.proxy = proxy.isNull() ? HttpProxy{} : proxy;
    key.security = isHttps() ? security : HttpSecuritySettings{};
    key.streamId = streamId;
    return key;
}

bool HttpStreamPrivate::open() {
    if (status != HttpStream::Status::NotOpen) return false;
    if (body.length() < 0 && message.version() == HttpVersion::Http10 &&
        message.headerFieldValue("Content-Length").isNull()) {
        // HTTP/1.0 has no way to end a request body of unknown length.
        return false;
    }
    if (ioThread == nullptr) ioThread = QThread::currentThread();
    status = HttpStream::Status::Opening;
    context = new QObject;
    if (ioThread != QThread::currentThread()) {
        context->moveToThread(ioThread);
        QMetaObject::invokeMethod(
            context,
            [weak = self] {
                if (auto stream = weak.lock()) stream->d->start();
            },
            Qt::QueuedConnection);
    } else {
        ++reentry;
        start();
        --reentry;
    }
    return true;
}

void HttpStreamPrivate::start() {
    if (status != HttpStream::Status::Opening) return;
    parser = HttpResponseParser{};
    parser.setRequestWasHead(message.method() == QLatin1String("HEAD"));
    const QString declared = message.headerFieldValue("Content-Length");
    bool ok = false;
    const qint64 declaredLength = declared.trimmed().toLongLong(&ok);
    bodyLimit = ok && declaredLength >= 0 ? declaredLength : body.length();
    if (body.isNone()) {
        // A declared length with nothing to send would leave the server waiting for bytes
        // that never come (a HEAD request given its main request's fields, say).
        dropDeclaredLength = bodyLimit > 0;
        bodyLimit = 0;
    }
    // A body of unknown length goes chunked, unless the caller frames it itself.
    bodyChunked = bodyLimit < 0 && message.headerFieldValue("Transfer-Encoding").isNull();

    if (persistent) connection = http_connection_cache::take(connectionKey());
    if (connection) {
        reused = true;
        connection->lastUser = this;
        wireSocket();
        sendRequest();
        return;
    }
    connectNew();
}

void HttpStreamPrivate::connectNew() {
    connection = std::make_shared<HttpConnection>();
    connection->key = connectionKey();
    connection->lastUser = this;
    const bool https = isHttps();
    std::unique_ptr<QTcpSocket> socket;
    if (https) {
        socket = std::make_unique<QSslSocket>();
    } else {
        socket = std::make_unique<QTcpSocket>();
    }
    socket->setReadBufferSize(kSocketReadBuffer);
    if (!proxy.isNull() && proxy.type == HttpProxyType::Socks) {
        socket->setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, proxy.host, proxy.port));
    } else {
        socket->setProxy(QNetworkProxy::NoProxy);
    }
    connection->socket = std::move(socket);
    wireSocket();
    if (https) configureTls();

    QTcpSocket* s = connection->socket.get();
    const QString host = message.url().host();
    const quint16 port = static_cast<quint16>(effectivePort(message.url()));
    if (viaHttpProxy()) {
        s->connectToHost(proxy.host, proxy.port);
    } else if (https) {
        static_cast<QSslSocket*>(s)->connectToHostEncrypted(host, port);
    } else {
        s->connectToHost(host, port);
    }
}

void HttpStreamPrivate::configureTls() {
    auto* socket = static_cast<QSslSocket*>(connection->socket.get());
    QSslConfiguration config = socket->sslConfiguration();
    if (!security.validatesCertificateChain) config.setPeerVerifyMode(QSslSocket::VerifyNone);
    if (!security.extraCaCertificates.isEmpty()) {
        config.addCaCertificates(security.extraCaCertificates);
    }
    if (security.identity) {
        QList<QSslCertificate> chain{security.identity->certificate};
        chain += security.certificates;
        config.setLocalCertificateChain(chain);
        config.setPrivateKey(security.identity->privateKey);
    }
    socket->setSslConfiguration(config);
    socket->setPeerVerifyName(message.url().host());
}

void HttpStreamPrivate::wireSocket() {
    QTcpSocket* socket = connection->socket.get();
    const std::weak_ptr<HttpStream> weak = self;
    auto on = [weak](auto member) {
        return [weak, member](auto&&... args) {
            if (auto stream = weak.lock()) (stream->d.get()->*member)(args...);
        };
    };
    QObject::connect(socket, &QTcpSocket::connected, context, on(&HttpStreamPrivate::onConnected));
    QObject::connect(socket, &QTcpSocket::readyRead, context, on(&HttpStreamPrivate::onReadyRead));
    QObject::connect(socket, &QTcpSocket::disconnected, context,
                     on(&HttpStreamPrivate::onDisconnected));
    QObject::connect(socket, &QTcpSocket::bytesWritten, context, [weak](qint64 count) {
        if (auto stream = weak.lock()) stream->d->onBytesWritten(count);
    });
    QObject::connect(socket, &QAbstractSocket::errorOccurred, context,
                     [weak](QAbstractSocket::SocketError) {
                         if (auto stream = weak.lock()) stream->d->onSocketError();
                     });
    if (auto* ssl = qobject_cast<QSslSocket*>(socket)) {
        QObject::connect(ssl, &QSslSocket::encrypted, context, on(&HttpStreamPrivate::onEncrypted));
        QObject::connect(ssl, &QSslSocket::sslErrors, context,
                         [weak](const QList<QSslError>& errors) {
                             if (auto stream = weak.lock()) stream->d->onSslErrors(errors);
                         });
    }
}

void HttpStreamPrivate::onConnected() {
    // Requests are written whole: waiting to coalesce them only delays small exchanges.
    connection->socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (viaHttpProxy() && isHttps()) {
        tunnelling = true;
        parser = HttpResponseParser{};
        parser.setRequestWasConnect(true);
        connection->socket->write(serializeConnectRequest(message));
        return;
    }
    if (!isHttps()) sendRequest();
}

void HttpStreamPrivate::onEncrypted() { sendRequest(); }

void HttpStreamPrivate::onSslErrors(const QList<QSslError>& errors) {
    auto* socket = static_cast<QSslSocket*>(connection->socket.get());
    const QList<QSslError> allowed = allowedSslErrors(errors, security);
    if (allowed.size() == errors.size()) {
        socket->ignoreSslErrors(errors);
        return;
    }
    QList<QSslError> refused;
    for (const QSslError& e : errors) {
        if (!allowed.contains(e)) refused.append(e);
    }
    fail(securityErrorFor(refused));
}

void HttpStreamPrivate::onSocketError() {
    if (!connection) return;
    QTcpSocket* socket = connection->socket.get();
    const QAbstractSocket::SocketError kind = socket->error();
    auto* ssl = qobject_cast<QSslSocket*>(socket);
    const bool handshaking =
        ssl != nullptr && ssl->mode() == QSslSocket::SslClientMode && !ssl->isEncrypted();
    if (kind == QAbstractSocket::RemoteHostClosedError) {
        if (handshaking) {
            fail({HttpStreamErrorDomain::Security, security_error::kClosedAbort,
                  QStringLiteral("The server closed the connection during the TLS handshake")});
        } else if (tunnelling) {
            fail(networkError(network_error::kProxyConnectionFailed,
                              QStringLiteral("The proxy closed the connection")));
        }
        // Otherwise the end of the connection is judged in onDisconnected.
        return;
    }
    if (kind == QAbstractSocket::SslHandshakeFailedError && ssl != nullptr &&
        !ssl->sslHandshakeErrors().isEmpty()) {
        const QList<QSslError> allowed = allowedSslErrors(ssl->sslHandshakeErrors(), security);
        QList<QSslError> refused;
        for (const QSslError& e : ssl->sslHandshakeErrors()) {
            if (!allowed.contains(e)) refused.append(e);
        }
        if (!refused.isEmpty()) {
            fail(securityErrorFor(refused));
            return;
        }
    }
    if (reused && !receivedAny) {
        fail(networkError(network_error::kNetworkConnectionLost, socket->errorString()));
        return;
    }
    const bool connectingToProxy =
        !proxy.isNull() && socket->state() != QAbstractSocket::ConnectedState && !requestSent;
    fail(socketErrorFor(kind, socket->errorString(), connectingToProxy));
}

void HttpStreamPrivate::sendRequest() {
    if (!connection || requestSent) return;
    requestSent = true;
    HttpRequestHeadOptions options;
    options.target =
        viaHttpProxy() && !isHttps() ? HttpRequestTarget::Absolute : HttpRequestTarget::Origin;
    options.persistent = persistent;
    options.bodyLength = bodyChunked ? -1 : std::max<qint64>(bodyLimit, 0);
    options.dropProxyAuthorization = viaHttpProxy() && isHttps();
    options.dropContentLength = dropDeclaredLength;
    if (bodyLimit < 0 && !bodyChunked) options.bodyLength = 0;
    const QByteArray head = serializeRequestHead(message, options);
    headBytes = head.size();
    connection->socket->write(head);
    if (bodyLimit == 0) {
        bodyDone = true;
    } else {
        bodyBuffer = std::make_unique<char[]>(kBodyPiece);
        if (QIODevice* device = body.device(); device != nullptr && device->isSequential()) {
            const std::weak_ptr<HttpStream> weak = self;
            QObject::connect(device, &QIODevice::readyRead, context, [weak] {
                if (auto stream = weak.lock()) stream->d->pumpBody();
            });
        }
        pumpBody();
    }
    status = HttpStream::Status::Open;
}

void HttpStreamPrivate::pumpBody() {
    if (!connection || bodyDone || !requestSent || status == HttpStream::Status::Error) return;
    // Reading the body may end the stream's last owner's interest in it.
    const std::shared_ptr<HttpStream> keepAlive = self.lock();
    QTcpSocket* socket = connection->socket.get();
    // An unscheduled stream sends no more of its body until it is scheduled again.
    while (scheduled && socket->bytesToWrite() < kWriteHighWater) {
        qint64 want = kBodyPiece;
        if (bodyLimit >= 0) want = std::min(want, bodyLimit - bodyQueued);
        if (want == 0) {
            finishBody();
            return;
        }
        const qint64 count = body.read(bodyBuffer.get(), want);
        if (count == -2) return;  // a sequential source will say when it has more
        if (!connection || status == HttpStream::Status::Closed) return;
        if (count < 0) {
            fail(networkError(network_error::kRequestBodyUnreadable,
                              QStringLiteral("The request body could not be read")));
            return;
        }
        if (count == 0) {
            if (bodyLimit >= 0 && bodyQueued < bodyLimit) {
                fail(networkError(network_error::kRequestBodyUnreadable,
                                  QStringLiteral("The request body ended before its length")));
                return;
            }
            finishBody();
            return;
        }
        if (bodyChunked) {
            socket->write(QByteArray::number(count, 16) + "\r\n");
            socket->write(bodyBuffer.get(), count);
            socket->write("\r\n", 2);
        } else {
            socket->write(bodyBuffer.get(), count);
        }
        bodyQueued += count;
    }
}

void HttpStreamPrivate::finishBody() {
    if (bodyChunked) connection->socket->write("0\r\n\r\n", 5);
    bodyDone = true;
}

void HttpStreamPrivate::onBytesWritten(qint64 count) {
    totalWritten += count;
    bodyBytesWritten = std::clamp<qint64>(totalWritten - headBytes, 0, bodyQueued);
    pumpBody();
}

bool HttpStreamPrivate::readIntoPending(qint64 maxLength) {
    QTcpSocket* socket = connection ? connection->socket.get() : nullptr;
    if (socket == nullptr) return false;
    const qint64 available = std::min(socket->bytesAvailable(), maxLength);
    if (available <= 0) return false;
    if (pendingOffset == pending.size()) {
        pending.clear();
        pendingOffset = 0;
    } else if (pendingOffset > 0) {
        pending.remove(0, pendingOffset);
        pendingOffset = 0;
    }
    const qsizetype old = pending.size();
    pending.resize(old + available);
    const qint64 got = socket->read(pending.data() + old, available);
    pending.resize(old + std::max<qint64>(got, 0));
    if (got > 0) receivedAny = true;
    return got > 0;
}

void HttpStreamPrivate::feedFramingFromPending() {
    while (pendingSize() > 0 && !parser.hasError() && !parser.isComplete() &&
           (!parser.isHeadComplete() || parser.rawBodyBytesExpected() == 0)) {
        const char* data = pending.constData() + pendingOffset;
        const std::size_t size = static_cast<std::size_t>(pendingSize());
        const void* newline = std::memchr(data, '\n', size);
        const std::size_t take =
            newline != nullptr ? static_cast<const char*>(newline) - data + 1 : size;
        const std::size_t used = parser.feed(data, take, *this);
        pendingOffset += static_cast<qsizetype>(used);
        if (used < take) break;
        // The head just completed: body bytes are taken raw by read().
        if (tunnelling && parser.isHeadComplete()) break;
    }
    if (parser.hasError()) {
        fail(networkError(network_error::kCannotParseResponse,
                          QStringLiteral("Malformed answer: %1")
                              .arg(QString::fromStdString(parser.errorReason()))));
    }
}

void HttpStreamPrivate::onReadyRead() {
    if (!connection || status == HttpStream::Status::Error ||
        status == HttpStream::Status::Closed) {
        return;
    }
    if (tunnelling || !parser.isHeadComplete()) {
        while (readIntoPending(kHeadRead)) {
            feedFramingFromPending();
            if (status == HttpStream::Status::Error) return;
            if (parser.isHeadComplete()) break;
        }
        if (tunnelling) {
            if (parser.isHeadComplete()) handleTunnelAnswer();
            return;
        }
        if (!parser.isHeadComplete()) return;
    }
    if (!headSignalled) headCompleted();
    afterProgress();
    if (!endDelivered && status != HttpStream::Status::Error && hasBytesAvailable()) {
        deliver(HttpStreamEvent::BytesAvailable);
    }
}

void HttpStreamPrivate::handleTunnelAnswer() {
    tunnelling = false;
    const int code = parser.head().statusCode;
    if (code >= 200 && code < 300) {
        if (pendingSize() > 0) {
            fail(networkError(network_error::kProxyConnectionFailed,
                              QStringLiteral("The proxy sent data before the tunnel opened")));
            return;
        }
        parser = HttpResponseParser{};
        parser.setRequestWasHead(message.method() == QLatin1String("HEAD"));
        auto* ssl = static_cast<QSslSocket*>(connection->socket.get());
        ssl->startClientEncryption();
        return;
    }
    // The proxy refused the tunnel. Whatever it answered comes from the proxy, not from the
    // https site, and no TLS handshake vouches for it: none of it (status, cookies, Location,
    // body) may pass for the site's answer. A 407 asks for proxy credentials and says so.
    const std::string& statusBytes = parser.head().statusLine;
    const QString statusLine =
        QString::fromLatin1(statusBytes.data(), static_cast<qsizetype>(statusBytes.size()));
    if (code == 407) {
        {
            std::lock_guard lock(mutex);
            const HttpResponseHeader refusal = responseHeaderOf(parser);
            proxyChallenge.setStatus(407, refusal.statusLine(), refusal.version());
            for (const auto& [name, value] : refusal.rawHeaderFields()) {
                if (name.compare(QLatin1String("Proxy-Authenticate"), Qt::CaseInsensitive) == 0)
                    proxyChallenge.addField(name, value);
            }
            proxyChallenge.setComplete(true);
        }
        fail(networkError(network_error::kProxyAuthenticationRequired,
                          QStringLiteral("The proxy asks for credentials: %1").arg(statusLine)));
        return;
    }
    fail(networkError(network_error::kProxyConnectionFailed,
                      QStringLiteral("The proxy refused the tunnel: %1").arg(statusLine)));
}

void HttpStreamPrivate::headCompleted() {
    headSignalled = true;
    {
        std::lock_guard lock(mutex);
        header = responseHeaderOf(parser);
    }
    // The head is news even before any body byte: the client may act on the status.
    if (!parser.isComplete()) deliver(HttpStreamEvent::BytesAvailable);
}

bool HttpStreamPrivate::hasBytesAvailable() {
    // Whatever this finds out (the end, an error) reaches the client from the event loop,
    // never from inside its own call.
    ++reentry;
    const bool available = findBytesAvailable();
    --reentry;
    return available;
}

bool HttpStreamPrivate::findBytesAvailable() {
    if (!connection || !parser.isHeadComplete() || tunnelling || parser.isComplete() ||
        status == HttpStream::Status::Error) {
        return false;
    }
    // Chunk framing in front of the next body bytes is consumed here, so that "available"
    // means body bytes and not framing.
    while (parser.rawBodyBytesExpected() == 0 && !parser.isComplete() && !parser.hasError()) {
        if (pendingSize() == 0 && !readIntoPending(kFramingRead)) break;
        feedFramingFromPending();
    }
    if (status == HttpStream::Status::Error) return false;
    if (parser.isComplete()) {
        afterProgress();
        return false;
    }
    const bool available = parser.rawBodyBytesExpected() > 0 &&
                           (pendingSize() > 0 || connection->socket->bytesAvailable() > 0);
    if (!available && peerClosed) finishOnClose();
    return available;
}

qint64 HttpStreamPrivate::read(char* buffer, qint64 maxLength) {
    if (status == HttpStream::Status::Error) return -1;
    if (maxLength <= 0 || !connection || tunnelling || !parser.isHeadComplete()) return 0;
    ++reentry;
    qint64 copied = 0;
    QTcpSocket* socket = connection->socket.get();
    while (copied < maxLength && parser.state() == HttpResponseParser::State::Body) {
        feedFramingFromPending();
        if (status == HttpStream::Status::Error) break;
        const std::uint64_t expected = parser.rawBodyBytesExpected();
        if (expected == 0) {
            if (!readIntoPending(kFramingRead)) break;
            continue;
        }
        const qint64 want =
            static_cast<qint64>(std::min<std::uint64_t>(expected, maxLength - copied));
        qint64 got = 0;
        if (pendingSize() > 0) {
            got = std::min<qint64>(want, pendingSize());
            std::memcpy(buffer + copied, pending.constData() + pendingOffset, got);
            pendingOffset += got;
        } else {
            got = socket->read(buffer + copied, want);
            if (got <= 0) break;
        }
        parser.consumeRawBody(static_cast<std::uint64_t>(got), *this);
        copied += got;
    }
    afterProgress();
    if (!parser.isComplete() && peerClosed && pendingSize() == 0 && connection &&
        connection->socket->bytesAvailable() == 0) {
        finishOnClose();
    }
    --reentry;
    if (copied == 0 && status == HttpStream::Status::Error) return -1;
    return copied;
}

void HttpStreamPrivate::afterProgress() {
    if (parser.isComplete() && !endDelivered && status != HttpStream::Status::Error) {
        completeExchange();
    }
}

void HttpStreamPrivate::completeExchange() {
    endDelivered = true;
    status = HttpStream::Status::AtEnd;
    QTcpSocket* socket = connection ? connection->socket.get() : nullptr;
    const bool reusable = socket != nullptr && persistent && parser.keepsConnectionAlive() &&
                          bodyDone && !peerClosed && pendingSize() == 0 &&
                          socket->bytesAvailable() == 0 &&
                          socket->state() == QAbstractSocket::ConnectedState;
    if (reusable) {
        socket->disconnect(context);
        returnedConnection = connection;
        http_connection_cache::put(std::move(connection));
        connection.reset();
    } else {
        dropConnection();
    }
    deliver(HttpStreamEvent::EndEncountered);
}

void HttpStreamPrivate::onDisconnected() {
    peerClosed = true;
    if (status == HttpStream::Status::Error || endDelivered) return;
    if (!requestSent || tunnelling) {
        if (status != HttpStream::Status::Error) {
            fail(networkError(viaHttpProxy() ? network_error::kProxyConnectionFailed
                                             : network_error::kBadServerResponse,
                              QStringLiteral("The connection closed before the request was sent")));
        }
        return;
    }
    if (!parser.isHeadComplete()) {
        finishOnClose();
        return;
    }
    if (pendingSize() == 0 && connection->socket->bytesAvailable() == 0) {
        finishOnClose();
    } else {
        deliver(HttpStreamEvent::BytesAvailable);
    }
}

void HttpStreamPrivate::finishOnClose() {
    if (endDelivered || status == HttpStream::Status::Error) return;
    parser.finish(*this);
    if (parser.isComplete()) {
        if (!headSignalled) headCompleted();
        completeExchange();
        return;
    }
    if (reused && !receivedAny) {
        fail(networkError(network_error::kNetworkConnectionLost,
                          QStringLiteral("The network connection was lost")));
    } else if (!receivedAny) {
        fail(networkError(network_error::kBadServerResponse,
                          QStringLiteral("The server closed the connection without answering")));
    } else {
        fail(networkError(network_error::kBadServerResponse,
                          QStringLiteral("The server closed the connection before the answer "
                                         "was complete")));
    }
}

void HttpStreamPrivate::fail(HttpStreamError failure) {
    if (status == HttpStream::Status::Error || status == HttpStream::Status::Closed) return;
    qCDebug(lcStream) << "stream failed:" << failure.code << failure.description;
    {
        std::lock_guard lock(mutex);
        error = std::move(failure);
    }
    status = HttpStream::Status::Error;
    dropConnection();
    deliver(HttpStreamEvent::ErrorOccurred);
}

void HttpStreamPrivate::dropConnection() {
    if (!connection) return;
    QTcpSocket* socket = connection->socket.release();
    connection.reset();
    socket->disconnect(context);
    socket->abort();
    // Its signals may be on the stack right now.
    socket->deleteLater();
}

void HttpStreamPrivate::closeNow() {
    status = HttpStream::Status::Closed;
    dropConnection();
    http_connection_cache::closeIfIdle(returnedConnection.lock(), this);
    returnedConnection.reset();
}

void HttpStreamPrivate::deliver(HttpStreamEvent event) {
    if (status == HttpStream::Status::Closed) return;
    if (event == HttpStreamEvent::ErrorOccurred) {
        if (errorDelivered) return;
    }
    if (!scheduled || reentry > 0 || QThread::currentThread() != ioThread) {
        pendingEvents |= static_cast<unsigned>(event);
        if (scheduled) postFlush();
        return;
    }
    if (event == HttpStreamEvent::ErrorOccurred) errorDelivered = true;
    if (!client) return;
    const std::shared_ptr<HttpStream> keepAlive = self.lock();
    const HttpStream::Client callback = client;
    const std::uint64_t seenBefore = parser.bodyBytesSeen();
    callback(event);
    // A client that took some bytes but left more gets told again, as data that arrived
    // while it was reading brings no new signal from the socket.
    if (event == HttpStreamEvent::BytesAvailable && parser.bodyBytesSeen() != seenBefore &&
        status == HttpStream::Status::Open && hasBytesAvailable()) {
        pendingEvents |= static_cast<unsigned>(HttpStreamEvent::BytesAvailable);
        postFlush();
    }
}

void HttpStreamPrivate::postFlush() {
    if (flushPosted || context == nullptr) return;
    flushPosted = true;
    QMetaObject::invokeMethod(
        context,
        [weak = self] {
            if (auto stream = weak.lock()) stream->d->flushPending();
        },
        Qt::QueuedConnection);
}

void HttpStreamPrivate::flushPending() {
    flushPosted = false;
    if (!scheduled) return;
    const unsigned events = pendingEvents;
    pendingEvents = 0;
    const auto has = [events](HttpStreamEvent e) { return events & static_cast<unsigned>(e); };
    if (has(HttpStreamEvent::BytesAvailable) && !endDelivered &&
        status != HttpStream::Status::Error && parser.isHeadComplete()) {
        deliver(HttpStreamEvent::BytesAvailable);
    }
    if (has(HttpStreamEvent::EndEncountered)) deliver(HttpStreamEvent::EndEncountered);
    if (has(HttpStreamEvent::ErrorOccurred)) deliver(HttpStreamEvent::ErrorOccurred);
}

void HttpStreamPrivate::schedule(QThread* thread) {
    if (thread == nullptr) thread = QThread::currentThread();
    if (ioThread != nullptr && ioThread != thread && status != HttpStream::Status::NotOpen) {
        qCWarning(lcStream) << "a stream cannot move to another thread once opened";
        return;
    }
    ioThread = thread;
    scheduled = true;
    if (pendingEvents != 0) postFlush();
    // The body goes on from the event loop: schedule() may be called from inside a read of
    // the body itself.
    if (requestSent && !bodyDone && context != nullptr) {
        QMetaObject::invokeMethod(
            context,
            [weak = self] {
                if (auto stream = weak.lock()) stream->d->pumpBody();
            },
            Qt::QueuedConnection);
    }
}

void HttpStreamPrivate::unschedule() { scheduled = false; }

}  // namespace platform
