#pragma once

#include <bit>
#include <cstdint>

#include "imaging/Bitmap.h"
#include "imaging/Orientation.h"

namespace imaging {

// A native-endian 0xAARRGGBB word as the bitmap's bytes A, R, G, B read as a native word, and
// back: the swap is its own inverse.
inline std::uint32_t swapBitmapOrder(std::uint32_t word) {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(word);
    return word;
}

// Copies a stored pixel grid into `upright`, turned and mirrored as its
// orientation says, converting each pixel from a native-endian 0xAARRGGBB
// word to the bitmap's byte order A, R, G, B. `upright` must have the
// upright size of the grid (width and height exchanged for the orientations
// that swap sides). gridStride is in pixels.
void orientedCopy(const std::uint32_t* grid, int gridWidth, int gridHeight, int gridStride,
                  Orientation orientation, Bitmap& upright);

}  // namespace imaging
