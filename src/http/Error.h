#pragma once

#include <QString>
#include <QVariantMap>
#include <memory>

namespace http {

// The domain of every error the engine reports.
inline const QString HTTPRequestErrorDomain = QStringLiteral("HTTPRequestErrorDomain");

// The numbered kinds of failure a request can end with.
enum ErrorType {
    ConnectionFailureErrorType = 1,
    RequestTimedOutErrorType = 2,
    AuthenticationErrorType = 3,
    RequestCancelledErrorType = 4,
    UnableToCreateRequestErrorType = 5,
    InternalErrorWhileBuildingRequestType = 6,
    InternalErrorWhileApplyingCredentialsType = 7,
    FileManagementError = 8,
    TooMuchRedirectionErrorType = 9,
    UnhandledExceptionError = 10,
    CompressionError = 11,
};

struct Error;
using ErrorPtr = std::shared_ptr<const Error>;

// An error value: where it comes from, what it is, and what caused it.
struct Error {
    QString domain;
    int code = 0;
    QString localizedDescription;
    QString failureReason;
    ErrorPtr underlyingError;
    QVariantMap userInfo;

    static ErrorPtr make(const QString& domain, int code, const QString& description,
                         ErrorPtr underlying = nullptr);
    // An error in HTTPRequestErrorDomain.
    static ErrorPtr http(int code, const QString& description, ErrorPtr underlying = nullptr);
};

// Stores error into *out when the caller asked for it.
inline void report(ErrorPtr* out, ErrorPtr error) {
    if (out != nullptr) *out = std::move(error);
}

}  // namespace http

class QFileDevice;

namespace http {

// The domain of errors raised by file operations; the code is the device's error kind.
inline const QString FileSystemErrorDomain = QStringLiteral("FileSystemErrorDomain");

// The file system's error for a device that failed.
ErrorPtr fileSystemError(const QFileDevice& device);

}  // namespace http
