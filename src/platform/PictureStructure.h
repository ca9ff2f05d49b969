#pragma once

#include <cstddef>

namespace platform {

// What the framing of a picture file says before any decoder sees it. The
// decoders guess on where the framing is broken: a JPEG cut short is drawn
// with a grey remainder and counts as read, and the PNG library prints its
// complaint on standard error before giving up.
enum class PictureFault {
    None,       // nothing wrong with the framing, or a format not looked into
    Truncated,  // the file ends before the picture does
    NoPixels,   // the header gives a width or a height of 0
    Damaged,    // the framing itself is broken
};

// Looks at the framing of PNG, JPEG, GIF and BMP data: the chunks of a PNG
// with their checksums and its header; the markers of a JPEG up to its image
// data and its end marker; the blocks of a GIF; the rows an uncompressed BMP
// must hold. Other formats answer None.
PictureFault checkPictureStructure(const unsigned char* data, std::size_t size);

}  // namespace platform
