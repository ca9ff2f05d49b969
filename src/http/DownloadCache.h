#pragma once

#include <QDateTime>
#include <QStringList>
#include <memory>
#include <mutex>

#include "http/CacheDelegate.h"
#include "http/CacheException.h"

namespace http {

// Answers to GET requests kept on disk, so that a request can be answered without the
// network, revalidated with a conditional request, or fall back to a stored answer when
// loading fails. Each answer is two files named by a hash of the URL, its headers and its
// body, in one of two stores under storagePath: "SessionStore", emptied whenever the cache
// is (re)opened, and "PermanentStore", kept until it is cleared. Every operation may be
// called from any thread.
class DownloadCache : public CacheDelegate {
public:
    DownloadCache();

    // The process-wide cache, kept in the user's cache folder. Throws CacheException, and
    // stays unmade, while that folder cannot be used.
    static std::shared_ptr<DownloadCache> sharedCache();
    // Where sharedCache keeps its answers: $LUMARO_HOME/cache/HTTPRequestCache when
    // LUMARO_HOME is set, else HTTPRequestCache in the application's XDG cache folder.
    static QString defaultStoragePath();

    QString storagePath() const;
    // Empties the session store of the old path, makes the folders of the new one (owner
    // only) and empties its session store. Throws CacheException when a folder cannot be
    // made or emptied.
    void setStoragePath(const QString& path);

    int defaultCachePolicy() const override;
    // 0 stands for AskServerIfModifiedWhenStale.
    void setDefaultCachePolicy(int policy);
    bool shouldRespectCacheControlHeaders() const;
    void setShouldRespectCacheControlHeaders(bool on);

    // ---- What a request asks ----
    bool canUseCachedDataForRequest(HTTPRequest& request) override;
    bool isCachedDataCurrentForRequest(HTTPRequest& request);
    void storeResponseForRequest(HTTPRequest& request, double maxAge) override;
    void updateExpiryForRequest(HTTPRequest& request, double maxAge) override;
    void removeCachedDataForRequest(HTTPRequest& request) override;
    std::optional<Headers> cachedResponseHeadersForURL(const QUrl& url) override;
    QByteArray cachedResponseDataForURL(const QUrl& url) override;
    QString pathToCachedResponseDataForURL(const QUrl& url) override;
    // Throws CacheException when the store cannot be listed or emptied.
    void clearCachedResponsesForStoragePolicy(int storagePolicy) override;

    // ---- Files ----
    void removeCachedDataForURL(const QUrl& url);
    QString pathToCachedResponseHeadersForURL(const QUrl& url);
    // The file of that name in the session store, else in the permanent store; empty when
    // neither has it.
    QString pathToFile(const QString& fileName);
    QString pathToStoreCachedResponseDataForRequest(HTTPRequest& request);
    QString pathToStoreCachedResponseHeadersForRequest(HTTPRequest& request);

    static bool serverAllowsResponseCachingForRequest(const HTTPRequest& request);
    // 32 upper-case hexadecimal digits of the MD5 of the URL without one trailing "/";
    // empty for an empty URL.
    static QString keyForURL(const QUrl& url);
    static const QStringList& fileExtensionsToHandleAsHTML();
    // The body file's extension for url: its path's extension, or "html".
    static QString fileExtensionForURL(const QUrl& url);
    std::optional<QDateTime> expiryDateForRequest(const HTTPRequest& request, double maxAge);

private:
    QString storeDirectory(int storagePolicy) const;
    void makeDirectory(const QString& path);
    void clearStore(int storagePolicy);
    bool isStoredCopyCurrent(const HTTPRequest& request, const Headers& stored) const;

    QString storagePath_;
    int defaultCachePolicy_ = CachePolicy::AskServerIfModifiedWhenStale;
    bool shouldRespectCacheControlHeaders_ = true;
    mutable std::recursive_mutex accessLock_;
};

}  // namespace http
