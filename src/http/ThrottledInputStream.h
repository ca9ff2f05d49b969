#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

#include "platform/http/HttpRequestBody.h"

namespace http {

class HTTPRequest;

// A request body on its way to the network, read through the shared bandwidth budget:
// while uploads are throttled each read is capped by what is left of the current period
// and counted against it. Everything else is the wrapped body's own.
class ThrottledInputStream {
public:
    // None when the file cannot be opened for reading.
    static std::shared_ptr<ThrottledInputStream> inputStreamWithFileAtPath(
        const QString& path, const std::shared_ptr<HTTPRequest>& request);
    static std::shared_ptr<ThrottledInputStream> inputStreamWithData(
        const QByteArray& data, const std::shared_ptr<HTTPRequest>& request);
    // Any other body source, such as a form assembled part by part.
    static std::shared_ptr<ThrottledInputStream> inputStreamWithBody(
        platform::HttpRequestBody body, const std::shared_ptr<HTTPRequest>& request);

    ThrottledInputStream(platform::HttpRequestBody stream, std::weak_ptr<HTTPRequest> request);

    // Fills buffer with up to maxLength bytes; answers what the wrapped body answers.
    qint64 read(char* buffer, qint64 maxLength);
    qint64 length() const { return stream_.length(); }
    bool isEmpty() const { return stream_.isEmpty(); }
    // Lets go of the wrapped body (and the file it reads).
    void close();

    // A body that the platform's stream reads through this one.
    static platform::HttpRequestBody asRequestBody(std::shared_ptr<ThrottledInputStream> stream);

private:
    platform::HttpRequestBody stream_;
    // Not owned: the request owns its body, not the other way round.
    std::weak_ptr<HTTPRequest> request_;
};

}  // namespace http
