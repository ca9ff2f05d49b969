#include "imaging/BandedPass.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "imaging/GrainRandom.h"
#include "imaging/ParallelRows.h"
#include "imaging/PixelMath.h"
#include "imaging/RandomSource.h"

namespace imaging {
namespace {

constexpr int kChunkRows = 16;
constexpr std::int16_t kKeep = -1;

// A band: channel sums first..last move by `steps` times the slider offset;
// bands far from the middle are clamped on their outer side.
struct Band {
    int first;
    int last;
    int steps;
};

constexpr Band kDarkBands[] = {
    {3, 71, 16},    {72, 128, 15}, {129, 176, 14}, {177, 218, 13}, {219, 251, 12}, {252, 278, 11},
    {279, 299, 10}, {300, 317, 9}, {318, 332, 8},  {333, 344, 7},  {345, 353, 6},  {354, 362, 5},
    {363, 368, 4},  {369, 374, 3}, {375, 377, 2},  {378, 383, 1},
};
constexpr Band kLightBands[] = {
    {384, 389, 1},  {390, 392, 2},  {393, 398, 3},  {399, 404, 4},  {405, 413, 5},  {414, 422, 6},
    {423, 434, 7},  {435, 449, 8},  {450, 467, 9},  {468, 488, 10}, {489, 515, 11}, {516, 548, 12},
    {549, 590, 13}, {591, 638, 14}, {639, 695, 15}, {696, 764, 16},
};

// Grey for every channel sum 0..765, or kKeep where the pixel keeps its values.
void buildBandTable(std::int16_t table[766], float slider1, float slider2) {
    // The offsets are single-precision products, widened afterwards.
    const double light = double(slider1 * 0.5f);
    const double dark = double(slider2 * 0.5f);
    table[0] = table[1] = table[2] = kKeep;
    table[765] = 255;
    for (const Band& band : kDarkBands) {
        for (int l = band.first; l <= band.last; ++l) {
            const double m = l / 3;
            // max(0, ...) on the outer bands; the inner ones stay in range for
            // sliders within -5..10 and are clamped beyond.
            table[l] = roundToChannel(m - band.steps * dark);
        }
    }
    for (const Band& band : kLightBands) {
        for (int l = band.first; l <= band.last; ++l) {
            const double m = l / 3;
            table[l] = roundToChannel(m + band.steps * light);
        }
    }
}

struct BandedTables {
    std::uint8_t prepare[256];
    std::int16_t bands[766];
    std::uint8_t toneRed[256], toneGreen[256], toneBlue[256];
    std::optional<Blend> blend;
    bool noise = false;
    unsigned noiseModulus = 102;
    // Vignette: results for every distance d from the centre, 256 per d.
    bool vignette = false;
    std::vector<std::uint8_t> vignetteByDistance;
    long rowLength = 0;  // width + padding, in pixels
    long hw = 0;
    long hh = 0;
};

// Darken scales each channel by 1 - 1.5 t, lighten divides by 1 - t, with
// t growing from 0 at the centre to 0.6 + vigRadius / 250 at distance D.
void buildVignetteTable(BandedTables& t, const AdjustmentState& state, long maxDistance,
                        long diagonal) {
    // A one-pixel picture has no distance to the corner; any d then counts as the edge.
    const double D = diagonal > 0 ? double(diagonal) : 1.0;
    const double k = 1 - (state.vigRadius / -250.0 + 0.4);
    t.vignetteByDistance.resize(std::size_t(maxDistance + 1) * 256);
    for (long d = 0; d <= maxDistance; ++d) {
        const double tt = k * (d / D);
        std::uint8_t* out = &t.vignetteByDistance[std::size_t(d) * 256];
        for (int c = 0; c < 256; ++c) {
            if (state.vigEffect == 2) {
                const double f = 1 - tt;
                // Past the point where 1 - t reaches 0 every channel is white.
                out[c] = f <= 0 ? 255 : roundToChannel(c / f);
            } else {
                const double f = 1 - 1.5 * tt;
                out[c] = roundToChannel(c * f);
            }
        }
    }
}

// trunc(sqrt(n)) for the vignette distance, followed from the previous
// pixel's value: neighbouring pixels lie at nearly the same distance, so a
// step or two replaces a square root. Exact, as all values are integers.
inline long followSquareRoot(long d, long n) {
    while ((d + 1) * (d + 1) <= n) ++d;
    while (d * d > n) --d;
    return d;
}

// The vignette's results for each pixel in buffer order, walking rows of `rowLength` pixels
// (1-based x and y, as the vignette counts them) whatever the buffer's own row length.
class VignetteWalk {
public:
    VignetteWalk(const BandedTables& t, long firstPixel)
        : table_(t.vignetteByDistance.data()),
          rowLength_(t.rowLength),
          hw_(t.hw),
          hh_(t.hh),
          x_(firstPixel % t.rowLength + 1),
          y_(firstPixel / t.rowLength + 1) {}

    // The results for this pixel's distance from the centre; then on to the next pixel.
    const std::uint8_t* next() {
        const long dx = x_ - hw_;
        const long dy = y_ - hh_;
        d_ = followSquareRoot(d_, dx * dx + dy * dy);
        if (++x_ == rowLength_ + 1) {
            x_ = 1;
            ++y_;
        }
        return table_ + std::size_t(d_) * 256;
    }

private:
    const std::uint8_t* table_;
    long rowLength_, hw_, hh_;
    long x_, y_;
    long d_ = 0;
};

template <class Random>
void convertRows(const BandedTables& t, std::uint8_t* px, std::uint8_t* end, long firstPixel,
                 Random& random) {
    VignetteWalk vignette(t, firstPixel);
    for (; px < end; px += 4) {
        int r = t.prepare[px[1]];
        int g = t.prepare[px[2]];
        int b = t.prepare[px[3]];
        const int r0 = r, g0 = g, b0 = b;
        const std::int16_t grey = t.bands[r + g + b];
        if (grey != kKeep) r = g = b = grey;
        r = t.toneRed[r];
        g = t.toneGreen[g];
        b = t.toneBlue[b];
        if (t.noise) {
            random.nextPixel();
            if (random.next() % t.noiseModulus <= 2) {
                const unsigned m = unsigned(r + g + b) / 3;
                const std::uint32_t u = random.next();
                r = g = b = m == 0 ? 0 : int(((u % m) + m) / 2);
            }
        }
        if (t.blend) {
            r = (*t.blend)(r, r0);
            g = (*t.blend)(g, g0);
            b = (*t.blend)(b, b0);
        }
        if (t.vignette) {
            const std::uint8_t* row = vignette.next();
            r = row[r];
            g = row[g];
            b = row[b];
        }
        px[1] = std::uint8_t(r);
        px[2] = std::uint8_t(g);
        px[3] = std::uint8_t(b);
    }
}

// Without noise, blend and vignette a pixel's result depends only on its
// channel sum, except for sums up to 2, which keep their own channels.
bool sumKeyed(const BandedTables& t) { return !t.noise && !t.blend && !t.vignette; }

void convertSumKeyedRows(const BandedTables& t, const std::uint32_t* words, std::uint8_t* px,
                         std::uint8_t* end) {
    const std::uint32_t alphaMask = pixelWord(255, 0, 0, 0);
    const std::uint8_t* prepare = t.prepare;
    for (; px < end; px += 4) {
        const int r = prepare[px[1]];
        const int g = prepare[px[2]];
        const int b = prepare[px[3]];
        const int l = r + g + b;
        if (l <= 2) {
            px[1] = t.toneRed[r];
            px[2] = t.toneGreen[g];
            px[3] = t.toneBlue[b];
            continue;
        }
        std::uint32_t word;
        std::memcpy(&word, px, 4);
        word = (word & alphaMask) | words[l];
        std::memcpy(px, &word, 4);
    }
}

// With the vignette but neither noise nor blend, the toned grey still comes from the channel
// sum; only the vignette's darkening or lightening needs the pixel's distance.
bool distanceKeyed(const BandedTables& t) { return !t.noise && !t.blend && t.vignette; }

// Grey: the tone leaves a grey grey (plain black and white), so one vignette lookup serves
// all three channels.
template <bool Grey>
void convertDistanceKeyedRows(const BandedTables& t, const std::uint32_t* words, std::uint8_t* px,
                              std::uint8_t* end, long firstPixel) {
    const std::uint32_t alphaMask = pixelWord(255, 0, 0, 0);
    const std::uint32_t greyChannels = pixelWord(0, 1, 1, 1);
    const std::uint8_t* prepare = t.prepare;
    VignetteWalk vignette(t, firstPixel);
    for (; px < end; px += 4) {
        int r = prepare[px[1]];
        int g = prepare[px[2]];
        int b = prepare[px[3]];
        const int l = r + g + b;
        const std::uint8_t* row = vignette.next();
        std::uint32_t word;
        std::memcpy(&word, px, 4);
        word &= alphaMask;
        if (l <= 2) {
            word |= pixelWord(0, row[t.toneRed[r]], row[t.toneGreen[g]], row[t.toneBlue[b]]);
        } else {
            std::uint8_t toned[4];
            std::memcpy(toned, &words[l], 4);
            if constexpr (Grey) {
                word |= std::uint32_t(row[toned[1]]) * greyChannels;
            } else {
                word |= pixelWord(0, row[toned[1]], row[toned[2]], row[toned[3]]);
            }
        }
        std::memcpy(px, &word, 4);
    }
}

}  // namespace

void bandedPass(Bitmap& bitmap, int rowPadding, const AdjustmentState& state,
                const SliderValues& sliders, std::uint64_t noiseSeed, int grain) {
    if (bitmap.isNull()) return;
    BandedTables t;
    buildPreparationTable(t.prepare, true, state.exposureValue, state.quantOn == 1,
                          state.quantValue, state.inverseOn == 1);
    buildBandTable(t.bands, sliders.slider1, sliders.slider2);
    buildToneTables(t.toneRed, t.toneGreen, t.toneBlue, state.toneType, state.tintR, state.tintG,
                    state.tintB);
    t.noise = state.noiseOn == 1;
    // A noise value above 101 would leave no (or a wrapped) modulus; the panel stops at 100.
    t.noiseModulus = unsigned(102 - std::clamp(state.noiseValue, 0, 100));
    // At 100 the blend gives back the processed value exactly.
    if (state.alphaValue != 100) {
        t.blend.emplace(state.alphaValue);
    }
    const long pixelsPerBufferRow = bitmap.bytesPerRow() / 4;
    const long totalPixels = pixelsPerBufferRow * bitmap.height();
    t.rowLength = bitmap.width() + std::max(0, rowPadding);
    t.vignette = state.vigEnabled == 1;
    if (t.vignette) {
        t.hw = bitmap.width() / 2;
        t.hh = bitmap.height() / 2;
        const long diagonal = long(std::sqrt(double(t.hw * t.hw + t.hh * t.hh)));
        const long lastY = (totalPixels - 1) / t.rowLength + 1;
        const long maxDx = std::max(std::labs(1 - t.hw), std::labs(t.rowLength - t.hw));
        const long maxDy = std::max(std::labs(1 - t.hh), std::labs(lastY - t.hh));
        const long maxDistance = long(std::sqrt(double(maxDx * maxDx + maxDy * maxDy)));
        buildVignetteTable(t, state, maxDistance, diagonal);
    }
    const std::size_t rowBytes = std::size_t(bitmap.bytesPerRow());
    // The toned grey of every channel sum above 2, for the loops that key on the sum.
    std::uint32_t words[766] = {};
    if (distanceKeyed(t) || sumKeyed(t)) {
        for (int l = 3; l <= 765; ++l) {
            const int grey = t.bands[l];
            words[l] = pixelWord(0, t.toneRed[grey], t.toneGreen[grey], t.toneBlue[grey]);
        }
    }
    if (distanceKeyed(t)) {
        const bool grey = std::memcmp(t.toneRed, t.toneGreen, 256) == 0 &&
                          std::memcmp(t.toneRed, t.toneBlue, 256) == 0;
        forEachRowChunk(bitmap.height(), kChunkRows, [&](int first, int end, int) {
            std::uint8_t* begin = bitmap.row(first);
            std::uint8_t* stop = bitmap.data() + rowBytes * std::size_t(end);
            const long firstPixel = long(first) * pixelsPerBufferRow;
            if (grey) {
                convertDistanceKeyedRows<true>(t, words, begin, stop, firstPixel);
            } else {
                convertDistanceKeyedRows<false>(t, words, begin, stop, firstPixel);
            }
        });
        return;
    }
    if (sumKeyed(t)) {
        forEachRowChunk(bitmap.height(), kChunkRows, [&](int first, int end, int) {
            convertSumKeyedRows(t, words, bitmap.row(first),
                                bitmap.data() + rowBytes * std::size_t(end));
        });
        return;
    }
    grain = std::max(1, grain);
    forEachRowChunk(
        bitmap.height(), grainChunkRows(kChunkRows, grain), [&](int first, int end, int chunk) {
            RandomSource stream(noiseSeed + std::uint64_t(chunk) * 0x9E3779B97F4A7C15ull);
            std::uint8_t* begin = bitmap.row(first);
            std::uint8_t* stop = bitmap.data() + rowBytes * std::size_t(end);
            const long firstPixel = long(first) * pixelsPerBufferRow;
            if (grain == 1) {
                PixelRandom random(stream);
                convertRows(t, begin, stop, firstPixel, random);
            } else {
                GrainRandom random(stream, grain, pixelsPerBufferRow);
                convertRows(t, begin, stop, firstPixel, random);
            }
        });
}

}  // namespace imaging
