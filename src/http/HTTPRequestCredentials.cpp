// Credentials a request presents: before a challenge (from the session store), and in answer
// to a 401 or 407, from wherever they can be found, or from whoever can be asked.
#include <QDateTime>
#include <QThread>
#include <utility>

#include "http/HTTPRequest.h"
#include "http/Origin.h"
#include "http/RequestClassState.h"
#include "platform/CookieStore.h"
#include "platform/CredentialStorage.h"
#include "platform/MainThread.h"

namespace http {

namespace {

using platform::HttpAuthentication;
using platform::HttpCredentials;
using platform::HttpCredentialsPtr;

struct CredentialState {
    std::recursive_mutex sessionCredentialLock;
    // Serialises the choice between stored credentials and asking, across all requests.
    std::recursive_mutex credentialPromptLock;
    QList<SessionCredentials> sessionCredentialsStore;
    QList<SessionCredentials> sessionProxyCredentialsStore;
    HTTPRequest::AuthenticationDialogPresenter dialogPresenter;
};

CredentialState& credentialState() {
    static auto* state = new CredentialState();
    return *state;
}

const QString kBasic = QStringLiteral("Basic");
const QString kNTLM = QStringLiteral("NTLM");

ErrorPtr noAuthenticationObjectError() {
    return Error::http(InternalErrorWhileApplyingCredentialsType,
                       QStringLiteral("Failed to get authentication object from response headers"));
}

ErrorPtr applyFailedError(bool proxy) {
    return Error::http(InternalErrorWhileApplyingCredentialsType,
                       proxy ? QStringLiteral("Failed to apply proxy credentials to request")
                             : QStringLiteral("Failed to apply credentials to request"));
}

bool isRefusal(const platform::HttpStreamError& error) {
    return error.domain == platform::HttpStreamErrorDomain::HttpAuthentication &&
           (error.code == platform::http_authentication_error::kBadUserName ||
            error.code == platform::http_authentication_error::kBadPassword);
}

// The user name and account domain: an empty domain with a name written domain\user takes
// its two parts.
HttpCredentialsPtr credentialsFrom(QString user, const QString& password, QString domain,
                                   bool needsDomain) {
    if (user.isNull() || password.isNull()) return nullptr;
    HttpCredentials credentials;
    if (needsDomain) {
        if (domain.isEmpty()) {
            const QStringList parts = user.split(QLatin1Char('\\'));
            if (parts.size() == 2) {
                domain = parts[0];
                user = parts[1];
            }
        }
        credentials.accountDomain = domain.isNull() ? QStringLiteral("") : domain;
    }
    credentials.username = user;
    credentials.password = password;
    return std::make_shared<const HttpCredentials>(credentials);
}

bool sameContent(const HttpCredentials& a, const HttpCredentials& b) {
    return a.username == b.username && a.password == b.password &&
           a.accountDomain == b.accountDomain;
}

void storeEntry(QList<SessionCredentials>& store, const SessionCredentials& entry) {
    std::lock_guard lock(credentialState().sessionCredentialLock);
    store.removeIf([&](const SessionCredentials& e) { return e.credentials == entry.credentials; });
    store.append(entry);
}

void removeEntry(QList<SessionCredentials>& store, const HttpCredentialsPtr& credentials) {
    if (!credentials) return;
    std::lock_guard lock(credentialState().sessionCredentialLock);
    for (qsizetype i = 0; i < store.size(); ++i) {
        if (store[i].credentials == credentials) {
            store.removeAt(i);
            return;
        }
    }
}

}  // namespace

// ---- Before a challenge ----

void HTTPRequest::applyAuthorizationHeader() {
    if (!shouldPresentCredentialsBeforeChallenge_) return;
    if (!requestHeaders_.contains(QStringLiteral("Authorization"))) {
        // The request's credentials are for the server it was made for: after a redirect to
        // another scheme, host or port they stay behind. Over plain HTTP a Basic password goes
        // out first only to a server that has asked this request for it.
        const QUrl& intended = redirectCount_ == 0 ? url_ : originalURL_;
        const bool asked =
            url_.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ||
            !authenticationRealm_.isNull() || requestAuthentication_;
        if (isSameOrigin(url_, intended) && asked && !username_.isNull() && !password_.isNull() &&
            authenticationScheme_ == kBasic) {
            addBasicAuthenticationHeaderWithUsername(username_, password_);
        } else if (useSessionPersistence_) {
            if (std::optional<SessionCredentials> entry = findSessionAuthenticationCredentials()) {
                if (!entry->authentication) {
                    addBasicAuthenticationHeaderWithUsername(entry->credentials->username,
                                                             entry->credentials->password);
                } else if (request_ && entry->authentication->applyCredentials(
                                           *request_, *entry->credentials, entityBodyForDigest())) {
                    authenticationScheme_ = entry->authenticationScheme;
                } else {
                    removeAuthenticationCredentialsFromSessionStore(entry->credentials);
                }
            }
        }
    }
    // Proxy credentials go only to an HTTP proxy this request goes through.
    if (useSessionPersistence_ && request_ && !proxyHost_.isEmpty() &&
        proxyType_.compare(QLatin1String("SOCKS"), Qt::CaseInsensitive) != 0) {
        if (std::optional<SessionCredentials> entry = findSessionProxyAuthenticationCredentials()) {
            if (!entry->authentication ||
                !entry->authentication->applyCredentials(*request_, *entry->credentials)) {
                removeProxyAuthenticationCredentialsFromSessionStore(entry->credentials);
            }
        }
    }
}

void HTTPRequest::rememberAcceptedCredentials() {
    if (authenticationNeeded_ != 1) {
        if (keychainSavePending_ && requestCredentials_) {
            saveCredentialsToKeychain(requestCredentials_);
        }
        keychainSavePending_ = false;
    }
    if (authenticationNeeded_ != 2) {
        if (proxyKeychainSavePending_ && proxyCredentials_) {
            saveProxyCredentialsToKeychain(proxyCredentials_);
        }
        proxyKeychainSavePending_ = false;
    }
    // A Basic login sent before any challenge and taken is remembered for later requests,
    // once per address and login.
    if (authenticationNeeded_ != 0 || requestAuthentication_ || authenticationScheme_ != kBasic ||
        username_.isNull() || password_.isNull() || !useSessionPersistence_ || !request_ ||
        !request_->headerFieldValue(QStringLiteral("Authorization")).startsWith(kBasic)) {
        return;
    }
    HttpCredentials sent{username_, password_, QString()};
    {
        std::lock_guard lock(credentialState().sessionCredentialLock);
        for (const SessionCredentials& entry : credentialState().sessionCredentialsStore) {
            if (entry.url == url_ && sameContent(*entry.credentials, sent)) return;
        }
    }
    SessionCredentials entry;
    entry.credentials = std::make_shared<const HttpCredentials>(sent);
    entry.url = url_;
    entry.authenticationScheme = kBasic;
    storeAuthenticationCredentialsInSessionStore(entry);
}

void HTTPRequest::forgetServerCredentialsFor(const QUrl& newURL) {
    if (url_.isEmpty() || isSameOrigin(url_, newURL)) return;
    requestAuthentication_.reset();
    requestCredentials_.reset();
    authenticationRealm_ = QString();
    keychainSavePending_ = false;
}

void HTTPRequest::copyCredentialSettingsTo(HTTPRequest& other) const {
    other.domain_ = domain_;
    other.proxyUsername_ = proxyUsername_;
    other.proxyPassword_ = proxyPassword_;
    other.proxyDomain_ = proxyDomain_;
    other.useKeychainPersistence_ = useKeychainPersistence_;
    other.useSessionPersistence_ = useSessionPersistence_;
    other.shouldPresentAuthenticationDialog_ = shouldPresentAuthenticationDialog_;
    other.shouldPresentProxyAuthenticationDialog_ = shouldPresentProxyAuthenticationDialog_;
}

// ---- Answering a challenge ----

bool HTTPRequest::captureChallenge() {
    if (std::exchange(tunnelChallengeIsNew_, false)) return true;
    if (!readStream_) return false;
    const platform::HttpResponseHeader header = readStream_->responseHeader();
    if (!header.isHeaderComplete()) return false;
    if (header.statusCode() != 401 && header.statusCode() != 407) return false;
    challengeResponse_ = header;
    return true;
}

void HTTPRequest::resumeWithCredentials() {
    // Cookies the challenge set (a session cookie, say) go with the answer to it.
    if (useCookiePersistence_ && request_ && !hasMainRequest_) {
        QList<QNetworkCookie> cookies = requestCookies_;
        for (const QNetworkCookie& fresh : platform::CookieStore::shared().cookiesForUrl(url_)) {
            cookies.removeIf([&](const QNetworkCookie& c) { return c.hasSameIdentifier(fresh); });
            cookies.append(fresh);
        }
        QString header;
        for (const QNetworkCookie& cookie : cookies) {
            if (!header.isEmpty()) header += QLatin1String("; ");
            header += QString::fromLatin1(cookie.name()) + QLatin1Char('=') +
                      QString::fromLatin1(cookie.value());
        }
        if (!header.isEmpty()) request_->setHeaderFieldValue(QStringLiteral("Cookie"), header);
    }
    startRequest();
}

// What differs between answering a server's challenge and a proxy's: the members that
// hold each one's state, and the ways of finding, applying and asking for its credentials.
struct HTTPRequest::ChallengeSide {
    platform::HttpAuthenticationPtr& authentication;
    QString& scheme;
    QString& realm;
    HttpCredentialsPtr& credentials;
    const int& retryCount;
    bool proxy;
    bool (HTTPRequest::*apply)(const HttpCredentialsPtr&);
    std::optional<SessionCredentials> (HTTPRequest::*findSession)();
    HttpCredentialsPtr (HTTPRequest::*find)();
    void (*forget)(const HttpCredentialsPtr&);
    bool (HTTPRequest::*askDelegate)();
    bool (HTTPRequest::*showDialog)();
};

void HTTPRequest::attemptToApplyCredentialsAndResume() {
    std::unique_lock lock(cancelledLock_);
    if (error_ || cancelled_) return;
    auto keep = self();
    const bool fresh = captureChallenge();
    if (authenticationNeeded_ == 2) {
        lock.unlock();
        attemptToApplyProxyCredentialsAndResume();
        return;
    }
    answerChallenge(lock, fresh,
                    {.authentication = requestAuthentication_,
                     .scheme = authenticationScheme_,
                     .realm = authenticationRealm_,
                     .credentials = requestCredentials_,
                     .retryCount = authenticationRetryCount_,
                     .proxy = false,
                     .apply = &HTTPRequest::applyCredentials,
                     .findSession = &HTTPRequest::findSessionAuthenticationCredentials,
                     .find = &HTTPRequest::findCredentials,
                     .forget = &HTTPRequest::removeAuthenticationCredentialsFromSessionStore,
                     .askDelegate = &HTTPRequest::willAskDelegateForCredentials,
                     .showDialog = &HTTPRequest::showAuthenticationDialog});
}

void HTTPRequest::attemptToApplyProxyCredentialsAndResume() {
    std::unique_lock lock(cancelledLock_);
    if (error_ || cancelled_) return;
    auto keep = self();
    // A 407 from something that is not this request's HTTP proxy gets nothing: proxy
    // credentials go to the proxy only.
    if (proxyHost_.isEmpty() ||
        proxyType_.compare(QLatin1String("SOCKS"), Qt::CaseInsensitive) == 0) {
        cancelLoad();
        failWithError(RequestClassState::instance().authenticationError);
        return;
    }
    const bool fresh = captureChallenge();
    answerChallenge(lock, fresh,
                    {.authentication = proxyAuthentication_,
                     .scheme = proxyAuthenticationScheme_,
                     .realm = proxyAuthenticationRealm_,
                     .credentials = proxyCredentials_,
                     .retryCount = proxyAuthenticationRetryCount_,
                     .proxy = true,
                     .apply = &HTTPRequest::applyProxyCredentials,
                     .findSession = &HTTPRequest::findSessionProxyAuthenticationCredentials,
                     .find = &HTTPRequest::findProxyCredentials,
                     .forget = &HTTPRequest::removeProxyAuthenticationCredentialsFromSessionStore,
                     .askDelegate = &HTTPRequest::willAskDelegateForProxyCredentials,
                     .showDialog = &HTTPRequest::showProxyAuthenticationDialog});
}

void HTTPRequest::answerChallenge(std::unique_lock<std::recursive_mutex>& lock, bool fresh,
                                  const ChallengeSide& side) {
    auto& shared = RequestClassState::instance();
    if (!side.authentication && challengeResponse_) {
        side.authentication = HttpAuthentication::createFromResponse(*challengeResponse_);
        side.scheme = side.authentication
                          ? side.authentication->method()
                          : HttpAuthentication::recognisedMethod(*challengeResponse_);
    } else if (side.authentication && fresh) {
        side.authentication->updateFromResponse(*challengeResponse_);
    }
    if (!side.authentication) {
        cancelLoad();
        failWithError(noAuthenticationObjectError());
        return;
    }
    side.realm = QString();
    if (!side.authentication->requiresAccountDomain()) {
        side.realm = side.authentication->realm();
    }
    const auto resumeWith = [&](const HttpCredentialsPtr& credentials) {
        if (!(this->*side.apply)(credentials)) return false;
        resumeWithCredentials();
        return true;
    };
    // The answer comes back through retryUsingSuppliedCredentials; refused credentials are
    // not sent again meanwhile.
    const auto askOrFail = [&] {
        if ((this->*side.askDelegate)() || (this->*side.showDialog)()) return;
        failWithError(shared.authenticationError);
    };

    platform::HttpStreamError refusal;
    if (side.authentication->isValid(&refusal)) {
        cancelLoad();
        if (side.credentials) {
            const bool ntlm = side.scheme == kNTLM;
            if (!(ntlm && side.retryCount > 1) && resumeWith(side.credentials)) return;
            failWithError(ntlm && side.retryCount == 2 ? shared.authenticationError
                                                       : applyFailedError(side.proxy));
            return;
        }
        // Every scheme answered here needs a user name and password; one that needs neither
        // has nothing to offer it, so the request fails as for a refusal.
        if (!side.authentication->requiresUserNameAndPassword()) {
            failWithError(shared.authenticationError);
            return;
        }
        lock.unlock();
        std::lock_guard prompt(credentialState().credentialPromptLock);
        lock.lock();
        if (error_ || cancelled_) return;
        if (useSessionPersistence_) {
            std::optional<SessionCredentials> entry = (this->*side.findSession)();
            if (entry && resumeWith(entry->credentials)) return;
        }
        if (HttpCredentialsPtr credentials = (this->*side.find)()) {
            if (!resumeWith(credentials)) failWithError(applyFailedError(side.proxy));
            return;
        }
        askOrFail();
        return;
    }

    side.authentication.reset();
    cancelLoad();
    if (!isRefusal(refusal)) {
        failWithError(shared.authenticationError);
        return;
    }
    lock.unlock();
    std::lock_guard prompt(credentialState().credentialPromptLock);
    lock.lock();
    side.forget(side.credentials);
    side.credentials.reset();
    if (error_ || cancelled_) return;
    if (useSessionPersistence_) {
        if (std::optional<SessionCredentials> entry = (this->*side.findSession)()) {
            // A fresh handle for the same challenge: the refused one cannot be used again.
            side.authentication = HttpAuthentication::createFromResponse(*challengeResponse_);
            if (side.authentication && resumeWith(entry->credentials)) return;
            side.authentication.reset();
        }
    }
    lastActivityTime_ = QDateTime();
    askOrFail();
}

// ---- Finding credentials ----

HttpCredentialsPtr HTTPRequest::findCredentials() {
    QString user = url_.userName(QUrl::FullyDecoded);
    QString password = url_.password(QUrl::FullyDecoded);
    // Credentials set on the request (or its main request) are for the server it was made
    // for, never for one a redirect led to.
    const bool ownServer = redirectCount_ == 0 || isSameOrigin(url_, originalURL_);
    if ((user.isNull() || password.isNull()) && ownServer) {
        auto main = mainRequest_.lock();
        if (main && !main->username_.isNull() && !main->password_.isNull()) {
            user = main->username_;
            password = main->password_;
        } else if (!username_.isNull() && !password_.isNull()) {
            user = username_;
            password = password_;
        }
    }
    if ((user.isNull() || password.isNull()) && useKeychainPersistence_) {
        if (HttpCredentialsPtr saved = savedCredentialsForHost(
                url_.host(), platform::effectivePort(url_), url_.scheme(), authenticationRealm_)) {
            user = saved->username;
            password = saved->password;
        }
    }
    const bool needsDomain =
        requestAuthentication_ && requestAuthentication_->requiresAccountDomain();
    return credentialsFrom(user, password, domain_, needsDomain);
}

HttpCredentialsPtr HTTPRequest::findProxyCredentials() {
    QString user;
    QString password;
    auto main = mainRequest_.lock();
    if (main && !main->proxyUsername_.isNull() && !main->proxyPassword_.isNull()) {
        user = main->proxyUsername_;
        password = main->proxyPassword_;
    } else if (!proxyUsername_.isNull() && !proxyPassword_.isNull()) {
        user = proxyUsername_;
        password = proxyPassword_;
    }
    // The password store is read only for requests that asked for it: reading it may make
    // the desktop ask the user to unlock it.
    if ((user.isNull() || password.isNull()) && useKeychainPersistence_) {
        if (HttpCredentialsPtr saved = savedCredentialsForProxy(
                proxyHost_, proxyPort_, url_.scheme(), proxyAuthenticationRealm_)) {
            user = saved->username;
            password = saved->password;
        }
    }
    const bool needsDomain = proxyAuthentication_ && proxyAuthentication_->requiresAccountDomain();
    return credentialsFrom(user, password, proxyDomain_.isEmpty() ? domain_ : proxyDomain_,
                           needsDomain);
}

platform::HttpEntityBody HTTPRequest::entityBodyForDigest() const {
    platform::HttpEntityBody body;
    if (shouldStreamPostDataFromDisk_ && !postBodyFilePath_.isEmpty()) {
        body.filePath =
            compressedPostBodyFilePath_.isEmpty() ? postBodyFilePath_ : compressedPostBodyFilePath_;
    } else {
        body.data = shouldCompressRequestBody_ && !compressedPostBody_.isEmpty()
                        ? compressedPostBody_
                        : postBody_;
    }
    return body;
}

bool HTTPRequest::applyCredentials(const HttpCredentialsPtr& credentials) {
    ++authenticationRetryCount_;
    if (!credentials || !requestAuthentication_ || !request_) return false;
    if (!requestAuthentication_->applyCredentials(*request_, *credentials, entityBodyForDigest())) {
        removeAuthenticationCredentialsFromSessionStore(credentials);
        return false;
    }
    // Saved for good only once the server has taken them (rememberAcceptedCredentials).
    keychainSavePending_ = useKeychainPersistence_;
    if (useSessionPersistence_) {
        SessionCredentials entry;
        entry.authentication = requestAuthentication_;
        entry.credentials = credentials;
        entry.url = url_;
        entry.authenticationScheme = authenticationScheme_;
        entry.authenticationRealm = authenticationRealm_;
        storeAuthenticationCredentialsInSessionStore(entry);
    }
    requestCredentials_ = credentials;
    return true;
}

bool HTTPRequest::applyProxyCredentials(const HttpCredentialsPtr& credentials) {
    ++proxyAuthenticationRetryCount_;
    if (!credentials || !proxyAuthentication_ || !request_) return false;
    if (!proxyAuthentication_->applyCredentials(*request_, *credentials, entityBodyForDigest())) {
        removeProxyAuthenticationCredentialsFromSessionStore(credentials);
        return false;
    }
    proxyKeychainSavePending_ = useKeychainPersistence_;
    if (useSessionPersistence_) {
        SessionCredentials entry;
        entry.authentication = proxyAuthentication_;
        entry.credentials = credentials;
        entry.authenticationScheme = proxyAuthenticationScheme_;
        entry.authenticationRealm = proxyAuthenticationRealm_;
        entry.host = proxyHost_;
        entry.port = proxyPort_;
        storeProxyAuthenticationCredentialsInSessionStore(entry);
    }
    proxyCredentials_ = credentials;
    return true;
}

std::optional<SessionCredentials> HTTPRequest::findSessionAuthenticationCredentials() {
    std::lock_guard lock(credentialState().sessionCredentialLock);
    std::optional<SessionCredentials> closeMatch;
    for (const SessionCredentials& entry : credentialState().sessionCredentialsStore) {
        const bool exact = entry.url == url_;
        if (!exact) {
            if (closeMatch) continue;
            const bool portsAgree = (url_.port() == -1 && entry.url.port() == -1) ||
                                    (url_.port() != -1 && url_.port() == entry.url.port());
            if (entry.url.host().compare(url_.host(), Qt::CaseInsensitive) != 0 ||
                entry.url.scheme().compare(url_.scheme(), Qt::CaseInsensitive) != 0 ||
                !portsAgree) {
                continue;
            }
        }
        if (!authenticationRealm_.isNull() && entry.authenticationRealm != authenticationRealm_) {
            continue;
        }
        if (!username_.isNull() && !password_.isNull() &&
            (entry.credentials->username != username_ ||
             entry.credentials->password != password_)) {
            continue;
        }
        if (exact) return entry;
        closeMatch = entry;
    }
    return closeMatch;
}

std::optional<SessionCredentials> HTTPRequest::findSessionProxyAuthenticationCredentials() {
    std::lock_guard lock(credentialState().sessionCredentialLock);
    for (const SessionCredentials& entry : credentialState().sessionProxyCredentialsStore) {
        if (entry.host == proxyHost_ && entry.port == proxyPort_) return entry;
    }
    return std::nullopt;
}

// ---- Asking ----

bool HTTPRequest::isSynchronous() const {
    auto& shared = RequestClassState::instance();
    std::lock_guard lock(shared.monitor);
    return drivingThread_ == nullptr || drivingThread_ != shared.networkThread;
}

bool HTTPRequest::willAskDelegateForCredentials() {
    if (isSynchronous()) return false;
    auto delegate = delegate_.lock();
    const bool answers = delegate ? delegate->answersAuthenticationNeeded()
                                  : queue_ && queue_->answersAuthenticationNeeded();
    if (!answers && !blockSnapshot(&Blocks::authenticationNeeded)) return false;
    auto request = self();
    platform::runOnMainThread([request] { request->askDelegateForCredentials(); });
    return true;
}

bool HTTPRequest::willAskDelegateForProxyCredentials() {
    if (isSynchronous()) return false;
    auto delegate = delegate_.lock();
    const bool answers = delegate ? delegate->answersProxyAuthenticationNeeded()
                                  : queue_ && queue_->answersProxyAuthenticationNeeded();
    if (!answers && !blockSnapshot(&Blocks::proxyAuthenticationNeeded)) return false;
    auto request = self();
    platform::runOnMainThread([request] { request->askDelegateForProxyCredentials(); });
    return true;
}

void HTTPRequest::askDelegateForCredentials() {
    std::unique_lock lock(cancelledLock_);
    auto delegate = delegate_.lock();
    auto queue = queue_;
    lock.unlock();
    auto request = self();
    if (delegate) {
        if (delegate->answersAuthenticationNeeded()) {
            delegate->authenticationNeededForRequest(request);
            return;
        }
    } else if (queue && queue->answersAuthenticationNeeded()) {
        queue->authenticationNeededForRequest(request);
        return;
    }
    if (auto block = blockSnapshot(&Blocks::authenticationNeeded)) block();
}

void HTTPRequest::askDelegateForProxyCredentials() {
    std::unique_lock lock(cancelledLock_);
    auto delegate = delegate_.lock();
    auto queue = queue_;
    lock.unlock();
    auto request = self();
    if (delegate) {
        if (delegate->answersProxyAuthenticationNeeded()) {
            delegate->proxyAuthenticationNeededForRequest(request);
            return;
        }
    } else if (queue && queue->answersProxyAuthenticationNeeded()) {
        queue->proxyAuthenticationNeededForRequest(request);
        return;
    }
    if (auto block = blockSnapshot(&Blocks::proxyAuthenticationNeeded)) block();
}

namespace {

bool presentDialog(const HTTPRequestPtr& request) {
    HTTPRequest::AuthenticationDialogPresenter presenter;
    {
        std::lock_guard lock(credentialState().sessionCredentialLock);
        presenter = credentialState().dialogPresenter;
    }
    if (!presenter) return false;
    platform::runOnMainThread([presenter, request] { presenter(request); });
    return true;
}

}  // namespace

bool HTTPRequest::showAuthenticationDialog() {
    if (isSynchronous() || !shouldPresentAuthenticationDialog_) return false;
    return presentDialog(self());
}

bool HTTPRequest::showProxyAuthenticationDialog() {
    if (isSynchronous() || !shouldPresentProxyAuthenticationDialog_) return false;
    return presentDialog(self());
}

void HTTPRequest::setAuthenticationDialogPresenter(AuthenticationDialogPresenter presenter) {
    std::lock_guard lock(credentialState().sessionCredentialLock);
    credentialState().dialogPresenter = std::move(presenter);
}

void HTTPRequest::retryUsingSuppliedCredentials() {
    auto request = self();
    performOnRequestThread([request] {
        std::unique_lock lock(request->cancelledLock_);
        // A request that ended meanwhile (cancelled, failed) stays ended.
        if (request->error_ || request->cancelled_ || request->finished_) return;
        const bool hasMessage = request->request_.has_value();
        lock.unlock();
        if (hasMessage) {
            request->attemptToApplyCredentialsAndResume();
        } else {
            request->main();
        }
    });
}

void HTTPRequest::cancelAuthentication() {
    auto request = self();
    performOnRequestThread([request] {
        std::lock_guard lock(request->cancelledLock_);
        if (request->error_ || request->cancelled_ || request->finished_) return;
        request->authenticationNeeded_ = 0;
        request->cancelLoad();
        request->failWithError(RequestClassState::instance().authenticationError);
    });
}

// ---- Class-wide stores ----

QList<SessionCredentials> HTTPRequest::sessionCredentialsStore() {
    std::lock_guard lock(credentialState().sessionCredentialLock);
    return credentialState().sessionCredentialsStore;
}

QList<SessionCredentials> HTTPRequest::sessionProxyCredentialsStore() {
    std::lock_guard lock(credentialState().sessionCredentialLock);
    return credentialState().sessionProxyCredentialsStore;
}

void HTTPRequest::storeAuthenticationCredentialsInSessionStore(const SessionCredentials& entry) {
    if (!entry.credentials) return;
    storeEntry(credentialState().sessionCredentialsStore, entry);
}

void HTTPRequest::storeProxyAuthenticationCredentialsInSessionStore(
    const SessionCredentials& entry) {
    if (!entry.credentials) return;
    storeEntry(credentialState().sessionProxyCredentialsStore, entry);
}

void HTTPRequest::removeAuthenticationCredentialsFromSessionStore(
    const HttpCredentialsPtr& credentials) {
    removeEntry(credentialState().sessionCredentialsStore, credentials);
}

void HTTPRequest::removeProxyAuthenticationCredentialsFromSessionStore(
    const HttpCredentialsPtr& credentials) {
    removeEntry(credentialState().sessionProxyCredentialsStore, credentials);
}

void HTTPRequest::clearSession() {
    {
        std::lock_guard lock(credentialState().sessionCredentialLock);
        credentialState().sessionCredentialsStore.clear();
        credentialState().sessionProxyCredentialsStore.clear();
    }
    setSessionCookies({});
    if (auto cache = defaultCache()) {
        cache->clearCachedResponsesForStoragePolicy(CacheStoragePolicy::ForSessionDuration);
    }
}

void HTTPRequest::saveCredentialsToKeychain(const HttpCredentialsPtr& credentials) {
    saveLogin(
        {url_.host(), platform::effectivePort(url_), url_.scheme(), authenticationRealm_, false},
        *credentials);
}

void HTTPRequest::saveProxyCredentialsToKeychain(const HttpCredentialsPtr& credentials) {
    saveLogin({proxyHost_, proxyPort_, QString(), proxyAuthenticationRealm_, true}, *credentials);
}

void HTTPRequest::saveLogin(const platform::ProtectionSpace& space,
                            const HttpCredentials& credentials) {
    loginsToSave_.emplace_back(
        space, platform::SavedCredential{credentials.username, credentials.password});
    if (!isSynchronous_) saveLoginsKeptForTheEnd();
}

void HTTPRequest::saveLoginsKeptForTheEnd() {
    for (const auto& [space, login] : std::exchange(loginsToSave_, {})) {
        platform::CredentialStorage::shared().saveCredential(space, login);
    }
}

bool HTTPRequest::saveCredentials(const HttpCredentials& credentials, const QString& host, int port,
                                  const QString& protocol, const QString& realm) {
    return platform::CredentialStorage::shared().saveCredential(
        {host, port, protocol, realm, false}, {credentials.username, credentials.password});
}

bool HTTPRequest::saveCredentialsForProxy(const HttpCredentials& credentials, const QString& host,
                                          int port, const QString& realm) {
    return platform::CredentialStorage::shared().saveCredential(
        {host, port, QString(), realm, true}, {credentials.username, credentials.password});
}

namespace {

HttpCredentialsPtr savedCredentials(const platform::ProtectionSpace& space) {
    const std::optional<platform::SavedCredential> saved =
        platform::CredentialStorage::shared().credential(space);
    if (!saved) return nullptr;
    return std::make_shared<const HttpCredentials>(
        HttpCredentials{saved->username, saved->password, QString()});
}

}  // namespace

HttpCredentialsPtr HTTPRequest::savedCredentialsForHost(const QString& host, int port,
                                                        const QString& protocol,
                                                        const QString& realm) {
    return savedCredentials({host, port, protocol, realm, false});
}

HttpCredentialsPtr HTTPRequest::savedCredentialsForProxy(const QString& host, int port,
                                                         const QString&, const QString& realm) {
    // A proxy login is the proxy's whatever the scheme of the address behind it.
    return savedCredentials({host, port, QString(), realm, true});
}

bool HTTPRequest::removeCredentialsForHost(const QString& host, int port, const QString& protocol,
                                           const QString& realm) {
    return platform::CredentialStorage::shared().removeCredential(
        {host, port, protocol, realm, false});
}

bool HTTPRequest::removeCredentialsForProxy(const QString& host, int port, const QString& realm) {
    return platform::CredentialStorage::shared().removeCredential(
        {host, port, QString(), realm, true});
}

}  // namespace http
