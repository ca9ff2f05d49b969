#include "imaging/VignetteFilter.h"

#include <algorithm>
#include <vector>

#include "imaging/ParallelRows.h"

namespace imaging {
namespace {

constexpr int kChunkRows = 32;
constexpr float kIntensityForBlackCorners = 20.0f;

}  // namespace

void vignetteFilter(Bitmap& bitmap, int intensity) {
    if (bitmap.isNull() || intensity == 0) return;
    // Brightness falls with the square of the distance from the centre,
    // measured in half-diagonals, so the fall-off is round and gentle.
    const float cx = bitmap.width() * 0.5f;
    const float cy = bitmap.height() * 0.5f;
    const float scale = (intensity / kIntensityForBlackCorners) / (cx * cx + cy * cy);
    std::vector<float> dx2(std::size_t(bitmap.width()));
    for (int x = 0; x < bitmap.width(); ++x) {
        const float dx = x + 0.5f - cx;
        dx2[std::size_t(x)] = dx * dx;
    }
    forEachRowChunk(bitmap.height(), kChunkRows, [&](int first, int end, int) {
        for (int y = first; y < end; ++y) {
            const float dy = y + 0.5f - cy;
            const float dy2 = dy * dy;
            std::uint8_t* px = bitmap.row(y);
            for (int x = 0; x < bitmap.width(); ++x, px += 4) {
                const float f = std::max(0.0f, 1.0f - scale * (dx2[std::size_t(x)] + dy2));
                // Fixed point with rounding; a negative intensity brightens,
                // never past the pixel's alpha (the colours are premultiplied).
                const unsigned factor = unsigned(f * 65536.0f + 0.5f);
                const unsigned alpha = px[0];
                for (int c = 1; c <= 3; ++c) {
                    const unsigned v = (px[c] * factor + 32768u) >> 16;
                    px[c] = std::uint8_t(std::min(v, alpha));
                }
            }
        }
    });
}

}  // namespace imaging
