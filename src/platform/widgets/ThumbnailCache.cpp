#include "platform/widgets/ThumbnailCache.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>

namespace platform {

namespace {

// Room for a few thousand thumbnails of 96 pixels.
constexpr qint64 sharedCapacityBytes = 96LL * 1024 * 1024;
constexpr qint64 costUnit = 1024;

}  // namespace

ThumbnailCache& ThumbnailCache::shared() {
    static ThumbnailCache cache(sharedCapacityBytes);
    return cache;
}

ThumbnailCache::ThumbnailCache(qint64 capacityBytes) : cache_(capacityBytes / costUnit) {}

QString ThumbnailCache::keyOf(const QString& path) {
    const QFileInfo info(path);
    return QStringLiteral("%1|%2|%3")
        .arg(info.absoluteFilePath())
        .arg(info.size())
        .arg(info.lastModified().toMSecsSinceEpoch());
}

std::optional<ThumbnailCache::Entry> ThumbnailCache::find(const QString& path) const {
    if (const Entry* entry = cache_.object(keyOf(path))) return *entry;
    return std::nullopt;
}

void ThumbnailCache::insert(const QString& path, const Entry& entry) {
    const QSize size = entry.thumbnail.size();
    const qint64 bytes = qint64(size.width()) * size.height() * 4;
    cache_.insert(keyOf(path), new Entry(entry), std::max<qint64>(1, bytes / costUnit));
}

}  // namespace platform
