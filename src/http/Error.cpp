#include "http/Error.h"

namespace http {

ErrorPtr Error::make(const QString& domain, int code, const QString& description,
                     ErrorPtr underlying) {
    auto error = std::make_shared<Error>();
    error->domain = domain;
    error->code = code;
    error->localizedDescription = description;
    error->underlyingError = std::move(underlying);
    return error;
}

ErrorPtr Error::http(int code, const QString& description, ErrorPtr underlying) {
    return make(HTTPRequestErrorDomain, code, description, std::move(underlying));
}

}  // namespace http

#include <QFileDevice>

namespace http {

ErrorPtr fileSystemError(const QFileDevice& device) {
    return Error::make(FileSystemErrorDomain, static_cast<int>(device.error()),
                       device.errorString());
}

}  // namespace http
