#include "imaging/OrientedCopy.h"

#include <algorithm>

#include "imaging/ParallelRows.h"

namespace imaging {
namespace {

constexpr int kTile = 64;

// Source position of upright pixel (X, Y): sx = ax * X + bx * Y + cx and
// sy = ay * X + by * Y + cy, for a grid of sw x sh.
struct Mapping {
    long ax, bx, cx, ay, by, cy;
};

Mapping mappingFor(Orientation o, long sw, long sh) {
    switch (o) {
        case Orientation::Down:
            return {-1, 0, sw - 1, 0, -1, sh - 1};
        case Orientation::Left:
            return {0, -1, sw - 1, 1, 0, 0};
        case Orientation::Right:
            return {0, 1, 0, -1, 0, sh - 1};
        case Orientation::UpMirrored:
            return {-1, 0, sw - 1, 0, 1, 0};
        case Orientation::DownMirrored:
            return {1, 0, 0, 0, -1, sh - 1};
        case Orientation::LeftMirrored:
            return {0, 1, 0, 1, 0, 0};
        case Orientation::RightMirrored:
            return {0, -1, sw - 1, -1, 0, sh - 1};
        case Orientation::Up:
            break;
    }
    return {1, 0, 0, 0, 1, 0};
}

}  // namespace

void orientedCopy(const std::uint32_t* grid, int gridWidth, int gridHeight, int gridStride,
                  Orientation orientation, Bitmap& upright) {
    const Mapping m = mappingFor(orientation, gridWidth, gridHeight);
    const int width = upright.width();
    if (orientation == Orientation::Up) {
        forEachRowChunk(upright.height(), kTile, [&](int first, int end, int) {
            for (int y = first; y < end; ++y) {
                const std::uint32_t* in = grid + long(y) * gridStride;
                std::uint32_t* out = reinterpret_cast<std::uint32_t*>(upright.row(y));
                for (int x = 0; x < width; ++x) out[x] = swapBitmapOrder(in[x]);
            }
        });
        return;
    }
    forEachRowChunk(upright.height(), kTile, [&](int first, int end, int) {
        // Tiles keep the column-wise reads of the turned orientations in cache.
        for (int x0 = 0; x0 < width; x0 += kTile) {
            const int x1 = std::min(width, x0 + kTile);
            for (int y = first; y < end; ++y) {
                std::uint32_t* out = reinterpret_cast<std::uint32_t*>(upright.row(y)) + x0;
                long sx = m.ax * x0 + m.bx * y + m.cx;
                long sy = m.ay * x0 + m.by * y + m.cy;
                for (int x = x0; x < x1; ++x, ++out, sx += m.ax, sy += m.ay) {
                    *out = swapBitmapOrder(grid[sy * gridStride + sx]);
                }
            }
        }
    });
}

}  // namespace imaging
