#pragma once

#include <QString>
#include <stdexcept>

namespace http {

// A problem with the cache's own folders, raised by DownloadCache when it cannot make,
// list or empty them. name() says which problem ("FileExistsAtCachePath",
// "FailedToCreateCacheDirectory", "FailedToTraverseCacheDirectory",
// "FailedToRemoveCacheFile"), reason() says it for a person.
class CacheException : public std::runtime_error {
public:
    CacheException(QString name, QString reason)
        : std::runtime_error(reason.toStdString()),
          name_(std::move(name)),
          reason_(std::move(reason)) {}

    const QString& name() const { return name_; }
    const QString& reason() const { return reason_; }

private:
    QString name_;
    QString reason_;
};

}  // namespace http
