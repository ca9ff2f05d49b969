#pragma once

#include <cstdint>

#include "imaging/AdjustmentState.h"
#include "imaging/Bitmap.h"
#include "imaging/SliderValues.h"

namespace imaging {

// The channel renderer's per-pixel conversion, in place over the whole buffer
// (row padding included): exposure, quantisation, inversion, the colour lanes
// with the light and dark sliders, smoothing, tone, noise and the blend back
// towards the colour pixel. Alpha bytes are never changed. Noise draws from
// streams derived from noiseSeed, so a seed gives repeatable output, and comes
// in grains of grain x grain pixels (one pixel each at 1).
void channelPass(Bitmap& bitmap, const AdjustmentState& state, const SliderValues& sliders,
                 std::uint64_t noiseSeed, int grain = 1);

}  // namespace imaging
