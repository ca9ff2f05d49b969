#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

#include "platform/http/HttpMessage.h"
#include "platform/http/HttpRequestBody.h"
#include "platform/http/HttpSecuritySettings.h"
#include "platform/http/HttpStreamError.h"

class QThread;

namespace platform {

class HttpStreamPrivate;

// The three things a stream tells its client; the values are the engine's event numbers.
enum class HttpStreamEvent : int {
    BytesAvailable = 2,   // answer head complete and/or body bytes ready to read
    ErrorOccurred = 8,    // the stream failed; error() says why
    EndEncountered = 16,  // the whole answer was read
};

// One HTTP exchange over TCP or TLS: sends a request message and its body, then reads the
// answer. The stream follows no redirect and answers no authentication challenge: a 3xx,
// 401 or 407 is just an answer. An https stream through an HTTP proxy is different: when the
// proxy refuses the tunnel, its answer is not the site's, and the stream fails instead (a
// 407 with kProxyAuthenticationRequired, anything else with kProxyConnectionFailed). The status
// line and header fields are complete before the first body byte is readable; read() gives the body
// with its transfer framing (length, chunks, close) removed and its content coding untouched.
//
// Threads: a stream does its I/O on the thread where it is scheduled (or, if never
// scheduled, where it is opened) and delivers its events there, from that thread's event
// loop. Call its operations on that thread. close(), error(), responseHeader(),
// requestBodyBytesWritten() and status() may be called from any thread.
//
// Persistent connections: when a stream asks for persistence, a connection left idle by an
// earlier stream is reused only if that stream also asked for persistence and had the same
// stream id, the same scheme, host, port, proxy and TLS settings, and lived on the same
// thread. At the end of a reusable answer the connection goes back to the idle cache.
class HttpStream : public std::enable_shared_from_this<HttpStream> {
public:
    using Client = std::function<void(HttpStreamEvent event)>;

    enum class Status { NotOpen, Opening, Open, AtEnd, Closed, Error };

    // A stream for a message without a body.
    static std::shared_ptr<HttpStream> create(const HttpRequestMessage& message);
    // A stream that sends body after the head ("Content-Length" added from the body's length
    // unless the message has one; a body of unknown length goes chunked over HTTP/1.1).
    static std::shared_ptr<HttpStream> create(const HttpRequestMessage& message,
                                              HttpRequestBody body);
    ~HttpStream();
    HttpStream(const HttpStream&) = delete;
    HttpStream& operator=(const HttpStream&) = delete;

    // Properties; they take effect at open().
    void setSecuritySettings(const HttpSecuritySettings& settings);
    void setProxy(const HttpProxy& proxy);
    void setAttemptPersistentConnection(bool attempt);
    void setStreamId(qint64 id);
    HttpSecuritySettings securitySettings() const;
    HttpProxy proxy() const;
    bool attemptsPersistentConnection() const;
    qint64 streamId() const;

    // The one client of the three events; an empty function removes it. Events that come
    // while there is no client are dropped.
    void setClient(Client client);

    // Starts delivering events on the event loop of thread (the current thread when null).
    // While unscheduled, no event is delivered, no more of the request body is sent, and the
    // stream stops reading from the network once its buffers are full; scheduling again
    // delivers what is pending and goes on with the body.
    void schedule(QThread* thread = nullptr);
    void unschedule();
    bool isScheduled() const;

    // Starts connecting and sending. Answers false when the stream cannot start (already
    // opened, or its URL cannot be served); failures after the start come as ErrorOccurred.
    bool open();
    // Stops everything. A connection in the middle of an exchange is closed; a connection the
    // stream already returned to the idle cache is closed too unless another stream took it.
    void close();

    Status status() const;
    // True when read() would give at least one byte now.
    bool hasBytesAvailable();
    // Copies up to maxLength body bytes into buffer. Answers the count, 0 when nothing is
    // ready now or the body has ended, -1 when the stream has failed. Never blocks.
    qint64 read(char* buffer, qint64 maxLength);

    HttpStreamError error() const;
    // The final answer's head (informational 1xx answers are skipped); incomplete until the
    // blank line after the header fields has arrived.
    HttpResponseHeader responseHeader() const;
    // When an HTTP proxy refused a tunnel with 407: its status and Proxy-Authenticate fields
    // (nothing else of its answer); incomplete otherwise.
    HttpResponseHeader proxyChallenge() const;
    // Request body bytes handed to the operating system so far.
    qint64 requestBodyBytesWritten() const;
    // True when the stream runs on a connection taken from the idle cache.
    bool isReusedConnection() const;

    // Closes every idle connection of the calling thread (for tests and for shutting down).
    static void closeIdleConnections();
    // The number of idle connections kept for the calling thread.
    static int idleConnectionCount();

private:
    HttpStream(const HttpRequestMessage& message, HttpRequestBody body);
    friend class HttpStreamPrivate;
    std::unique_ptr<HttpStreamPrivate> d;
};

}  // namespace platform
