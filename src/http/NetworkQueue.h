#pragma once

#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>

#include "http/HTTPRequest.h"
#include "http/HTTPRequestDelegate.h"
#include "http/ProgressDelegate.h"
#include "platform/OperationQueue.h"

namespace http {

class NetworkQueue;

// The receiver of a queue's events: the request events of HTTPRequestDelegate, the end of
// the queue, and whether it takes credential prompts for requests that have no delegate.
class NetworkQueueDelegate : public HTTPRequestDelegate {
public:
    virtual void queueFinished(NetworkQueue&) {}
};

// What the queue calls on its delegate when all its requests have finished or failed.
using QueueSelector = std::function<void(NetworkQueueDelegate&, NetworkQueue&)>;

// The one exception that leaves the engine: something that is not a request was added to a
// queue.
class InvalidRequestException : public std::invalid_argument {
public:
    InvalidRequestException();
    // "AttemptToAddInvalidRequest".
    static const char* name();
};

// An operation queue for HTTP requests: made suspended so requests can be collected first,
// at most four at a time once it goes, one delegate told of each request's events and of the
// end of the queue, every other request cancelled when one fails (by default), and the
// progress of all its requests added up into one upload and one download indicator.
//
// Callbacks arrive on the GUI thread; the owner adds requests and calls go, reset and the
// setters there too, and destroys the queue there. Requests still queued when the queue is
// destroyed no longer report to it.
class NetworkQueue : public platform::OperationQueue {
public:
    static constexpr int kMaxConcurrentRequests = 4;
    // Above the highest named priority, so that a HEAD request runs before anything else.
    static constexpr int kHEADRequestPriority = 10;

    NetworkQueue();
    ~NetworkQueue() override;

    static std::shared_ptr<NetworkQueue> queue();
    // A new, suspended queue with this one's delegate, selectors, progress indicators (each
    // set back to 0), settings and a copy of userInfo; neither requests nor counters.
    std::shared_ptr<NetworkQueue> copyWithZone() const;

    // Starts running the requests.
    void go();
    // Cancels everything and forgets the delegate, the progress indicators and the selectors
    // (but not the redirect confirmation), and suspends the queue.
    void reset();

    // Throws InvalidRequestException for anything that is not an HTTPRequest.
    void addOperation(const std::shared_ptr<platform::Operation>& operation) override;
    // Zeroes the four byte counters, then cancels every request; each cancelled request
    // fails, which is what lowers requestsCount.
    void cancelAllOperations() override;
    void setSuspended(bool suspended) override;

    // ---- Delegate and selectors ----
    std::shared_ptr<NetworkQueueDelegate> delegate() const;
    void setDelegate(std::weak_ptr<NetworkQueueDelegate> delegate);
    void setRequestDidStartSelector(RequestSelector selector);
    void setRequestDidReceiveResponseHeadersSelector(HeadersSelector selector);
    void setRequestWillRedirectSelector(RedirectSelector selector);
    void setRequestDidFinishSelector(RequestSelector selector);
    void setRequestDidFailSelector(RequestSelector selector);
    void setQueueDidFinishSelector(QueueSelector selector);
    bool hasRequestWillRedirectSelector() const;

    // ---- Progress ----
    std::shared_ptr<ProgressDelegate> uploadProgressDelegate() const {
        return uploadProgressDelegate_.lock();
    }
    void setUploadProgressDelegate(std::weak_ptr<ProgressDelegate> delegate);
    std::shared_ptr<ProgressDelegate> downloadProgressDelegate() const {
        return downloadProgressDelegate_.lock();
    }
    void setDownloadProgressDelegate(std::weak_ptr<ProgressDelegate> delegate);
    quint64 bytesUploadedSoFar() const { return bytesUploadedSoFar_; }
    void setBytesUploadedSoFar(quint64 bytes) { bytesUploadedSoFar_ = bytes; }
    quint64 totalBytesToUpload() const { return totalBytesToUpload_; }
    void setTotalBytesToUpload(quint64 bytes) { totalBytesToUpload_ = bytes; }
    quint64 bytesDownloadedSoFar() const { return bytesDownloadedSoFar_; }
    void setBytesDownloadedSoFar(quint64 bytes) { bytesDownloadedSoFar_ = bytes; }
    quint64 totalBytesToDownload() const { return totalBytesToDownload_; }
    void setTotalBytesToDownload(quint64 bytes) { totalBytesToDownload_ = bytes; }
    // Measure progress in bytes (on) or in whole requests (off, the default).
    bool showAccurateProgress() const { return showAccurateProgress_; }
    void setShowAccurateProgress(bool on) { showAccurateProgress_ = on; }

    // ---- Settings and state ----
    bool shouldCancelAllRequestsOnFailure() const { return shouldCancelAllRequestsOnFailure_; }
    void setShouldCancelAllRequestsOnFailure(bool on) { shouldCancelAllRequestsOnFailure_ = on; }
    // Requests added and not yet finished or failed.
    qint32 requestsCount() const { return requestsCount_; }
    QVariantMap userInfo() const;
    void setUserInfo(const QVariantMap& userInfo);

private:
    class Link;
    using ProgressField = std::weak_ptr<ProgressDelegate> NetworkQueue::*;

    void addHEADOperation(const HTTPRequestPtr& request);
    // Reports request as failed to this queue once the queue has run it.
    void reportFailureWhenFinished(const HTTPRequestPtr& request);
    void resetProgressDelegate(ProgressField field);
    void updateProgressIndicator(ProgressField field, quint64 progress, quint64 total);

    // What the queue's requests report (on the GUI thread).
    void requestStarted(const HTTPRequestPtr& request);
    void requestReceivedResponseHeaders(const HTTPRequestPtr& request, const Headers& headers);
    void requestWillRedirectToURL(const HTTPRequestPtr& request, const QUrl& url);
    void requestFinished(const HTTPRequestPtr& request);
    void requestFailed(const HTTPRequestPtr& request);
    void requestDidReceiveBytes(qint64 count);
    void requestDidSendBytes(qint64 count);
    void requestIncrementDownloadSizeBy(qint64 amount);
    void requestIncrementUploadSizeBy(qint64 amount);
    void authenticationNeededForRequest(const HTTPRequestPtr& request);
    void proxyAuthenticationNeededForRequest(const HTTPRequestPtr& request);
    bool answersWillRedirectToURL() const;
    bool answersAuthenticationNeeded() const;
    bool answersProxyAuthenticationNeeded() const;

    // What every request of this queue holds as its queue; cut loose when the queue goes.
    std::shared_ptr<Link> link_;

    // Requests ask from their own thread whether the delegate takes a redirect confirmation
    // or a credential prompt; the delegate and selectors are guarded by callbackMutex_.
    std::weak_ptr<NetworkQueueDelegate> delegate_;
    struct Selectors {
        RequestSelector requestDidStart;
        HeadersSelector requestDidReceiveResponseHeaders;
        RedirectSelector requestWillRedirect;
        RequestSelector requestDidFinish;
        RequestSelector requestDidFail;
        QueueSelector queueDidFinish;
    };
    Selectors selectors_;
    mutable std::mutex callbackMutex_;
    template <class Slot>
    Slot selector(Slot Selectors::*slot) const {
        std::lock_guard lock(callbackMutex_);
        return selectors_.*slot;
    }

    std::weak_ptr<ProgressDelegate> uploadProgressDelegate_;
    std::atomic<quint64> bytesUploadedSoFar_{0};
    std::atomic<quint64> totalBytesToUpload_{0};
    std::weak_ptr<ProgressDelegate> downloadProgressDelegate_;
    std::atomic<quint64> bytesDownloadedSoFar_{0};
    std::atomic<quint64> totalBytesToDownload_{0};
    std::atomic<bool> shouldCancelAllRequestsOnFailure_{true};
    std::atomic<qint32> requestsCount_{0};
    std::atomic<bool> showAccurateProgress_{false};
    mutable std::mutex userInfoMutex_;
    QVariantMap userInfo_;
};

}  // namespace http
