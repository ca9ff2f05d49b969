// Giving up on an attempt that has gone silent, or trying it again.
#include "http/DataDecompressor.h"
#include "http/HTTPRequest.h"
#include "http/RequestClassState.h"

namespace http {

namespace {

// A body that has not yet been confirmed past the platform's first buffer gets this much
// longer: the first buffer may still be on its way while the server reads slowly.
constexpr double kUnconfirmedBodyAllowance = 1.5;

}  // namespace

bool HTTPRequest::shouldTimeOut() {
    if (!readStream_ || !readStreamIsScheduled_ || !lastActivityTime_.isValid() ||
        timeOutSeconds_ <= 0) {
        return false;
    }
    const double silent =
        static_cast<double>(lastActivityTime_.msecsTo(QDateTime::currentDateTimeUtc())) / 1000.0;
    if (silent <= timeOutSeconds_) return false;
    if (postLength_ == 0 || (uploadBufferSize_ > 0 && totalBytesSent_ > uploadBufferSize_)) {
        return true;
    }
    return silent > kUnconfirmedBodyAllowance * timeOutSeconds_;
}

bool HTTPRequest::handleTimeOut() {
    if (retryCount_ >= numberOfTimesToRetryOnTimeout_) {
        failWithError(RequestClassState::instance().requestTimedOutError);
        cancelLoad();
        complete_ = true;
        return false;
    }
    // The silent connection is not used again: its answer may still arrive and would be
    // read as the answer to a later request.
    if (readStream_) readStream_->close();
    destroyReadStream();
    discardConnection();
    // The next attempt opens its download file again: appending after what arrived when it
    // asks only for the rest, from the start otherwise.
    fileDownloadOutputStream_.reset();
    inflatedFileDownloadOutputStream_.reset();

    updatePartialDownloadSize();
    if (error_) return false;
    if (partialDownloadSize_ == 0) dataDecompressor_.reset();
    if (partialDownloadSize_ > 0) {
        const QString range = QStringLiteral("bytes=%1-").arg(partialDownloadSize_);
        if (request_) request_->setHeaderFieldValue(QStringLiteral("Range"), range);
        requestHeaders_.set(QStringLiteral("Range"), range);
    }
    ++retryCount_;
    return true;
}

}  // namespace http
