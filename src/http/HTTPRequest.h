#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QNetworkCookie>
#include <QPointer>
#include <QSslCertificate>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "http/CacheDelegate.h"
#include "http/Error.h"
#include "http/HTTPRequestDelegate.h"
#include "http/Headers.h"
#include "http/ProgressDelegate.h"
#include "http/SessionCredentials.h"
#include "http/StringEncoding.h"
#include "platform/CredentialStorage.h"
#include "platform/FileInputStream.h"
#include "platform/Operation.h"
#include "platform/OperationQueue.h"
#include "platform/PacRunner.h"
#include "platform/http/HttpAuthentication.h"
#include "platform/http/HttpMessage.h"
#include "platform/http/HttpSecuritySettings.h"
#include "platform/http/HttpStream.h"

class QThread;
class QTimer;

namespace http {

class DataDecompressor;
class ThrottledInputStream;
struct ConnectionRecord;

// One HTTP request, from construction to its last callback. It is an operation: run it
// synchronously on the calling thread (startSynchronous), asynchronously on the shared
// queue (startAsynchronous), or add it to any operation queue. Asynchronous requests do
// their network work on one class-wide network thread; every callback to user code
// (delegate, blocks, queue) arrives on the GUI thread. Always held by std::shared_ptr.
class HTTPRequest : public platform::Operation {
public:
    // Blocks; each is called on the GUI thread.
    using Block = std::function<void()>;
    using HeadersBlock = std::function<void(const Headers&)>;
    using ProgressBlock = std::function<void(qint64 bytes, quint64 total)>;
    using SizeBlock = std::function<void(qint64 size)>;
    using DataBlock = std::function<void(const QByteArray& data)>;

    explicit HTTPRequest(const QUrl& url);
    ~HTTPRequest() override;

    static HTTPRequestPtr requestWithURL(const QUrl& url);
    static HTTPRequestPtr requestWithURL(const QUrl& url, std::shared_ptr<CacheDelegate> cache,
                                         int cachePolicy = CachePolicy::UseDefault);

    // A fresh request of the same class with this one's settings (not its callbacks,
    // queue, response or counters).
    virtual HTTPRequestPtr copyWithZone() const;
    // A HEAD request for the same URL that reports through this request.
    HTTPRequestPtr HEADRequest();

    // ---- Running ----
    void startSynchronous();
    void startAsynchronous();
    void start() override;
    virtual void main() override;
    void cancel() override;
    void clearDelegatesAndCancel();

    bool isConcurrent() const override { return true; }
    bool isExecuting() const override { return inProgress_; }
    bool isFinished() const override { return finished_; }
    bool isCancelled() const override;
    bool complete() const { return complete_; }
    ErrorPtr error() const;

    // ---- Target and method ----
    QUrl url() const;
    void setURL(const QUrl& url);
    QUrl originalURL() const { return originalURL_; }
    QUrl redirectURL() const { return redirectURL_; }
    // Continues a redirect that the delegate or queue was asked to confirm; any thread.
    void redirectToURL(const QUrl& url);
    QString requestMethod() const;
    void setRequestMethod(const QString& method);

    // ---- Callbacks ----
    std::shared_ptr<HTTPRequestDelegate> delegate() const;
    void setDelegate(std::weak_ptr<HTTPRequestDelegate> delegate);
    std::shared_ptr<HTTPRequestQueue> queue() const;
    void setQueue(std::shared_ptr<HTTPRequestQueue> queue);
    void setDidStartSelector(RequestSelector selector);
    void setDidReceiveResponseHeadersSelector(HeadersSelector selector);
    void setWillRedirectSelector(RedirectSelector selector);
    void setDidFinishSelector(RequestSelector selector);
    void setDidFailSelector(RequestSelector selector);
    void setDidReceiveDataSelector(DataSelector selector);

    void setStartedBlock(Block block);
    void setHeadersReceivedBlock(HeadersBlock block);
    void setCompletionBlock(Block block);
    void setFailedBlock(Block block);
    void setBytesReceivedBlock(ProgressBlock block);
    void setBytesSentBlock(ProgressBlock block);
    void setDownloadSizeIncrementedBlock(SizeBlock block);
    void setUploadSizeIncrementedBlock(SizeBlock block);
    void setDataReceivedBlock(DataBlock block);
    void setAuthenticationNeededBlock(Block block);
    void setProxyAuthenticationNeededBlock(Block block);
    void setRequestRedirectedBlock(Block block);

    QVariantMap userInfo() const { return userInfo_; }
    void setUserInfo(const QVariantMap& userInfo) { userInfo_ = userInfo; }
    qint32 tag() const { return tag_; }
    void setTag(qint32 tag) { tag_ = tag; }

    // ---- Request headers and body ----
    Headers requestHeaders() const { return requestHeaders_; }
    void setRequestHeaders(const Headers& headers) { requestHeaders_ = headers; }
    void addRequestHeader(const QString& name, const QString& value);
    QList<QNetworkCookie> requestCookies() const { return requestCookies_; }
    void setRequestCookies(const QList<QNetworkCookie>& cookies) { requestCookies_ = cookies; }
    bool useCookiePersistence() const { return useCookiePersistence_; }
    void setUseCookiePersistence(bool on) { useCookiePersistence_ = on; }
    QString userAgentString() const { return userAgentString_; }
    void setUserAgentString(const QString& userAgent) { userAgentString_ = userAgent; }

    QByteArray postBody() const { return postBody_; }
    void setPostBody(const QByteArray& body);
    QByteArray compressedPostBody() const { return compressedPostBody_; }
    void appendPostData(const QByteArray& data);
    void appendPostDataFromFile(const QString& path);
    bool shouldStreamPostDataFromDisk() const { return shouldStreamPostDataFromDisk_; }
    void setShouldStreamPostDataFromDisk(bool on) { shouldStreamPostDataFromDisk_ = on; }
    QString postBodyFilePath() const { return postBodyFilePath_; }
    void setPostBodyFilePath(const QString& path) { postBodyFilePath_ = path; }
    QString compressedPostBodyFilePath() const { return compressedPostBodyFilePath_; }
    bool didCreateTemporaryPostDataFile() const { return didCreateTemporaryPostDataFile_; }
    quint64 postLength() const { return postLength_; }
    bool haveBuiltPostBody() const { return haveBuiltPostBody_; }
    bool shouldCompressRequestBody() const { return shouldCompressRequestBody_; }
    void setShouldCompressRequestBody(bool on) { shouldCompressRequestBody_ = on; }
    bool useHTTPVersionOne() const { return useHTTPVersionOne_; }
    void setUseHTTPVersionOne(bool on) { useHTTPVersionOne_ = on; }
    bool validatesSecureCertificate() const { return validatesSecureCertificate_; }
    void setValidatesSecureCertificate(bool on) { validatesSecureCertificate_ = on; }
    std::optional<platform::HttpClientIdentity> clientCertificateIdentity() const {
        return clientCertificateIdentity_;
    }
    void setClientCertificateIdentity(const std::optional<platform::HttpClientIdentity>& id) {
        clientCertificateIdentity_ = id;
    }
    QList<QSslCertificate> clientCertificates() const { return clientCertificates_; }
    void setClientCertificates(const QList<QSslCertificate>& list) { clientCertificates_ = list; }
    // Certificate authorities trusted by this request besides the system's.
    QList<QSslCertificate> extraTrustedCertificates() const { return extraTrustedCertificates_; }
    void setExtraTrustedCertificates(const QList<QSslCertificate>& list) {
        extraTrustedCertificates_ = list;
    }

    virtual void buildPostBody();
    void buildRequestHeaders();
    void applyCookieHeader();
    void addBasicAuthenticationHeaderWithUsername(const QString& user, const QString& password);
    void updatePartialDownloadSize();

    // ---- Response ----
    Headers responseHeaders() const;
    int responseStatusCode() const { return responseStatusCode_; }
    QString responseStatusMessage() const { return responseStatusMessage_; }
    QList<QNetworkCookie> responseCookies() const { return responseCookies_; }
    // The body; inflated anew on every call when it was kept compressed.
    QByteArray responseData() const;
    // The body as text in responseEncoding; none without data or when it does not decode.
    std::optional<QString> responseString() const;
    bool isResponseCompressed() const;
    QByteArray rawResponseData() const { return rawResponseData_; }
    StringEncoding defaultResponseEncoding() const { return defaultResponseEncoding_; }
    void setDefaultResponseEncoding(StringEncoding encoding) {
        defaultResponseEncoding_ = encoding;
    }
    StringEncoding responseEncoding() const { return responseEncoding_; }
    quint64 contentLength() const { return contentLength_; }
    quint64 totalBytesRead() const { return totalBytesRead_; }
    quint64 partialDownloadSize() const { return partialDownloadSize_; }
    bool allowCompressedResponse() const { return allowCompressedResponse_; }
    void setAllowCompressedResponse(bool on) { allowCompressedResponse_ = on; }
    bool shouldWaitToInflateCompressedResponses() const {
        return shouldWaitToInflateCompressedResponses_;
    }
    void setShouldWaitToInflateCompressedResponses(bool on) {
        shouldWaitToInflateCompressedResponses_ = on;
    }
    // The most a body kept in memory may inflate to; more fails the request with code 11.
    // 0 means no limit. Files and data receivers take their bytes a piece at a time and
    // have no such limit.
    quint64 maxInflatedBodySize() const { return maxInflatedBodySize_; }
    void setMaxInflatedBodySize(quint64 bytes) { maxInflatedBodySize_ = bytes; }
    QString downloadDestinationPath() const { return downloadDestinationPath_; }
    void setDownloadDestinationPath(const QString& path) { downloadDestinationPath_ = path; }
    QString temporaryFileDownloadPath() const { return temporaryFileDownloadPath_; }
    void setTemporaryFileDownloadPath(const QString& path) { temporaryFileDownloadPath_ = path; }
    QString temporaryUncompressedDataDownloadPath() const {
        return temporaryUncompressedDataDownloadPath_;
    }
    bool allowResumeForFileDownloads() const { return allowResumeForFileDownloads_; }
    void setAllowResumeForFileDownloads(bool on) { allowResumeForFileDownloads_ = on; }
    bool downloadComplete() const { return downloadComplete_; }
    bool didUseCachedResponse() const { return didUseCachedResponse_; }

    // ---- Connection, redirects, time-outs ----
    bool shouldAttemptPersistentConnection() const { return shouldAttemptPersistentConnection_; }
    void setShouldAttemptPersistentConnection(bool on) { shouldAttemptPersistentConnection_ = on; }
    double persistentConnectionTimeoutSeconds() const {
        return persistentConnectionTimeoutSeconds_;
    }
    void setPersistentConnectionTimeoutSeconds(double seconds) {
        persistentConnectionTimeoutSeconds_ = seconds;
    }
    bool connectionCanBeReused() const { return connectionCanBeReused_; }
    // True when the last answer came over a connection an earlier request had opened.
    bool connectionWasReused() const { return connectionWasReused_; }
    bool shouldRedirect() const { return shouldRedirect_; }
    void setShouldRedirect(bool on) { shouldRedirect_ = on; }
    int redirectCount() const { return redirectCount_; }
    bool needsRedirect() const { return needsRedirect_; }
    // Keep the method and body on 301 and 302 as well as on 307.
    bool shouldUseRFC2616RedirectBehaviour() const { return shouldUseRFC2616RedirectBehaviour_; }
    void setShouldUseRFC2616RedirectBehaviour(bool on) { shouldUseRFC2616RedirectBehaviour_ = on; }
    double timeOutSeconds() const { return timeOutSeconds_; }
    void setTimeOutSeconds(double seconds) { timeOutSeconds_ = seconds; }
    int numberOfTimesToRetryOnTimeout() const { return numberOfTimesToRetryOnTimeout_; }
    void setNumberOfTimesToRetryOnTimeout(int count) { numberOfTimesToRetryOnTimeout_ = count; }
    int retryCount() const { return retryCount_; }

    // ---- Proxy ----
    QString proxyHost() const { return proxyHost_; }
    void setProxyHost(const QString& host) { proxyHost_ = host; }
    int proxyPort() const { return proxyPort_; }
    void setProxyPort(int port) { proxyPort_ = port; }
    // "HTTP" (the default when a host and port are set), "HTTPS" or "SOCKS".
    QString proxyType() const { return proxyType_; }
    void setProxyType(const QString& type) { proxyType_ = type; }

    // ---- Session cookies, proxy discovery and PAC (HTTPRequestCookies.cpp,
    // HTTPRequestProxies.cpp) ---- The cookies the engine accepted in this process, each once per
    // domain, path and name.
    static QList<QNetworkCookie> sessionCookies();
    // Removes the listed cookies from the shared cookie store, then lists these instead.
    static void setSessionCookies(const QList<QNetworkCookie>& cookies);
    static void addSessionCookie(const QNetworkCookie& cookie);
    // A proxy auto-configuration script (file, http or https) that chooses the proxy.
    QUrl PACurl() const { return PACurl_; }
    void setPACurl(const QUrl& url) { PACurl_ = url; }
    bool isPACFileRequest() const { return isPACFileRequest_; }

protected:
    // Answers whether startRequest may run now; otherwise the script is being fetched and
    // starts the request when it has run, or the request has failed.
    bool configureProxies();
    void fetchPACFile();
    void runPACScript(const QString& script);
    void finishedDownloadingPACFile(const HTTPRequestPtr& pacRequest);
    void handlePACFileEvent(platform::FileInputStreamEvent event);
    void timeOutPACRead();
    // Drops the script being read or fetched (cancelLoad).
    void stopPACWork();
    void usePACProxy(const platform::PacProxy& proxy);

    QUrl PACurl_;
    bool isPACFileRequest_ = false;
    HTTPRequestPtr PACFileRequest_;
    // The shared queue was widened for PACFileRequest_ and is to be narrowed again.
    bool PACFileRequestWidenedQueue_ = false;
    std::unique_ptr<platform::FileInputStream> PACFileReadStream_;
    std::optional<QByteArray> PACFileData_;
    QTimer* PACReadTimer_ = nullptr;
    // Called at once, on its own thread, when a PAC-file request ends either way.
    std::function<void(const HTTPRequestPtr&)> PACFileRequestEnded_;
    // The address a discovered proxy was chosen for; empty when the caller set the proxy.
    // Another address (a redirect) discovers its own.
    QUrl proxyDiscoveredForURL_;
    // Run by startSynchronous on the caller's thread; its script is fetched the same way.
    bool isSynchronous_ = false;

public:
    // ---- Credentials (HTTPRequestCredentials.cpp) ----
    QString username() const { return username_; }
    void setUsername(const QString& user) { username_ = user; }
    QString password() const { return password_; }
    void setPassword(const QString& password) { password_ = password; }
    QString domain() const { return domain_; }
    void setDomain(const QString& domain) { domain_ = domain; }
    QString proxyUsername() const { return proxyUsername_; }
    void setProxyUsername(const QString& user) { proxyUsername_ = user; }
    QString proxyPassword() const { return proxyPassword_; }
    void setProxyPassword(const QString& password) { proxyPassword_ = password; }
    QString proxyDomain() const { return proxyDomain_; }
    void setProxyDomain(const QString& domain) { proxyDomain_ = domain; }
    // Set from each challenge; "Basic" set beforehand lets a username and password go out
    // before one (to the server the request is for, and over plain HTTP only once it asked).
    QString authenticationScheme() const { return authenticationScheme_; }
    void setAuthenticationScheme(const QString& scheme) { authenticationScheme_ = scheme; }
    QString proxyAuthenticationScheme() const { return proxyAuthenticationScheme_; }
    void setProxyAuthenticationScheme(const QString& scheme) {
        proxyAuthenticationScheme_ = scheme;
    }
    // Null until a challenge named one.
    QString authenticationRealm() const { return authenticationRealm_; }
    void setAuthenticationRealm(const QString& realm) { authenticationRealm_ = realm; }
    QString proxyAuthenticationRealm() const { return proxyAuthenticationRealm_; }
    void setProxyAuthenticationRealm(const QString& realm) { proxyAuthenticationRealm_ = realm; }
    int authenticationNeeded() const { return authenticationNeeded_; }
    int authenticationRetryCount() const { return authenticationRetryCount_; }
    int proxyAuthenticationRetryCount() const { return proxyAuthenticationRetryCount_; }
    platform::HttpCredentialsPtr requestCredentials() const { return requestCredentials_; }
    platform::HttpCredentialsPtr proxyCredentials() const { return proxyCredentials_; }
    bool shouldPresentCredentialsBeforeChallenge() const {
        return shouldPresentCredentialsBeforeChallenge_;
    }
    void setShouldPresentCredentialsBeforeChallenge(bool on) {
        shouldPresentCredentialsBeforeChallenge_ = on;
    }
    bool useSessionPersistence() const { return useSessionPersistence_; }
    void setUseSessionPersistence(bool on) { useSessionPersistence_ = on; }
    bool useKeychainPersistence() const { return useKeychainPersistence_; }
    void setUseKeychainPersistence(bool on) { useKeychainPersistence_ = on; }
    bool shouldPresentAuthenticationDialog() const { return shouldPresentAuthenticationDialog_; }
    void setShouldPresentAuthenticationDialog(bool on) { shouldPresentAuthenticationDialog_ = on; }
    bool shouldPresentProxyAuthenticationDialog() const {
        return shouldPresentProxyAuthenticationDialog_;
    }
    void setShouldPresentProxyAuthenticationDialog(bool on) {
        shouldPresentProxyAuthenticationDialog_ = on;
    }
    // The answers of whoever was asked for credentials; any thread.
    void retryUsingSuppliedCredentials();
    void cancelAuthentication();

    // Class-wide credential stores. Session entries live until clearSession; saved ones
    // go to the desktop's password store.
    static QList<SessionCredentials> sessionCredentialsStore();
    static QList<SessionCredentials> sessionProxyCredentialsStore();
    static void storeAuthenticationCredentialsInSessionStore(const SessionCredentials& entry);
    static void storeProxyAuthenticationCredentialsInSessionStore(const SessionCredentials& entry);
    static void removeAuthenticationCredentialsFromSessionStore(
        const platform::HttpCredentialsPtr& credentials);
    static void removeProxyAuthenticationCredentialsFromSessionStore(
        const platform::HttpCredentialsPtr& credentials);
    static bool saveCredentials(const platform::HttpCredentials& credentials, const QString& host,
                                int port, const QString& protocol, const QString& realm);
    static bool saveCredentialsForProxy(const platform::HttpCredentials& credentials,
                                        const QString& host, int port, const QString& realm);
    static platform::HttpCredentialsPtr savedCredentialsForHost(const QString& host, int port,
                                                                const QString& protocol,
                                                                const QString& realm);
    static platform::HttpCredentialsPtr savedCredentialsForProxy(const QString& host, int port,
                                                                 const QString& protocol,
                                                                 const QString& realm);
    static bool removeCredentialsForHost(const QString& host, int port, const QString& protocol,
                                         const QString& realm);
    static bool removeCredentialsForProxy(const QString& host, int port, const QString& realm);
    // Forgets every session login, cookie and session-cached response.
    static void clearSession();
    // What shows the login dialog on the GUI thread; without one (no user interface) no
    // dialog is offered and the request fails as when nobody can be asked.
    using AuthenticationDialogPresenter = std::function<void(const HTTPRequestPtr&)>;
    static void setAuthenticationDialogPresenter(AuthenticationDialogPresenter presenter);

    // ---- Cache ----
    std::shared_ptr<CacheDelegate> downloadCache() const { return downloadCache_.lock(); }
    void setDownloadCache(std::weak_ptr<CacheDelegate> cache) { downloadCache_ = cache; }
    int cachePolicy() const { return cachePolicy_; }
    void setCachePolicy(int policy) { cachePolicy_ = policy; }
    int cacheStoragePolicy() const { return cacheStoragePolicy_; }
    void setCacheStoragePolicy(int policy) { cacheStoragePolicy_ = policy; }
    double secondsToCache() const { return secondsToCache_; }
    void setSecondsToCache(double seconds) { secondsToCache_ = seconds; }
    // When an answer stops being fresh: maxAge seconds from now when it is not 0, else the
    // max-age of its "Cache-Control", else its "Expires"; none when nothing says.
    static std::optional<QDateTime> expiryDateForRequest(const HTTPRequest& request, double maxAge);
    // An HTTP date such as "Sun, 06 Nov 1994 08:49:37 GMT"; the day name and the seconds may
    // be left out. None when the text is not one.
    static std::optional<QDateTime> dateFromRFC1123String(const QString& text);

    // ---- Progress ----
    bool showAccurateProgress() const { return showAccurateProgress_; }
    void setShowAccurateProgress(bool on) { showAccurateProgress_ = on; }
    bool shouldResetDownloadProgress() const { return shouldResetDownloadProgress_; }
    void setShouldResetDownloadProgress(bool on) { shouldResetDownloadProgress_ = on; }
    bool shouldResetUploadProgress() const { return shouldResetUploadProgress_; }
    void setShouldResetUploadProgress(bool on) { shouldResetUploadProgress_ = on; }
    quint64 totalBytesSent() const { return totalBytesSent_; }
    quint64 uploadBufferSize() const { return uploadBufferSize_; }
    std::shared_ptr<ProgressDelegate> uploadProgressDelegate() const;
    void setUploadProgressDelegate(std::weak_ptr<ProgressDelegate> delegate);
    std::shared_ptr<ProgressDelegate> downloadProgressDelegate() const;
    void setDownloadProgressDelegate(std::weak_ptr<ProgressDelegate> delegate);
    HTTPRequestPtr mainRequest() const { return mainRequest_.lock(); }

    // ---- Class-wide ----
    static platform::OperationQueue& sharedQueue();
    static QThread* threadForRequest(const HTTPRequestPtr& request);
    static double defaultTimeOutSeconds();
    static void setDefaultTimeOutSeconds(double seconds);
    // The limit new requests start with (64 MiB unless set).
    static quint64 defaultMaxInflatedBodySize();
    static void setDefaultMaxInflatedBodySize(quint64 bytes);
    static std::shared_ptr<CacheDelegate> defaultCache();
    static void setDefaultCache(std::shared_ptr<CacheDelegate> cache);
    static bool isNetworkInUse();
    static void setShouldUpdateNetworkActivityIndicator(bool on);
    static void showNetworkActivityIndicator();
    static void hideNetworkActivityIndicator();
    static void hideNetworkActivityIndicatorAfterDelay();
    static void hideNetworkActivityIndicatorIfNeeded();
    // Closes and forgets free persistent connections whose time is up.
    static void expirePersistentConnections();
    // Connections opened (not taken over from an earlier request) by this process so far.
    static quint64 newConnectionCount();
    static QString defaultUserAgentString();
    static void setDefaultUserAgentString(const QString& userAgent);
    static QString base64forData(const QByteArray& data);
    // Empty for a missing file.
    static QString mimeTypeForFileAtPath(const QString& path);
    static bool removeFileAtPath(const QString& path, ErrorPtr* error);
    static void parseMimeType(QString* mimeType, StringEncoding* encoding,
                              const QString& contentType);
    // How many requests have been numbered so far.
    static quint64 requestCounter();

    // ---- Bandwidth throttling (HTTPRequestThrottling.cpp) ----
    // One limit in bytes per second shared by every request of the process; 0 is none.
    static quint32 maxBandwidthPerSecond();
    static void setMaxBandwidthPerSecond(quint32 bytes);
    static bool isBandwidthThrottled();
    static void incrementBandwidthUsedInLastSecond(quint64 bytes);
    // The integer average of the last periods measured.
    static quint32 averageBandwidthUsedPerSecond();
    static void measureBandwidthUsage();
    // Ends the current one-second period now and starts the next.
    static void recordBandwidthUsage();
    static quint32 maxUploadReadLength();
    // What an upload read may take now, or none when uploads are not capped.
    static std::optional<qint64> uploadReadAllowance();
    // The limit of 14800 bytes per second, or limit, applied only while the internet is
    // reached over the wide-area mobile network. Switch it on and off on a thread that runs
    // an event loop (the GUI thread): reachability changes are announced there.
    static void setShouldThrottleBandwidthForWWAN(bool on);
    static void throttleBandwidthForWWANUsingLimit(quint32 limit);
    static void registerForNetworkReachabilityNotifications();
    static void unsubscribeFromNetworkReachabilityNotifications();
    static bool isNetworkReachableViaWWAN();
    static void reachabilityChanged();
    // Takes this request's stream off its event loop while the budget is overspent and
    // puts it back once the hold-off is over.
    void performThrottling();

protected:
    // Makes the empty request that copyWithZone fills; subclasses answer their own class.
    virtual HTTPRequestPtr makeRequestOfSameClass(const QUrl& url) const;
    // The settings a HEAD request shares with its main request; a copy takes them too.
    void copySharedSettingsTo(HTTPRequest& other) const;
    HTTPRequestPtr self() { return std::static_pointer_cast<HTTPRequest>(shared_from_this()); }

    void failWithError(ErrorPtr error);
    void setupPostBody();
    // The last steps of building a body of length bytes: the method a body needs, its
    // "Content-Length", and the mark that the body is built.
    void finishPostBody(quint64 length);
    // A body a subclass sends from its own sources, read afresh for every attempt, instead
    // of postBody or the body file; none by default. A subclass that cannot give it fails
    // the request.
    virtual std::optional<platform::HttpRequestBody> streamedPostBody() { return std::nullopt; }
    // Why the streamed body could not be read to its end, when that is why a stream failed.
    virtual ErrorPtr streamedPostBodyError() const { return nullptr; }

    // ---- Lifecycle (HTTPRequestLifecycle.cpp) ----
    void cancelOnRequestThread();
    void markAsFinished();
    void requestFinished();
    void reportFinished();
    void reportFailure();
    void requestStarted();
    void requestReceivedResponseHeaders(const Headers& headers);
    void releaseBlocksOnMainThread();
    void cancelLoad();
    void performOnRequestThread(std::function<void()> fn);
    void runOnDrivingThreadOrNow(std::function<void()> fn);

    // ---- Building (HTTPRequestBuilding.cpp) ----
    void startRequest();
    QString userAgentForRequest() const;

    // ---- Status timer ----
    void startStatusTimer();
    void stopStatusTimer();
    void updateStatus();
    void checkRequestStatus();

    // ---- Response (HTTPRequestResponse.cpp) ----
    void handleNetworkEvent(platform::HttpStreamEvent event);
    void readResponseHeaders();
    void handleBytesAvailable();
    void handleStreamComplete();
    void handleStreamError();
    void useDataFromCache();
    void parseStringEncodingFromHeaders();
    void settleContentLength();
    void decideConnectionReuse(const platform::HttpResponseHeader& header);
    bool hasDataReceiver() const;
    void passOnReceivedData(const QByteArray& data);
    bool writeToDownloadFile(const char* bytes, qint64 length);
    void inflateChunk(const char* chunk, qint64 length, bool receiver);
    // Why a compressed body that has fully arrived cannot be the answer, if it cannot.
    ErrorPtr compressedBodyError() const;
    ErrorPtr settleDownloadedFile();
    // False when the answer cannot go on the partial file; the request has then failed.
    bool decideResumeAnswer();
    void dropSupersedingDownload();
    void removeTemporaryDownloadFile();
    void removeTemporaryUncompressedDownloadFile();
    void removeTemporaryUploadFile();
    void removeTemporaryCompressedUploadFile();

    // ---- Connection (HTTPRequestConnection.cpp) ----
    void scheduleReadStream();
    void unscheduleReadStream();
    void destroyReadStream();
    qint64 connectionID() const;

    // A reused connection found dead before the answer began: one more attempt on a new
    // connection, once per request.
    bool retryUsingNewConnection();

    // ---- Where the engine's services plug into the request's steps ----
    // Redirects: true when the answer is a redirect that will be followed.
    bool willRedirect();
    // Time-outs: true when the attempt has been silent for too long.
    bool shouldTimeOut();
    // Progress reporting to the queue, progress delegates and blocks.
    void updateProgressIndicators();
    void incrementDownloadSizeBy(qint64 amount);
    void incrementUploadSizeBy(qint64 amount);
    void removeUploadProgressSoFar();

    // ---- Redirects (HTTPRequestRedirects.cpp) ----
    bool willAskDelegateToConfirmRedirect();
    void performRedirect();
    void requestRedirected();
    void requestWillRedirectToURL(const QUrl& url);

    // ---- Time-outs (HTTPRequestTimeouts.cpp) ----
    // Retries or fails a silent attempt; answers true when a new attempt is to start.
    bool handleTimeOut();

    // ---- Persistent connections (ConnectionPool.cpp) ----
    // Picks or makes the connection record of this attempt's stream; answers the stream
    // last opened on that record, to be closed once the new one is open.
    std::shared_ptr<platform::HttpStream> choosePersistentConnection();
    // The connection is free again; it expires after persistentConnectionTimeoutSeconds.
    void releaseConnection();
    // The connection is never used again.
    void discardConnection();
    static void countNewConnection();

    // ---- Progress (HTTPRequestProgress.cpp) ----
    void updateUploadProgress();
    void updateDownloadProgress();
    using ProgressDelegateField = std::weak_ptr<ProgressDelegate> HTTPRequest::*;
    void updateProgressIndicator(ProgressDelegateField field, quint64 progress, quint64 total);
    void sendToProgressReceivers(ProgressDelegateField field, ProgressOperation operation,
                                 qint64 amount);

    // ---- Bandwidth throttling (HTTPRequestThrottling.cpp) ----
    // The size of a download read that wanted `wanted` bytes under the current budget.
    static qint64 throttledReadLength(qint64 wanted);
    // True while a new attempt's stream is to wait before going on the event loop.
    static bool throttleHoldsNewStreams();
    void wakeWhenThrottleEnds(std::chrono::steady_clock::duration wait);

    // ---- Credentials (HTTPRequestCredentials.cpp) ----
    // Pre-emptive Authorization, and the answer to a 401 or 407.
    void applyAuthorizationHeader();
    void attemptToApplyCredentialsAndResume();
    void attemptToApplyProxyCredentialsAndResume();
    struct ChallengeSide;
    // The part of answering a challenge that is the same for a server and a proxy; `lock`
    // holds cancelledLock_.
    void answerChallenge(std::unique_lock<std::recursive_mutex>& lock, bool fresh,
                         const ChallengeSide& side);
    platform::HttpCredentialsPtr findCredentials();
    platform::HttpCredentialsPtr findProxyCredentials();
    bool applyCredentials(const platform::HttpCredentialsPtr& credentials);
    bool applyProxyCredentials(const platform::HttpCredentialsPtr& credentials);
    std::optional<SessionCredentials> findSessionAuthenticationCredentials();
    std::optional<SessionCredentials> findSessionProxyAuthenticationCredentials();
    void saveCredentialsToKeychain(const platform::HttpCredentialsPtr& credentials);
    void saveProxyCredentialsToKeychain(const platform::HttpCredentialsPtr& credentials);
    void saveLogin(const platform::ProtectionSpace& space,
                   const platform::HttpCredentials& credentials);
    void saveLoginsKeptForTheEnd();
    bool willAskDelegateForCredentials();
    bool willAskDelegateForProxyCredentials();
    void askDelegateForCredentials();
    void askDelegateForProxyCredentials();
    bool showAuthenticationDialog();
    bool showProxyAuthenticationDialog();
    // After each answer's head: remembers credentials the server or proxy took.
    void rememberAcceptedCredentials();
    // Drops what belongs to the server of the old address when the address changes origin.
    void forgetServerCredentialsFor(const QUrl& newURL);
    void copyCredentialSettingsTo(HTTPRequest& other) const;
    bool isSynchronous() const;
    platform::HttpEntityBody entityBodyForDigest() const;
    // Takes the challenge of the answer just read (from the stream while it is there); true
    // when there was a new one.
    bool captureChallenge();
    // Starts the next attempt after credentials were applied.
    void resumeWithCredentials();

    // Target and method.
    QUrl url_;
    QUrl originalURL_;
    QUrl redirectURL_;
    QString requestMethod_ = QStringLiteral("GET");

    // Callbacks.
    std::weak_ptr<HTTPRequestDelegate> delegate_;
    std::shared_ptr<HTTPRequestQueue> queue_;
    RequestSelector didStartSelector_;
    HeadersSelector didReceiveResponseHeadersSelector_;
    RedirectSelector willRedirectSelector_;
    RequestSelector didFinishSelector_;
    RequestSelector didFailSelector_;
    DataSelector didReceiveDataSelector_;
    struct Blocks {
        Block started;
        HeadersBlock headersReceived;
        Block completion;
        Block failure;
        ProgressBlock bytesReceived;
        ProgressBlock bytesSent;
        SizeBlock downloadSizeIncremented;
        SizeBlock uploadSizeIncremented;
        DataBlock dataReceived;
        Block authenticationNeeded;
        Block proxyAuthenticationNeeded;
        Block requestRedirected;
    };
    // Read on the GUI thread when a block is due; guarded by blocksMutex_.
    std::shared_ptr<Blocks> blocks_ = std::make_shared<Blocks>();
    mutable std::mutex blocksMutex_;
    QVariantMap userInfo_;
    qint32 tag_ = 0;

    // Request headers and body.
    Headers requestHeaders_;
    bool haveBuiltRequestHeaders_ = false;
    QList<QNetworkCookie> requestCookies_;
    bool useCookiePersistence_ = true;
    QString userAgentString_;
    QByteArray postBody_;
    QByteArray compressedPostBody_;
    bool shouldStreamPostDataFromDisk_ = false;
    QString postBodyFilePath_;
    QString compressedPostBodyFilePath_;
    bool didCreateTemporaryPostDataFile_ = false;
    std::unique_ptr<QFile> postBodyWriteStream_;
    std::shared_ptr<ThrottledInputStream> postBodyReadStream_;
    quint64 postLength_ = 0;
    bool haveBuiltPostBody_ = false;
    bool shouldCompressRequestBody_ = false;
    bool useHTTPVersionOne_ = false;
    bool validatesSecureCertificate_ = true;
    std::optional<platform::HttpClientIdentity> clientCertificateIdentity_;
    QList<QSslCertificate> clientCertificates_;
    QList<QSslCertificate> extraTrustedCertificates_;

    // Response.
    std::optional<Headers> responseHeaders_;
    int responseStatusCode_ = 0;
    QString responseStatusMessage_;
    QList<QNetworkCookie> responseCookies_;
    QByteArray rawResponseData_;
    StringEncoding defaultResponseEncoding_ = StringEncodings::ISOLatin1;
    StringEncoding responseEncoding_ = StringEncodings::ISOLatin1;
    quint64 contentLength_ = 0;
    quint64 totalBytesRead_ = 0;
    quint64 partialDownloadSize_ = 0;
    bool allowCompressedResponse_ = true;
    bool shouldWaitToInflateCompressedResponses_ = true;
    quint64 maxInflatedBodySize_;
    std::unique_ptr<DataDecompressor> dataDecompressor_;
    QString downloadDestinationPath_;
    QString temporaryFileDownloadPath_;
    QString temporaryUncompressedDataDownloadPath_;
    std::unique_ptr<QFile> fileDownloadOutputStream_;
    std::unique_ptr<QFile> inflatedFileDownloadOutputStream_;
    bool allowResumeForFileDownloads_ = false;
    // What the answer to a resumed download does with the partial file: a 206 from the
    // partial file's end continues it, a 416 for exactly its length says it is whole,
    // another success replaces it once complete, and anything else leaves it alone.
    enum class ResumeAnswer { NotResumed, Continues, AlreadyComplete, Replaces, LeavesAlone };
    ResumeAnswer resumeAnswer_ = ResumeAnswer::NotResumed;
    // The partial file that a whole body, staged apart, replaces when it has arrived.
    QString supersededDownloadPath_;
    bool downloadComplete_ = false;
    QByteArray readBuffer_;

    // Progress.
    bool showAccurateProgress_ = true;
    bool shouldResetUploadProgress_ = true;
    bool shouldResetDownloadProgress_ = true;
    bool updatedProgress_ = false;
    quint64 totalBytesSent_ = 0;
    quint64 lastBytesSent_ = 0;
    quint64 lastBytesRead_ = 0;
    quint64 uploadBufferSize_ = 0;
    std::weak_ptr<ProgressDelegate> uploadProgressDelegate_;
    std::weak_ptr<ProgressDelegate> downloadProgressDelegate_;
    std::weak_ptr<HTTPRequest> mainRequest_;
    // Set on a HEAD request made by HEADRequest, even once its main request is gone.
    bool hasMainRequest_ = false;

    // Credentials.
    QString username_;
    QString password_;
    QString domain_;
    QString proxyUsername_;
    QString proxyPassword_;
    QString proxyDomain_;
    QString authenticationScheme_;
    QString proxyAuthenticationScheme_;
    QString authenticationRealm_;
    QString proxyAuthenticationRealm_;
    platform::HttpCredentialsPtr requestCredentials_;
    platform::HttpCredentialsPtr proxyCredentials_;
    platform::HttpAuthenticationPtr requestAuthentication_;
    platform::HttpAuthenticationPtr proxyAuthentication_;
    // The head of the last 401 or 407, kept while the request waits for an answer.
    std::optional<platform::HttpResponseHeader> challengeResponse_;
    // A proxy's refusal of a tunnel was just kept there (its stream is already gone).
    bool tunnelChallengeIsNew_ = false;
    // Credentials to save for good once the server or proxy has taken them.
    bool keychainSavePending_ = false;
    bool proxyKeychainSavePending_ = false;
    // A synchronous request saves taken logins once it has ended: the password store answers
    // through the calling thread's event loop, which must not run inside the stream's own
    // callbacks while the answer is still arriving.
    std::vector<std::pair<platform::ProtectionSpace, platform::SavedCredential>> loginsToSave_;
    bool shouldPresentCredentialsBeforeChallenge_ = true;
    bool useSessionPersistence_ = true;
    bool useKeychainPersistence_ = false;
    bool shouldPresentAuthenticationDialog_ = false;
    bool shouldPresentProxyAuthenticationDialog_ = true;
    int authenticationNeeded_ = 0;
    int authenticationRetryCount_ = 0;
    int proxyAuthenticationRetryCount_ = 0;

    // Proxy.
    QString proxyHost_;
    int proxyPort_ = 0;
    QString proxyType_;

    // Connection.
    std::optional<platform::HttpRequestMessage> request_;
    std::shared_ptr<platform::HttpStream> readStream_;
    bool readStreamIsScheduled_ = false;
    QThread* drivingThread_ = nullptr;
    bool shouldAttemptPersistentConnection_ = true;
    double persistentConnectionTimeoutSeconds_ = 60.0;
    bool connectionCanBeReused_ = false;
    bool connectionWasReused_ = false;
    quint64 requestID_ = 0;
    // The connection record in use; its id is the stream id of every stream opened on it.
    std::shared_ptr<ConnectionRecord> connectionInfo_;

    // Redirects, time-outs, retries.
    bool shouldRedirect_ = true;
    bool needsRedirect_ = false;
    int redirectCount_ = 0;
    bool shouldUseRFC2616RedirectBehaviour_ = false;
    double timeOutSeconds_;
    QDateTime lastActivityTime_;
    int numberOfTimesToRetryOnTimeout_ = 0;
    int retryCount_ = 0;
    bool willRetryRequest_ = false;

    // Cache.
    std::weak_ptr<CacheDelegate> downloadCache_;
    int cachePolicy_ = CachePolicy::UseDefault;
    int cacheStoragePolicy_ = CacheStoragePolicy::ForSessionDuration;
    bool didUseCachedResponse_ = false;
    double secondsToCache_ = 0;

    // Run state.
    std::atomic<bool> inProgress_{false};
    std::atomic<bool> complete_{false};
    std::atomic<bool> finished_{false};
    bool cancelled_ = false;
    ErrorPtr error_;
    QTimer* statusTimer_ = nullptr;
    // Puts a held stream back on time; a child of the status timer.
    QPointer<QTimer> throttleWakeUpTimer_;
    bool destroying_ = false;
    mutable std::recursive_mutex cancelledLock_;

private:
    // Delivers one event to user code on the GUI thread: the delegate through selector, the
    // block in slot, then the queue through queueCall (nullptr: not the queue). With
    // quietAfterFailure nothing is delivered once the request has failed, nor for a HEAD
    // request that measures a main request.
    template <class Selector, class Slot, class QueueCall, class... Args>
    void notifyUser(bool quietAfterFailure, Selector HTTPRequest::*selector, Slot Blocks::*slot,
                    QueueCall queueCall, const Args&... args);

    template <class Slot>
    Slot blockSnapshot(Slot Blocks::*slot) const {
        std::lock_guard lock(blocksMutex_);
        return (*blocks_).*slot;
    }
};

}  // namespace http
