// Turning a request into bytes on the wire: its body, its headers, and the stream that
// carries each attempt.
#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QSysInfo>
#include <QThread>

#include "http/DataCompressor.h"
#include "http/HTTPRequest.h"
#include "http/RequestClassState.h"
#include "http/TemporaryPath.h"
#include "http/ThrottledInputStream.h"
#include "platform/CookieStore.h"

namespace http {

namespace {

constexpr qint64 kFileCopyPieceSize = 262144;

ErrorPtr attributesError(const QString& path) {
    // Opening the file names what the file system has against it.
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return Error::http(FileManagementError,
                       QStringLiteral("Failed to get attributes for file at path '%1'").arg(path),
                       fileSystemError(file));
}

}  // namespace

// ---- Body ----

void HTTPRequest::setupPostBody() {
    if (shouldStreamPostDataFromDisk_) {
        if (postBodyFilePath_.isEmpty()) {
            postBodyFilePath_ = newTemporaryPath();
            didCreateTemporaryPostDataFile_ = true;
        }
        if (!postBodyWriteStream_) {
            postBodyWriteStream_ = std::make_unique<QFile>(postBodyFilePath_);
            postBodyWriteStream_->open(QIODevice::WriteOnly | QIODevice::Truncate);
        }
    }
    // In memory, an empty QByteArray is the empty body.
}

void HTTPRequest::appendPostData(const QByteArray& data) {
    setupPostBody();
    if (data.isEmpty()) return;
    if (shouldStreamPostDataFromDisk_) {
        postBodyWriteStream_->write(data);
    } else {
        postBody_.append(data);
    }
}

void HTTPRequest::appendPostDataFromFile(const QString& path) {
    setupPostBody();
    QFile input(path);
    if (!input.open(QIODevice::ReadOnly)) return;
    QByteArray piece(kFileCopyPieceSize, Qt::Uninitialized);
    for (;;) {
        const qint64 read = input.read(piece.data(), kFileCopyPieceSize);
        if (read <= 0) break;
        if (shouldStreamPostDataFromDisk_) {
            postBodyWriteStream_->write(piece.constData(), read);
        } else {
            postBody_.append(piece.constData(), read);
        }
    }
}

void HTTPRequest::buildPostBody() {
    std::lock_guard lock(cancelledLock_);
    if (haveBuiltPostBody_) return;
    if (!postBodyFilePath_.isEmpty()) {
        if (postBodyWriteStream_) {
            postBodyWriteStream_->close();
            postBodyWriteStream_.reset();
        }
        QString pathToSend = postBodyFilePath_;
        if (shouldCompressRequestBody_) {
            if (compressedPostBodyFilePath_.isEmpty()) {
                compressedPostBodyFilePath_ = newTemporaryPath();
                ErrorPtr compressionError;
                if (!DataCompressor::compressDataFromFile(
                        postBodyFilePath_, compressedPostBodyFilePath_, &compressionError)) {
                    failWithError(compressionError);
                    return;
                }
            }
            pathToSend = compressedPostBodyFilePath_;
        }
        const QFileInfo info(pathToSend);
        if (!info.exists()) {
            failWithError(attributesError(pathToSend));
            return;
        }
        postLength_ = static_cast<quint64>(info.size());
    } else if (shouldCompressRequestBody_) {
        ErrorPtr compressionError;
        compressedPostBody_ = DataCompressor::compressData(postBody_, &compressionError);
        if (compressionError) {
            failWithError(compressionError);
            return;
        }
        postLength_ = static_cast<quint64>(compressedPostBody_.size());
    } else {
        postLength_ = static_cast<quint64>(postBody_.size());
    }
    finishPostBody(postLength_);
}

void HTTPRequest::finishPostBody(quint64 length) {
    postLength_ = length;
    if (postLength_ > 0) {
        if (requestMethod_ == QLatin1String("GET") || requestMethod_ == QLatin1String("DELETE") ||
            requestMethod_ == QLatin1String("HEAD")) {
            setRequestMethod(QStringLiteral("POST"));
        }
        addRequestHeader(QStringLiteral("Content-Length"), QString::number(postLength_));
    }
    haveBuiltPostBody_ = true;
}

// ---- Headers ----

void HTTPRequest::buildRequestHeaders() {
    std::lock_guard lock(cancelledLock_);
    if (haveBuiltRequestHeaders_) return;
    haveBuiltRequestHeaders_ = true;

    if (auto main = mainRequest_.lock()) {
        const Headers mainHeaders = main->requestHeaders();
        for (const auto& [name, value] : mainHeaders.fields()) {
            addRequestHeader(name, value);
        }
        return;
    }
    applyCookieHeader();
    if (!requestHeaders_.contains(QStringLiteral("User-Agent"))) {
        const QString userAgent =
            userAgentString_.isEmpty() ? defaultUserAgentString() : userAgentString_;
        if (!userAgent.isEmpty()) addRequestHeader(QStringLiteral("User-Agent"), userAgent);
    }
    if (allowCompressedResponse_) {
        addRequestHeader(QStringLiteral("Accept-Encoding"), QStringLiteral("gzip"));
    }
    if (shouldCompressRequestBody_) {
        addRequestHeader(QStringLiteral("Content-Encoding"), QStringLiteral("gzip"));
    }
    updatePartialDownloadSize();
    if (partialDownloadSize_ > 0) {
        addRequestHeader(QStringLiteral("Range"),
                         QStringLiteral("bytes=%1-").arg(partialDownloadSize_));
    }
}

void HTTPRequest::applyCookieHeader() {
    if (useCookiePersistence_) {
        requestCookies_.append(platform::CookieStore::shared().cookiesForUrl(url_));
    }
    auto main = mainRequest_.lock();
    const QList<QNetworkCookie> cookies = main ? main->requestCookies() : requestCookies_;
    if (cookies.isEmpty()) return;
    QString header;
    for (const QNetworkCookie& cookie : cookies) {
        if (!header.isEmpty()) header += QLatin1String("; ");
        // Names and values go out as stored, without escaping.
        header += QString::fromLatin1(cookie.name()) + QLatin1Char('=') +
                  QString::fromLatin1(cookie.value());
    }
    addRequestHeader(QStringLiteral("Cookie"), header);
}

void HTTPRequest::addBasicAuthenticationHeaderWithUsername(const QString& user,
                                                           const QString& password) {
    addRequestHeader(QStringLiteral("Authorization"),
                     QStringLiteral("Basic ") +
                         base64forData(QStringLiteral("%1:%2").arg(user, password).toUtf8()));
    authenticationScheme_ = QStringLiteral("Basic");
}

void HTTPRequest::updatePartialDownloadSize() {
    if (!allowResumeForFileDownloads_ || downloadDestinationPath_.isEmpty() ||
        temporaryFileDownloadPath_.isEmpty()) {
        return;
    }
    const QFileInfo info(temporaryFileDownloadPath_);
    if (!info.exists()) return;
    if (!info.isFile()) {
        failWithError(attributesError(temporaryFileDownloadPath_));
        return;
    }
    partialDownloadSize_ = static_cast<quint64>(info.size());
}

// ---- Class helpers ----

QString HTTPRequest::base64forData(const QByteArray& data) {
    return QString::fromLatin1(data.toBase64());
}

QString HTTPRequest::mimeTypeForFileAtPath(const QString& path) {
    if (!QFileInfo::exists(path)) return {};
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    return type.isValid() ? type.name() : QStringLiteral("application/octet-stream");
}

QString HTTPRequest::defaultUserAgentString() {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.monitor);
    if (!state.defaultUserAgentComputed) {
        state.defaultUserAgentComputed = true;
        const QString name = QCoreApplication::applicationName();
        if (!name.isEmpty()) {
            // The name goes out as header text, which is ISO Latin 1.
            const QString headerName = QString::fromLatin1(name.toUtf8());
            // The application has one version string; without one the field is left out.
            const QString version = QCoreApplication::applicationVersion();
            const QString details =
                QStringLiteral("(%1; %2 %3; %4)")
                    .arg(QSysInfo::currentCpuArchitecture(), QSysInfo::productType(),
                         QSysInfo::productVersion(), QLocale::system().name());
            state.defaultUserAgent =
                version.isEmpty() ? QStringLiteral("%1 %2").arg(headerName, details)
                                  : QStringLiteral("%1 %2 %3").arg(headerName, version, details);
        }
    }
    return state.defaultUserAgent.value_or(QString());
}

void HTTPRequest::setDefaultUserAgentString(const QString& userAgent) {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.monitor);
    state.defaultUserAgentComputed = true;
    state.defaultUserAgent = userAgent.isNull() ? std::nullopt : std::optional(userAgent);
}

// ---- One attempt ----

void HTTPRequest::startRequest() {
    std::lock_guard lock(cancelledLock_);
    if (cancelled_) return;
    requestStarted();

    downloadComplete_ = false;
    complete_ = false;
    totalBytesRead_ = 0;
    lastBytesRead_ = 0;
    if (redirectCount_ == 0) originalURL_ = url_;
    // Whatever an earlier attempt reported as sent is taken back, however quickly it went.
    if (totalBytesSent_ > 0) removeUploadProgressSoFar();
    lastBytesSent_ = 0;
    contentLength_ = 0;
    responseHeaders_.reset();
    if (downloadDestinationPath_.isEmpty()) rawResponseData_ = QByteArray();
    readStreamIsScheduled_ = false;
    expirePersistentConnections();

    // Every body goes out through the bandwidth budget.
    std::optional<platform::HttpRequestBody> streamed = streamedPostBody();
    if (error_) return;
    postBodyReadStream_.reset();
    if (streamed) {
        postBodyReadStream_ =
            ThrottledInputStream::inputStreamWithBody(std::move(*streamed), self());
    } else if (shouldStreamPostDataFromDisk_ && !postBodyFilePath_.isEmpty() &&
               QFileInfo::exists(postBodyFilePath_)) {
        const QString path =
            !compressedPostBodyFilePath_.isEmpty() && QFileInfo::exists(compressedPostBodyFilePath_)
                ? compressedPostBodyFilePath_
                : postBodyFilePath_;
        postBodyReadStream_ = ThrottledInputStream::inputStreamWithFileAtPath(path, self());
        if (!postBodyReadStream_) {
            failWithError(Error::http(InternalErrorWhileBuildingRequestType,
                                      QStringLiteral("Unable to create read stream")));
            return;
        }
    } else if (!postBody_.isEmpty()) {
        const bool compressed = shouldCompressRequestBody_ && !compressedPostBody_.isEmpty();
        postBodyReadStream_ = ThrottledInputStream::inputStreamWithData(
            compressed ? compressedPostBody_ : postBody_, self());
    }
    readStream_ = !postBodyReadStream_ || postBodyReadStream_->isEmpty()
                      ? platform::HttpStream::create(*request_)
                      : platform::HttpStream::create(
                            *request_, ThrottledInputStream::asRequestBody(postBodyReadStream_));
    if (!readStream_) {
        failWithError(Error::http(InternalErrorWhileBuildingRequestType,
                                  QStringLiteral("Unable to create read stream")));
        return;
    }

    if (url_.scheme().toLower() == QLatin1String("https")) {
        platform::HttpSecuritySettings settings;
        if (!validatesSecureCertificate_) settings = platform::HttpSecuritySettings::unvalidated();
        if (clientCertificateIdentity_) {
            settings = platform::HttpSecuritySettings::withCertificates(*clientCertificateIdentity_,
                                                                        clientCertificates_);
        }
        settings.extraCaCertificates = extraTrustedCertificates_;
        readStream_->setSecuritySettings(settings);
    }

    if (!proxyHost_.isEmpty() && proxyPort_ != 0) {
        if (proxyType_.isEmpty()) proxyType_ = QStringLiteral("HTTP");
        platform::HttpProxy proxy;
        proxy.host = proxyHost_;
        proxy.port = static_cast<quint16>(proxyPort_);
        if (proxyType_.compare(QLatin1String("SOCKS"), Qt::CaseInsensitive) == 0) {
            proxy.type = platform::HttpProxyType::Socks;
        } else if (url_.scheme().toLower() == QLatin1String("https")) {
            proxy.type = platform::HttpProxyType::Https;
        } else {
            proxy.type = platform::HttpProxyType::Http;
        }
        readStream_->setProxy(proxy);
    }

    std::shared_ptr<platform::HttpStream> olderStream;
    if (url_.host().isEmpty() || url_.scheme().isEmpty()) {
        discardConnection();
        shouldAttemptPersistentConnection_ = false;
    }
    if (shouldAttemptPersistentConnection_) olderStream = choosePersistentConnection();

    // A new attempt waits off the event loop while throttling holds streams back.
    if (!throttleHoldsNewStreams()) scheduleReadStream();

    std::weak_ptr<HTTPRequest> weak = self();
    readStream_->setClient([weak](platform::HttpStreamEvent event) {
        if (auto request = weak.lock()) request->handleNetworkEvent(event);
    });
    const bool opened = readStream_->open();
    if (olderStream) olderStream->close();
    if (!opened) {
        connectionCanBeReused_ = false;
        destroyReadStream();
        failWithError(Error::http(InternalErrorWhileBuildingRequestType,
                                  QStringLiteral("Unable to start HTTP connection")));
        return;
    }
    if (!hasMainRequest_) {
        if (shouldResetUploadProgress_) {
            incrementUploadSizeBy(showAccurateProgress_ ? static_cast<qint64>(postLength_) : 1);
            updateProgressIndicator(&HTTPRequest::uploadProgressDelegate_, 0, 1);
        }
        if (shouldResetDownloadProgress_ && partialDownloadSize_ == 0) {
            updateProgressIndicator(&HTTPRequest::downloadProgressDelegate_, 0, 1);
        }
    }
    lastActivityTime_ = QDateTime::currentDateTimeUtc();
    startStatusTimer();
    if (!readStreamIsScheduled_) performThrottling();
}

}  // namespace http
