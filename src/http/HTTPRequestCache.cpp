// The request's side of the response cache: answers taken from it, and when an answer
// stops being fresh.
#include <QFile>
#include <QLocale>
#include <QTimeZone>
#include <cmath>

#include "http/HTTPRequest.h"
#include "platform/CookieStore.h"
#include "platform/http/HttpResponseHeadReading.h"

namespace http {

namespace {

// Expiry dates stay within what a date can hold, however large a max-age the server sends.
constexpr double kLongestMaxAge = 1e10;

// Reads the decimal number (fraction allowed) at position in text, after white space.
double scanDecimal(const QString& text, qsizetype position) {
    while (position < text.size() && text[position].isSpace()) ++position;
    const qsizetype start = position;
    bool dot = false;
    while (position < text.size() &&
           (text[position].isDigit() || (text[position] == u'.' && !dot))) {
        dot = dot || text[position] == u'.';
        ++position;
    }
    return text.mid(start, position - start).toDouble();
}

double maxAgeFromCacheControl(const QString& cacheControl) {
    const QString text = cacheControl.toLower();
    const qsizetype found = text.indexOf(QLatin1String("max-age"));
    if (found < 0) return 0;
    qsizetype position = found + 7;
    while (position < text.size() && text[position].isSpace()) ++position;
    if (position < text.size() && text[position] == u'=') ++position;
    return scanDecimal(text, position);
}

// Seconds east of UTC for the zone names that HTTP dates carry.
std::optional<int> zoneOffset(const QString& zone) {
    static const QList<std::pair<QString, int>> names{
        {"GMT", 0},         {"UTC", 0},         {"UT", 0},          {"Z", 0},
        {"EST", -5 * 3600}, {"EDT", -4 * 3600}, {"CST", -6 * 3600}, {"CDT", -5 * 3600},
        {"MST", -7 * 3600}, {"MDT", -6 * 3600}, {"PST", -8 * 3600}, {"PDT", -7 * 3600},
    };
    for (const auto& [name, offset] : names) {
        if (zone.compare(name, Qt::CaseInsensitive) == 0) return offset;
    }
    if (zone.size() == 5 && (zone[0] == u'+' || zone[0] == u'-')) {
        bool ok = false;
        const int digits = zone.mid(1).toInt(&ok);
        if (!ok || digits / 100 > 23 || digits % 100 > 59) return std::nullopt;
        const int seconds = (digits / 100) * 3600 + (digits % 100) * 60;
        return zone[0] == u'-' ? -seconds : seconds;
    }
    return std::nullopt;
}

}  // namespace

std::optional<QDateTime> HTTPRequest::dateFromRFC1123String(const QString& text) {
    const QString trimmed = text.trimmed();
    const qsizetype lastSpace = trimmed.lastIndexOf(u' ');
    if (lastSpace < 0) return std::nullopt;
    const std::optional<int> offset = zoneOffset(trimmed.mid(lastSpace + 1));
    if (!offset) return std::nullopt;
    const QString format = QStringLiteral("%1dd MMM yyyy HH:mm%2")
                               .arg(text.contains(u',') ? QStringLiteral("ddd, ") : QString(),
                                    text.count(u':') == 2 ? QStringLiteral(":ss") : QString());
    const QDateTime local = QLocale::c().toDateTime(trimmed.left(lastSpace), format);
    if (!local.isValid()) return std::nullopt;
    return QDateTime(local.date(), local.time(), QTimeZone(*offset));
}

std::optional<QDateTime> HTTPRequest::expiryDateForRequest(const HTTPRequest& request,
                                                           double maxAge) {
    const Headers headers = request.responseHeaders();
    if (!std::isfinite(maxAge)) maxAge = 0;
    if (maxAge == 0)
        maxAge = maxAgeFromCacheControl(headers.value(QStringLiteral("Cache-Control")));
    if (maxAge != 0) {
        const double seconds = std::clamp(maxAge, -kLongestMaxAge, kLongestMaxAge);
        return QDateTime::currentDateTimeUtc().addMSecs(qint64(seconds * 1000.0));
    }
    const QString expires = headers.value(QStringLiteral("Expires"));
    if (expires.isNull()) return std::nullopt;
    return dateFromRFC1123String(expires);
}

void HTTPRequest::useDataFromCache() {
    HTTPRequestPtr main = mainRequest_.lock();
    HTTPRequest& target = main ? *main : *this;
    auto cache = downloadCache_.lock();
    // What the server was still sending is not read: its connection is not used again.
    if (readStream_) {
        discardConnection();
        readStream_->close();
        destroyReadStream();
    }
    const std::optional<Headers> headers =
        cache ? cache->cachedResponseHeadersForURL(url_) : std::nullopt;
    const QString dataPath = cache ? cache->pathToCachedResponseDataForURL(url_) : QString();
    if (headers && !dataPath.isEmpty()) {
        responseStatusCode_ =
            headers->value(QStringLiteral("X-HTTPRequest-Response-Status-Code")).toInt();
        didUseCachedResponse_ = true;
        target.responseHeaders_ = headers;
        target.parseStringEncodingFromHeaders();
        target.responseCookies_ = platform::CookieStore::cookiesWithResponseHeaderFields(
            platform::fieldBytes(headers->fields()), url_);
        // A stored redirect is followed before its body is taken: the download file of the
        // request stays its own, and the next answer never lands in the cache's files.
        if (willRedirect()) {
            if (!willAskDelegateToConfirmRedirect()) performRedirect();
            return;
        }
        if (!target.downloadDestinationPath_.isEmpty()) {
            target.downloadDestinationPath_ = dataPath;
        } else if (!target.hasDataReceiver()) {
            target.rawResponseData_ = cache->cachedResponseDataForURL(url_);
        }
        // A negative length in a stored head is no length.
        target.contentLength_ = static_cast<quint64>(std::max<qint64>(
            0, responseHeaders().value(QStringLiteral("Content-Length")).toLongLong()));
        target.totalBytesRead_ = contentLength_;
        // A data receiver takes the stored body the way it takes a loaded one.
        if (target.downloadDestinationPath_.isEmpty() && target.hasDataReceiver()) {
            QFile file(dataPath);
            if (file.open(QIODevice::ReadOnly)) {
                while (!file.atEnd()) {
                    const QByteArray piece = file.read(256 * 1024);
                    if (piece.isEmpty()) break;
                    target.passOnReceivedData(piece);
                }
            }
        }
    }
    target.complete_ = true;
    target.downloadComplete_ = true;
    if (target.redirectCount_ == 0) target.originalURL_ = target.url_;
    target.updateProgressIndicators();
    target.requestFinished();
    target.markAsFinished();
    if (main) markAsFinished();
}

}  // namespace http
