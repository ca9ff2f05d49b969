#pragma once

#include <optional>
#include <string_view>

namespace share {

struct PngSize {
    int width = 0;
    int height = 0;
};

// Reads the size from a PNG's header: the signature, then an intact IHDR
// chunk (right length, checksum, a valid bit depth for its colour type)
// with a non-zero size, and an IEND chunk closing the data. Nothing for
// anything else; no pixel is decoded.
std::optional<PngSize> readPngHeader(std::string_view data);

}  // namespace share
