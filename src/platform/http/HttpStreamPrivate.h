#pragma once

#include <QByteArray>
#include <atomic>
#include <memory>
#include <mutex>

#include "platform/http/HttpConnectionCache.h"
#include "platform/http/HttpResponseParser.h"
#include "platform/http/HttpStream.h"

class QObject;
class QSslError;
class QThread;

namespace platform {

// The state machine behind HttpStream: connecting (directly, through an HTTP proxy tunnel or
// SOCKS), sending head and body, reading the answer through the parser, and handing the
// connection back to the idle cache. Everything here runs on the stream's I/O thread except
// the members guarded by mutex and the atomics.
class HttpStreamPrivate final : public HttpResponseParserEvents {
public:
    HttpStreamPrivate(HttpStream* owner, const HttpRequestMessage& message, HttpRequestBody body);
    ~HttpStreamPrivate() override;

    bool open();
    void start();
    void closeNow();
    void schedule(QThread* thread);
    void unschedule();
    bool hasBytesAvailable();
    qint64 read(char* buffer, qint64 maxLength);

    HttpStream* q;
    std::weak_ptr<HttpStream> self;
    HttpRequestMessage message;
    HttpRequestBody body;
    HttpSecuritySettings security;
    HttpProxy proxy;
    bool persistent = false;
    qint64 streamId = 0;
    HttpStream::Client client;

    QThread* ioThread = nullptr;
    bool scheduled = false;
    QObject* context = nullptr;

    std::atomic<HttpStream::Status> status{HttpStream::Status::NotOpen};
    std::atomic<qint64> bodyBytesWritten{0};
    std::atomic<bool> reused{false};
    mutable std::mutex mutex;  // guards error and header
    HttpStreamError error;
    HttpResponseHeader header;
    // The proxy's 407 to a tunnel request: only its challenge is kept.
    HttpResponseHeader proxyChallenge;

private:
    bool isHttps() const;
    bool viaHttpProxy() const;
    HttpConnectionKey connectionKey() const;
    void connectNew();
    void wireSocket();
    void configureTls();
    void onConnected();
    void onEncrypted();
    void onSslErrors(const QList<QSslError>& errors);
    void onSocketError();
    void onReadyRead();
    void onDisconnected();
    void onBytesWritten(qint64 count);
    void sendRequest();
    void pumpBody();
    void finishBody();
    void handleTunnelAnswer();
    bool findBytesAvailable();
    bool readIntoPending(qint64 maxLength);
    qint64 pendingSize() const { return pending.size() - pendingOffset; }
    void feedFramingFromPending();
    void headCompleted();
    void afterProgress();
    void completeExchange();
    void finishOnClose();
    void fail(HttpStreamError failure);
    void dropConnection();
    void deliver(HttpStreamEvent event);
    void postFlush();
    void flushPending();

    std::shared_ptr<HttpConnection> connection;
    std::weak_ptr<HttpConnection> returnedConnection;
    HttpResponseParser parser;
    bool tunnelling = false;  // CONNECT sent, answer not yet complete
    QByteArray pending;
    qsizetype pendingOffset = 0;
    bool receivedAny = false;
    bool peerClosed = false;
    bool requestSent = false;

    qint64 headBytes = 0;
    qint64 totalWritten = 0;
    qint64 bodyQueued = 0;
    qint64 bodyLimit = -1;
    bool bodyChunked = false;
    bool bodyDone = false;
    bool dropDeclaredLength = false;
    std::unique_ptr<char[]> bodyBuffer;

    int reentry = 0;
    unsigned pendingEvents = 0;
    bool flushPosted = false;
    bool headSignalled = false;
    bool endDelivered = false;
    bool errorDelivered = false;
};

}  // namespace platform
