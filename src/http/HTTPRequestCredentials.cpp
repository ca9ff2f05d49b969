// Credentials a request presents. Until credential stores and prompts are part of the engine,
// only a Basic user name and password set on the request are sent before a challenge, and a
// 401 or 407 answer ends the request with "Authentication needed".
#include "http/HTTPRequest.h"
#include "http/Origin.h"
#include "http/RequestClassState.h"

namespace http {

void HTTPRequest::applyAuthorizationHeader() {
    if (!shouldPresentCredentialsBeforeChallenge_) return;
    if (requestHeaders_.contains(QStringLiteral("Authorization"))) return;
    // The request's credentials are for the server it was made for: after a redirect to
    // another scheme, host or port they stay behind.
    const QUrl& intended = redirectCount_ == 0 ? url_ : originalURL_;
    if (!isSameOrigin(url_, intended)) return;
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

}  // namespace http
