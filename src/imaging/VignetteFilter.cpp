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
    const bool brightens = intensity < 0;
    forEachRowChunk(bitmap.height(), kChunkRows, [&](int first, int end, int) {
        std::vector<std::uint32_t> factors(std::size_t(bitmap.width()));
        for (int y = first; y < end; ++y) {
            const float dy = y + 0.5f - cy;
            const float dy2 = dy * dy;
            // Fixed-point factors of the row first (a loop the compiler vectorises),
            // then one multiply with rounding per channel.
            for (std::size_t x = 0; x < factors.size(); ++x) {
                // Brightening is bounded so the fixed-point products stay within 32 bits.
                const float f = std::clamp(1.0f - scale * (dx2[x] + dy2), 0.0f, 255.0f);
                factors[x] = std::uint32_t(f * 65536.0f + 0.5f);
            }
            std::uint8_t* px = bitmap.row(y);
            for (std::size_t x = 0; x < factors.size(); ++x, px += 4) {
                const std::uint32_t f = factors[x];
                if (brightens) {
                    // Never past the pixel's alpha: the colours are premultiplied.
                    const std::uint32_t alpha = px[0];
                    for (int c = 1; c <= 3; ++c) {
                        px[c] = std::uint8_t(std::min((px[c] * f + 32768u) >> 16, alpha));
                    }
                } else {
                    px[1] = std::uint8_t((px[1] * f + 32768u) >> 16);
                    px[2] = std::uint8_t((px[2] * f + 32768u) >> 16);
                    px[3] = std::uint8_t((px[3] * f + 32768u) >> 16);
                }
            }
        }
    });
}

}  // namespace imaging
