#include "platform/http/HttpRequestHead.h"

namespace platform {

namespace {

QByteArray hostForRequest(const QUrl& url) {
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':')) host = '[' + host + ']';
    return host;
}

void appendField(QByteArray& head, const QString& name, const QString& value) {
    head += name.toLatin1();
    head += ": ";
    head += value.toLatin1();
    head += "\r\n";
}

}  // namespace

int effectivePort(const QUrl& url) {
    return url.port(url.scheme().compare("https", Qt::CaseInsensitive) == 0 ? 443 : 80);
}

QByteArray hostHeaderValue(const QUrl& url) {
    QByteArray value = hostForRequest(url);
    const int defaultPort = url.scheme().compare("https", Qt::CaseInsensitive) == 0 ? 443 : 80;
    if (url.port() != -1 && url.port() != defaultPort)
        value += ':' + QByteArray::number(url.port());
    return value;
}

QByteArray serializeRequestHead(const HttpRequestMessage& message,
                                const HttpRequestHeadOptions& options) {
    const QUrl& url = message.url();
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty()) target = "/";
    if (url.hasQuery()) target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    if (options.target == HttpRequestTarget::Absolute) {
        QByteArray authority = hostForRequest(url);
        if (url.port() != -1) authority += ':' + QByteArray::number(url.port());
        target = url.scheme().toLower().toLatin1() + "://" + authority + target;
    }

    QByteArray head;
    head.reserve(256);
    head += message.method().toLatin1();
    head += ' ';
    head += target;
    head += message.version() == HttpVersion::Http10 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n";

    if (message.headerFieldValue("Host").isNull()) {
        head += "Host: " + hostHeaderValue(url) + "\r\n";
    }
    for (const auto& [name, value] : message.allHeaderFields()) {
        if ((options.dropProxyAuthorization &&
             name.compare("Proxy-Authorization", Qt::CaseInsensitive) == 0) ||
            (options.dropContentLength &&
             name.compare("Content-Length", Qt::CaseInsensitive) == 0)) {
            continue;
        }
        appendField(head, name, value);
    }
    const bool hasLength = !message.headerFieldValue("Content-Length").isNull();
    const bool hasTransferEncoding = !message.headerFieldValue("Transfer-Encoding").isNull();
    if (options.bodyLength > 0 && !hasLength && !hasTransferEncoding) {
        head += "Content-Length: " + QByteArray::number(options.bodyLength) + "\r\n";
    } else if (options.bodyLength < 0 && !hasLength && !hasTransferEncoding) {
        head += "Transfer-Encoding: chunked\r\n";
    }
    if (message.headerFieldValue("Connection").isNull()) {
        // HTTP/1.1 keeps a connection open unless told otherwise, HTTP/1.0 the reverse: say
        // so whenever the default is not what the stream wants.
        if (message.version() == HttpVersion::Http11 && !options.persistent) {
            head += "Connection: close\r\n";
        } else if (message.version() == HttpVersion::Http10 && options.persistent) {
            head += "Connection: keep-alive\r\n";
        }
    }
    head += "\r\n";
    return head;
}

QByteArray serializeConnectRequest(const HttpRequestMessage& message) {
    const QUrl& url = message.url();
    const QByteArray authority = hostForRequest(url) + ':' + QByteArray::number(effectivePort(url));
    QByteArray head = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    const QString proxyAuthorization = message.headerFieldValue("Proxy-Authorization");
    if (!proxyAuthorization.isNull()) appendField(head, "Proxy-Authorization", proxyAuthorization);
    const QString userAgent = message.headerFieldValue("User-Agent");
    if (!userAgent.isNull()) appendField(head, "User-Agent", userAgent);
    head += "\r\n";
    return head;
}

}  // namespace platform
