// The points where throttling, credentials and proxy discovery join a request. Until each
// of them is part of the engine, a request behaves as it would without it: nothing is
// throttled, a 401 or 407 answer ends the request with "Authentication needed", and only a
// proxy set on the request is used.
#include "http/HTTPRequest.h"
#include "http/RequestClassState.h"

namespace http {

void HTTPRequest::performThrottling() {}

bool HTTPRequest::isBandwidthThrottled() { return false; }

void HTTPRequest::applyAuthorizationHeader() {
    if (!shouldPresentCredentialsBeforeChallenge_) return;
    if (requestHeaders_.contains(QStringLiteral("Authorization"))) return;
    if (!username_.isEmpty() && !password_.isEmpty() &&
        authenticationScheme_ == QLatin1String("Basic")) {
        addBasicAuthenticationHeaderWithUsername(username_, password_);
    }
}

void HTTPRequest::attemptToApplyCredentialsAndResume() {
    std::lock_guard lock(cancelledLock_);
    if (error_ || cancelled_) return;
    cancelLoad();
    failWithError(RequestClassState::instance().authenticationError);
}

bool HTTPRequest::configureProxies() { return true; }

}  // namespace http
