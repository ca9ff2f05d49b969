#pragma once

#include <QCache>
#include <QPixmap>
#include <QString>
#include <optional>

namespace platform {

// Thumbnails of picture files, kept between openings of the picker so that a
// large folder shows at once the second time. An entry belongs to one version
// of a file (its size and modification time); a file that could not be read is
// remembered as such. GUI thread only.
class ThumbnailCache {
public:
    struct Entry {
        QPixmap thumbnail;  // null when the file could not be read
    };

    static ThumbnailCache& shared();

    explicit ThumbnailCache(qint64 capacityBytes);

    // The entry for the file as it is now on disk, if one is kept.
    std::optional<Entry> find(const QString& path) const;
    void insert(const QString& path, const Entry& entry);
    void clear() { cache_.clear(); }
    int count() const { return static_cast<int>(cache_.count()); }

private:
    static QString keyOf(const QString& path);

    QCache<QString, Entry> cache_;
};

}  // namespace platform
