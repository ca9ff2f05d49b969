#include "imaging/RowPadding.h"

namespace imaging {
namespace {

int portraitPadding(int outputSize, float ws) {
    const int wi = int(ws);
    switch (outputSize) {
        case 450:
            if (wi <= 332 || wi >= 339) return 5;
            return ws - 0.5 < 337.0 ? 7 : 6;
        case 500:
            if (wi <= 370 || wi >= 380) return 7;
            return wi <= 374 ? 2 : 1;
        case 550:
            if (wi <= 410 || wi >= 415) return 1;
            return wi == 411 ? 5 : 3;
        case 600:
            if (wi <= 445 || wi >= 455) return 4;
            return wi <= 449 ? 7 : 6;
        default:
            return 0;
    }
}

int landscapePadding(int outputSize) {
    switch (outputSize) {
        case 450:
            return 6;
        case 500:
            return 4;
        case 550:
            return 2;
        default:
            return 0;
    }
}

int squarePadding(float hs) {
    if (hs < 500.0f) return 6;
    if (hs == 500.0f) return 4;
    if (hs <= 525.0f) return 3;
    if (hs <= 550.0f) return 2;
    return 0;
}

}  // namespace

int rowPadding(int outputSize, float ws, float hs) {
    if (hs < ws) return landscapePadding(outputSize);
    if (hs == ws) return squarePadding(hs);
    return portraitPadding(outputSize, ws);
}

}  // namespace imaging
