// Lines, polylines and curves.
#include "tessil/draw.h"
#include "tessil/state.h"

namespace tessil {

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }
int Abs(int v) { return v < 0 ? -v : v; }

} // namespace

void DrawLine()
{
    RasterLine(DrawCanvas(), draw.x1, draw.y1, draw.x2, draw.y2, ColourPixel(draw.colour), CurrentOp());
}

// `trim` leaves out the start pixel, which the previous segment of a
// polyline has painted already (an exclusive-or polyline would otherwise
// lose its joints).
void DrawSegment(const uint8_t* points, bool trim)
{
    draw.x1 = UnitsToX(Word16(points));
    draw.y1 = UnitsToY(Word16(points + 2));
    draw.x2 = UnitsToX(Word16(points + 4));
    draw.y2 = UnitsToY(Word16(points + 6));
    if (trim) {
        int dx = draw.x2 - draw.x1, dy = draw.y2 - draw.y1;
        if (dx == 0 && dy == 0)
            return;
        // One step along the line's major axis, and along the minor one when
        // the line's first pixel step takes it.
        if (Abs(dx) >= Abs(dy)) {
            draw.x1 += Sign(dx);
            if (2 * Abs(dy) > Abs(dx))
                draw.y1 += Sign(dy);
        } else {
            draw.y1 += Sign(dy);
            if (2 * Abs(dx) > Abs(dy))
                draw.x1 += Sign(dx);
        }
    }
    DrawLine();
}

void DrawPolyline(const uint8_t* command, bool dashed)
{
    draw.colour = command[1];
    int points = command[2];
    const uint8_t* p = command + 3;
    for (int i = 0; i + 1 < points; ++i, p += 4) {
        if (dashed && (i & 1))
            continue;
        DrawSegment(p, !dashed && i > 0);
    }
}

void DrawCurve(const uint8_t* command)
{
    draw.colour = command[1];
    int x0 = UnitsToX(Word16(command + 2)), y0 = UnitsToY(Word16(command + 4));
    int x2 = UnitsToX(Word16(command + 6)), y2 = UnitsToY(Word16(command + 8));
    int x1 = UnitsToX(Word16(command + 10)), y1 = UnitsToY(Word16(command + 12));
    RasterCurve(DrawCanvas(), x0, y0, x1, y1, x2, y2, ColourPixel(draw.colour), CurrentOp());
}

} // namespace tessil
