// Finding the proxy of an attempt before its stream is made: the one set on the request,
// the system settings, or a proxy auto-configuration script read from a file or fetched
// over HTTP and run for the address.
#include <QStringDecoder>
#include <QThread>
#include <QTimer>

#include "http/HTTPRequest.h"
#include "http/RequestClassState.h"
#include "platform/SystemProxySettings.h"

namespace http {

namespace {

// A script larger than this is not a proxy configuration; it is dropped unread.
constexpr qsizetype kMaximumPACFileSize = 4 * 1024 * 1024;
constexpr qint64 kPACReadSize = 16384;

QString proxyTypeName(platform::SystemProxy::Type type) {
    switch (type) {
        case platform::SystemProxy::Type::Https:
            return QStringLiteral("HTTPS");
        case platform::SystemProxy::Type::Socks:
            return QStringLiteral("SOCKS");
        default:
            return QStringLiteral("HTTP");
    }
}

void widenSharedQueue(int by) {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.connectionPoolLock);
    state.sharedQueue.setMaxConcurrentOperationCount(
        state.sharedQueue.maxConcurrentOperationCount() + by);
}

}  // namespace

bool HTTPRequest::configureProxies() {
    // A proxy found for an earlier address (before a redirect) is not this address's.
    if (!proxyDiscoveredForURL_.isEmpty() && proxyDiscoveredForURL_ != url_) {
        proxyHost_.clear();
        proxyPort_ = 0;
        proxyType_.clear();
        proxyDiscoveredForURL_.clear();
    }
    if (isPACFileRequest_ || !proxyHost_.isEmpty() || proxyPort_ != 0) return true;
    if (PACurl_.isEmpty()) {
        QString problem;
        const auto proxies = platform::SystemProxySettings::proxiesForURL(url_, &problem);
        if (!proxies) {
            destroyReadStream();
            auto error = std::make_shared<Error>(*Error::http(
                InternalErrorWhileBuildingRequestType,
                QStringLiteral(
                    "Unable to obtain information on proxy servers needed for request")));
            error->failureReason = problem;
            failWithError(error);
            return false;
        }
        if (proxies->isEmpty()) return true;
        const platform::SystemProxy& first = proxies->first();
        if (first.type != platform::SystemProxy::Type::AutoConfigurationURL) {
            if (first.type != platform::SystemProxy::Type::None) {
                proxyHost_ = first.host;
                proxyPort_ = first.port;
                proxyType_ = proxyTypeName(first.type);
                proxyDiscoveredForURL_ = url_;
            }
            return true;
        }
        PACurl_ = first.autoConfigurationURL;
    }
    fetchPACFile();
    return false;
}

void HTTPRequest::fetchPACFile() {
    const QString scheme = PACurl_.scheme().toLower();
    if (PACurl_.isLocalFile()) {
        PACFileData_.reset();
        PACFileReadStream_ = std::make_unique<platform::FileInputStream>(PACurl_.toLocalFile());
        std::weak_ptr<HTTPRequest> weak = self();
        PACFileReadStream_->setClient([weak](platform::FileInputStreamEvent event) {
            if (auto request = weak.lock()) request->handlePACFileEvent(event);
        });
        PACFileReadStream_->open();
        PACReadTimer_ = new QTimer();
        PACReadTimer_->setSingleShot(true);
        PACReadTimer_->setTimerType(Qt::PreciseTimer);
        QObject::connect(PACReadTimer_, &QTimer::timeout, [weak] {
            if (auto request = weak.lock()) request->timeOutPACRead();
        });
        PACReadTimer_->start(static_cast<int>(timeOutSeconds_ * 1000));
        return;
    }
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        startRequest();
        return;
    }
    auto pacRequest = HTTPRequest::requestWithURL(PACurl_);
    pacRequest->isPACFileRequest_ = true;
    pacRequest->setTimeOutSeconds(timeOutSeconds_);
    pacRequest->setValidatesSecureCertificate(validatesSecureCertificate_);
    pacRequest->setExtraTrustedCertificates(extraTrustedCertificates_);
    if (isSynchronous_) {
        pacRequest->startSynchronous();
        if (!pacRequest->error()) {
            if (auto text = pacRequest->responseString()) runPACScript(*text);
        }
        startRequest();
        return;
    }
    PACFileRequest_ = pacRequest;
    pacRequest->setQueuePriority(platform::QueuePriority::High);
    std::weak_ptr<HTTPRequest> weak = self();
    // Called on the PAC request's thread in the middle of its own event: the rest goes
    // through this request's event loop, outside the other request's locks.
    pacRequest->PACFileRequestEnded_ = [weak](const HTTPRequestPtr& ended) {
        auto request = weak.lock();
        if (!request) return;
        request->performOnRequestThread(
            [request, ended] { request->finishedDownloadingPACFile(ended); });
    };
    pacRequest->startAsynchronous();
    widenSharedQueue(1);
    PACFileRequestWidenedQueue_ = true;
}

void HTTPRequest::handlePACFileEvent(platform::FileInputStreamEvent event) {
    std::unique_lock lock(cancelledLock_);
    if (!PACFileReadStream_) return;
    if (event == platform::FileInputStreamEvent::BytesAvailable) {
        if (!PACFileData_) PACFileData_.emplace();
        char buffer[kPACReadSize];
        const qint64 got = PACFileReadStream_->read(buffer, kPACReadSize);
        if (got > 0) PACFileData_->append(buffer, got);
        if (PACFileData_->size() <= kMaximumPACFileSize) return;
        // Far too large to be a proxy configuration: read as a failed file.
        event = platform::FileInputStreamEvent::ErrorOccurred;
    }
    if (PACReadTimer_ != nullptr) {
        PACReadTimer_->stop();
        PACReadTimer_->deleteLater();
        PACReadTimer_ = nullptr;
    }
    PACFileReadStream_->close();
    PACFileReadStream_.reset();
    if (event == platform::FileInputStreamEvent::EndEncountered) {
        const QByteArray data = PACFileData_.value_or(QByteArray());
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8.decode(data);
        if (utf8.hasError()) text = QString::fromLatin1(data);
        runPACScript(text);
    }
    PACFileData_.reset();
    lock.unlock();
    startRequest();
}

void HTTPRequest::timeOutPACRead() {
    handlePACFileEvent(platform::FileInputStreamEvent::ErrorOccurred);
}

void HTTPRequest::finishedDownloadingPACFile(const HTTPRequestPtr& pacRequest) {
    {
        std::lock_guard lock(cancelledLock_);
        // A request cancelled meanwhile has let its script go already.
        if (PACFileRequest_ != pacRequest) return;
        if (!pacRequest->error()) {
            if (auto text = pacRequest->responseString()) runPACScript(*text);
        }
        if (PACFileRequestWidenedQueue_) widenSharedQueue(-1);
        PACFileRequestWidenedQueue_ = false;
        PACFileRequest_.reset();
    }
    startRequest();
}

void HTTPRequest::runPACScript(const QString& script) {
    if (script.isEmpty()) return;
    auto runner = platform::PacRunner::cached(PACurl_.toString(), script);
    const std::optional<QString> answer = runner->findProxyForURL(url_);
    if (!answer) return;
    const QList<platform::PacProxy> proxies = platform::PacRunner::parseAnswer(*answer);
    if (!proxies.isEmpty()) usePACProxy(proxies.first());
}

void HTTPRequest::usePACProxy(const platform::PacProxy& proxy) {
    using Type = platform::PacProxy::Type;
    if (proxy.type == Type::Direct) return;
    proxyHost_ = proxy.host;
    proxyPort_ = proxy.port;
    proxyType_ = proxy.type == Type::Socks   ? QStringLiteral("SOCKS")
                 : proxy.type == Type::Https ? QStringLiteral("HTTPS")
                                             : QStringLiteral("HTTP");
    proxyDiscoveredForURL_ = url_;
}

void HTTPRequest::stopPACWork() {
    if (PACReadTimer_ != nullptr) {
        PACReadTimer_->stop();
        PACReadTimer_->deleteLater();
        PACReadTimer_ = nullptr;
    }
    if (PACFileReadStream_) {
        PACFileReadStream_->setClient({});
        PACFileReadStream_->close();
        PACFileReadStream_.reset();
    }
    PACFileData_.reset();
    if (PACFileRequest_) {
        HTTPRequestPtr pacRequest = std::move(PACFileRequest_);
        pacRequest->PACFileRequestEnded_ = nullptr;
        pacRequest->cancel();
        // The queue is narrowed here, as the script's end will never be heard.
        if (PACFileRequestWidenedQueue_) widenSharedQueue(-1);
        PACFileRequestWidenedQueue_ = false;
    }
}

}  // namespace http
