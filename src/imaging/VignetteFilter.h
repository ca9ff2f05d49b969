#pragma once

#include "imaging/Bitmap.h"

namespace imaging {

// The vignette filter that the channel renderer applies to its finished
// image: darkens towards the edges, more with a higher intensity, and keeps
// the picture's size. At intensity 0 the picture is unchanged; at the
// default 10 the corners keep half their brightness; from 20 on they are black.
void vignetteFilter(Bitmap& bitmap, int intensity);

}  // namespace imaging
