#pragma once

#include <QByteArray>
#include <QUrl>

#include "platform/http/HttpMessage.h"

namespace platform {

enum class HttpRequestTarget {
    Origin,    // "/path?query", to the server itself or through a tunnel
    Absolute,  // "http://host/path?query", to an HTTP proxy
};

struct HttpRequestHeadOptions {
    HttpRequestTarget target = HttpRequestTarget::Origin;
    bool persistent = false;
    // Body bytes that follow: -1 for a body of unknown length (sent chunked), 0 for none.
    qint64 bodyLength = 0;
    // Leave out Proxy-Authorization (it went to the proxy with CONNECT).
    bool dropProxyAuthorization = false;
    // Leave out the caller's Content-Length (there is no body to honour it).
    bool dropContentLength = false;
};

// The bytes of the request line and header section, ending with the blank line.
QByteArray serializeRequestHead(const HttpRequestMessage& message,
                                const HttpRequestHeadOptions& options);

// The CONNECT request that opens a tunnel to the message's server through an HTTP proxy.
QByteArray serializeConnectRequest(const HttpRequestMessage& message);

// "host:port" or "[v6]:port" with the port only when it is not the scheme's default.
QByteArray hostHeaderValue(const QUrl& url);
int effectivePort(const QUrl& url);

}  // namespace platform
