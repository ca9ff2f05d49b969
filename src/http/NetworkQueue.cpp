#include "http/NetworkQueue.h"

#include <algorithm>

#include "platform/MainThread.h"

namespace http {

// The queue as its requests see it. Requests keep it alive after the queue is gone, so it
// holds the queue without owning it and is cut loose by the queue's destructor: a request
// that reports afterwards reaches nothing.
class NetworkQueue::Link : public HTTPRequestQueue {
public:
    explicit Link(NetworkQueue* queue) : queue_(queue) {}
    void detach() { queue_ = nullptr; }
    bool attached() const { return queue_ != nullptr; }

    void requestStarted(const HTTPRequestPtr& request) override {
        if (auto* queue = queue_.load()) queue->requestStarted(request);
    }
    void requestReceivedResponseHeaders(const HTTPRequestPtr& request,
                                        const Headers& headers) override {
        if (auto* queue = queue_.load()) queue->requestReceivedResponseHeaders(request, headers);
    }
    void requestWillRedirectToURL(const HTTPRequestPtr& request, const QUrl& url) override {
        if (auto* queue = queue_.load()) queue->requestWillRedirectToURL(request, url);
    }
    void requestFinished(const HTTPRequestPtr& request) override {
        if (auto* queue = queue_.load()) queue->requestFinished(request);
    }
    void requestFailed(const HTTPRequestPtr& request) override {
        if (auto* queue = queue_.load()) queue->requestFailed(request);
    }
    void requestDidReceiveBytes(const HTTPRequestPtr&, qint64 count) override {
        if (auto* queue = queue_.load()) queue->requestDidReceiveBytes(count);
    }
    void requestDidSendBytes(const HTTPRequestPtr&, qint64 count) override {
        if (auto* queue = queue_.load()) queue->requestDidSendBytes(count);
    }
    void requestIncrementDownloadSizeBy(const HTTPRequestPtr&, qint64 amount) override {
        if (auto* queue = queue_.load()) queue->requestIncrementDownloadSizeBy(amount);
    }
    void requestIncrementUploadSizeBy(const HTTPRequestPtr&, qint64 amount) override {
        if (auto* queue = queue_.load()) queue->requestIncrementUploadSizeBy(amount);
    }
    void authenticationNeededForRequest(const HTTPRequestPtr& request) override {
        if (auto* queue = queue_.load()) queue->authenticationNeededForRequest(request);
    }
    void proxyAuthenticationNeededForRequest(const HTTPRequestPtr& request) override {
        if (auto* queue = queue_.load()) queue->proxyAuthenticationNeededForRequest(request);
    }
    bool answersWillRedirectToURL() const override {
        auto* queue = queue_.load();
        return queue != nullptr && queue->answersWillRedirectToURL();
    }
    bool answersAuthenticationNeeded() const override {
        auto* queue = queue_.load();
        return queue != nullptr && queue->answersAuthenticationNeeded();
    }
    bool answersProxyAuthenticationNeeded() const override {
        auto* queue = queue_.load();
        return queue != nullptr && queue->answersProxyAuthenticationNeeded();
    }

private:
    std::atomic<NetworkQueue*> queue_;
};

InvalidRequestException::InvalidRequestException()
    : std::invalid_argument(
          "Attempted to add an object that was not an HTTPRequest to a "
          "NetworkQueue") {}

const char* InvalidRequestException::name() { return "AttemptToAddInvalidRequest"; }

NetworkQueue::NetworkQueue() : link_(std::make_shared<Link>(this)) {
    setMaxConcurrentOperationCount(kMaxConcurrentRequests);
    OperationQueue::setSuspended(true);
}

NetworkQueue::~NetworkQueue() {
    link_->detach();
    for (const auto& operation : operations()) {
        auto request = std::dynamic_pointer_cast<HTTPRequest>(operation);
        if (request && request->queue() == link_) request->setQueue(nullptr);
    }
    std::lock_guard lock(userInfoMutex_);
    userInfo_.clear();
}

std::shared_ptr<NetworkQueue> NetworkQueue::queue() { return std::make_shared<NetworkQueue>(); }

std::shared_ptr<NetworkQueue> NetworkQueue::copyWithZone() const {
    auto copy = std::make_shared<NetworkQueue>();
    copy->setDelegate(delegate());
    {
        std::scoped_lock lock(callbackMutex_, copy->callbackMutex_);
        copy->selectors_ = selectors_;
    }
    copy->setUploadProgressDelegate(uploadProgressDelegate_);
    copy->setDownloadProgressDelegate(downloadProgressDelegate_);
    copy->setShouldCancelAllRequestsOnFailure(shouldCancelAllRequestsOnFailure_);
    copy->setShowAccurateProgress(showAccurateProgress_);
    copy->setUserInfo(userInfo());
    return copy;
}

// ---- Running ----

void NetworkQueue::go() { setSuspended(false); }

void NetworkQueue::setSuspended(bool suspended) { OperationQueue::setSuspended(suspended); }

void NetworkQueue::reset() {
    cancelAllOperations();
    setDelegate({});
    setDownloadProgressDelegate({});
    setUploadProgressDelegate({});
    {
        std::lock_guard lock(callbackMutex_);
        selectors_.requestDidStart = nullptr;
        selectors_.requestDidReceiveResponseHeaders = nullptr;
        selectors_.requestDidFail = nullptr;
        selectors_.requestDidFinish = nullptr;
        selectors_.queueDidFinish = nullptr;
    }
    setSuspended(true);
}

void NetworkQueue::cancelAllOperations() {
    bytesUploadedSoFar_ = 0;
    totalBytesToUpload_ = 0;
    bytesDownloadedSoFar_ = 0;
    totalBytesToDownload_ = 0;
    OperationQueue::cancelAllOperations();
}

void NetworkQueue::addOperation(const std::shared_ptr<platform::Operation>& operation) {
    auto request = std::dynamic_pointer_cast<HTTPRequest>(operation);
    if (!request) throw InvalidRequestException();
    ++requestsCount_;
    // A request that failed before it came here (a form part without a file) has told
    // nobody in this queue, and ends without a report once started: the queue would wait
    // for it for ever.
    if (request->error()) reportFailureWhenFinished(request);
    // The queue is known before the body is built, so a body that cannot be built reports its
    // failure here too.
    request->setQueue(link_);

    if (showAccurateProgress_) {
        request->buildPostBody();
        if (request->requestMethod() == QLatin1String("GET") && isSuspended() &&
            !request->error()) {
            // The HEAD request learns the size of the download before the request runs.
            HTTPRequestPtr head = request->HEADRequest();
            addHEADOperation(head);
            request->addDependency(head);
            if (request->shouldResetDownloadProgress()) {
                resetProgressDelegate(&NetworkQueue::downloadProgressDelegate_);
                request->setShouldResetDownloadProgress(false);
            }
        }
        request->buildPostBody();
        requestIncrementUploadSizeBy(static_cast<qint64>(request->postLength()));
    } else {
        requestIncrementDownloadSizeBy(1);
        requestIncrementUploadSizeBy(1);
    }
    if (request->shouldResetUploadProgress()) {
        resetProgressDelegate(&NetworkQueue::uploadProgressDelegate_);
        request->setShouldResetUploadProgress(false);
    }
    request->setShowAccurateProgress(showAccurateProgress_);
    OperationQueue::addOperation(request);
}

void NetworkQueue::reportFailureWhenFinished(const HTTPRequestPtr& request) {
    std::weak_ptr<Link> weakLink = link_;
    std::weak_ptr<HTTPRequest> weakRequest = request;
    auto reported = std::make_shared<std::atomic<bool>>(false);
    request->addObserver([weakLink, weakRequest, reported](platform::Operation&,
                                                           std::string_view key,
                                                           platform::Operation::Change change) {
        if (key != "isFinished" || change != platform::Operation::Change::Did) return;
        auto finished = weakRequest.lock();
        if (!finished || reported->exchange(true)) return;
        platform::runOnMainThread([weakLink, finished] {
            if (auto link = weakLink.lock()) link->requestFailed(finished);
        });
    });
}

void NetworkQueue::addHEADOperation(const HTTPRequestPtr& request) {
    request->setRequestMethod(QStringLiteral("HEAD"));
    request->setQueuePriority(kHEADRequestPriority);
    request->setShowAccurateProgress(true);
    request->setQueue(link_);
    OperationQueue::addOperation(request);
}

// ---- Delegate and selectors ----

void NetworkQueue::setRequestDidStartSelector(RequestSelector selector) {
    std::lock_guard lock(callbackMutex_);
    selectors_.requestDidStart = std::move(selector);
}

void NetworkQueue::setRequestDidReceiveResponseHeadersSelector(HeadersSelector selector) {
    std::lock_guard lock(callbackMutex_);
    selectors_.requestDidReceiveResponseHeaders = std::move(selector);
}

void NetworkQueue::setRequestWillRedirectSelector(RedirectSelector selector) {
    std::lock_guard lock(callbackMutex_);
    selectors_.requestWillRedirect = std::move(selector);
}

void NetworkQueue::setRequestDidFinishSelector(RequestSelector selector) {
    std::lock_guard lock(callbackMutex_);
    selectors_.requestDidFinish = std::move(selector);
}

void NetworkQueue::setRequestDidFailSelector(RequestSelector selector) {
    std::lock_guard lock(callbackMutex_);
    selectors_.requestDidFail = std::move(selector);
}

void NetworkQueue::setQueueDidFinishSelector(QueueSelector selector) {
    std::lock_guard lock(callbackMutex_);
    selectors_.queueDidFinish = std::move(selector);
}

std::shared_ptr<NetworkQueueDelegate> NetworkQueue::delegate() const {
    std::lock_guard lock(callbackMutex_);
    return delegate_.lock();
}

void NetworkQueue::setDelegate(std::weak_ptr<NetworkQueueDelegate> delegate) {
    std::lock_guard lock(callbackMutex_);
    delegate_ = std::move(delegate);
}

bool NetworkQueue::hasRequestWillRedirectSelector() const {
    return static_cast<bool>(selector(&Selectors::requestWillRedirect));
}

QVariantMap NetworkQueue::userInfo() const {
    std::lock_guard lock(userInfoMutex_);
    return userInfo_;
}

void NetworkQueue::setUserInfo(const QVariantMap& userInfo) {
    std::lock_guard lock(userInfoMutex_);
    userInfo_ = userInfo;
}

// ---- Progress ----

void NetworkQueue::setUploadProgressDelegate(std::weak_ptr<ProgressDelegate> delegate) {
    uploadProgressDelegate_ = std::move(delegate);
    resetProgressDelegate(&NetworkQueue::uploadProgressDelegate_);
}

void NetworkQueue::setDownloadProgressDelegate(std::weak_ptr<ProgressDelegate> delegate) {
    downloadProgressDelegate_ = std::move(delegate);
    resetProgressDelegate(&NetworkQueue::downloadProgressDelegate_);
}

void NetworkQueue::resetProgressDelegate(ProgressField field) {
    auto indicator = (this->*field).lock();
    if (!indicator || !indicator->answers(ProgressOperation::SetProgress)) return;
    platform::runOnMainThread([indicator] { indicator->setProgress(0); });
}

void NetworkQueue::updateProgressIndicator(ProgressField field, quint64 progress, quint64 total) {
    auto indicator = (this->*field).lock();
    if (!indicator || !indicator->answers(ProgressOperation::SetProgress)) return;
    // Nothing to do out of nothing counts as done. Sums are what the requests reported and
    // totals what they announced, so a sum may run past its total for a moment: an
    // indicator never shows more than done.
    const double fraction =
        total == 0 ? 1.0
                   : std::min(1.0, static_cast<double>(progress) / static_cast<double>(total));
    platform::runOnMainThread(
        [indicator, fraction] { indicator->setProgress(static_cast<float>(fraction)); });
}

void NetworkQueue::requestDidReceiveBytes(qint64 count) {
    // Unsigned arithmetic wraps, so bytes taken back (a negative count) lower the sum.
    const quint64 sum = bytesDownloadedSoFar_ += static_cast<quint64>(count);
    updateProgressIndicator(&NetworkQueue::downloadProgressDelegate_, sum, totalBytesToDownload_);
}

void NetworkQueue::requestDidSendBytes(qint64 count) {
    const quint64 sum = bytesUploadedSoFar_ += static_cast<quint64>(count);
    updateProgressIndicator(&NetworkQueue::uploadProgressDelegate_, sum, totalBytesToUpload_);
}

void NetworkQueue::requestIncrementDownloadSizeBy(qint64 amount) {
    totalBytesToDownload_ += static_cast<quint64>(amount);
}

void NetworkQueue::requestIncrementUploadSizeBy(qint64 amount) {
    totalBytesToUpload_ += static_cast<quint64>(amount);
}

// ---- Request events ----

void NetworkQueue::requestStarted(const HTTPRequestPtr& request) {
    auto delegate = this->delegate();
    if (auto call = selector(&Selectors::requestDidStart); call && delegate) {
        call(*delegate, request);
    }
}

void NetworkQueue::requestReceivedResponseHeaders(const HTTPRequestPtr& request,
                                                  const Headers& headers) {
    auto delegate = this->delegate();
    if (auto call = selector(&Selectors::requestDidReceiveResponseHeaders); call && delegate) {
        call(*delegate, request, headers);
    }
}

void NetworkQueue::requestWillRedirectToURL(const HTTPRequestPtr& request, const QUrl& url) {
    auto delegate = this->delegate();
    if (auto call = selector(&Selectors::requestWillRedirect); call && delegate) {
        call(*delegate, request, url);
    }
}

void NetworkQueue::requestFinished(const HTTPRequestPtr& request) {
    // The delegate may destroy the queue from inside a callback; the link tells.
    const std::shared_ptr<Link> link = link_;
    --requestsCount_;
    auto delegate = this->delegate();
    if (auto call = selector(&Selectors::requestDidFinish); call && delegate) {
        call(*delegate, request);
    }
    if (!link->attached()) return;
    if (requestsCount_ == 0) {
        delegate = this->delegate();
        if (auto call = selector(&Selectors::queueDidFinish); call && delegate) {
            call(*delegate, *this);
        }
    }
}

void NetworkQueue::requestFailed(const HTTPRequestPtr& request) {
    const std::shared_ptr<Link> link = link_;
    --requestsCount_;
    auto delegate = this->delegate();
    if (auto call = selector(&Selectors::requestDidFail); call && delegate) {
        call(*delegate, request);
    }
    if (!link->attached()) return;
    if (requestsCount_ == 0) {
        delegate = this->delegate();
        if (auto call = selector(&Selectors::queueDidFinish); call && delegate) {
            call(*delegate, *this);
        }
        if (!link->attached()) return;
    }
    if (shouldCancelAllRequestsOnFailure_ && requestsCount_ > 0) cancelAllOperations();
}

void NetworkQueue::authenticationNeededForRequest(const HTTPRequestPtr& request) {
    auto delegate = this->delegate();
    if (delegate && delegate->answersAuthenticationNeeded()) {
        delegate->authenticationNeededForRequest(request);
    }
}

void NetworkQueue::proxyAuthenticationNeededForRequest(const HTTPRequestPtr& request) {
    auto delegate = this->delegate();
    if (delegate && delegate->answersProxyAuthenticationNeeded()) {
        delegate->proxyAuthenticationNeededForRequest(request);
    }
}

bool NetworkQueue::answersWillRedirectToURL() const {
    return hasRequestWillRedirectSelector() && delegate() != nullptr;
}

bool NetworkQueue::answersAuthenticationNeeded() const {
    auto delegate = this->delegate();
    return delegate && delegate->answersAuthenticationNeeded();
}

bool NetworkQueue::answersProxyAuthenticationNeeded() const {
    auto delegate = this->delegate();
    return delegate && delegate->answersProxyAuthenticationNeeded();
}

}  // namespace http
