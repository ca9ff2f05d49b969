#pragma once

#include "platform/Defaults.h"

namespace imaging {

// The defaults part of reset: writes the panel keys back to their default
// values, clears `activate` and synchronises the store.
void resetDefaults(platform::Defaults& defaults);

}  // namespace imaging
