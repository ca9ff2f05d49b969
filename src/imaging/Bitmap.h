#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace imaging {

// Pixels of 8 bits per channel, 4 bytes each in memory order alpha, red,
// green, blue, premultiplied. Rows are bytesPerRow apart, which may exceed
// 4 * width; the renderers walk those padding bytes like pixels. Move-only:
// copies of full-size pictures are made on purpose, with clone().
class Bitmap {
public:
    // Pixel memory. Large buffers are aligned for huge pages, which spares
    // the thousands of page faults a camera-sized picture costs otherwise.
    struct BufferDeleter {
        void operator()(std::uint8_t* buffer) const noexcept;
    };
    using Buffer = std::unique_ptr<std::uint8_t, BufferDeleter>;

    Bitmap() = default;

    // A bitmap whose pixel bytes are left as they are (the caller fills
    // them) and whose row padding is zeroed. bytesPerRow 0 means 4 * width;
    // otherwise it is at least 4 * width and a multiple of 4.
    static Bitmap uninitialised(int width, int height, int bytesPerRow = 0);
    // A bitmap with every byte zero (transparent black).
    static Bitmap zeroed(int width, int height, int bytesPerRow = 0);

    Bitmap clone() const;

    bool isNull() const { return !data_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int bytesPerRow() const { return bytesPerRow_; }
    // Length of the buffer: bytesPerRow * height.
    std::size_t byteCount() const { return std::size_t(bytesPerRow_) * std::size_t(height_); }

    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::uint8_t* row(int y) { return data_.get() + std::size_t(y) * std::size_t(bytesPerRow_); }
    const std::uint8_t* row(int y) const {
        return data_.get() + std::size_t(y) * std::size_t(bytesPerRow_);
    }
    std::uint8_t* pixel(int x, int y) { return row(y) + 4 * std::size_t(x); }
    const std::uint8_t* pixel(int x, int y) const { return row(y) + 4 * std::size_t(x); }

    // Gives up the buffer (for wrapping it without a copy); the bitmap becomes null.
    Buffer release();

private:
    Bitmap(int width, int height, int bytesPerRow);

    int width_ = 0;
    int height_ = 0;
    int bytesPerRow_ = 0;
    Buffer data_;
};

}  // namespace imaging
