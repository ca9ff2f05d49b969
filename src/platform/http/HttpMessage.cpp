#include "platform/http/HttpMessage.h"

#include <algorithm>

namespace platform {

namespace {

bool isToken(const QString& text) {
    if (text.isEmpty()) return false;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const bool ok = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') ||
                        (u >= 'A' && u <= 'Z') ||
                        (u < 0x80 && u != 0 && QByteArrayView("!#$%&'*+-.^_`|~").contains(char(u)));
        if (!ok) return false;
    }
    return true;
}

bool isSafeFieldValue(const QString& value) {
    for (QChar c : value) {
        const char16_t u = c.unicode();
        if (u == '\r' || u == '\n' || u == 0 || u > 0xff) return false;
    }
    return true;
}

}  // namespace

HttpRequestMessage::HttpRequestMessage(QString method, QUrl url, HttpVersion version)
    : m_method(std::move(method)), m_url(std::move(url)), m_version(version) {}

std::optional<HttpRequestMessage> HttpRequestMessage::create(const QString& method, const QUrl& url,
                                                             HttpVersion version) {
    const QString scheme = url.scheme().toLower();
    if (!isToken(method) || !url.isValid() || url.isRelative() ||
        (scheme != "http" && scheme != "https") || url.host().isEmpty()) {
        return std::nullopt;
    }
    return HttpRequestMessage(method, url, version);
}

bool HttpRequestMessage::setHeaderFieldValue(const QString& name, const QString& value) {
    if (!isToken(name) || !isSafeFieldValue(value)) return false;
    for (auto it = m_fields.begin(); it != m_fields.end(); ++it) {
        if (it->first.compare(name, Qt::CaseInsensitive) != 0) continue;
        if (value.isNull()) {
            m_fields.erase(it);
        } else {
            it->second = value;
        }
        return true;
    }
    if (!value.isNull()) m_fields.append({name, value});
    return true;
}

QString HttpRequestMessage::headerFieldValue(const QString& name) const {
    for (const auto& [fieldName, value] : m_fields) {
        if (fieldName.compare(name, Qt::CaseInsensitive) == 0) return value;
    }
    return {};
}

void HttpResponseHeader::setStatus(int code, const QString& statusLine, const QString& version) {
    m_statusCode = code;
    m_statusLine = statusLine;
    m_version = version;
}

void HttpResponseHeader::addField(const QString& name, const QString& value) {
    m_fields.append({name, value});
}

HttpHeaderFields HttpResponseHeader::allHeaderFields() const {
    HttpHeaderFields merged;
    for (const auto& field : m_fields) {
        auto it = std::find_if(merged.begin(), merged.end(), [&field](const auto& entry) {
            return entry.first.compare(field.first, Qt::CaseInsensitive) == 0;
        });
        if (it == merged.end()) {
            merged.append(field);
        } else {
            it->second += QStringLiteral(", ") + field.second;
        }
    }
    return merged;
}

QString HttpResponseHeader::value(const QString& name) const {
    QString joined;
    for (const auto& [fieldName, value] : m_fields) {
        if (fieldName.compare(name, Qt::CaseInsensitive) != 0) continue;
        joined = joined.isNull() ? value : joined + QStringLiteral(", ") + value;
    }
    return joined;
}

bool HttpResponseHeader::hasField(const QString& name) const { return !value(name).isNull(); }

}  // namespace platform
