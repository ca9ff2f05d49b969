#include "imaging/ParallelRows.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace imaging {

void forEachRowChunk(int rows, int chunkRows, const std::function<void(int, int, int)>& body) {
    if (rows <= 0) return;
    const int chunks = (rows + chunkRows - 1) / chunkRows;
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    const int workers = std::min(cores, chunks);
    std::atomic<int> nextChunk{0};
    auto work = [&] {
        for (int chunk = nextChunk++; chunk < chunks; chunk = nextChunk++) {
            const int first = chunk * chunkRows;
            body(first, std::min(rows, first + chunkRows), chunk);
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(std::size_t(workers - 1));
    for (int i = 1; i < workers; ++i) helpers.emplace_back(work);
    work();
    for (auto& helper : helpers) helper.join();
}

}  // namespace imaging
