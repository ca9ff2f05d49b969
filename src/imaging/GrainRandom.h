#pragma once

#include <cstdint>
#include <vector>

#include "imaging/RandomSource.h"

namespace imaging {

// Where a pass's noise draws its random numbers. Call nextPixel() once per
// pixel of the buffer walk, before that pixel's draws (at most two).

// One pixel per grain: the numbers come straight from the stream, in the
// order the pixels ask for them.
class PixelRandom {
public:
    explicit PixelRandom(RandomSource& source) : source_(source) {}
    void nextPixel() {}
    std::uint32_t next() { return source_.next(); }

private:
    RandomSource& source_;
};

// Grains of grain x grain pixels: every pixel of a grain gets the numbers its
// grain drew, so the noise keeps its size on screen when a picture carries
// several pixels per point. The walk covers rows of pixelsPerRow pixels and
// must start at a row that is a multiple of grain.
class GrainRandom {
public:
    GrainRandom(RandomSource& source, int grain, long pixelsPerRow);

    void nextPixel() {
        if (++x_ == pixelsPerRow_) {
            x_ = 0;
            ++row_;
        }
        if (x_ == 0) {
            if (row_ % grain_ == 0) drawRow();
            cell_ = 0;
            inCell_ = 0;
        } else if (++inCell_ == grain_) {
            inCell_ = 0;
            cell_ += 2;
        }
        drawn_ = 0;
    }
    std::uint32_t next() { return draws_[cell_ + (drawn_++ & 1)]; }

private:
    void drawRow();

    RandomSource& source_;
    const int grain_;
    const long pixelsPerRow_;
    // Two numbers per grain of the current grain row.
    std::vector<std::uint32_t> draws_;
    long x_ = -1;
    long row_ = 0;
    long cell_ = 0;
    int inCell_ = 0;
    unsigned drawn_ = 0;
};

// Rows per chunk of a parallel pass whose chunks start on grain rows.
constexpr int grainChunkRows(int chunkRows, int grain) {
    return (chunkRows + grain - 1) / grain * grain;
}

}  // namespace imaging
