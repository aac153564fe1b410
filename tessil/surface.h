// The emulated screen's pixels: one 32-bit surface that every display command
// draws into and that the window layer presents. Pixels are 0x00RRGGBB, the
// byte order of a 32-bit top-down device-independent bitmap, so presenting is
// a plain copy on both systems.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32.h"

namespace tessil {

using Pixel = uint32_t;

// COLORREF is 0x00BBGGRR; the surface stores 0x00RRGGBB.
constexpr Pixel PixelFromColorref(COLORREF c)
{
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
constexpr Pixel MakePixel(int r, int g, int b)
{
    return (Pixel(r & 255) << 16) | (Pixel(g & 255) << 8) | Pixel(b & 255);
}

struct Surface {
    int width = 0;
    int height = 0;
    std::vector<Pixel> pixels; // row-major, top row first

    void Resize(int w, int h, Pixel fill = 0);
    bool Contains(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < width && y < height;
    }
    Pixel Get(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    Pixel* Row(int y) { return pixels.data() + size_t(y) * size_t(width); }
    const Pixel* Row(int y) const { return pixels.data() + size_t(y) * size_t(width); }
};

// How a figure's pixels combine with what is already there.
enum class RasterOp : uint8_t {
    Copy, // the colour replaces the pixel
    Xor,  // the pixel is combined with the colour by exclusive-or
};

// An inclusive pixel rectangle that drawing is limited to (the surface, or a
// picture's viewport). Figures are clipped to it, never wrapped.
struct Clip {
    int left = 0, top = 0, right = -1, bottom = -1;
    bool Contains(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

} // namespace tessil
