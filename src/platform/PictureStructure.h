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

// Looks at the framing of PNG and JPEG data (signature, chunks and their
// checksums, the header of a PNG; the markers up to the image data and the
// end marker of a JPEG). Other formats answer None.
PictureFault checkPictureStructure(const unsigned char* data, std::size_t size);

}  // namespace platform
