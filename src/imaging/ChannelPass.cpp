#include "imaging/ChannelPass.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "imaging/GrainRandom.h"
#include "imaging/ParallelRows.h"
#include "imaging/PixelMath.h"
#include "imaging/RandomSource.h"

namespace imaging {
namespace {

constexpr int kChunkRows = 16;
constexpr int kInRange = -1;

// One colour lane under a light and a dark slider, for every lane value:
// the result and, when the moved value left 0..255, the value it was clamped to.
struct LaneTable {
    std::uint8_t value[256];
    std::int16_t clamp[256];
};

// 128 is the pivot: values above it move with the light slider in proportion
// to their distance from 127, the others with the dark slider in proportion
// to their distance from 128, both scaled by 1/10.
void buildLaneTable(LaneTable& table, float light, float dark) {
    for (int v = 0; v < 256; ++v) {
        const double vd = v;
        const double moved = (128 < v && v <= 255) ? vd + double(light) * ((128 - (255 - vd)) / 10)
                                                   : vd + double(dark) * ((128 - vd) / -10);
        if (moved > 255) {
            table.value[v] = 255;
            table.clamp[v] = 255;
        } else if (moved < 0) {
            table.value[v] = 0;
            table.clamp[v] = 0;
        } else {
            table.value[v] = std::uint8_t(int(moved));
            table.clamp[v] = kInRange;
        }
    }
}

struct ChannelTables {
    std::uint8_t prepare[256];
    LaneTable lanes[3];
    std::uint8_t toneRed[256], toneGreen[256], toneBlue[256];
    std::optional<Blend> blend;
    int filterType = 0;
    bool perLane = false;
    bool noise = false;
    double noiseA = 0;
};

void laneValues(int filterType, int r, int g, int b, int& la, int& lb, int& lc) {
    int v;
    switch (filterType) {
        case 0:
            v = (r + g + b) / 3;
            break;
        case 1:
            v = r;
            break;
        case 2:
            v = g;
            break;
        case 3:
            v = b;
            break;
        case 4:
            v = (g + b) / 2;
            break;
        case 5:
            v = (r + b) / 2;
            break;
        case 6:
            v = (r + g) / 2;
            break;
        default:
            la = r;
            lb = g;
            lc = b;
            return;
    }
    la = lb = lc = v;
}

// Per-lane sliders: a lane clamped out of range drags the lanes before it
// to its clamp value, then the lanes are mixed again by the filter.
void perLaneResult(const ChannelTables& t, int la, int lb, int lc, int& x, int& y, int& z) {
    int p = t.lanes[0].value[la];
    int q = t.lanes[1].value[lb];
    const int rr = t.lanes[2].value[lc];
    if (t.lanes[1].clamp[lb] != kInRange) p = t.lanes[1].clamp[lb];
    if (t.lanes[2].clamp[lc] != kInRange) p = q = t.lanes[2].clamp[lc];
    switch (t.filterType) {
        case 1:
            x = y = z = p;
            break;
        case 2:
            x = y = z = q;
            break;
        case 3:
            x = y = z = rr;
            break;
        case 4: {
            const int m = (q + rr) / 2;
            x = y = m;
            z = (rr + m) / 2;
            break;
        }
        case 5: {
            const int m = (p + rr) / 2;
            x = m;
            y = z = (rr + m) / 2;
            break;
        }
        case 6: {
            const int m = (p + q) / 2;
            const int n = (q + m) / 2;
            x = m;
            y = n;
            z = (n + m) / 2;
            break;
        }
        default: {
            const int s = (p + q + rr) / 3;
            const int u = (q + rr + s) / 3;
            x = s;
            y = u;
            z = (s + rr + u) / 3;
            break;
        }
    }
}

// Light and dark, the per-lane mix, smoothing and tone for one pixel's lanes.
inline void finishLanes(const ChannelTables& t, int la, int lb, int lc, int& i, int& j, int& k) {
    int x, y, z;
    if (t.perLane) {
        perLaneResult(t, la, lb, lc, x, y, z);
    } else {
        x = t.lanes[0].value[la];
        y = t.lanes[0].value[lb];
        z = t.lanes[0].value[lc];
    }
    const int i0 = (x + y + z) / 3;
    const int j0 = (z + y + i0) / 3;
    const int k0 = (i0 + z + j0) / 3;
    i = t.toneRed[i0];
    j = t.toneGreen[j0];
    k = t.toneBlue[k0];
}

// Noise and the blend, the steps that need more than the lanes.
template <class Random>
inline void addNoise(const ChannelTables& t, int& i, int& j, int& k, Random& random) {
    random.nextPixel();
    random.next();
    const std::uint32_t u = random.next();
    const unsigned sum = unsigned(i + j + k);
    const unsigned m = sum / 3;
    const unsigned grey = sum >= 3 ? (m + u % m) / 2 : 0;
    const double a = t.noiseA;
    i = truncToChannel(grey * a + i * (1 - a));
    j = truncToChannel(grey * a + j * (1 - a));
    k = truncToChannel(grey * a + k * (1 - a));
}

template <class Random>
inline void finishEffects(const ChannelTables& t, int r0, int g0, int b0, int& i, int& j, int& k,
                          Random& random) {
    if (t.noise) addNoise(t, i, j, k, random);
    if (t.blend) {
        i = (*t.blend)(i, r0);
        j = (*t.blend)(j, g0);
        k = (*t.blend)(k, b0);
    }
}

template <class Random>
void convertRows(const ChannelTables& t, std::uint8_t* px, std::uint8_t* end, Random& random) {
    for (; px < end; px += 4) {
        const int r0 = t.prepare[px[1]];
        const int g0 = t.prepare[px[2]];
        const int b0 = t.prepare[px[3]];
        int la, lb, lc;
        laneValues(t.filterType, r0, g0, b0, la, lb, lc);
        int i, j, k;
        finishLanes(t, la, lb, lc, i, j, k);
        finishEffects(t, r0, g0, b0, i, j, k, random);
        px[1] = std::uint8_t(i);
        px[2] = std::uint8_t(j);
        px[3] = std::uint8_t(k);
    }
}

// With a filter of 0..6 the three lanes carry the same value v, a channel or
// a mean of channels, so everything up to the tone depends on one key (the
// channel or the channel sum) only: a table of finished pixel words per key
// replaces the per-pixel arithmetic. With one slider pair this even gives a
// grey I = J = K, as x = y = z.
bool keyed(const ChannelTables& t) { return t.filterType >= 0 && t.filterType <= 6; }

constexpr int keyDivisor(int filterType) { return filterType == 0 ? 3 : (filterType >= 4 ? 2 : 1); }

void buildKeyWords(const ChannelTables& t, std::uint32_t words[766]) {
    const int divisor = keyDivisor(t.filterType);
    for (int key = 0; key < 766; ++key) {
        const int v = std::min(255, key / divisor);
        int i, j, k;
        finishLanes(t, v, v, v, i, j, k);
        words[key] = pixelWord(0, std::uint8_t(i), std::uint8_t(j), std::uint8_t(k));
    }
}

template <int Filter>
inline int keyOf(int r, int g, int b) {
    if constexpr (Filter == 0) return r + g + b;
    if constexpr (Filter == 1) return r;
    if constexpr (Filter == 2) return g;
    if constexpr (Filter == 3) return b;
    if constexpr (Filter == 4) return g + b;
    if constexpr (Filter == 5) return r + b;
    return r + g;
}

template <int Filter, bool Effects, class Random>
void convertKeyedRows(const ChannelTables& t, const std::uint32_t* words, std::uint8_t* px,
                      std::uint8_t* end, Random& random) {
    const std::uint32_t alphaMask = pixelWord(255, 0, 0, 0);
    const std::uint8_t* prepare = t.prepare;
    const bool noise = t.noise;
    const Blend* blend = t.blend ? &*t.blend : nullptr;
    for (; px < end; px += 4) {
        const int r0 = prepare[px[1]];
        const int g0 = prepare[px[2]];
        const int b0 = prepare[px[3]];
        const std::uint32_t finished = words[keyOf<Filter>(r0, g0, b0)];
        if constexpr (Effects) {
            std::uint8_t bytes[4];
            std::memcpy(bytes, &finished, 4);
            int i = bytes[1], j = bytes[2], k = bytes[3];
            if (noise) addNoise(t, i, j, k, random);
            if (blend) {
                i = (*blend)(i, r0);
                j = (*blend)(j, g0);
                k = (*blend)(k, b0);
            }
            // One word store: byte stores could alias the tables and force reloads.
            std::uint32_t word;
            std::memcpy(&word, px, 4);
            word = (word & alphaMask) |
                   pixelWord(0, std::uint8_t(i), std::uint8_t(j), std::uint8_t(k));
            std::memcpy(px, &word, 4);
        } else {
            std::uint32_t word;
            std::memcpy(&word, px, 4);
            word = (word & alphaMask) | finished;
            std::memcpy(px, &word, 4);
        }
    }
}

template <bool Effects, class Random>
void convertKeyedRows(const ChannelTables& t, const std::uint32_t* words, std::uint8_t* px,
                      std::uint8_t* end, Random& random) {
    switch (t.filterType) {
        case 0:
            convertKeyedRows<0, Effects, Random>(t, words, px, end, random);
            break;
        case 1:
            convertKeyedRows<1, Effects, Random>(t, words, px, end, random);
            break;
        case 2:
            convertKeyedRows<2, Effects, Random>(t, words, px, end, random);
            break;
        case 3:
            convertKeyedRows<3, Effects, Random>(t, words, px, end, random);
            break;
        case 4:
            convertKeyedRows<4, Effects, Random>(t, words, px, end, random);
            break;
        case 5:
            convertKeyedRows<5, Effects, Random>(t, words, px, end, random);
            break;
        default:
            convertKeyedRows<6, Effects, Random>(t, words, px, end, random);
            break;
    }
}

}  // namespace

void channelPass(Bitmap& bitmap, const AdjustmentState& state, const SliderValues& sliders,
                 std::uint64_t noiseSeed, int grain) {
    if (bitmap.isNull()) return;
    ChannelTables t;
    buildPreparationTable(t.prepare, state.exposureOn == 1, state.exposureValue, state.quantOn == 1,
                          state.quantValue, state.inverseOn == 1);
    t.filterType = state.filterType;
    t.perLane = state.colourControls == 1;
    if (t.perLane) {
        buildLaneTable(t.lanes[0], sliders.sliderR, sliders.sliderR2);
        buildLaneTable(t.lanes[1], sliders.sliderG, sliders.sliderG2);
        buildLaneTable(t.lanes[2], sliders.sliderB, sliders.sliderB2);
    } else {
        buildLaneTable(t.lanes[0], sliders.slider1, sliders.slider2);
    }
    buildToneTables(t.toneRed, t.toneGreen, t.toneBlue, state.toneOn == 1 ? state.toneType : 0,
                    state.tintR, state.tintG, state.tintB);
    // Noise beyond 100 % would push channels out of range; the panel stops at 100.
    t.noise = state.noiseOn == 1;
    t.noiseA = std::clamp(state.noiseValue, 0, 100) / 100.0;
    if (state.alphaOn == 1) {
        t.blend.emplace(state.alphaValue);
    }
    const std::size_t rowBytes = std::size_t(bitmap.bytesPerRow());
    std::uint32_t words[766];
    if (keyed(t)) buildKeyWords(t, words);
    const bool effects = t.noise || t.blend;
    grain = std::max(1, grain);
    const int chunkRows = grainChunkRows(kChunkRows, grain);
    forEachRowChunk(bitmap.height(), chunkRows, [&](int first, int end, int chunk) {
        RandomSource stream(noiseSeed + std::uint64_t(chunk) * 0x9E3779B97F4A7C15ull);
        std::uint8_t* begin = bitmap.row(first);
        std::uint8_t* stop = bitmap.data() + rowBytes * std::size_t(end);
        auto convert = [&](auto& random) {
            if (!keyed(t)) {
                convertRows(t, begin, stop, random);
            } else if (effects) {
                convertKeyedRows<true>(t, words, begin, stop, random);
            } else {
                convertKeyedRows<false>(t, words, begin, stop, random);
            }
        };
        if (grain == 1) {
            PixelRandom random(stream);
            convert(random);
        } else {
            GrainRandom random(stream, grain, long(rowBytes / 4));
            convert(random);
        }
    });
}

}  // namespace imaging
