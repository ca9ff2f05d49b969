// Reporting upload and download progress to the queue, the progress delegates and the
// progress blocks. Figures are taken where the request is driven; every report reaches its
// receiver on the GUI thread, which reads the receiver's field again at that moment so that
// a receiver cleared in between gets nothing.

#include "http/HTTPRequest.h"
#include "http/RequestClassState.h"
#include "platform/MainThread.h"

namespace http {

namespace {

void sendToQueue(HTTPRequestQueue& queue, const HTTPRequestPtr& request,
                 ProgressOperation operation, qint64 amount) {
    switch (operation) {
        case ProgressOperation::DidSendBytes:
            queue.requestDidSendBytes(request, amount);
            break;
        case ProgressOperation::DidReceiveBytes:
            queue.requestDidReceiveBytes(request, amount);
            break;
        case ProgressOperation::IncrementUploadSize:
            queue.requestIncrementUploadSizeBy(request, amount);
            break;
        case ProgressOperation::IncrementDownloadSize:
            queue.requestIncrementDownloadSizeBy(request, amount);
            break;
        case ProgressOperation::SetProgress:
            break;
    }
}

void sendToDelegate(ProgressDelegate& delegate, const HTTPRequestPtr& request,
                    ProgressOperation operation, qint64 amount) {
    switch (operation) {
        case ProgressOperation::DidSendBytes:
            delegate.requestDidSendBytes(request, amount);
            break;
        case ProgressOperation::DidReceiveBytes:
            delegate.requestDidReceiveBytes(request, amount);
            break;
        case ProgressOperation::IncrementUploadSize:
            delegate.requestIncrementUploadSizeBy(request, amount);
            break;
        case ProgressOperation::IncrementDownloadSize:
            delegate.requestIncrementDownloadSizeBy(request, amount);
            break;
        case ProgressOperation::SetProgress:
            break;
    }
}

}  // namespace

// ---- Receivers ----

std::shared_ptr<ProgressDelegate> HTTPRequest::uploadProgressDelegate() const {
    std::lock_guard lock(cancelledLock_);
    return uploadProgressDelegate_.lock();
}

void HTTPRequest::setUploadProgressDelegate(std::weak_ptr<ProgressDelegate> delegate) {
    std::lock_guard lock(cancelledLock_);
    uploadProgressDelegate_ = std::move(delegate);
}

std::shared_ptr<ProgressDelegate> HTTPRequest::downloadProgressDelegate() const {
    std::lock_guard lock(cancelledLock_);
    return downloadProgressDelegate_.lock();
}

void HTTPRequest::setDownloadProgressDelegate(std::weak_ptr<ProgressDelegate> delegate) {
    std::lock_guard lock(cancelledLock_);
    downloadProgressDelegate_ = std::move(delegate);
}

void HTTPRequest::sendToProgressReceivers(ProgressDelegateField field, ProgressOperation operation,
                                          qint64 amount) {
    auto request = self();
    platform::runOnMainThread([request, field, operation, amount] {
        std::unique_lock lock(request->cancelledLock_);
        auto queue = request->queue_;
        auto delegate = ((*request).*field).lock();
        lock.unlock();
        if (queue) sendToQueue(*queue, request, operation, amount);
        if (delegate && delegate->answers(operation)) {
            sendToDelegate(*delegate, request, operation, amount);
        }
    });
}

void HTTPRequest::updateProgressIndicator(ProgressDelegateField field, quint64 progress,
                                          quint64 total) {
    {
        std::lock_guard lock(cancelledLock_);
        auto indicator = (this->*field).lock();
        if (!indicator || !indicator->answers(ProgressOperation::SetProgress)) return;
    }
    // Nothing to do out of nothing counts as done.
    const float fraction =
        total == 0 ? 1.0f
                   : static_cast<float>(static_cast<double>(progress) / static_cast<double>(total));
    std::lock_guard progressLock(RequestClassState::instance().progressUpdateLock);
    auto request = self();
    platform::runOnMainThread([request, field, fraction] {
        std::unique_lock lock(request->cancelledLock_);
        auto indicator = ((*request).*field).lock();
        lock.unlock();
        if (indicator && indicator->answers(ProgressOperation::SetProgress)) {
            indicator->setProgress(fraction);
        }
    });
}

// ---- Reports ----

void HTTPRequest::updateProgressIndicators() {
    if (hasMainRequest_) return;
    if (!showAccurateProgress_ && !(complete_ && !updatedProgress_)) return;
    updateUploadProgress();
    updateDownloadProgress();
}

void HTTPRequest::updateUploadProgress() {
    if (cancelled_ || totalBytesSent_ == 0) return;
    // The first figure short of the whole body is what the platform took into its buffer at
    // once; it says nothing about the server, so it never counts as progress.
    if (uploadBufferSize_ == 0 && totalBytesSent_ != postLength_) {
        uploadBufferSize_ = totalBytesSent_;
        incrementUploadSizeBy(-static_cast<qint64>(uploadBufferSize_));
    }
    qint64 delta = 1;
    if (showAccurateProgress_) {
        if (totalBytesSent_ != postLength_ && lastBytesSent_ == 0) return;
        delta = static_cast<qint64>(totalBytesSent_) - static_cast<qint64>(lastBytesSent_);
    } else {
        updatedProgress_ = true;
    }
    if (delta == 0) return;
    sendToProgressReceivers(&HTTPRequest::uploadProgressDelegate_, ProgressOperation::DidSendBytes,
                            delta);
    const quint64 sentPastBuffer =
        totalBytesSent_ > uploadBufferSize_ ? totalBytesSent_ - uploadBufferSize_ : 0;
    const quint64 totalPastBuffer =
        postLength_ > uploadBufferSize_ ? postLength_ - uploadBufferSize_ : 0;
    updateProgressIndicator(&HTTPRequest::uploadProgressDelegate_, sentPastBuffer, totalPastBuffer);
    const quint64 total = postLength_;
    auto request = self();
    platform::runOnMainThread([request, delta, total] {
        if (auto block = request->blockSnapshot(&Blocks::bytesSent)) block(delta, total);
    });
}

void HTTPRequest::updateDownloadProgress() {
    if (!responseHeaders_ || needsRedirect_ || (contentLength_ == 0 && !complete_)) return;
    const quint64 bytesSoFar = totalBytesRead_ + partialDownloadSize_;
    qint64 delta = 1;
    if (showAccurateProgress_ && contentLength_ > 0) {
        delta = static_cast<qint64>(bytesSoFar) - static_cast<qint64>(lastBytesRead_);
    } else {
        updatedProgress_ = true;
    }
    if (delta == 0) return;
    sendToProgressReceivers(&HTTPRequest::downloadProgressDelegate_,
                            ProgressOperation::DidReceiveBytes, delta);
    const quint64 total = contentLength_ + partialDownloadSize_;
    updateProgressIndicator(&HTTPRequest::downloadProgressDelegate_, bytesSoFar, total);
    auto request = self();
    platform::runOnMainThread([request, delta, total] {
        if (auto block = request->blockSnapshot(&Blocks::bytesReceived)) block(delta, total);
    });
    lastBytesRead_ = bytesSoFar;
}

void HTTPRequest::incrementUploadSizeBy(qint64 amount) {
    sendToProgressReceivers(&HTTPRequest::uploadProgressDelegate_,
                            ProgressOperation::IncrementUploadSize, amount);
    auto request = self();
    platform::runOnMainThread([request, amount] {
        if (auto block = request->blockSnapshot(&Blocks::uploadSizeIncremented)) block(amount);
    });
}

void HTTPRequest::incrementDownloadSizeBy(qint64 amount) {
    sendToProgressReceivers(&HTTPRequest::downloadProgressDelegate_,
                            ProgressOperation::IncrementDownloadSize, amount);
    auto request = self();
    platform::runOnMainThread([request, amount] {
        if (auto block = request->blockSnapshot(&Blocks::downloadSizeIncremented)) block(amount);
    });
}

void HTTPRequest::removeUploadProgressSoFar() {
    const qint64 delta = -static_cast<qint64>(totalBytesSent_);
    sendToProgressReceivers(&HTTPRequest::uploadProgressDelegate_, ProgressOperation::DidSendBytes,
                            delta);
    updateProgressIndicator(&HTTPRequest::uploadProgressDelegate_, 0, postLength_);
    const quint64 total = postLength_;
    auto request = self();
    platform::runOnMainThread([request, delta, total] {
        if (auto block = request->blockSnapshot(&Blocks::bytesSent)) block(delta, total);
    });
    // The next attempt counts its bytes from zero; without this its first figure would be
    // measured against the last one of the attempt just taken back.
    totalBytesSent_ = 0;
}

}  // namespace http
