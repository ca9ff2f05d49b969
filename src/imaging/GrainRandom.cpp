#include "imaging/GrainRandom.h"

namespace imaging {

GrainRandom::GrainRandom(RandomSource& source, int grain, long pixelsPerRow)
    : source_(source),
      grain_(grain),
      pixelsPerRow_(pixelsPerRow),
      draws_(std::size_t(2 * ((pixelsPerRow + grain - 1) / grain))) {}

void GrainRandom::drawRow() {
    for (std::uint32_t& draw : draws_) draw = source_.next();
}

}  // namespace imaging
