// Following redirects: deciding that an answer is one, preparing the next attempt, asking
// the delegate or queue to confirm it, and moving on to the new address.

#include "http/HTTPRequest.h"
#include "http/Origin.h"
#include "http/RequestClassState.h"
#include "platform/MainThread.h"

namespace http {

namespace {

// Redirects followed per request; the next one fails the request.
constexpr int kMaximumRedirects = 5;

bool isRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307;
}

}  // namespace

bool HTTPRequest::willRedirect() {
    if (!shouldRedirect_ || !responseHeaders_) return false;
    const QString location = responseHeaders_->value(QStringLiteral("Location"));
    if (location.isNull() || !isRedirectStatus(responseStatusCode_)) return false;

    requestRedirected();

    const bool keepsMethod =
        responseStatusCode_ == 307 || (shouldUseRFC2616RedirectBehaviour_ &&
                                       (responseStatusCode_ == 301 || responseStatusCode_ == 302));
    if (!keepsMethod) {
        requestMethod_ = QStringLiteral("GET");
        postBody_.clear();
        postLength_ = 0;
        // A body waiting on disk is not sent with the GET either (the file itself stays
        // where it is, and is cleaned up with the request when the request made it).
        shouldStreamPostDataFromDisk_ = false;
        Headers kept;
        for (const QString& name : {QStringLiteral("User-Agent"), QStringLiteral("Accept")}) {
            const QString value = requestHeaders_.value(name);
            if (!value.isNull()) kept.set(name, value);
        }
        requestHeaders_ = kept;
        haveBuiltRequestHeaders_ = false;
    }
    redirectURL_ = url_.resolved(QUrl(location));
    needsRedirect_ = true;
    requestCookies_.clear();
    return true;
}

bool HTTPRequest::willAskDelegateToConfirmRedirect() {
    std::lock_guard lock(cancelledLock_);
    const bool delegateAnswers = willRedirectSelector_ && !delegate_.expired();
    const bool queueAnswers = queue_ && queue_->answersWillRedirectToURL();
    if (!delegateAnswers && !queueAnswers) return false;
    const QUrl newURL = redirectURL_;
    redirectURL_.clear();
    requestWillRedirectToURL(newURL);
    return true;
}

void HTTPRequest::redirectToURL(const QUrl& newURL) {
    {
        std::lock_guard lock(cancelledLock_);
        redirectURL_ = newURL;
    }
    auto request = self();
    performOnRequestThread([request] { request->performRedirect(); });
}

void HTTPRequest::performRedirect() {
    std::lock_guard lock(cancelledLock_);
    const QUrl previousURL = url_;
    setURL(redirectURL_);
    complete_ = true;
    needsRedirect_ = false;
    ++redirectCount_;

    // Headers carried over to the new address (307, or 301/302 by RFC 2616) must not hand
    // one server's cookies or credentials to another: cookies are those of the new address,
    // and an Authorization header set by hand goes only back to the same server.
    if (haveBuiltRequestHeaders_) {
        requestHeaders_.remove(QStringLiteral("Cookie"));
        applyCookieHeader();
        if (!isSameOrigin(previousURL, url_)) {
            requestHeaders_.remove(QStringLiteral("Authorization"));
        }
    }

    if (redirectCount_ <= kMaximumRedirects) {
        main();
    } else {
        failWithError(RequestClassState::instance().tooMuchRedirectionError);
        complete_ = true;
    }
}

// ---- Events to user code ----

void HTTPRequest::requestRedirected() {
    auto request = self();
    platform::runOnMainThread([request] {
        std::unique_lock lock(request->cancelledLock_);
        if (request->error_ || request->hasMainRequest_) return;
        auto delegate = request->delegate_.lock();
        lock.unlock();
        if (delegate) delegate->requestRedirected(request);
        if (auto block = request->blockSnapshot(&Blocks::requestRedirected)) block();
    });
}

void HTTPRequest::requestWillRedirectToURL(const QUrl& newURL) {
    auto request = self();
    platform::runOnMainThread([request, newURL] {
        std::unique_lock lock(request->cancelledLock_);
        if (request->error_ || request->hasMainRequest_) return;
        auto delegate = request->delegate_.lock();
        auto selector = request->willRedirectSelector_;
        auto queue = request->queue_;
        lock.unlock();
        if (delegate && selector) selector(*delegate, request, newURL);
        if (queue && queue->answersWillRedirectToURL()) {
            queue->requestWillRedirectToURL(request, newURL);
        }
    });
}

}  // namespace http
