#pragma once

#include <QByteArray>
#include <QUrl>
#include <functional>
#include <memory>

#include "http/Headers.h"

namespace http {

class HTTPRequest;
using HTTPRequestPtr = std::shared_ptr<HTTPRequest>;

// The receiver of a request's events. Every method does nothing unless overridden; which
// method an event reaches is chosen by the request's selectors (by default the methods of
// the same name). The request holds its delegate without owning it.
class HTTPRequestDelegate {
public:
    virtual ~HTTPRequestDelegate() = default;

    virtual void requestStarted(const HTTPRequestPtr&) {}
    virtual void requestReceivedResponseHeaders(const HTTPRequestPtr&, const Headers&) {}
    virtual void requestRedirected(const HTTPRequestPtr&) {}
    virtual void requestFinished(const HTTPRequestPtr&) {}
    virtual void requestFailed(const HTTPRequestPtr&) {}
    virtual void requestWillRedirectToURL(const HTTPRequestPtr&, const QUrl&) {}
    virtual void requestDidReceiveData(const HTTPRequestPtr&, const QByteArray&) {}
    virtual void authenticationNeededForRequest(const HTTPRequestPtr&) {}
    virtual void proxyAuthenticationNeededForRequest(const HTTPRequestPtr&) {}
    // Whether the two credential questions above are answered: a delegate that answers is
    // asked and the request waits for retryUsingSuppliedCredentials or cancelAuthentication.
    virtual bool answersAuthenticationNeeded() const { return false; }
    virtual bool answersProxyAuthenticationNeeded() const { return false; }
};

// A selector: what an event calls on the delegate. An empty selector is one the delegate
// does not answer, so the event skips the delegate.
using RequestSelector = std::function<void(HTTPRequestDelegate&, const HTTPRequestPtr&)>;
using HeadersSelector =
    std::function<void(HTTPRequestDelegate&, const HTTPRequestPtr&, const Headers&)>;
using RedirectSelector =
    std::function<void(HTTPRequestDelegate&, const HTTPRequestPtr&, const QUrl&)>;
using DataSelector =
    std::function<void(HTTPRequestDelegate&, const HTTPRequestPtr&, const QByteArray&)>;

// The request queue a request reports to (retained by the request). The request asks the
// answers...() questions before it makes itself wait on the queue.
class HTTPRequestQueue {
public:
    virtual ~HTTPRequestQueue() = default;

    virtual void requestStarted(const HTTPRequestPtr&) {}
    virtual void requestReceivedResponseHeaders(const HTTPRequestPtr&, const Headers&) {}
    virtual void requestWillRedirectToURL(const HTTPRequestPtr&, const QUrl&) {}
    virtual void requestFinished(const HTTPRequestPtr&) {}
    virtual void requestFailed(const HTTPRequestPtr&) {}
    virtual void requestDidReceiveBytes(const HTTPRequestPtr&, qint64) {}
    virtual void requestDidSendBytes(const HTTPRequestPtr&, qint64) {}
    virtual void requestIncrementDownloadSizeBy(const HTTPRequestPtr&, qint64) {}
    virtual void requestIncrementUploadSizeBy(const HTTPRequestPtr&, qint64) {}
    virtual void authenticationNeededForRequest(const HTTPRequestPtr&) {}
    virtual void proxyAuthenticationNeededForRequest(const HTTPRequestPtr&) {}

    virtual bool answersWillRedirectToURL() const { return false; }
    virtual bool answersAuthenticationNeeded() const { return false; }
    virtual bool answersProxyAuthenticationNeeded() const { return false; }
};

}  // namespace http
