#pragma once

namespace imaging {

// How a stored pixel grid is turned to be seen upright: the platform's order
// Up, Down, Left, Right and their mirrored forms (values 0 to 7).
enum class Orientation {
    Up = 0,
    Down = 1,
    Left = 2,   // the grid is turned 90 degrees counter-clockwise to be upright
    Right = 3,  // the grid is turned 90 degrees clockwise to be upright
    UpMirrored = 4,
    DownMirrored = 5,
    LeftMirrored = 6,
    RightMirrored = 7,
};

// True for the orientations whose upright size exchanges width and height.
constexpr bool swapsSides(Orientation o) {
    return o == Orientation::Left || o == Orientation::Right || o == Orientation::LeftMirrored ||
           o == Orientation::RightMirrored;
}

}  // namespace imaging
