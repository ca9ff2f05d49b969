#include "platform/http/HttpResponseHeadReading.h"

namespace platform {

namespace {

QString latin1(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

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

HttpResponseHeader responseHeaderOf(const HttpResponseParser& parser) {
    const HttpResponseHead& head = parser.head();
    HttpResponseHeader header;
    header.setStatus(
        head.statusCode, latin1(head.statusLine),
        head.versionMinor == 0 ? QStringLiteral("HTTP/1.0") : QStringLiteral("HTTP/1.1"));
    for (const auto& [name, value] : head.fields) header.addField(latin1(name), latin1(value));
    header.setKeepsConnectionAlive(parser.keepsConnectionAlive());
    header.setComplete(true);
    return header;
}

QList<std::pair<QByteArray, QByteArray>> fieldBytes(const HttpHeaderFields& fields) {
    QList<std::pair<QByteArray, QByteArray>> bytes;
    bytes.reserve(fields.size());
    for (const auto& [name, value] : fields) bytes.append({name.toLatin1(), value.toLatin1()});
    return bytes;
}

ConnectionReuseOffer connectionReuseOffer(const HttpResponseHeader& header) {
    if (!header.keepsConnectionAlive()) return {};
    const QString keepAlive = header.value(QStringLiteral("Keep-Alive"));
    if (keepAlive.isNull()) return {true, std::nullopt};
    qsizetype position = 0;
    while (position < keepAlive.size() && keepAlive[position].isSpace()) ++position;
    if (keepAlive.mid(position).startsWith(QLatin1String("timeout="))) position += 8;
    const int timeout = scanInteger(keepAlive, position);
    int max = 0;
    const qsizetype maxAt = keepAlive.indexOf(QLatin1String("max="), position);
    if (maxAt >= 0) {
        position = maxAt + 4;
        max = scanInteger(keepAlive, position);
    }
    if (max <= 5) return {};
    return {true, timeout};
}

}  // namespace platform
