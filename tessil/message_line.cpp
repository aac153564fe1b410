// The free-standing text line: titles, notices and status texts drawn
// anywhere on the screen, outside every text field.
#include <cstring>

#include "tessil/display_commands.h"
#include "tessil/state.h"

namespace tessil {

namespace {

void PutWord(uint8_t* p, int value)
{
    if (value < 0)
        value = 0;
    if (value > 10000)
        value = 10000;
    p[0] = uint8_t(value >> 8);
    p[1] = uint8_t(value);
}

// The text sits this far below the row's top edge, so that it is centred on
// the band.
int TextDrop()
{
    switch (screenMode) {
    case 2: return 5;
    case 3: return 6;
    default: return 4;
    }
}

} // namespace

void ShowMessageLine(const char* text, int column, int row, uint8_t attribute)
{
    if (column < 0 || column >= 80 || row < 0)
        return;
    uint8_t savedForced = draw.forcedMode;
    bool savedBarDisabled = draw.functionBarDisabled;
    draw.forcedMode = 0;
    draw.functionBarDisabled = false;
    draw.colour = attribute & 15;

    // The line buffer gets each character at its column; carets are left out.
    char* line = LineBuffer();
    int length = 0;
    for (const char* p = text ? text : ""; *p && column + length < 80; ++p) {
        if (*p != '^')
            line[column + length++] = *p;
    }

    uint8_t list[10 + kFieldTextOffset + 80 + 1];
    int left = int(column * screen.cellWidth);
    int top = int(row * screen.cellHeight);
    list[0] = kCmdFillRect;
    list[1] = uint8_t(attribute >> 4);
    PutWord(list + 2, PixelToUnitsX(left));
    PutWord(list + 4, PixelToUnitsY(top));
    PutWord(list + 6, 10000);
    PutWord(list + 8, (row + 1) * 10000 / 30);
    size_t used = 10;
    if (length) {
        uint8_t* t = list + used;
        t[0] = kCmdText;
        t[1] = uint8_t(attribute & 15);
        t[2] = uint8_t(length);
        PutWord(t + 3, PixelToUnitsX(left));
        PutWord(t + 5, PixelToUnitsY(top + TextDrop()));
        std::memcpy(t + kFieldTextOffset, line + column, size_t(length));
        used += kFieldTextOffset + size_t(length);
    }
    list[used++] = kCmdEnd;
    ExecuteDisplayList(list, list + used, 0);

    draw.forcedMode = savedForced;
    draw.functionBarDisabled = savedBarDisabled;
}

} // namespace tessil
