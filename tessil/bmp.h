// Windows bitmap files (.bmp), decoded into surface pixels for pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tessil/surface.h"

namespace tessil {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<Pixel> pixels; // top row first
};

// Decodes a whole .bmp file held in memory: the 14-byte file header ("BM"),
// a BITMAPINFOHEADER (40 bytes, or one of its later versions of 52, 56, 108
// or 124 bytes), the colour table for 1, 4 and 8 bits per pixel, and
// uncompressed pixel rows of 1, 4, 8, 24 or 32 bits, bottom-up (positive
// height) or top-down (negative height), starting at the file header's
// pixel offset. 32-bit files may also be BI_BITFIELDS with the masks that
// equal BI_RGB. A colour table holds biClrUsed entries (all 2^bits when 0 or
// more than that); pixel indices past its end are black. Returns false,
// with `out` emptied, for anything it cannot decode safely: a header that
// lies about sizes or offsets, a compression it does not know, a colour
// table or pixel data that the file does not hold, or an image larger than
// 16384 pixels in either direction.
bool DecodeBmp(const uint8_t* data, size_t size, Image& out);

} // namespace tessil
