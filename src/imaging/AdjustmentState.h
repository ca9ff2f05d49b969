#pragma once

#include <cstdint>

namespace imaging {

// The adjustments shared by the main screen, its panels and the renderers.
// Field names are the names the whole system uses for them; flags are 0 or 1.
// Initial values are those at program load; resetState() gives the reset ones.
struct AdjustmentState {
    // Tone, filter and mode.
    int toneType = 0;         // 0 black and white, 1 sepia, 2 antique, 3 custom tint
    std::uint8_t toneOn = 0;  // tone step applies in the channel renderer
    int filterType = 0;       // 0 none, 1 red, 2 green, 3 blue, 4 cyan, 5 magenta, 6 yellow
    int colourControls = 0;   // 0 one light/dark pair for all lanes, 1 a pair per lane
    int renderMode = 0;       // 0 channel renderer, 1 or 2 banded renderer

    // Custom tint colour, components 0..255.
    int tintR = 0;
    int tintG = 0;
    int tintB = 0;

    // Vignette.
    int vigEnabled = 0;
    std::uint8_t vigOn = 0;
    int vigRadius = 0;
    int vigType = 0;    // carried and stored, no renderer reads it
    int vigEffect = 0;  // 1 darken, 2 lighten (banded renderer)

    // Processing.
    int alphaValue = 100;
    std::uint8_t alphaOn = 0;
    int exposureValue = 100;
    std::uint8_t exposureOn = 0;
    int noiseValue = 0;
    std::uint8_t noiseOn = 0;
    int quantValue = 1;
    std::uint8_t quantOn = 0;
    int inverseValue = 0;
    std::uint8_t inverseOn = 0;

    // Output settings.
    int outputSize = 500;
    std::uint8_t ornamentsOn = 1;

    // Picture bookkeeping.
    int origWidth = 0;
    int origHeight = 0;
    int imageWidth = 0;
    int imageHeight = 0;
    int openPanel = 0;  // 0 none, 1 tint, 2 vignette, 3 processing, 4 settings, 5 share
};

// The variables part of reset: puts the adjustments back to their defaults.
// The "On" flags other than noiseOn and inverseOn, colourControls, outputSize
// and ornamentsOn keep their values; the reset values make those steps inert.
void resetState(AdjustmentState& state);

}  // namespace imaging
