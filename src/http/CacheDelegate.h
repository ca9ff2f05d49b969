#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

#include "http/Headers.h"

namespace http {

class HTTPRequest;

// Cache policy bits of a request.
namespace CachePolicy {
inline constexpr int UseDefault = 0;
inline constexpr int DoNotRead = 1;
inline constexpr int DoNotWrite = 2;
inline constexpr int AskServerIfModifiedWhenStale = 4;
inline constexpr int AskServerIfModified = 8;
inline constexpr int OnlyLoadIfNotCached = 16;
inline constexpr int DontLoad = 32;
inline constexpr int FallbackToCacheIfLoadFails = 64;
}  // namespace CachePolicy

// Storage policies of cached answers.
namespace CacheStoragePolicy {
inline constexpr int ForSessionDuration = 0;
inline constexpr int Permanently = 1;
}  // namespace CacheStoragePolicy

// What a request asks of a response cache. Requests hold their cache without owning it.
class CacheDelegate {
public:
    virtual ~CacheDelegate() = default;

    virtual int defaultCachePolicy() const = 0;
    virtual bool canUseCachedDataForRequest(HTTPRequest& request) = 0;
    virtual void storeResponseForRequest(HTTPRequest& request, double maxAge) = 0;
    virtual void updateExpiryForRequest(HTTPRequest& request, double maxAge) = 0;
    virtual void removeCachedDataForRequest(HTTPRequest& request) = 0;
    virtual std::optional<Headers> cachedResponseHeadersForURL(const QUrl& url) = 0;
    virtual QByteArray cachedResponseDataForURL(const QUrl& url) = 0;
    // Empty when nothing is cached for url.
    virtual QString pathToCachedResponseDataForURL(const QUrl& url) = 0;
    virtual void clearCachedResponsesForStoragePolicy(int storagePolicy) = 0;
};

}  // namespace http
