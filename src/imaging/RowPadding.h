#pragma once

namespace imaging {

// How many pixels of padding the platform's bitmaps carry per row for a
// working image of ws x hs fitted at outputSize. The banded renderer's
// vignette walks rows of width + padding pixels, and the fit lays its
// bitmaps out with exactly this padding so the two agree.
int rowPadding(int outputSize, float ws, float hs);

}  // namespace imaging
