#include "http/ThrottledInputStream.h"

#include <QFile>
#include <mutex>

#include "http/HTTPRequest.h"

namespace http {

namespace {

// Serialises the throttling part of upload reads, so that two uploads never both take
// the same remainder of a period's budget.
std::mutex& readLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

ThrottledInputStream::ThrottledInputStream(platform::HttpRequestBody stream,
                                           std::weak_ptr<HTTPRequest> request)
    : stream_(std::move(stream)), request_(std::move(request)) {}

std::shared_ptr<ThrottledInputStream> ThrottledInputStream::inputStreamWithFileAtPath(
    const QString& path, const std::shared_ptr<HTTPRequest>& request) {
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) return nullptr;
    return inputStreamWithBody(platform::HttpRequestBody::fromDevice(file), request);
}

std::shared_ptr<ThrottledInputStream> ThrottledInputStream::inputStreamWithData(
    const QByteArray& data, const std::shared_ptr<HTTPRequest>& request) {
    return inputStreamWithBody(platform::HttpRequestBody::fromData(data), request);
}

std::shared_ptr<ThrottledInputStream> ThrottledInputStream::inputStreamWithBody(
    platform::HttpRequestBody body, const std::shared_ptr<HTTPRequest>& request) {
    return std::make_shared<ThrottledInputStream>(std::move(body), request);
}

qint64 ThrottledInputStream::read(char* buffer, qint64 maxLength) {
    {
        std::lock_guard lock(readLock());
        if (const auto allowed = HTTPRequest::uploadReadAllowance()) {
            if (auto request = request_.lock()) request->performThrottling();
            // An overspent period still lets one byte through, so the body moves on.
            if (*allowed <= maxLength) maxLength = std::max<qint64>(*allowed, 1);
        }
    }
    const qint64 count = stream_.read(buffer, maxLength);
    if (count > 0) HTTPRequest::incrementBandwidthUsedInLastSecond(static_cast<quint64>(count));
    return count;
}

void ThrottledInputStream::close() { stream_ = platform::HttpRequestBody(); }

platform::HttpRequestBody ThrottledInputStream::asRequestBody(
    std::shared_ptr<ThrottledInputStream> stream) {
    const qint64 length = stream->length();
    return platform::HttpRequestBody::fromPull(
        [stream](char* buffer, qint64 maxLength) { return stream->read(buffer, maxLength); },
        length);
}

}  // namespace http
