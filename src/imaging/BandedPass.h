#pragma once

#include <cstdint>

#include "imaging/AdjustmentState.h"
#include "imaging/Bitmap.h"
#include "imaging/SliderValues.h"

namespace imaging {

// The banded renderer's per-pixel conversion, in place over the whole buffer
// (row padding included): exposure, quantisation, inversion, the 32
// brightness bands moved by slider1 and slider2, tone by toneType, sparse
// noise, the blend, and the per-pixel vignette when vigEnabled is 1. The
// vignette takes every buffer row to be rowPadding pixels longer than the
// bitmap's width. Noise draws from streams derived from noiseSeed and comes
// in grains of grain x grain pixels (one pixel each at 1).
void bandedPass(Bitmap& bitmap, int rowPadding, const AdjustmentState& state,
                const SliderValues& sliders, std::uint64_t noiseSeed, int grain = 1);

}  // namespace imaging
