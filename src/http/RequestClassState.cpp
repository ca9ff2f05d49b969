#include "http/RequestClassState.h"

namespace http {

RequestClassState& RequestClassState::instance() {
    // Never destroyed: the network thread and its requests may outlive static destruction.
    static auto* state = new RequestClassState();
    return *state;
}

RequestClassState::RequestClassState() {
    requestTimedOutError = Error::http(RequestTimedOutErrorType, "The request timed out");
    authenticationError = Error::http(AuthenticationErrorType, "Authentication needed");
    requestCancelledError = Error::http(RequestCancelledErrorType, "The request was cancelled");
    unableToCreateRequestError =
        Error::http(UnableToCreateRequestErrorType, "Unable to create request (bad url?)");
    tooMuchRedirectionError = Error::http(
        TooMuchRedirectionErrorType, "The request failed because it redirected too many times");
    sharedQueue.setMaxConcurrentOperationCount(4);
}

}  // namespace http
