// libFuzzer target: the input is a .bmp file. Decoding must never read past
// the input or allocate for sizes the file does not back; a decoded image
// must have the size it claims and draw, clipped, into a small surface
// without touching anything outside the clip.
#include <cstddef>
#include <cstdint>

#include "tessil/bmp.h"
#include "tessil/raster.h"

namespace {

void Require(bool condition)
{
    if (!condition) __builtin_trap();
}

constexpr tessil::Pixel kSentinel = 0x01020304; // never a decoded colour: the top byte is set

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tessil::Image image;
    if (!tessil::DecodeBmp(data, size, image)) {
        Require(image.width == 0 && image.height == 0 && image.pixels.empty());
        return 0;
    }
    Require(image.width > 0 && image.width <= 16384 && image.height > 0 && image.height <= 16384);
    Require(image.pixels.size() == size_t(image.width) * size_t(image.height));
    for (tessil::Pixel p : image.pixels) Require((p >> 24) == 0);

    // Offsets from the input, so that the image lands across every edge.
    const int dx = size > 0 ? int(data[size - 1] % 48) - 24 : 0;
    const int dy = size > 1 ? int(data[size - 2] % 40) - 20 : 0;
    tessil::Surface surface;
    surface.Resize(40, 30, kSentinel);
    const tessil::Clip clip{4, 3, 33, 25};
    tessil::Canvas canvas = tessil::MakeCanvas(surface, clip);
    tessil::RasterImage(canvas, dx, dy, image.pixels.data(), image.width, image.height);
    for (int y = 0; y < surface.height; ++y)
        for (int x = 0; x < surface.width; ++x) {
            const bool covered = clip.Contains(x, y) && x >= dx && x - dx < image.width && y >= dy &&
                                 y - dy < image.height;
            const tessil::Pixel want = covered ? image.pixels[size_t(y - dy) * size_t(image.width) + size_t(x - dx)]
                                               : kSentinel;
            Require(surface.Get(x, y) == want);
        }
    return 0;
}
