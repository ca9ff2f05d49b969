#pragma once

// Plain C++ so that the sharing service, which does not link Qt, checks PNG headers by the
// same rule as picture intake.
namespace platform {

// Whether a PNG colour type allows the given bit depth.
inline bool pngDepthAllowed(unsigned colourType, unsigned depth) {
    switch (colourType) {
        case 0:
            return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3:
            return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2:
        case 4:
        case 6:
            return depth == 8 || depth == 16;
        default:
            return false;
    }
}

}  // namespace platform
