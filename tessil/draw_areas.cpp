// Filled areas: rectangles, flood fills, polygons and monochrome images.
#include "tessil/draw.h"
#include "tessil/state.h"

namespace tessil {

void FillCurrentRect()
{
    RasterFillRect(DrawCanvas(), draw.x1, draw.y1, draw.x2, draw.y2, ColourPixel(draw.fillColour), CurrentOp());
}

void FillArea(const uint8_t* command)
{
    if (draw.pictureDepth)
        return;
    draw.colour = command[1];
    draw.fillColour = command[1];
    int x = UnitsToX(Word16(command + 2));
    int y = UnitsToY(Word16(command + 4));
    RasterFloodFill(DrawCanvas(), x, y, ColourPixel(draw.fillColour));
}

void DrawPolygonCommand(const uint8_t* command)
{
    int values = command[3];
    int points = command[4];
    const uint8_t* p = command + 5;
    const uint8_t* v = p + 4 * points;
    uint8_t colour = values > 0 ? v[1] : draw.colour;
    int xs[255], ys[255];
    for (int i = 0; i < points; ++i) {
        xs[i] = UnitsToX(Word16(p + 4 * i));
        ys[i] = UnitsToY(Word16(p + 4 * i + 2));
    }
    draw.fillColour = colour;
    RasterPolygon(DrawCanvas(), xs, ys, points, ColourPixel(colour), CurrentOp());
}

void DrawImageCommand(const uint8_t* command, size_t length)
{
    uint8_t colour = command[1];
    size_t data = size_t(Word16(command + 2));
    int x = UnitsToX(Word16(command + 4));
    int y = UnitsToY(Word16(command + 6));
    int width = Word16(command + 8);
    int height = Word16(command + 10);
    if (width <= 0 || height <= 0 || length < 12 + data)
        return;
    int bytesPerRow = (width + 7) / 8;
    int rows = int(data / size_t(bytesPerRow)); // rows the data block really holds
    if (rows < height)
        height = rows;
    if (height > 0)
        RasterBits(DrawCanvas(), x, y, command + 12, width, height, bytesPerRow, ColourPixel(colour));
}

} // namespace tessil
