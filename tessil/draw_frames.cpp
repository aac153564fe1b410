// Frames, shadowed frames, rounded boxes and ellipses.
//
// A frame of thickness t is t nested one-pixel rectangles, outermost first.
// Left and top edges take the light colour, right and bottom the dark one;
// the dark edges are drawn last, so the top-right and bottom-left corner
// pixels are dark.
//   189 flat    light = dark = b[1]
//   190 raised  light = b[1], dark = 0     (also 231, a button's frame)
//   191 sunken  light = 0, dark = b[1]
// 192 and 193 add a black band of the frame's thickness just outside it:
// 192 along the right and bottom edges, shifted down and right by t (a drop
// shadow); 193 along the left and top edges, shifted up and left by t.
#include "tessil/display_commands.h"
#include "tessil/draw.h"
#include "tessil/state.h"

namespace tessil {

namespace {

struct FrameBox {
    int left, top, right, bottom, thickness;
};

FrameBox ConvertFrame(const uint8_t* command)
{
    FrameBox b;
    b.left = UnitsToX(Word16(command + 2));
    b.top = UnitsToY(Word16(command + 4));
    b.right = UnitsToX(Word16(command + 6));
    b.bottom = UnitsToY(Word16(command + 8));
    if (b.left > b.right) {
        int t = b.left;
        b.left = b.right;
        b.right = t;
    }
    if (b.top > b.bottom) {
        int t = b.top;
        b.top = b.bottom;
        b.bottom = t;
    }
    b.thickness = UnitsToWidth(Word16(command + 10));
    if (b.thickness < 1)
        b.thickness = 1;
    return b;
}

void Line(int x1, int y1, int x2, int y2, uint8_t colour)
{
    draw.colour = colour;
    draw.x1 = x1;
    draw.y1 = y1;
    draw.x2 = x2;
    draw.y2 = y2;
    DrawLine();
}

void Frame(const FrameBox& b, uint8_t light, uint8_t dark)
{
    for (int i = 0; i < b.thickness; ++i) {
        int l = b.left + i, t = b.top + i, r = b.right - i, bo = b.bottom - i;
        if (l > r || t > bo)
            break;
        Line(l, t, r, t, light);
        Line(l, t, l, bo, light);
        Line(r, t, r, bo, dark);
        Line(l, bo, r, bo, dark);
    }
}

void Band(int x1, int y1, int x2, int y2)
{
    RasterFillRect(DrawCanvas(), x1, y1, x2, y2, ColourPixel(0), CurrentOp());
}

} // namespace

void DrawFrame(const uint8_t* command)
{
    FrameBox b = ConvertFrame(command);
    uint8_t c = command[1];
    switch (command[0]) {
    case kCmdFlatFrame:
        Frame(b, c, c);
        break;
    case kCmdSunkenFrame:
        Frame(b, 0, c);
        break;
    default:
        Frame(b, c, 0);
        break;
    }
}

void DrawShadowFrame(const uint8_t* command)
{
    FrameBox b = ConvertFrame(command);
    Frame(b, command[1], command[1]);
    int t = b.thickness;
    if (command[0] == kCmdShadowFrame) {
        Band(b.right + 1, b.top + t, b.right + t, b.bottom + t);
        Band(b.left + t, b.bottom + 1, b.right, b.bottom + t);
    } else {
        Band(b.left - t, b.top - t, b.left - 1, b.bottom - t);
        Band(b.left, b.top - t, b.right - t, b.top - 1);
    }
}

void DrawRoundBox(const uint8_t* command)
{
    draw.colour = command[1];
    int left = UnitsToX(Word16(command + 2)), top = UnitsToY(Word16(command + 4));
    int right = UnitsToX(Word16(command + 6)), bottom = UnitsToY(Word16(command + 8));
    int radius = UnitsToWidth(Word16(command + 10));
    RasterRoundRect(DrawCanvas(), left, top, right, bottom, radius, ColourPixel(draw.colour), CurrentOp());
}

void DrawEllipse(const uint8_t* command)
{
    draw.colour = command[1];
    int x1 = UnitsToX(Word16(command + 2)), y1 = UnitsToY(Word16(command + 4));
    int x2 = UnitsToX(Word16(command + 6)), y2 = UnitsToY(Word16(command + 8));
    if (x2 < x1) {
        int t = x1;
        x1 = x2;
        x2 = t;
        t = y1;
        y1 = y2;
        y2 = t;
    }
    int64_t r;
    if (command[0] == kCmdEllipseHeight) {
        r = UnitsToY(Word16(command + 12)) - y1;
        if (r < 0)
            r = -r;
    } else {
        r = int64_t(x2 - x1) / 2 * screen.aspect / 1024;
    }
    RasterEllipse(DrawCanvas(), x1, int(y1 - r), x2, int(y2 + r), ColourPixel(draw.colour), CurrentOp());
}

} // namespace tessil
