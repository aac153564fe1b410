// Pixel rasterisation: the figures every drawing command ends in. These know
// nothing about screen units, colours indices or framework state; they paint
// exact pixels into a surface, limited to a clip rectangle.
#pragma once

#include <cstdint>

#include "tessil/surface.h"

namespace tessil {

// A surface and the rectangle drawing is limited to. The clip is always kept
// inside the surface by MakeCanvas.
struct Canvas {
    Surface* surface = nullptr;
    Clip clip;
};

// The whole surface, or the part of `clip` that lies on it.
Canvas MakeCanvas(Surface& surface);
Canvas MakeCanvas(Surface& surface, const Clip& clip);

// One pixel, ignored outside the clip.
void RasterPixel(Canvas& canvas, int x, int y, Pixel colour, RasterOp op);

// A one-pixel line with both end points painted (Bresenham). Every pixel of
// the line is painted exactly once, so an exclusive-or line drawn twice
// leaves no trace; a line and its reverse are the same pixels.
void RasterLine(Canvas& canvas, int x1, int y1, int x2, int y2, Pixel colour, RasterOp op);

// A filled rectangle with all four edges included; the corners may be given in
// any order.
void RasterFillRect(Canvas& canvas, int x1, int y1, int x2, int y2, Pixel colour, RasterOp op);

// Fills the 4-connected area of the seed pixel's colour with `colour`. Nothing
// happens when the seed is outside the clip or already has that colour.
// Memory is bounded by the clip's size, never by recursion depth.
void RasterFloodFill(Canvas& canvas, int x, int y, Pixel colour);

// The outline of the ellipse inscribed in the inclusive box; corners in any
// order. The outline touches all four sides of the box, is symmetric about
// both axes, and every outline pixel is painted once. A box one pixel high or
// wide is a line. Boxes more than 262144 pixels wide or high are not drawn.
void RasterEllipse(Canvas& canvas, int left, int top, int right, int bottom, Pixel colour, RasterOp op);

// A quadratic Bezier curve from (x0, y0) to (x2, y2) pulled toward (x1, y1),
// as a connected one-pixel line with both ends painted; a pixel the curve
// passes twice is painted once.
void RasterCurve(Canvas& canvas, int x0, int y0, int x1, int y1, int x2, int y2, Pixel colour, RasterOp op);

// A filled polygon of `count` vertices (closed implicitly), even-odd rule,
// pixel centres sampled: vertices are pixel corners, so (10,10)-(20,20) as a
// rectangle fills pixels 10..19. A centre exactly on an edge is inside when
// the edge is on its left, so polygons that share an edge tile without gap
// or overlap. Fewer than 3 vertices paint the connecting line (or point).
void RasterPolygon(Canvas& canvas, const int* xs, const int* ys, int count, Pixel colour, RasterOp op);

// The outline of a rectangle with rounded corners of `radius` pixels (clamped
// to half the shorter side, and to 131072; 0 gives square corners), each
// pixel painted once. A box one pixel high or wide is a line.
void RasterRoundRect(Canvas& canvas, int left, int top, int right, int bottom, int radius, Pixel colour,
                     RasterOp op);

// Paints `colour` wherever a bit is set in rows of a monochrome image: `rows`
// holds `height` rows of `bytesPerRow` bytes, leftmost pixel in the most
// significant bit; `width` pixels of each row are used (at most 8 ×
// bytesPerRow). Unset bits are left alone (or filled with `background` when
// it is given).
void RasterBits(Canvas& canvas, int x, int y, const uint8_t* rows, int width, int height, int bytesPerRow,
                Pixel colour, const Pixel* background = nullptr);

// Copies an image (top row first, width × height pixels) with its top-left
// corner at (x, y), clipped.
void RasterImage(Canvas& canvas, int x, int y, const Pixel* pixels, int width, int height);

} // namespace tessil
