#include "sharing/UploadSize.h"

#include <algorithm>

namespace sharing {

// A sliver of a picture keeps at least one pixel a side rather than none.
QSize UploadSize::pixels() const {
    return QSize(std::max(1, int(width)), std::max(1, int(height)));
}

UploadSize reducedUploadSize(float width, float height) {
    constexpr float kLongSide = 800.0f;
    if (width > kLongSide || height > kLongSide) {
        if (width > height) {
            const float f = width / kLongSide;
            height = height / f;
            width = kLongSide;
        } else {
            const float f = height / kLongSide;
            width = width / f;
            height = kLongSide;
        }
    }
    return {width, height};
}

}  // namespace sharing
