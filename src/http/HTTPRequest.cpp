#include "http/HTTPRequest.h"

#include <QAbstractEventDispatcher>
#include <QThread>
#include <QTimer>

#include "http/DataDecompressor.h"
#include "http/RequestClassState.h"

namespace http {

HTTPRequest::HTTPRequest(const QUrl& url)
    : maxInflatedBodySize_(defaultMaxInflatedBodySize()),
      timeOutSeconds_(defaultTimeOutSeconds()),
      downloadCache_(defaultCache()) {
    didStartSelector_ = [](HTTPRequestDelegate& d, const HTTPRequestPtr& r) {
        d.requestStarted(r);
    };
    didReceiveResponseHeadersSelector_ = [](HTTPRequestDelegate& d, const HTTPRequestPtr& r,
                                            const Headers& headers) {
        d.requestReceivedResponseHeaders(r, headers);
    };
    didFinishSelector_ = [](HTTPRequestDelegate& d, const HTTPRequestPtr& r) {
        d.requestFinished(r);
    };
    didFailSelector_ = [](HTTPRequestDelegate& d, const HTTPRequestPtr& r) { d.requestFailed(r); };
    // A delegate answers the redirect confirmation and the body events only when the caller
    // sets those selectors: answering them changes how the request behaves (it waits for a
    // confirmation; the body goes to the delegate instead of being stored).
    setURL(url);
}

HTTPRequest::~HTTPRequest() {
    destroying_ = true;
    authenticationNeeded_ = 0;
    request_.reset();
    cancelLoad();
    // The last reference may go inside the timer's own signal: never delete it directly.
    if (statusTimer_ != nullptr) statusTimer_->deleteLater();
    releaseBlocksOnMainThread();
}

HTTPRequestPtr HTTPRequest::requestWithURL(const QUrl& url) {
    return std::make_shared<HTTPRequest>(url);
}

HTTPRequestPtr HTTPRequest::requestWithURL(const QUrl& url, std::shared_ptr<CacheDelegate> cache,
                                           int cachePolicy) {
    auto request = requestWithURL(url);
    request->setDownloadCache(cache);
    request->setCachePolicy(cachePolicy);
    return request;
}

HTTPRequestPtr HTTPRequest::makeRequestOfSameClass(const QUrl& url) const {
    return std::make_shared<HTTPRequest>(url);
}

HTTPRequestPtr HTTPRequest::copyWithZone() const {
    std::lock_guard lock(cancelledLock_);
    HTTPRequestPtr copy = makeRequestOfSameClass(url_);
    copySharedSettingsTo(*copy);
    copy->delegate_ = delegate_;
    copy->requestMethod_ = requestMethod_;
    copy->postBody_ = postBody_;
    copy->shouldStreamPostDataFromDisk_ = shouldStreamPostDataFromDisk_;
    copy->postBodyFilePath_ = postBodyFilePath_;
    copy->maxInflatedBodySize_ = maxInflatedBodySize_;
    copy->downloadDestinationPath_ = downloadDestinationPath_;
    copy->temporaryFileDownloadPath_ = temporaryFileDownloadPath_;
    copy->uploadProgressDelegate_ = uploadProgressDelegate_;
    copy->downloadProgressDelegate_ = downloadProgressDelegate_;
    copy->postLength_ = postLength_;
    copy->haveBuiltPostBody_ = haveBuiltPostBody_;
    copy->didStartSelector_ = didStartSelector_;
    copy->didFinishSelector_ = didFinishSelector_;
    copy->didFailSelector_ = didFailSelector_;
    copy->shouldResetDownloadProgress_ = shouldResetDownloadProgress_;
    copy->shouldResetUploadProgress_ = shouldResetUploadProgress_;
    copy->showAccurateProgress_ = showAccurateProgress_;
    copy->defaultResponseEncoding_ = defaultResponseEncoding_;
    copy->allowResumeForFileDownloads_ = allowResumeForFileDownloads_;
    copy->userInfo_ = userInfo_;
    copy->tag_ = tag_;
    copy->shouldRedirect_ = shouldRedirect_;
    copy->authenticationScheme_ = authenticationScheme_;
    return copy;
}

HTTPRequestPtr HTTPRequest::HEADRequest() {
    std::lock_guard lock(cancelledLock_);
    HTTPRequestPtr head = makeRequestOfSameClass(url_);
    head->setRequestMethod(QStringLiteral("HEAD"));
    head->mainRequest_ = self();
    head->hasMainRequest_ = true;
    copySharedSettingsTo(*head);
    return head;
}

void HTTPRequest::copySharedSettingsTo(HTTPRequest& other) const {
    other.requestHeaders_ = requestHeaders_;
    other.requestCookies_ = requestCookies_;
    other.useCookiePersistence_ = useCookiePersistence_;
    other.allowCompressedResponse_ = allowCompressedResponse_;
    other.username_ = username_;
    other.password_ = password_;
    other.proxyHost_ = proxyHost_;
    other.proxyPort_ = proxyPort_;
    other.proxyType_ = proxyType_;
    other.proxyDiscoveredForURL_ = proxyDiscoveredForURL_;
    other.PACurl_ = PACurl_;
    other.timeOutSeconds_ = timeOutSeconds_;
    other.useHTTPVersionOne_ = useHTTPVersionOne_;
    other.validatesSecureCertificate_ = validatesSecureCertificate_;
    other.clientCertificateIdentity_ = clientCertificateIdentity_;
    other.clientCertificates_ = clientCertificates_;
    other.extraTrustedCertificates_ = extraTrustedCertificates_;
    other.shouldPresentCredentialsBeforeChallenge_ = shouldPresentCredentialsBeforeChallenge_;
    other.numberOfTimesToRetryOnTimeout_ = numberOfTimesToRetryOnTimeout_;
    other.shouldUseRFC2616RedirectBehaviour_ = shouldUseRFC2616RedirectBehaviour_;
    other.shouldAttemptPersistentConnection_ = shouldAttemptPersistentConnection_;
    other.persistentConnectionTimeoutSeconds_ = persistentConnectionTimeoutSeconds_;
    copyCredentialSettingsTo(other);
}

// ---- Accessors guarded by the request's lock ----

bool HTTPRequest::isCancelled() const {
    std::lock_guard lock(cancelledLock_);
    return cancelled_;
}

ErrorPtr HTTPRequest::error() const {
    std::lock_guard lock(cancelledLock_);
    return error_;
}

QUrl HTTPRequest::url() const {
    std::lock_guard lock(cancelledLock_);
    return url_;
}

void HTTPRequest::setURL(const QUrl& url) {
    std::lock_guard lock(cancelledLock_);
    if (url == url_) return;
    forgetServerCredentialsFor(url);
    url_ = url;
    // A new address needs a new message (and new authentication handles, when there are any).
    request_.reset();
    redirectURL_.clear();
}

QString HTTPRequest::requestMethod() const {
    std::lock_guard lock(cancelledLock_);
    return requestMethod_;
}

void HTTPRequest::setRequestMethod(const QString& method) {
    std::lock_guard lock(cancelledLock_);
    if (requestMethod_ != method) requestMethod_ = method;
    if (requestMethod_ == QLatin1String("POST") || requestMethod_ == QLatin1String("PUT") ||
        !postBody_.isEmpty() || !postBodyFilePath_.isEmpty()) {
        shouldAttemptPersistentConnection_ = false;
    }
}

std::shared_ptr<HTTPRequestDelegate> HTTPRequest::delegate() const {
    std::lock_guard lock(cancelledLock_);
    return delegate_.lock();
}

std::shared_ptr<HTTPRequestQueue> HTTPRequest::queue() const {
    std::lock_guard lock(cancelledLock_);
    return queue_;
}

#define LUMARO_LOCKED_SETTER(Setter, Type, mutex, target) \
    void HTTPRequest::Setter(Type value) {                \
        std::lock_guard lock(mutex);                      \
        target = std::move(value);                        \
    }

LUMARO_LOCKED_SETTER(setDelegate, std::weak_ptr<HTTPRequestDelegate>, cancelledLock_, delegate_)
LUMARO_LOCKED_SETTER(setQueue, std::shared_ptr<HTTPRequestQueue>, cancelledLock_, queue_)
LUMARO_LOCKED_SETTER(setDidStartSelector, RequestSelector, cancelledLock_, didStartSelector_)
LUMARO_LOCKED_SETTER(setDidReceiveResponseHeadersSelector, HeadersSelector, cancelledLock_,
                     didReceiveResponseHeadersSelector_)
LUMARO_LOCKED_SETTER(setWillRedirectSelector, RedirectSelector, cancelledLock_,
                     willRedirectSelector_)
LUMARO_LOCKED_SETTER(setDidFinishSelector, RequestSelector, cancelledLock_, didFinishSelector_)
LUMARO_LOCKED_SETTER(setDidFailSelector, RequestSelector, cancelledLock_, didFailSelector_)
LUMARO_LOCKED_SETTER(setDidReceiveDataSelector, DataSelector, cancelledLock_,
                     didReceiveDataSelector_)
LUMARO_LOCKED_SETTER(setStartedBlock, Block, blocksMutex_, blocks_->started)
LUMARO_LOCKED_SETTER(setHeadersReceivedBlock, HeadersBlock, blocksMutex_, blocks_->headersReceived)
LUMARO_LOCKED_SETTER(setCompletionBlock, Block, blocksMutex_, blocks_->completion)
LUMARO_LOCKED_SETTER(setFailedBlock, Block, blocksMutex_, blocks_->failure)
LUMARO_LOCKED_SETTER(setBytesReceivedBlock, ProgressBlock, blocksMutex_, blocks_->bytesReceived)
LUMARO_LOCKED_SETTER(setBytesSentBlock, ProgressBlock, blocksMutex_, blocks_->bytesSent)
LUMARO_LOCKED_SETTER(setDownloadSizeIncrementedBlock, SizeBlock, blocksMutex_,
                     blocks_->downloadSizeIncremented)
LUMARO_LOCKED_SETTER(setUploadSizeIncrementedBlock, SizeBlock, blocksMutex_,
                     blocks_->uploadSizeIncremented)
LUMARO_LOCKED_SETTER(setDataReceivedBlock, DataBlock, blocksMutex_, blocks_->dataReceived)
LUMARO_LOCKED_SETTER(setAuthenticationNeededBlock, Block, blocksMutex_,
                     blocks_->authenticationNeeded)
LUMARO_LOCKED_SETTER(setProxyAuthenticationNeededBlock, Block, blocksMutex_,
                     blocks_->proxyAuthenticationNeeded)
LUMARO_LOCKED_SETTER(setRequestRedirectedBlock, Block, blocksMutex_, blocks_->requestRedirected)

#undef LUMARO_LOCKED_SETTER

void HTTPRequest::addRequestHeader(const QString& name, const QString& value) {
    requestHeaders_.set(name, value);
}

void HTTPRequest::setPostBody(const QByteArray& body) { postBody_ = body; }

Headers HTTPRequest::responseHeaders() const { return responseHeaders_.value_or(Headers()); }

// ---- Class-wide ----

platform::OperationQueue& HTTPRequest::sharedQueue() {
    return RequestClassState::instance().sharedQueue;
}

QThread* HTTPRequest::threadForRequest(const HTTPRequestPtr&) {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.monitor);
    if (state.networkThread == nullptr) {
        state.networkThread = new QThread();
        state.networkThread->setObjectName(QStringLiteral("HTTPRequest network thread"));
        state.networkThread->start();
        // Events can be posted to the thread as soon as its dispatcher exists.
        while (QAbstractEventDispatcher::instance(state.networkThread) == nullptr) {
            QThread::yieldCurrentThread();
        }
    }
    return state.networkThread;
}

double HTTPRequest::defaultTimeOutSeconds() {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.monitor);
    return state.defaultTimeOutSeconds;
}

void HTTPRequest::setDefaultTimeOutSeconds(double seconds) {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.monitor);
    state.defaultTimeOutSeconds = seconds;
}

quint64 HTTPRequest::defaultMaxInflatedBodySize() {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.monitor);
    return state.defaultMaxInflatedBodySize;
}

void HTTPRequest::setDefaultMaxInflatedBodySize(quint64 bytes) {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.monitor);
    state.defaultMaxInflatedBodySize = bytes;
}

std::shared_ptr<CacheDelegate> HTTPRequest::defaultCache() {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.monitor);
    return state.defaultCache;
}

void HTTPRequest::setDefaultCache(std::shared_ptr<CacheDelegate> cache) {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.monitor);
    state.defaultCache = std::move(cache);
}

bool HTTPRequest::isNetworkInUse() {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.connectionPoolLock);
    return state.activeStreamCount > 0;
}

void HTTPRequest::setShouldUpdateNetworkActivityIndicator(bool on) {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.connectionPoolLock);
    state.shouldUpdateNetworkActivityIndicator = on;
}

quint64 HTTPRequest::requestCounter() {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.connectionPoolLock);
    return state.requestCounter;
}

}  // namespace http
