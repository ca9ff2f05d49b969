#pragma once

namespace imaging {

// The eight slider controls as one render sees them, read once when it starts.
struct SliderValues {
    float slider1 = 0;  // light, all lanes
    float slider2 = 0;  // dark, all lanes
    float sliderR = 0;  // light per lane
    float sliderG = 0;
    float sliderB = 0;
    float sliderR2 = 0;  // dark per lane
    float sliderG2 = 0;
    float sliderB2 = 0;
};

}  // namespace imaging
