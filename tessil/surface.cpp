#include "tessil/surface.h"

namespace tessil {

void Surface::Resize(int w, int h, Pixel fill)
{
    width = w > 0 ? w : 0;
    height = h > 0 ? h : 0;
    pixels.assign(size_t(width) * size_t(height), fill);
}

} // namespace tessil
