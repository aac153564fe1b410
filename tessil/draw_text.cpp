// Text: the text command (151), text fields (152, 153) and plain text runs.
//
// Command 151 draws each character by itself in fixed font B, centred in a
// cell one character wide and one text row high, on an opaque background in
// the colour current before the command; x advances by the cell width, and 2
// pixels more after a capital A..Z, so the grid holds whatever the font's
// widths are.
//
// A text field is drawn with the bitmap font of the screen mode, unless the
// user's Windows font is selected (its record has a point size): then each
// character is centred in a cell of the text grid. Opaque text (command 180)
// fills each character's cell with the colour parameter (command 160), or
// colour 0 when none is set.
#include <cstring>
#include <vector>

#include "tessil/display_commands.h"
#include "tessil/draw.h"
#include "tessil/state.h"

namespace tessil {

namespace {

std::vector<BYTE> mask;

// Paints the foreground pixels of a rendered run.
void PaintMask(int x, int y, int width, int height, Pixel colour)
{
    Canvas& canvas = DrawCanvas();
    Surface& s = *canvas.surface;
    for (int row = 0; row < height; ++row) {
        int py = y + row;
        if (py < canvas.clip.top || py > canvas.clip.bottom)
            continue;
        const BYTE* m = mask.data() + size_t(row) * size_t(width);
        Pixel* out = s.Row(py);
        for (int col = 0; col < width; ++col) {
            int px = x + col;
            if (m[col] && px >= canvas.clip.left && px <= canvas.clip.right)
                out[px] = colour;
        }
    }
}

// Draws a run of text with its cell's top-left corner at (x, y); returns its
// extent. With `background` the run's box is filled first.
SIZE DrawRun(PlatformFont* font, int x, int y, const char* text, int count, Pixel colour, const Pixel* background,
             bool measureOnly = false)
{
    SIZE size = {0, 0};
    if (!font || count <= 0 || !PlatformMeasureText(font, text, count, &size) || size.cx <= 0 || size.cy <= 0)
        return size;
    if (measureOnly)
        return size;
    if (background)
        RasterFillRect(DrawCanvas(), x, y, x + size.cx - 1, y + size.cy - 1, *background, RasterOp::Copy);
    mask.resize(size_t(size.cx) * size_t(size.cy));
    if (PlatformRenderText(font, text, count, mask.data(), size.cx, size.cy))
        PaintMask(x, y, size.cx, size.cy, colour);
    return size;
}

// One character centred in a cell, as a single-line centred text box.
void DrawCentred(PlatformFont* font, char c, int cellX, int cellY, int cellW, int cellH, Pixel colour,
                 const Pixel* background)
{
    SIZE size = DrawRun(font, 0, 0, &c, 1, colour, nullptr, true);
    if (size.cx <= 0)
        return;
    DrawRun(font, cellX + (cellW - size.cx) / 2, cellY + (cellH - size.cy) / 2, &c, 1, colour, background);
}

int CodeHeight(int code)
{
    switch (code) {
    case 2: return 8;
    case 3: return 12;
    case 4: return 16;
    default: return 0;
    }
}

// The bitmap font of a field: the size code when one is set, else the mode's.
int FieldFontCode()
{
    int code = draw.charSize[0];
    if (code >= 2 && code <= 4)
        return code;
    if (screenMode == 3)
        return 4;
    if (screenMode == 1 && screen.width == 640)
        return 2;
    return 3;
}

void DrawBitmapField(const uint8_t* text, int count, int x, int y, Pixel colour, const Pixel* background)
{
    int code = FieldFontCode();
    int rowHeight = CodeHeight(draw.charSize[1]);
    if (rowHeight == 0)
        rowHeight = CodeHeight(code);
    Canvas& canvas = DrawCanvas();
    for (int i = 0; i < count; ++i) {
        unsigned c = text[i];
        int advance;
        if (code == 2) {
            advance = 8;
            if (background)
                RasterFillRect(canvas, x, y, x + advance - 1, y + rowHeight - 1, *background, RasterOp::Copy);
            RasterBits(canvas, x, y, font8x8 + 8 * c, 8, 8, 1, colour);
        } else if (code == 3) {
            const uint8_t* g = font12x12 + 20 * c;
            advance = g[19] ? g[19] : 12;
            // Two 12-bit rows in every three bytes, unpacked to two bytes a row.
            uint8_t rows[24];
            for (int pair = 0; pair < 6; ++pair) {
                const uint8_t* b = g + 3 * pair;
                rows[4 * pair + 0] = b[0];
                rows[4 * pair + 1] = uint8_t(b[1] & 0xF0);
                rows[4 * pair + 2] = uint8_t((b[1] << 4) | (b[2] >> 4));
                rows[4 * pair + 3] = uint8_t(b[2] << 4);
            }
            if (background)
                RasterFillRect(canvas, x, y, x + advance - 1, y + rowHeight - 1, *background, RasterOp::Copy);
            RasterBits(canvas, x, y + g[18], rows, 12, 12, 2, colour);
        } else {
            const uint8_t* g = font16x16 + 34 * c;
            advance = g[33] ? g[33] : 16;
            if (background)
                RasterFillRect(canvas, x, y, x + advance - 1, y + rowHeight - 1, *background, RasterOp::Copy);
            RasterBits(canvas, x, y + g[32], g, 16, 16, 2, colour);
        }
        x += advance;
    }
}

void DrawWindowsFontField(PlatformFont* font, const uint8_t* text, int count, int x, int y, Pixel colour,
                          const Pixel* background)
{
    double cellW = draw.textGridColumns > 0 ? double(screen.width) / draw.textGridColumns : screen.cellWidth;
    int cellH;
    if (draw.textGridRows > 0) {
        cellH = screen.height / draw.textGridRows;
    } else {
        SIZE size = DrawRun(font, 0, 0, "X", 1, colour, nullptr, true);
        cellH = size.cy > 0 ? size.cy : screen.cellHeightPx;
    }
    double cx = x;
    for (int i = 0; i < count; ++i) {
        int left = int(cx);
        int right = int(cx + cellW) - 1;
        if (background)
            RasterFillRect(DrawCanvas(), left, y, right, y + cellH - 1, *background, RasterOp::Copy);
        if (text[i])
            DrawCentred(font, char(text[i]), left, y, right - left + 1, cellH, colour, nullptr);
        cx += cellW;
    }
}

} // namespace

void DrawTextCommand(const uint8_t* command)
{
    if (draw.pictureDepth)
        return;
    int count = command[2];
    const char* text = reinterpret_cast<const char*>(command + kFieldTextOffset);
    double x = UnitsToXExact(Word16(command + 3)) + 1;
    int y = UnitsToYExact(Word16(command + 5));
    Pixel background = ColourPixel(draw.colour);
    draw.colour = command[1];
    Pixel colour = ColourPixel(draw.colour);
    for (int i = 0; i < count; ++i) {
        char c = text[i];
        if (c)
            DrawCentred(fixedFontB, c, int(x), y, screen.cellWidthPx, screen.cellHeightPx, colour, &background);
        x += screen.cellWidth;
        if (c >= 'A' && c <= 'Z')
            x += 2;
    }
}

void DrawTextField(const uint8_t* command)
{
    uint8_t colourIndex = command[1] & 0x7F;
    int count = command[2];
    int x = UnitsToX(Word16(command + 3));
    int y = UnitsToY(Word16(command + 5));
    Pixel colour = ColourPixel(colourIndex);
    Pixel background = ColourPixel(draw.colourParameter >= 0 && draw.colourParameter <= 255 ? draw.colourParameter : 0);
    const Pixel* fill = draw.textBackground == 0 ? &background : nullptr;
    if (PlatformFont* font = UserTextFont())
        DrawWindowsFontField(font, command + kFieldTextOffset, count, x, y, colour, fill);
    else
        DrawBitmapField(command + kFieldTextOffset, count, x, y, colour, fill);
}

void DrawTextAt(int x, int y, const char* text, int count, uint8_t colour, uint8_t background)
{
    Pixel bg = ColourPixel(background);
    DrawRun(fixedFontB, x, y, text, count, ColourPixel(colour), &bg);
}

} // namespace tessil
