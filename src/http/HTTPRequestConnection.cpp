// The read stream of an attempt on the event loop of the thread that drives the request.
#include <QThread>

#include "http/ConnectionPool.h"
#include "http/HTTPRequest.h"
#include "http/RequestClassState.h"

namespace http {

void HTTPRequest::scheduleReadStream() {
    if (!readStream_ || readStreamIsScheduled_) return;
    auto& state = RequestClassState::instance();
    {
        std::lock_guard lock(state.connectionPoolLock);
        ++state.activeStreamCount;
        if (state.shouldUpdateNetworkActivityIndicator) showNetworkActivityIndicator();
    }
    lastActivityTime_ = QDateTime::currentDateTimeUtc();
    readStream_->schedule(QThread::currentThread());
    readStreamIsScheduled_ = true;
}

void HTTPRequest::unscheduleReadStream() {
    if (!readStream_ || !readStreamIsScheduled_) return;
    auto& state = RequestClassState::instance();
    {
        std::lock_guard lock(state.connectionPoolLock);
        --state.activeStreamCount;
        if (state.shouldUpdateNetworkActivityIndicator && state.activeStreamCount == 0) {
            hideNetworkActivityIndicatorAfterDelay();
        }
    }
    readStream_->unschedule();
    readStreamIsScheduled_ = false;
}

void HTTPRequest::destroyReadStream() {
    if (!readStream_) return;
    unscheduleReadStream();
    // A reusable connection stays open for the next stream with the same id.
    if (!connectionCanBeReused_) readStream_->close();
    readStream_->setClient({});
    readStream_.reset();
}

bool HTTPRequest::retryUsingNewConnection() {
    if (retryCount_ != 0) return false;
    willRetryRequest_ = true;
    cancelLoad();
    willRetryRequest_ = false;
    discardConnection();
    ++retryCount_;
    startRequest();
    return true;
}

}  // namespace http
