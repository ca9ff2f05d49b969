#include "http/DownloadCache.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "http/CacheHeadersFile.h"
#include "http/FileCopy.h"
#include "http/HTTPRequest.h"
#include "http/StagingFile.h"

namespace http {

namespace {

const QString kSessionStore = QStringLiteral("SessionStore");
const QString kPermanentStore = QStringLiteral("PermanentStore");
const QString kHeadersExtension = QStringLiteral("cachedheaders");
const QString kExpiresKey = QStringLiteral("X-HTTPRequest-Expires");
const QString kStatusKey = QStringLiteral("X-HTTPRequest-Response-Status-Code");

// Longer extensions, or ones with anything but letters and digits, are not taken from the
// URL: the body file's name must stay a plain name inside its store.
constexpr qsizetype kMaximumExtensionLength = 16;

bool isPlainExtension(const QString& extension) {
    if (extension.isEmpty() || extension.size() > kMaximumExtensionLength) return false;
    for (const QChar c : extension) {
        if (!(c.isDigit() || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) return false;
    }
    return true;
}

bool isCacheableStatus(int status) {
    return status == 200 || status == 301 || status == 302 || status == 303 || status == 307;
}

void removeQuietly(const QString& path) {
    if (!path.isEmpty()) ::unlink(QFile::encodeName(path).constData());
}

// Removes one entry of a store: a file, a link, or a folder that something else put there.
bool removeEntry(const QString& path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0) return errno == ENOENT;
    if (S_ISDIR(status.st_mode)) return QDir(path).removeRecursively();
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}

bool writeBody(const QString& path, const QByteArray& body) {
    StagingFile staged(path);
    if (staged.open() || staged.file().write(body) != body.size()) return false;
    return !staged.commit();
}

}  // namespace

DownloadCache::DownloadCache() { setDefaultCachePolicy(CachePolicy::UseDefault); }

std::shared_ptr<DownloadCache> DownloadCache::sharedCache() {
    static std::mutex monitor;
    static std::shared_ptr<DownloadCache> shared;
    std::lock_guard lock(monitor);
    if (!shared) {
        auto cache = std::make_shared<DownloadCache>();
        cache->setStoragePath(defaultStoragePath());
        shared = cache;
    }
    return shared;
}

QString DownloadCache::defaultStoragePath() {
    const QString home = qEnvironmentVariable("LUMARO_HOME");
    const QString caches = home.isEmpty()
                               ? QStandardPaths::writableLocation(QStandardPaths::CacheLocation)
                               : home + QStringLiteral("/cache");
    return caches + QStringLiteral("/HTTPRequestCache");
}

QString DownloadCache::storagePath() const {
    std::lock_guard lock(accessLock_);
    return storagePath_;
}

void DownloadCache::setStoragePath(const QString& path) {
    std::lock_guard lock(accessLock_);
    clearStore(CacheStoragePolicy::ForSessionDuration);
    storagePath_ = path;
    try {
        makeDirectory(path);
        makeDirectory(storeDirectory(CacheStoragePolicy::ForSessionDuration));
        makeDirectory(storeDirectory(CacheStoragePolicy::Permanently));
        clearStore(CacheStoragePolicy::ForSessionDuration);
    } catch (const CacheException&) {
        // A cache without usable folders keeps nothing rather than writing elsewhere.
        storagePath_.clear();
        throw;
    }
}

int DownloadCache::defaultCachePolicy() const {
    std::lock_guard lock(accessLock_);
    return defaultCachePolicy_;
}

void DownloadCache::setDefaultCachePolicy(int policy) {
    std::lock_guard lock(accessLock_);
    defaultCachePolicy_ =
        policy == CachePolicy::UseDefault ? CachePolicy::AskServerIfModifiedWhenStale : policy;
}

bool DownloadCache::shouldRespectCacheControlHeaders() const {
    std::lock_guard lock(accessLock_);
    return shouldRespectCacheControlHeaders_;
}

void DownloadCache::setShouldRespectCacheControlHeaders(bool on) {
    std::lock_guard lock(accessLock_);
    shouldRespectCacheControlHeaders_ = on;
}

// ---- Names and paths ----

QString DownloadCache::keyForURL(const QUrl& url) {
    QByteArray text = url.toEncoded();
    if (text.isEmpty()) return {};
    if (text.endsWith('/')) text.chop(1);
    return QString::fromLatin1(
        QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex().toUpper());
}

const QStringList& DownloadCache::fileExtensionsToHandleAsHTML() {
    static const QStringList extensions{"asp", "aspx", "jsp", "php", "rb", "py", "pl", "cgi"};
    return extensions;
}

QString DownloadCache::fileExtensionForURL(const QUrl& url) {
    const QString path = url.path(QUrl::FullyEncoded);
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    // A name that starts with its only dot is a hidden name, not an extension.
    const QString extension = dot > 0 ? name.mid(dot + 1) : QString();
    if (!isPlainExtension(extension) ||
        fileExtensionsToHandleAsHTML().contains(extension.toLower())) {
        return QStringLiteral("html");
    }
    return extension;
}

QString DownloadCache::storeDirectory(int storagePolicy) const {
    return storagePath_ + u'/' +
           (storagePolicy == CacheStoragePolicy::ForSessionDuration ? kSessionStore
                                                                    : kPermanentStore);
}

QString DownloadCache::pathToFile(const QString& fileName) {
    std::lock_guard lock(accessLock_);
    if (storagePath_.isEmpty() || fileName.isEmpty()) return {};
    for (const int policy :
         {CacheStoragePolicy::ForSessionDuration, CacheStoragePolicy::Permanently}) {
        const QString path = storeDirectory(policy) + u'/' + fileName;
        if (QFileInfo(path).isFile()) return path;
    }
    return {};
}

namespace {

QString headersFileName(const QUrl& url) {
    const QString key = DownloadCache::keyForURL(url);
    return key.isEmpty() ? QString() : key + u'.' + kHeadersExtension;
}

QString dataFileName(const QUrl& url) {
    const QString key = DownloadCache::keyForURL(url);
    return key.isEmpty() ? QString() : key + u'.' + DownloadCache::fileExtensionForURL(url);
}

}  // namespace

QString DownloadCache::pathToCachedResponseHeadersForURL(const QUrl& url) {
    return pathToFile(headersFileName(url));
}

QString DownloadCache::pathToCachedResponseDataForURL(const QUrl& url) {
    return pathToFile(dataFileName(url));
}

QString DownloadCache::pathToStoreCachedResponseHeadersForRequest(HTTPRequest& request) {
    std::lock_guard lock(accessLock_);
    const QString name = headersFileName(request.url());
    if (storagePath_.isEmpty() || name.isEmpty()) return {};
    return storeDirectory(request.cacheStoragePolicy()) + u'/' + name;
}

QString DownloadCache::pathToStoreCachedResponseDataForRequest(HTTPRequest& request) {
    std::lock_guard lock(accessLock_);
    const QString name = dataFileName(request.url());
    if (storagePath_.isEmpty() || name.isEmpty()) return {};
    return storeDirectory(request.cacheStoragePolicy()) + u'/' + name;
}

std::optional<Headers> DownloadCache::cachedResponseHeadersForURL(const QUrl& url) {
    std::lock_guard lock(accessLock_);
    const QString path = pathToCachedResponseHeadersForURL(url);
    return path.isEmpty() ? std::nullopt : readCachedHeaders(path);
}

QByteArray DownloadCache::cachedResponseDataForURL(const QUrl& url) {
    std::lock_guard lock(accessLock_);
    QFile file(pathToCachedResponseDataForURL(url));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// ---- Folders ----

void DownloadCache::makeDirectory(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir()) return;
    if (info.exists() || info.isSymLink()) {
        throw CacheException(
            QStringLiteral("FileExistsAtCachePath"),
            QStringLiteral(
                "Cannot create a directory for the cache at '%1', because a file already exists")
                .arg(path));
    }
    // The cache holds what the user fetched: its own folders are the user's alone.
    QDir().mkpath(info.absolutePath());
    ::mkdir(QFile::encodeName(path).constData(), 0700);
    if (!QFileInfo(path).isDir()) {
        throw CacheException(
            QStringLiteral("FailedToCreateCacheDirectory"),
            QStringLiteral("Failed to create a directory for the cache at '%1'").arg(path));
    }
}

void DownloadCache::clearStore(int storagePolicy) {
    if (storagePath_.isEmpty()) return;
    const QString store = storeDirectory(storagePolicy);
    const QFileInfo info(store);
    // A link in place of a store is not followed: emptying it would empty its target.
    if (!info.isDir() || info.isSymLink()) return;
    DIR* listing = ::opendir(QFile::encodeName(store).constData());
    if (listing == nullptr) {
        throw CacheException(
            QStringLiteral("FailedToTraverseCacheDirectory"),
            QStringLiteral("Listing cache directory failed at path '%1'").arg(store));
    }
    QStringList names;
    while (const dirent* entry = ::readdir(listing)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String("..")) names.append(name);
    }
    ::closedir(listing);
    for (const QString& name : names) {
        if (!removeEntry(store + u'/' + name)) {
            throw CacheException(
                QStringLiteral("FailedToRemoveCacheFile"),
                QStringLiteral("Failed to remove cached data at path '%1'").arg(store));
        }
    }
}

void DownloadCache::clearCachedResponsesForStoragePolicy(int storagePolicy) {
    std::lock_guard lock(accessLock_);
    clearStore(storagePolicy);
}

void DownloadCache::removeCachedDataForURL(const QUrl& url) {
    std::lock_guard lock(accessLock_);
    if (storagePath_.isEmpty()) return;
    removeQuietly(pathToCachedResponseHeadersForURL(url));
    removeQuietly(pathToCachedResponseDataForURL(url));
}

void DownloadCache::removeCachedDataForRequest(HTTPRequest& request) {
    removeCachedDataForURL(request.url());
}

// ---- Freshness ----

bool DownloadCache::serverAllowsResponseCachingForRequest(const HTTPRequest& request) {
    const Headers headers = request.responseHeaders();
    const QString cacheControl = headers.value(QStringLiteral("Cache-Control")).toLower();
    const QString pragma = headers.value(QStringLiteral("Pragma")).toLower();
    return cacheControl != QLatin1String("no-cache") && cacheControl != QLatin1String("no-store") &&
           pragma != QLatin1String("no-cache");
}

std::optional<QDateTime> DownloadCache::expiryDateForRequest(const HTTPRequest& request,
                                                             double maxAge) {
    return HTTPRequest::expiryDateForRequest(request, maxAge);
}

bool DownloadCache::isStoredCopyCurrent(const HTTPRequest& request, const Headers& stored) const {
    if (request.responseStatusCode() == 304) return true;
    const Headers response = request.responseHeaders();
    // An answer the server has just given is the stored one only when it says so by both
    // its validators (a changed resource must never be answered from the old copy).
    if (!response.isEmpty()) {
        for (const QString& name : {QStringLiteral("Etag"), QStringLiteral("Last-Modified")}) {
            const QString value = response.value(name);
            if (value.isNull() || value != stored.value(name)) return false;
        }
    }
    if (shouldRespectCacheControlHeaders_) {
        const QString expires = stored.value(kExpiresKey);
        bool ok = false;
        const double seconds = expires.toDouble(&ok);
        if (!ok) return false;
        if (seconds * 1000.0 < double(QDateTime::currentMSecsSinceEpoch())) return false;
    }
    return true;
}

bool DownloadCache::isCachedDataCurrentForRequest(HTTPRequest& request) {
    std::lock_guard lock(accessLock_);
    if (storagePath_.isEmpty()) return false;
    const std::optional<Headers> stored = cachedResponseHeadersForURL(request.url());
    if (!stored || pathToCachedResponseDataForURL(request.url()).isEmpty()) return false;
    return isStoredCopyCurrent(request, *stored);
}

bool DownloadCache::canUseCachedDataForRequest(HTTPRequest& request) {
    std::lock_guard lock(accessLock_);
    const int policy = request.cachePolicy() == CachePolicy::UseDefault ? defaultCachePolicy_
                                                                        : request.cachePolicy();
    if (policy & CachePolicy::DoNotRead) return false;
    if (policy & CachePolicy::DontLoad) return true;
    if (!cachedResponseHeadersForURL(request.url()) ||
        pathToCachedResponseDataForURL(request.url()).isEmpty()) {
        return false;
    }
    if ((policy & CachePolicy::OnlyLoadIfNotCached) ||
        ((policy & CachePolicy::FallbackToCacheIfLoadFails) && request.complete())) {
        return true;
    }
    if ((policy & CachePolicy::AskServerIfModifiedWhenStale) ||
        ((policy & CachePolicy::AskServerIfModified) && !request.responseHeaders().isEmpty())) {
        return isCachedDataCurrentForRequest(request);
    }
    return false;
}

// ---- Storing ----

void DownloadCache::storeResponseForRequest(HTTPRequest& request, double maxAge) {
    std::lock_guard lock(accessLock_);
    if (request.error() || request.responseHeaders().isEmpty() ||
        (request.cachePolicy() & CachePolicy::DoNotWrite) ||
        !isCacheableStatus(request.responseStatusCode()) ||
        (shouldRespectCacheControlHeaders_ && !serverAllowsResponseCachingForRequest(request))) {
        return;
    }
    const QString headersPath = pathToStoreCachedResponseHeadersForRequest(request);
    const QString dataPath = pathToStoreCachedResponseDataForRequest(request);
    if (headersPath.isEmpty() || dataPath.isEmpty()) return;

    const QString downloaded = request.downloadDestinationPath();
    const bool bodyInPlace = !downloaded.isEmpty() && QFileInfo(downloaded).absoluteFilePath() ==
                                                          QFileInfo(dataPath).absoluteFilePath();
    // The answer replaces whatever either store held for the URL, so that an older copy
    // can never be read beside, or instead of, the new one.
    for (const int policy :
         {CacheStoragePolicy::ForSessionDuration, CacheStoragePolicy::Permanently}) {
        const QString store = storeDirectory(policy) + u'/';
        removeQuietly(store + headersFileName(request.url()));
        if (store + dataFileName(request.url()) != dataPath || !bodyInPlace) {
            removeQuietly(store + dataFileName(request.url()));
        }
    }

    qint64 bodySize = 0;
    if (request.needsRedirect() && !downloaded.isEmpty()) {
        // The body of a redirect that is followed is never written to the download file.
        if (!writeBody(dataPath, QByteArray())) return;
    } else if (!downloaded.isEmpty()) {
        if (!bodyInPlace && copyFileStaged(downloaded, dataPath)) return;
        bodySize = QFileInfo(dataPath).size();
    } else {
        // A body handed to a data receiver as it came is nowhere to be kept.
        if (request.rawResponseData().isEmpty() && request.totalBytesRead() > 0) return;
        const QByteArray body = request.responseData();
        if (!writeBody(dataPath, body)) return;
        bodySize = body.size();
    }

    Headers headers = request.responseHeaders();
    if (request.isResponseCompressed()) {
        // The body is kept inflated: its stored head describes what is stored.
        headers.remove(QStringLiteral("Content-Encoding"));
        if (headers.contains(QStringLiteral("Content-Length"))) {
            headers.set(QStringLiteral("Content-Length"), QString::number(bodySize));
        }
    }
    headers.remove(kExpiresKey);
    if (auto expiry = expiryDateForRequest(request, maxAge)) {
        headers.set(kExpiresKey,
                    QString::number(double(expiry->toMSecsSinceEpoch()) / 1000.0, 'f', 3));
    }
    headers.set(kStatusKey, QString::number(request.responseStatusCode()));
    if (!writeCachedHeaders(headersPath, headers)) removeQuietly(dataPath);
}

void DownloadCache::updateExpiryForRequest(HTTPRequest& request, double maxAge) {
    std::lock_guard lock(accessLock_);
    const QString path = pathToStoreCachedResponseHeadersForRequest(request);
    if (path.isEmpty()) return;
    std::optional<Headers> headers = readCachedHeaders(path);
    if (!headers) return;
    if (auto expiry = expiryDateForRequest(request, maxAge)) {
        headers->set(kExpiresKey,
                     QString::number(double(expiry->toMSecsSinceEpoch()) / 1000.0, 'f', 3));
        writeCachedHeaders(path, *headers);
    }
}

}  // namespace http
