#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <optional>

namespace platform {

enum class HttpVersion { Http10, Http11 };

using HttpHeaderFields = QList<QPair<QString, QString>>;

// The request half of an HTTP exchange: method, absolute http(s) URL, version and header
// fields. The stream adds what belongs to the wire itself (Host, framing of the body,
// Connection) when the caller left them out.
class HttpRequestMessage {
public:
    // None when the method is not an HTTP token, or the URL is not an absolute http or https
    // URL with a host.
    static std::optional<HttpRequestMessage> create(const QString& method, const QUrl& url,
                                                    HttpVersion version);

    QString method() const { return m_method; }
    QUrl url() const { return m_url; }
    HttpVersion version() const { return m_version; }

    // Sets one field, replacing a field of the same name (compared without case) in place,
    // or removes it when value is null. Refuses (answers false, changes nothing) a name that
    // is not a token or a value holding CR, LF or NUL, so nothing can be smuggled into the
    // request head.
    bool setHeaderFieldValue(const QString& name, const QString& value);
    // The value of a field (case-insensitive name), null when absent.
    QString headerFieldValue(const QString& name) const;
    // Every field in the order set, with the names as given.
    const HttpHeaderFields& allHeaderFields() const { return m_fields; }

private:
    HttpRequestMessage(QString method, QUrl url, HttpVersion version);

    QString m_method;
    QUrl m_url;
    HttpVersion m_version;
    HttpHeaderFields m_fields;
};

// The head of an answer as the stream read it. Before the head has arrived it is empty and
// not complete.
class HttpResponseHeader {
public:
    bool isHeaderComplete() const { return m_complete; }
    int statusCode() const { return m_statusCode; }
    // The whole status line without its line end, e.g. "HTTP/1.1 404 Not Found".
    QString statusLine() const { return m_statusLine; }
    QString version() const { return m_version; }  // "HTTP/1.0" or "HTTP/1.1"
    // One entry per field name in order of first appearance, names as the server wrote them
    // the first time; repeated fields are joined with ", " (as a dictionary of headers would).
    HttpHeaderFields allHeaderFields() const;
    // Every field line as received, repeats kept apart (for Set-Cookie).
    const HttpHeaderFields& rawHeaderFields() const { return m_fields; }
    // Joined value of a field, looked up without case; null when absent.
    QString value(const QString& name) const;
    bool hasField(const QString& name) const;
    // Whether the connection may carry another exchange after this answer: HTTP/1.1 without
    // "Connection: close", or HTTP/1.0 with "Connection: keep-alive", and a body that does not
    // end with the connection.
    bool keepsConnectionAlive() const { return m_keepsConnectionAlive; }

    void setComplete(bool complete) { m_complete = complete; }
    void setStatus(int code, const QString& statusLine, const QString& version);
    void addField(const QString& name, const QString& value);
    void setKeepsConnectionAlive(bool on) { m_keepsConnectionAlive = on; }

private:
    bool m_complete = false;
    bool m_keepsConnectionAlive = false;
    int m_statusCode = 0;
    QString m_statusLine;
    QString m_version;
    HttpHeaderFields m_fields;
};

}  // namespace platform
