#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>

#include "imaging/Orientation.h"
#include "platform/PhotoMetadata.h"

namespace imaging {

// A picked photo: the pixel grid as stored in the file (Format_RGB32 or
// Format_ARGB32_Premultiplied), never modified, and its orientation.
struct Picture {
    QImage grid;
    Orientation orientation = Orientation::Up;
    // The photo's EXIF, IPTC and XMP, carried into what is saved from it; none for a
    // picture without any.
    std::shared_ptr<const platform::PhotoMetadata> metadata = nullptr;

    // Size in points as the picture reports it: the upright size, so width
    // and height of the stored grid are exchanged for left and right.
    QSize uprightSize() const;

    // Decodes a photo file; on failure returns nothing and sets error to one line.
    static std::optional<Picture> fromFile(const QString& path, QString* error = nullptr);
    // Wraps a grid already in memory (converted to the formats above when needed).
    static Picture fromImage(QImage grid, Orientation orientation = Orientation::Up);
};

}  // namespace imaging
