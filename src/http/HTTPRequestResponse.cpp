// Reading the answer of one attempt: the stream's events, the head, the body into memory,
// a file or a data receiver, and the settling at the end of the stream.
#include <QFileInfo>

#include "http/ContentRange.h"
#include "http/DataDecompressor.h"
#include "http/HTTPRequest.h"
#include "http/RequestClassState.h"
#include "http/ResponseHeaderReaders.h"
#include "http/StagingFile.h"
#include "http/TemporaryPath.h"
#include "platform/CookieStore.h"
#include "platform/http/HttpResponseHeadReading.h"

namespace http {

namespace {

// Read sizes grow with the announced length, so large bodies take few events.
qint64 readSizeFor(quint64 contentLength) {
    if (contentLength <= 65536) return 16384;
    if (contentLength <= 262144) return 65536;
    return 262144;
}

// At most this much is reserved up front for a body in memory, whatever length the server
// announces: a lying Content-Length must not exhaust memory before a byte arrives.
constexpr quint64 kMaximumReservation = 64ull * 1024 * 1024;

ErrorPtr moveError(const QString& from, const QString& to, const QFile& file) {
    return Error::http(FileManagementError,
                       QStringLiteral("Failed to move file from '%1' to '%2'").arg(from, to),
                       fileSystemError(file));
}

ErrorPtr writeError(const QFile& file) {
    return Error::http(FileManagementError,
                       QStringLiteral("Failed to write to file at path '%1'").arg(file.fileName()),
                       fileSystemError(file));
}

ErrorPtr streamError(const platform::HttpStreamError& error) {
    return Error::make(platform::domainName(error.domain), error.code, error.description);
}

}  // namespace

// ---- Events ----

void HTTPRequest::handleNetworkEvent(platform::HttpStreamEvent event) {
    std::unique_lock lock(cancelledLock_);
    if (complete_ || cancelled_) return;
    auto keep = self();
    switch (event) {
        case platform::HttpStreamEvent::EndEncountered:
            handleStreamComplete();
            break;
        case platform::HttpStreamEvent::ErrorOccurred:
            handleStreamError();
            break;
        case platform::HttpStreamEvent::BytesAvailable:
            handleBytesAvailable();
            break;
    }
    performThrottling();
    lock.unlock();

    if (downloadComplete_ && needsRedirect_) {
        if (!willAskDelegateToConfirmRedirect()) performRedirect();
        return;
    }
    if (complete_ && authenticationNeeded_ != 0) attemptToApplyCredentialsAndResume();
}

// ---- Head ----

void HTTPRequest::readResponseHeaders() {
    authenticationNeeded_ = 0;
    if (!readStream_) return;
    const platform::HttpResponseHeader header = readStream_->responseHeader();
    if (!header.isHeaderComplete()) return;

    responseHeaders_ = Headers(header.allHeaderFields());
    responseStatusCode_ = header.statusCode();
    responseStatusMessage_ = header.statusLine();
    connectionWasReused_ = readStream_->isReusedConnection();
    if (!connectionWasReused_) countNewConnection();

    if (auto cache = downloadCache_.lock()) {
        if (cache->canUseCachedDataForRequest(*this)) {
            cache->updateExpiryForRequest(*this, secondsToCache_);
            useDataFromCache();
            return;
        }
    }
    if (responseStatusCode_ == 401) {
        authenticationNeeded_ = 1;
    } else if (responseStatusCode_ == 407) {
        authenticationNeeded_ = 2;
    }
    rememberAcceptedCredentials();

    parseStringEncodingFromHeaders();

    responseCookies_ = platform::CookieStore::cookiesWithResponseHeaderFields(
        platform::fieldBytes(header.rawHeaderFields()), url_);
    if (useCookiePersistence_ && !responseCookies_.isEmpty()) {
        // Only what the store took is the session's: a cookie it refused was never kept.
        for (const QNetworkCookie& cookie :
             platform::CookieStore::shared().setCookies(responseCookies_, url_)) {
            addSessionCookie(cookie);
        }
    }

    if (!willRedirect()) {
        settleContentLength();
        if (!decideResumeAnswer()) return;
    }
    if (shouldAttemptPersistentConnection_) decideConnectionReuse(header);
    // A server that ignores the range sends the whole body again, so a body inflated as it
    // arrives starts again too: the old stream's state would make the new one unreadable.
    if (requestHeaders_.contains(QStringLiteral("Range")) &&
        !responseHeaders_->contains(QStringLiteral("Content-Range"))) {
        dataDecompressor_.reset();
    }

    // A body kept in memory gets its room at once when its length is known.
    if (downloadDestinationPath_.isEmpty() && !hasDataReceiver() && contentLength_ > 0) {
        rawResponseData_.reserve(
            static_cast<qsizetype>(std::min(contentLength_, kMaximumReservation)));
    }
    requestReceivedResponseHeaders(*responseHeaders_);
}

void HTTPRequest::settleContentLength() {
    HTTPRequestPtr main = mainRequest_.lock();
    HTTPRequest& target = main ? *main : *this;
    const QString lengthValue = responseHeaders_->value(QStringLiteral("Content-Length"));
    const bool resetsProgress = showAccurateProgress_ && shouldResetDownloadProgress_;
    if (!lengthValue.isNull()) {
        const quint64 length = response_headers::parseContentLength(lengthValue);
        // A compressed answer to a HEAD request is often a bare gzip header of 20 bytes:
        // that length says nothing about the body the main request will get.
        if (main && allowCompressedResponse_ && length == 20 && resetsProgress) {
            main->showAccurateProgress_ = false;
            main->incrementDownloadSizeBy(1);
            return;
        }
        target.contentLength_ = length;
        if (resetsProgress) {
            target.incrementDownloadSizeBy(
                static_cast<qint64>(target.contentLength_ + partialDownloadSize_));
        }
    } else if (resetsProgress) {
        target.showAccurateProgress_ = false;
        target.incrementDownloadSizeBy(1);
    }
}

bool HTTPRequest::decideResumeAnswer() {
    resumeAnswer_ = ResumeAnswer::NotResumed;
    if (!allowResumeForFileDownloads_ || downloadDestinationPath_.isEmpty() ||
        temporaryFileDownloadPath_.isEmpty() || hasDataReceiver()) {
        return true;
    }
    const std::optional<quint64> offset =
        parseResumeOffset(requestHeaders_.value(QStringLiteral("Range")));
    if (!offset) return true;
    const std::optional<ContentRange> range =
        parseContentRange(responseHeaders_->value(QStringLiteral("Content-Range")));
    // Only bytes that start where the partial file ends may be appended to it.
    const bool atTheEnd = quint64(QFileInfo(temporaryFileDownloadPath_).size()) == *offset;
    QString refusal;
    if (responseStatusCode_ == 206) {
        if (range && range->first == offset && atTheEnd) {
            resumeAnswer_ = ResumeAnswer::Continues;
            return true;
        }
        refusal = QStringLiteral("The server did not resume the download at byte %1");
    } else if (responseStatusCode_ == 416) {
        if (range && !range->first && range->total == offset && atTheEnd) {
            resumeAnswer_ = ResumeAnswer::AlreadyComplete;
            return true;
        }
        refusal = QStringLiteral("The server cannot resume the download at byte %1");
    } else if (responseStatusCode_ >= 200 && responseStatusCode_ < 300) {
        // The whole body again: it goes to a file of its own and replaces the partial file
        // only once it has all arrived. A later attempt rewrites that file.
        resumeAnswer_ = ResumeAnswer::Replaces;
        if (supersededDownloadPath_.isEmpty()) {
            supersededDownloadPath_ = temporaryFileDownloadPath_;
            temporaryFileDownloadPath_ = newTemporaryPath(downloadDestinationPath_);
        }
        incrementDownloadSizeBy(-static_cast<qint64>(partialDownloadSize_));
        partialDownloadSize_ = 0;
        return true;
    } else {
        resumeAnswer_ = ResumeAnswer::LeavesAlone;
        return true;
    }
    cancelLoad();
    failWithError(Error::http(ConnectionFailureErrorType, refusal.arg(*offset)));
    return false;
}

void HTTPRequest::dropSupersedingDownload() {
    if (supersededDownloadPath_.isEmpty()) return;
    removeFileAtPath(temporaryFileDownloadPath_, nullptr);
    temporaryFileDownloadPath_ = supersededDownloadPath_;
    supersededDownloadPath_.clear();
}

void HTTPRequest::decideConnectionReuse(const platform::HttpResponseHeader& header) {
    const platform::ConnectionReuseOffer offer = platform::connectionReuseOffer(header);
    if (!offer.reusable) return;
    connectionCanBeReused_ = true;
    if (offer.timeoutSeconds) persistentConnectionTimeoutSeconds_ = *offer.timeoutSeconds;
}

void HTTPRequest::parseStringEncodingFromHeaders() {
    StringEncoding encoding = StringEncodings::Invalid;
    QString mimeType;
    const QString contentType =
        responseHeaders_ ? responseHeaders_->value(QStringLiteral("Content-Type")) : QString();
    parseMimeType(&mimeType, &encoding, contentType);
    responseEncoding_ = encoding != StringEncodings::Invalid ? encoding : defaultResponseEncoding_;
}

void HTTPRequest::parseMimeType(QString* mimeType, StringEncoding* encoding,
                                const QString& contentType) {
    response_headers::parseContentType(mimeType, encoding, contentType);
}

// ---- Body ----

bool HTTPRequest::isResponseCompressed() const {
    if (!responseHeaders_) return false;
    return responseHeaders_->value(QStringLiteral("Content-Encoding"))
        .contains(QLatin1String("gzip"), Qt::CaseInsensitive);
}

void HTTPRequest::handleBytesAvailable() {
    if (!responseHeaders_) readResponseHeaders();
    if (complete_) return;
    if (!readStream_ || !readStream_->hasBytesAvailable()) return;

    const qint64 bufferSize = throttledReadLength(readSizeFor(contentLength_));
    const bool receiver = hasDataReceiver();
    const bool toMemory = !receiver && downloadDestinationPath_.isEmpty();
    const bool inflateNow = isResponseCompressed() && !shouldWaitToInflateCompressedResponses_;

    qint64 bytesRead = 0;
    const char* chunk = nullptr;
    QByteArray piece;
    if (toMemory && !inflateNow) {
        // Straight into the body, without a copy on the way.
        const qsizetype before = rawResponseData_.size();
        rawResponseData_.resize(before + bufferSize);
        bytesRead = readStream_->read(rawResponseData_.data() + before, bufferSize);
        rawResponseData_.resize(before + std::max<qint64>(bytesRead, 0));
        chunk = rawResponseData_.constData() + before;
    } else if (receiver && !inflateNow) {
        // A piece of its own, handed to the receiver as it is.
        piece = QByteArray(bufferSize, Qt::Uninitialized);
        bytesRead = readStream_->read(piece.data(), bufferSize);
        piece.truncate(std::max<qint64>(bytesRead, 0));
        chunk = piece.constData();
    } else {
        if (readBuffer_.size() < bufferSize) readBuffer_.resize(bufferSize);
        bytesRead = readStream_->read(readBuffer_.data(), bufferSize);
        chunk = readBuffer_.constData();
    }
    if (bytesRead < 0) {
        handleStreamError();
        return;
    }
    if (bytesRead == 0) return;

    totalBytesRead_ += static_cast<quint64>(bytesRead);
    lastActivityTime_ = QDateTime::currentDateTimeUtc();
    incrementBandwidthUsedInLastSecond(static_cast<quint64>(bytesRead));

    // The body of a redirect answer is not kept, nor handed to a data receiver, which would
    // take it for the start of the body it asked for; nor is the body of an answer that
    // leaves a partial download as it is; nor is a challenge's body handed to a data
    // receiver, as the answer to the credentials follows it.
    if ((needsRedirect_ && shouldRedirect_) || resumeAnswer_ == ResumeAnswer::AlreadyComplete ||
        resumeAnswer_ == ResumeAnswer::LeavesAlone || (receiver && authenticationNeeded_ != 0)) {
        if (toMemory && !inflateNow) rawResponseData_.chop(bytesRead);
        return;
    }

    if (!inflateNow) {
        if (receiver) {
            passOnReceivedData(piece);
        } else if (!downloadDestinationPath_.isEmpty()) {
            writeToDownloadFile(chunk, bytesRead);
        }
        return;
    }
    if (!receiver && !downloadDestinationPath_.isEmpty() && !writeToDownloadFile(chunk, bytesRead))
        return;
    inflateChunk(chunk, bytesRead, receiver);
}

void HTTPRequest::inflateChunk(const char* chunk, qint64 length, bool receiver) {
    if (!dataDecompressor_) dataDecompressor_ = DataDecompressor::decompressor();
    ErrorPtr failure;
    // Plain bytes go on a bounded piece at a time: a small answer that inflates to
    // gigabytes is never held whole, and one kept in memory stops at its limit.
    const auto sink = [&](const char* plain, qsizetype size) {
        if (receiver) {
            passOnReceivedData(QByteArray(plain, size));
        } else if (!downloadDestinationPath_.isEmpty()) {
            if (inflatedFileDownloadOutputStream_->write(plain, size) != size) {
                failure = writeError(*inflatedFileDownloadOutputStream_);
                return false;
            }
        } else {
            const quint64 total = static_cast<quint64>(rawResponseData_.size() + size);
            if (maxInflatedBodySize_ != 0 && total > maxInflatedBodySize_) {
                failure = DataDecompressor::sizeLimitError(maxInflatedBodySize_);
                return false;
            }
            rawResponseData_.append(plain, size);
        }
        return true;
    };
    if (!dataDecompressor_->uncompressBytes(chunk, static_cast<quint32>(length), sink, &failure)) {
        cancelLoad();
        failWithError(failure);
    }
}

bool HTTPRequest::writeToDownloadFile(const char* bytes, qint64 length) {
    const bool inflateNow = isResponseCompressed() && !shouldWaitToInflateCompressedResponses_;
    if (!fileDownloadOutputStream_) {
        if (temporaryFileDownloadPath_.isEmpty()) {
            temporaryFileDownloadPath_ = newTemporaryPath(downloadDestinationPath_);
        }
        const bool append = resumeAnswer_ == ResumeAnswer::Continues;
        const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered |
                                         (append ? QIODevice::Append : QIODevice::Truncate);
        fileDownloadOutputStream_ = std::make_unique<QFile>(temporaryFileDownloadPath_);
        fileDownloadOutputStream_->open(mode);
        if (inflateNow) {
            if (temporaryUncompressedDataDownloadPath_.isEmpty()) {
                temporaryUncompressedDataDownloadPath_ = newTemporaryPath(downloadDestinationPath_);
            }
            inflatedFileDownloadOutputStream_ =
                std::make_unique<QFile>(temporaryUncompressedDataDownloadPath_);
            inflatedFileDownloadOutputStream_->open(mode);
        }
    }
    // A full disk or a vanished folder must not end in a short file reported as a success.
    if (fileDownloadOutputStream_->write(bytes, length) != length) {
        const ErrorPtr error = writeError(*fileDownloadOutputStream_);
        cancelLoad();
        failWithError(error);
        return false;
    }
    return true;
}

QByteArray HTTPRequest::responseData() const {
    std::lock_guard lock(cancelledLock_);
    if (isResponseCompressed() && shouldWaitToInflateCompressedResponses_) {
        return DataDecompressor::uncompressData(rawResponseData_, nullptr, maxInflatedBodySize_);
    }
    return rawResponseData_;
}

std::optional<QString> HTTPRequest::responseString() const {
    const QByteArray data = responseData();
    if (data.isEmpty()) return std::nullopt;
    return decodeString(data, responseEncoding_);
}

// ---- End of the stream ----

void HTTPRequest::handleStreamComplete() {
    stopStatusTimer();
    downloadComplete_ = true;
    if (!responseHeaders_) readResponseHeaders();
    if (error_) return;

    ErrorPtr fileError;
    ErrorPtr bodyError;
    auto& state = RequestClassState::instance();
    {
        std::lock_guard progressLock(state.progressUpdateLock);
        lastBytesSent_ = totalBytesSent_;
        if (readStream_)
            totalBytesSent_ = static_cast<quint64>(readStream_->requestBodyBytesWritten());
        complete_ = true;
        if (contentLength_ == 0) contentLength_ = totalBytesRead_;
        updateProgressIndicators();

        // Only the answer the caller gets is judged; a redirect's or a challenge's body is not.
        if (!needsRedirect_ && authenticationNeeded_ == 0) bodyError = compressedBodyError();
        postBodyReadStream_.reset();
        dataDecompressor_.reset();
        // A redirect that keeps the method sends the body again.
        if (authenticationNeeded_ == 0 && !needsRedirect_) {
            if (didCreateTemporaryPostDataFile_) removeTemporaryUploadFile();
            removeTemporaryCompressedUploadFile();
        }
        if (!temporaryFileDownloadPath_.isEmpty()) {
            fileDownloadOutputStream_.reset();
            inflatedFileDownloadOutputStream_.reset();
            if (bodyError) {
                removeTemporaryUncompressedDownloadFile();
                if (!allowResumeForFileDownloads_) removeTemporaryDownloadFile();
            } else if (!(shouldRedirect_ && needsRedirect_) &&
                       resumeAnswer_ != ResumeAnswer::LeavesAlone) {
                fileError = settleDownloadedFile();
            }
        }
        if (auto cache = downloadCache_.lock(); cache && !didUseCachedResponse_ && !bodyError) {
            cache->storeResponseForRequest(*this, secondsToCache_);
        }
    }
    {
        std::lock_guard poolLock(state.connectionPoolLock);
        if (!connectionCanBeReused_) unscheduleReadStream();
        releaseConnection();
    }
    if (authenticationNeeded_ == 0) destroyReadStream();
    if (!needsRedirect_ && authenticationNeeded_ == 0 && !didUseCachedResponse_) {
        if (bodyError || fileError) {
            failWithError(bodyError ? bodyError : fileError);
        } else {
            requestFinished();
        }
        markAsFinished();
    }
}

ErrorPtr HTTPRequest::compressedBodyError() const {
    if (!isResponseCompressed()) return nullptr;
    if (!shouldWaitToInflateCompressedResponses_) {
        return dataDecompressor_ && !dataDecompressor_->streamEnded()
                   ? DataDecompressor::truncatedStreamError()
                   : nullptr;
    }
    // A file is judged as it is inflated at the end, and a data receiver takes the bytes as
    // they came. A body kept compressed in memory is inflated once here, through a fixed
    // buffer, so that one cut short or too large fails now rather than read as empty later.
    if (hasDataReceiver() || !downloadDestinationPath_.isEmpty()) return nullptr;
    ErrorPtr error;
    DataDecompressor::uncompressData(
        rawResponseData_, maxInflatedBodySize_, [](const char*, qsizetype) { return true; },
        &error);
    return error;
}

ErrorPtr HTTPRequest::settleDownloadedFile() {
    const bool compressed = isResponseCompressed();
    ErrorPtr fileError;
    if (compressed && shouldWaitToInflateCompressedResponses_) {
        // Inflated beside the destination and renamed over it only when whole: a corrupt or
        // cut-short body leaves the file that was there as it was.
        StagingFile staged(downloadDestinationPath_);
        if (ErrorPtr openError = staged.open()) {
            fileError = Error::http(CompressionError,
                                    QStringLiteral("Decompression of %1 failed because we were "
                                                   "to create a file at %2")
                                        .arg(temporaryFileDownloadPath_, downloadDestinationPath_),
                                    openError);
        } else if (DataDecompressor::uncompressDataFromFile(temporaryFileDownloadPath_,
                                                            staged.file(), downloadDestinationPath_,
                                                            &fileError)) {
            fileError = staged.commit();
        }
        removeTemporaryDownloadFile();
    } else if (compressed) {
        // The destination is replaced here as for an uncompressed download: a rename
        // onto an existing file would fail.
        giveFinishedDownloadPermissions(temporaryUncompressedDataDownloadPath_,
                                        downloadDestinationPath_);
        if (!removeFileAtPath(downloadDestinationPath_, &fileError)) return fileError;
        QFile inflatedFile(temporaryUncompressedDataDownloadPath_);
        if (!inflatedFile.rename(downloadDestinationPath_)) {
            fileError = moveError(temporaryUncompressedDataDownloadPath_, downloadDestinationPath_,
                                  inflatedFile);
        }
        temporaryUncompressedDataDownloadPath_.clear();
        removeTemporaryDownloadFile();
    } else {
        giveFinishedDownloadPermissions(temporaryFileDownloadPath_, downloadDestinationPath_);
        if (!removeFileAtPath(downloadDestinationPath_, &fileError)) return fileError;
        QFile downloaded(temporaryFileDownloadPath_);
        if (!downloaded.rename(downloadDestinationPath_)) {
            return moveError(temporaryFileDownloadPath_, downloadDestinationPath_, downloaded);
        }
        temporaryFileDownloadPath_.clear();
    }
    // The partial file that the whole body replaced is no longer needed.
    if (!fileError && !supersededDownloadPath_.isEmpty()) {
        removeFileAtPath(supersededDownloadPath_, &fileError);
        supersededDownloadPath_.clear();
    }
    return fileError;
}

void HTTPRequest::handleStreamError() {
    const platform::HttpStreamError failure =
        readStream_ ? readStream_->error() : platform::HttpStreamError{};
    if (error_) {
        cancelLoad();
    } else if (ErrorPtr bodyError = streamedPostBodyError()) {
        cancelLoad();
        failWithError(bodyError);
    } else {
        if (failure.isDeadConnection() && retryUsingNewConnection()) return;
        if (failure.domain == platform::HttpStreamErrorDomain::Network &&
            failure.code == platform::network_error::kProxyAuthenticationRequired) {
            // The proxy's own challenge to a tunnel: it goes to proxy authentication, as a
            // 407 does, and the connection it came on is gone.
            authenticationNeeded_ = 2;
            if (readStream_) {
                challengeResponse_ = readStream_->proxyChallenge();
                tunnelChallengeIsNew_ = true;
            }
            discardConnection();
            cancelLoad();
            complete_ = true;
            return;
        }
        QString message = QStringLiteral("A connection failure occurred");
        if (failure.isSecurityFailure()) {
            message = QStringLiteral(
                          "%1: SSL problem (Possible causes may include a bad/expired/self-signed "
                          "certificate, clock set to wrong date)")
                          .arg(message);
        }
        cancelLoad();
        failWithError(Error::http(ConnectionFailureErrorType, message, streamError(failure)));
    }
    checkRequestStatus();
}

// ---- Files ----

bool HTTPRequest::removeFileAtPath(const QString& path, ErrorPtr* error) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) return true;
    QFile file(path);
    // Only files are removed: a device, a pipe or a folder at the path (a destination of
    // /dev/null, say) is left alone, and the caller hears that it is still there.
    if ((info.isFile() || info.isSymLink()) && file.remove()) return true;
    report(error, Error::http(FileManagementError,
                              QStringLiteral("Failed to delete file at path '%1'").arg(path),
                              fileSystemError(file)));
    return false;
}

namespace {

// Removes the file at path (if any) and forgets the path; answers the error if it stays.
ErrorPtr removeAndForget(QString& path) {
    if (path.isEmpty()) return nullptr;
    ErrorPtr error;
    HTTPRequest::removeFileAtPath(path, &error);
    path.clear();
    return error;
}

}  // namespace

void HTTPRequest::removeTemporaryDownloadFile() {
    if (ErrorPtr error = removeAndForget(temporaryFileDownloadPath_)) failWithError(error);
}

void HTTPRequest::removeTemporaryUncompressedDownloadFile() {
    if (ErrorPtr error = removeAndForget(temporaryUncompressedDataDownloadPath_)) {
        failWithError(error);
    }
}

void HTTPRequest::removeTemporaryUploadFile() {
    if (ErrorPtr error = removeAndForget(postBodyFilePath_)) failWithError(error);
}

void HTTPRequest::removeTemporaryCompressedUploadFile() {
    if (ErrorPtr error = removeAndForget(compressedPostBodyFilePath_)) failWithError(error);
}

}  // namespace http
