// Reads arbitrary header lines the way the engine reads an answer's head: the field list
// with its repeats, the length, the keep-alive terms and the content type with its charset.
// Checks that lookups agree with the list and that nothing read exceeds what was given.

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "http/ResponseHeaderReaders.h"
#include "platform/http/HttpMessage.h"
#include "platform/http/HttpResponseHeadReading.h"

using platform::HttpResponseHeader;
namespace readers = http::response_headers;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    HttpResponseHeader header;
    header.setStatus(200, QStringLiteral("HTTP/1.1 200 OK"), QStringLiteral("HTTP/1.1"));
    int lines = 0;
    for (const QByteArray& line : input.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) continue;
        header.addField(QString::fromLatin1(line.left(colon)),
                        QString::fromLatin1(line.mid(colon + 1)).trimmed());
        ++lines;
    }
    header.setComplete(true);
    check(header.rawHeaderFields().size() == lines);

    const platform::HttpHeaderFields joined = header.allHeaderFields();
    check(joined.size() <= lines);
    for (const auto& [name, value] : joined) {
        check(header.hasField(name));
        // Field names are looked up without case; in ASCII, that is the whole story.
        const bool ascii =
            std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x80; });
        if (ascii) check(header.hasField(name.toUpper()) && header.hasField(name.toLower()));
        check(header.value(name) == value);
    }

    const QString length = header.value(QStringLiteral("Content-Length"));
    if (!length.isNull()) readers::parseContentLength(length);

    const platform::ConnectionReuseOffer offer = platform::connectionReuseOffer(header);
    check(offer.reusable || !offer.timeoutSeconds);

    QString mimeType;
    http::StringEncoding encoding = http::StringEncodings::Invalid;
    const QString contentType = header.value(QStringLiteral("Content-Type"));
    readers::parseContentType(&mimeType, &encoding, contentType);
    check(mimeType.size() <= contentType.size());
    if (encoding != http::StringEncodings::Invalid) {
        check(!http::ianaCharSetNameForEncoding(encoding).isEmpty());
    }
    // A value with nothing before its first ';' names no character set.
    if (contentType.trimmed().startsWith(QLatin1Char(';'))) {
        check(encoding == http::StringEncodings::Invalid);
    }
    return 0;
}
