#pragma once

#include <functional>

namespace imaging {

// Splits the rows [0, rows) into consecutive chunks of chunkRows rows and runs
// body(firstRow, endRow, chunkIndex) for each chunk, spread over all cores.
// The chunking does not depend on the number of cores, so work that draws
// random numbers per chunk gives the same result on every machine.
void forEachRowChunk(int rows, int chunkRows, const std::function<void(int, int, int)>& body);

}  // namespace imaging
