#include "http/ResponseHeaderReaders.h"

#include <cstdlib>

namespace http::response_headers {

namespace {

// Integer scanning as a text scanner does it: blanks skipped, an optional sign, digits.
int scanInteger(const QString& text, qsizetype& position) {
    while (position < text.size() && text[position].isSpace()) ++position;
    const qsizetype start = position;
    if (position < text.size() && (text[position] == '-' || text[position] == '+')) ++position;
    while (position < text.size() && text[position].isDigit()) ++position;
    bool ok = false;
    const int value = text.mid(start, position - start).toInt(&ok);
    return ok ? value : 0;
}

}  // namespace

quint64 parseContentLength(const QString& value) {
    const QByteArray text = value.toLatin1();
    return std::strtoull(text.constData(), nullptr, 0);
}

KeepAlive parseKeepAlive(const QString& value) {
    KeepAlive terms;
    qsizetype position = 0;
    while (position < value.size() && value[position].isSpace()) ++position;
    if (value.mid(position).startsWith(QLatin1String("timeout="))) position += 8;
    terms.timeout = scanInteger(value, position);
    const qsizetype maxAt = value.indexOf(QLatin1String("max="), position);
    if (maxAt >= 0) {
        position = maxAt + 4;
        terms.max = scanInteger(value, position);
    }
    return terms;
}

void parseContentType(QString* mimeType, StringEncoding* encoding, const QString& contentType) {
    if (contentType.isNull()) return;
    const qsizetype semicolon = contentType.indexOf(QLatin1Char(';'));
    const QString type = contentType.left(semicolon < 0 ? contentType.size() : semicolon);
    if (semicolon < 0 || type.isEmpty()) {
        if (mimeType != nullptr) *mimeType = contentType.trimmed();
        return;
    }
    if (mimeType != nullptr) *mimeType = type.trimmed();
    const qsizetype charsetAt = contentType.indexOf(QLatin1String("charset="), semicolon);
    if (charsetAt < 0) return;
    const qsizetype nameStart = charsetAt + 8;
    const qsizetype nameEnd = contentType.indexOf(QLatin1Char(';'), nameStart);
    const QString name =
        contentType.mid(nameStart, nameEnd < 0 ? -1 : nameEnd - nameStart).trimmed();
    if (name.isEmpty()) return;
    const StringEncoding found = encodingForIANACharSetName(name);
    if (found != StringEncodings::Invalid && encoding != nullptr) *encoding = found;
}

}  // namespace http::response_headers
