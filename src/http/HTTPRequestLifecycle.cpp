// Running a request: the start paths, its body (main), cancelling, failure and the end,
// and the delivery of its events to user code on the GUI thread.
#include <cxxabi.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <cstdlib>
#include <exception>
#include <type_traits>
#include <typeinfo>

#include "http/HTTPRequest.h"
#include "http/RequestClassState.h"
#include "platform/MainThread.h"

namespace http {

namespace {

QString exceptionName(const std::exception& exception) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(typeid(exception).name(), nullptr, nullptr, &status);
    QString name = QString::fromLatin1(status == 0 ? demangled : typeid(exception).name());
    std::free(demangled);
    return name;
}

}  // namespace

// ---- Start paths ----

void HTTPRequest::startAsynchronous() { sharedQueue().addOperation(self()); }

void HTTPRequest::start() {
    willChangeValueForKey("isExecuting");
    inProgress_ = true;
    didChangeValueForKey("isExecuting");
    QThread* thread = threadForRequest(self());
    {
        std::lock_guard lock(cancelledLock_);
        drivingThread_ = thread;
    }
    auto request = self();
    QMetaObject::invokeMethod(
        QAbstractEventDispatcher::instance(thread), [request] { request->main(); },
        Qt::QueuedConnection);
}

void HTTPRequest::startSynchronous() {
    auto keep = self();
    // Drives the stream and the status timer of this request on the calling thread.
    QEventLoop loop;
    {
        std::lock_guard lock(cancelledLock_);
        inProgress_ = true;
        isSynchronous_ = true;
        drivingThread_ = QThread::currentThread();
    }
    if (!isCancelled() && !complete_) {
        main();
        // A redirect waiting for its confirmation is not the end of the request.
        while (!complete_ || (needsRedirect_ && !error_)) {
            loop.processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
        }
    }
    inProgress_ = false;
    saveLoginsKeptForTheEnd();
    // The status timer is deleted through the event loop, which stops with this call.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void HTTPRequest::main() {
    std::lock_guard lock(cancelledLock_);
    try {
        if (error_) {
            complete_ = true;
            markAsFinished();
            return;
        }
        complete_ = false;
        didUseCachedResponse_ = false;
        if (url_.isEmpty() || !url_.isValid()) {
            failWithError(RequestClassState::instance().unableToCreateRequestError);
            return;
        }
        if (!hasMainRequest_) buildPostBody();
        // A body that could not be built has already failed the request: nothing is sent.
        if (error_) return;
        if (requestMethod_ != QLatin1String("GET")) downloadCache_.reset();

        request_.reset();
        request_ = platform::HttpRequestMessage::create(
            requestMethod_, url_,
            useHTTPVersionOne_ ? platform::HttpVersion::Http10 : platform::HttpVersion::Http11);
        if (!request_) {
            failWithError(RequestClassState::instance().unableToCreateRequestError);
            return;
        }
        if (auto main = mainRequest_.lock()) main->buildRequestHeaders();
        buildRequestHeaders();
        if (error_) return;

        if (auto cache = downloadCache_.lock()) {
            // The head of an earlier redirect is no answer for this address: the cache
            // judges this attempt's answer only.
            responseHeaders_.reset();
            if (cachePolicy_ == CachePolicy::UseDefault) cachePolicy_ = cache->defaultCachePolicy();
            if (cache->canUseCachedDataForRequest(*this)) {
                useDataFromCache();
                return;
            }
            if (cachePolicy_ &
                (CachePolicy::AskServerIfModifiedWhenStale | CachePolicy::AskServerIfModified)) {
                if (auto cached = cache->cachedResponseHeadersForURL(url_)) {
                    const QString etag = cached->value(QStringLiteral("Etag"));
                    if (!etag.isNull()) addRequestHeader(QStringLiteral("If-None-Match"), etag);
                    const QString modified = cached->value(QStringLiteral("Last-Modified"));
                    if (!modified.isNull()) {
                        addRequestHeader(QStringLiteral("If-Modified-Since"), modified);
                    }
                }
            }
        }

        applyAuthorizationHeader();
        for (const auto& [name, value] : requestHeaders_.fields()) {
            // A field that would break the request head (a line break in it) is refused
            // rather than sent.
            if (!request_->setHeaderFieldValue(name, value)) {
                failWithError(RequestClassState::instance().unableToCreateRequestError);
                return;
            }
        }
        if (configureProxies()) startRequest();
    } catch (const std::exception& exception) {
        auto underlying = std::make_shared<Error>();
        underlying->domain = HTTPRequestErrorDomain;
        underlying->code = UnhandledExceptionError;
        auto error = std::make_shared<Error>();
        error->domain = HTTPRequestErrorDomain;
        error->code = UnhandledExceptionError;
        error->localizedDescription = exceptionName(exception);
        error->failureReason = QString::fromUtf8(exception.what());
        error->underlyingError = underlying;
        failWithError(error);
    }
}

// ---- Cancelling ----

void HTTPRequest::performOnRequestThread(std::function<void()> fn) {
    QThread* thread = nullptr;
    {
        std::lock_guard lock(cancelledLock_);
        thread = drivingThread_;
    }
    if (thread == nullptr) thread = threadForRequest(self());
    QObject* context = QAbstractEventDispatcher::instance(thread);
    if (context == nullptr) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}

void HTTPRequest::cancel() {
    auto request = self();
    performOnRequestThread([request] { request->cancelOnRequestThread(); });
}

void HTTPRequest::cancelOnRequestThread() {
    std::lock_guard lock(cancelledLock_);
    // A request waiting for a redirect to be confirmed has completed an attempt, not itself.
    if (cancelled_ || (complete_ && !needsRedirect_)) return;
    auto keep = self();
    failWithError(RequestClassState::instance().requestCancelledError);
    complete_ = true;
    cancelLoad();
    willChangeValueForKey("isCancelled");
    cancelled_ = true;
    didChangeValueForKey("isCancelled");
}

void HTTPRequest::clearDelegatesAndCancel() {
    {
        std::lock_guard lock(cancelledLock_);
        delegate_.reset();
        queue_.reset();
        uploadProgressDelegate_.reset();
        downloadProgressDelegate_.reset();
        releaseBlocksOnMainThread();
    }
    cancel();
}

void HTTPRequest::cancelLoad() {
    stopPACWork();
    destroyReadStream();
    postBodyReadStream_.reset();
    if (downloadDestinationPath_.isEmpty()) {
        if (!complete_) rawResponseData_.clear();
    }
    if (!temporaryFileDownloadPath_.isEmpty()) {
        fileDownloadOutputStream_.reset();
        inflatedFileDownloadOutputStream_.reset();
        // A whole body that had not all arrived never replaces the partial file.
        dropSupersedingDownload();
        // A download that never reached its destination leaves nothing behind, unless it
        // is kept to be resumed; that includes one cancelled mid-way, which is complete
        // (cancelling completes a request) but whose body never arrived. One that arrived
        // but could not be moved stays for the caller while the request lives.
        if ((!downloadComplete_ || destroying_) && !allowResumeForFileDownloads_) {
            removeTemporaryDownloadFile();
        }
        removeTemporaryUncompressedDownloadFile();
    }
    if (authenticationNeeded_ == 0 && !willRetryRequest_) {
        if (didCreateTemporaryPostDataFile_) {
            removeTemporaryUploadFile();
            didCreateTemporaryPostDataFile_ = false;
        }
        // The compressed copy is always the request's own, whoever made the body.
        removeTemporaryCompressedUploadFile();
    }
}

// ---- Failure and the end ----

void HTTPRequest::failWithError(ErrorPtr error) {
    std::lock_guard lock(cancelledLock_);
    complete_ = true;
    if (error && error->code != AuthenticationErrorType &&
        error->code != TooMuchRedirectionErrorType) {
        // The connection is never used again after such a failure.
        discardConnection();
        if (readStream_) readStream_->close();
        destroyReadStream();
    }
    if (connectionCanBeReused_) releaseConnection();
    if (cancelled_ || error_ || destroying_) return;

    if (auto cache = downloadCache_.lock()) {
        if ((cachePolicy_ & CachePolicy::FallbackToCacheIfLoadFails) &&
            cache->canUseCachedDataForRequest(*this)) {
            useDataFromCache();
            return;
        }
    }
    error_ = error;
    if (auto main = mainRequest_.lock()) {
        std::lock_guard mainLock(main->cancelledLock_);
        main->error_ = error;
    }
    reportFailure();
    if (inProgress_) markAsFinished();
}

void HTTPRequest::requestFinished() {
    std::lock_guard lock(cancelledLock_);
    if (error_ || hasMainRequest_) return;
    reportFinished();
}

void HTTPRequest::markAsFinished() {
    auto keep = self();
    request_.reset();
    // A synchronous caller's thread may not run its event loop again: the timer goes now.
    if (statusTimer_ != nullptr && statusTimer_->thread() == QThread::currentThread()) {
        stopStatusTimer();
    }
    const bool wasFinished = finished_;
    if (!wasFinished) willChangeValueForKey("isFinished");
    if (inProgress_) {
        willChangeValueForKey("isExecuting");
        inProgress_ = false;
        finished_ = true;
        didChangeValueForKey("isExecuting");
    } else {
        inProgress_ = false;
        finished_ = true;
    }
    if (!wasFinished) didChangeValueForKey("isFinished");
}

// ---- Events to user code ----

template <class Selector, class Slot, class QueueCall, class... Args>
void HTTPRequest::notifyUser(bool quietAfterFailure, Selector HTTPRequest::*selector,
                             Slot Blocks::*slot, QueueCall queueCall, const Args&... args) {
    auto request = self();
    platform::runOnMainThread([request, quietAfterFailure, selector, slot, queueCall, args...] {
        std::unique_lock lock(request->cancelledLock_);
        if (quietAfterFailure && (request->error_ || request->hasMainRequest_)) return;
        auto delegate = request->delegate_.lock();
        auto call = (*request).*selector;
        auto queue = request->queue_;
        lock.unlock();
        if (delegate && call) call(*delegate, request, args...);
        if (auto block = request->blockSnapshot(slot)) block(args...);
        if constexpr (!std::is_null_pointer_v<QueueCall>) {
            if (queue) ((*queue).*queueCall)(request, args...);
        }
    });
}

void HTTPRequest::requestStarted() {
    notifyUser(true, &HTTPRequest::didStartSelector_, &Blocks::started,
               &HTTPRequestQueue::requestStarted);
}

void HTTPRequest::requestReceivedResponseHeaders(const Headers& headers) {
    notifyUser(true, &HTTPRequest::didReceiveResponseHeadersSelector_, &Blocks::headersReceived,
               &HTTPRequestQueue::requestReceivedResponseHeaders, headers);
}

void HTTPRequest::reportFinished() {
    // A PAC-file request tells the request it serves at once, on its own thread.
    if (auto ended = std::exchange(PACFileRequestEnded_, nullptr)) return ended(self());
    notifyUser(true, &HTTPRequest::didFinishSelector_, &Blocks::completion,
               &HTTPRequestQueue::requestFinished);
}

void HTTPRequest::reportFailure() {
    if (auto ended = std::exchange(PACFileRequestEnded_, nullptr)) return ended(self());
    notifyUser(false, &HTTPRequest::didFailSelector_, &Blocks::failure,
               &HTTPRequestQueue::requestFailed);
}

void HTTPRequest::passOnReceivedData(const QByteArray& data) {
    notifyUser(false, &HTTPRequest::didReceiveDataSelector_, &Blocks::dataReceived, nullptr, data);
}

bool HTTPRequest::hasDataReceiver() const {
    {
        std::lock_guard lock(blocksMutex_);
        if (blocks_->dataReceived) return true;
    }
    return didReceiveDataSelector_ && !delegate_.expired();
}

void HTTPRequest::releaseBlocksOnMainThread() {
    std::shared_ptr<Blocks> released;
    {
        std::lock_guard lock(blocksMutex_);
        released = std::exchange(blocks_, std::make_shared<Blocks>());
    }
    // The last reference to each block goes on the GUI thread, where blocks are called.
    if (QCoreApplication::instance() != nullptr && !platform::isMainThread()) {
        platform::runOnMainThread([released] {});
    }
}

// ---- Status timer ----

void HTTPRequest::startStatusTimer() {
    stopStatusTimer();
    statusTimer_ = new QTimer();
    statusTimer_->setInterval(250);
    std::weak_ptr<HTTPRequest> weak = self();
    QObject::connect(statusTimer_, &QTimer::timeout, [weak] {
        if (auto request = weak.lock()) request->updateStatus();
    });
    statusTimer_->start();
}

void HTTPRequest::stopStatusTimer() {
    if (statusTimer_ == nullptr) return;
    statusTimer_->stop();
    statusTimer_->deleteLater();
    statusTimer_ = nullptr;
}

void HTTPRequest::updateStatus() {
    checkRequestStatus();
    if (!inProgress_) stopStatusTimer();
}

void HTTPRequest::checkRequestStatus() {
    std::unique_lock lock(cancelledLock_);
    if (cancelled_ || complete_) return;
    performThrottling();
    if (shouldTimeOut()) {
        const bool retry = handleTimeOut();
        lock.unlock();
        if (retry) startRequest();
        return;
    }
    if (readStream_ && postLength_ > 0) {
        lastBytesSent_ = totalBytesSent_;
        totalBytesSent_ = static_cast<quint64>(readStream_->requestBodyBytesWritten());
        if (totalBytesSent_ > lastBytesSent_) lastActivityTime_ = QDateTime::currentDateTimeUtc();
    }
    updateProgressIndicators();
}

}  // namespace http
