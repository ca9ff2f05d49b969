#include "imaging/Bitmap.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace imaging {
namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::uint8_t* allocateBuffer(std::size_t bytes) {
    void* buffer = nullptr;
    if (bytes >= 2 * kHugePage) {
        buffer = std::aligned_alloc(kHugePage, (bytes + kHugePage - 1) / kHugePage * kHugePage);
#if defined(__linux__)
        if (buffer) madvise(buffer, bytes, MADV_HUGEPAGE);
#endif
    } else {
        buffer = std::malloc(bytes);
    }
    if (!buffer) throw std::bad_alloc();
    return static_cast<std::uint8_t*>(buffer);
}

}  // namespace

void Bitmap::BufferDeleter::operator()(std::uint8_t* buffer) const noexcept { std::free(buffer); }

Bitmap::Bitmap(int width, int height, int bytesPerRow)
    : width_(width), height_(height), bytesPerRow_(bytesPerRow == 0 ? 4 * width : bytesPerRow) {
    if (width <= 0 || height <= 0 || bytesPerRow_ < 4 * width || bytesPerRow_ % 4 != 0) {
        throw std::invalid_argument("bitmap size out of range");
    }
    data_.reset(allocateBuffer(byteCount()));
}

Bitmap Bitmap::uninitialised(int width, int height, int bytesPerRow) {
    Bitmap bitmap(width, height, bytesPerRow);
    const std::size_t padding = std::size_t(bitmap.bytesPerRow_) - 4 * std::size_t(width);
    if (padding > 0) {
        for (int y = 0; y < height; ++y) std::memset(bitmap.row(y) + 4 * width, 0, padding);
    }
    return bitmap;
}

Bitmap Bitmap::zeroed(int width, int height, int bytesPerRow) {
    Bitmap bitmap(width, height, bytesPerRow);
    std::memset(bitmap.data(), 0, bitmap.byteCount());
    return bitmap;
}

Bitmap Bitmap::clone() const {
    if (isNull()) return {};
    Bitmap copy(width_, height_, bytesPerRow_);
    std::memcpy(copy.data(), data(), byteCount());
    return copy;
}

Bitmap::Buffer Bitmap::release() {
    width_ = height_ = bytesPerRow_ = 0;
    return std::move(data_);
}

}  // namespace imaging
