#pragma once

#include <QSize>
#include <QSizeF>

namespace sharing {

// The size an upload is drawn at: the picture's upright size in points,
// reduced in single precision so that its longer side is 800 (a square
// counts as taller), then truncated to whole pixels. 1000 x 500 gives
// 800 x 400, 600 x 900 gives 533 x 800, 700 x 700 stays.
struct UploadSize {
    float width = 0;  // after the reduction, before truncation
    float height = 0;
    QSize pixels() const;  // truncated, at least 1 x 1
};
UploadSize reducedUploadSize(float width, float height);

}  // namespace sharing
