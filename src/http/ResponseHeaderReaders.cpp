#include "http/ResponseHeaderReaders.h"

#include <cstdlib>

namespace http::response_headers {

quint64 parseContentLength(const QString& value) {
    const QByteArray text = value.toLatin1();
    return std::strtoull(text.constData(), nullptr, 0);
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
