#include "tessil/palette.h"

#include <cstring>

#include "records/record_file.h"
#include "tessil/state.h"

namespace tessil {

PaletteFile logicalPalette;
COLORREF colourTable[256];

namespace {

constexpr COLORREF Rgb(int r, int g, int b) { return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16); }

// The sixteen colours of the first table entries; 16..255 come from the palette.
constexpr COLORREF kBaseColours[16] = {
    Rgb(0, 0, 0),       Rgb(0, 255, 255), Rgb(255, 0, 255), Rgb(255, 255, 255),
    Rgb(255, 0, 0),     Rgb(0, 255, 0),   Rgb(0, 0, 255),   Rgb(255, 255, 0),
    Rgb(128, 128, 128), Rgb(0, 128, 128), Rgb(128, 0, 128), Rgb(192, 192, 192),
    Rgb(128, 0, 0),     Rgb(0, 128, 0),   Rgb(0, 0, 128),   Rgb(128, 128, 0),
};

// The reserved colours at both ends of a Windows palette.
constexpr uint8_t kStaticLow[10][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
    {128, 0, 128}, {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
};
constexpr uint8_t kStaticHigh[10][3] = {
    {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0},
    {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255},
};

void SetEntry(PaletteEntry& e, int r, int g, int b)
{
    e.red = uint8_t(r);
    e.green = uint8_t(g);
    e.blue = uint8_t(b);
    e.flags = 0;
}

} // namespace

void DefaultPalette(PaletteFile& palette)
{
    std::memset(&palette, 0, sizeof palette);
    palette.version[0] = 0x00;
    palette.version[1] = 0x03;
    palette.count[0] = 0x00;
    palette.count[1] = 0x01;
    for (int i = 0; i < 10; ++i) {
        SetEntry(palette.entries[i], kStaticLow[i][0], kStaticLow[i][1], kStaticLow[i][2]);
        SetEntry(palette.entries[246 + i], kStaticHigh[i][0], kStaticHigh[i][1], kStaticHigh[i][2]);
    }
    int index = 10;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                SetEntry(palette.entries[index++], r * 51, g * 51, b * 51);
    for (int i = 0; i < 20; ++i) {
        int level = 8 + i * 12; // 8..236, between the cube's steps
        SetEntry(palette.entries[226 + i], level, level, level);
    }
}

int LoadPalette()
{
    if (ReadRecord("\\tollybrook\\palette.ini", &logicalPalette, 1, sizeof logicalPalette) !=
        int32_t(sizeof logicalPalette)) {
        DefaultPalette(logicalPalette);
        WriteRecord("palette.ini", &logicalPalette, 1, sizeof logicalPalette);
    }
    logicalPalette.version[0] = 0x00;
    logicalPalette.version[1] = 0x03;
    logicalPalette.count[0] = 0x00;
    logicalPalette.count[1] = 0x01;

    uint8_t file[1024];
    if (ReadRecord("defaultcolors.dat", file, 1, sizeof file) == int32_t(sizeof file)) {
        for (int i = 0; i < 256; ++i)
            colourTable[i] = COLORREF(file[4 * i]) | (COLORREF(file[4 * i + 1]) << 8) |
                             (COLORREF(file[4 * i + 2]) << 16) | (COLORREF(file[4 * i + 3]) << 24);
    } else {
        for (int i = 0; i < 16; ++i)
            colourTable[i] = kBaseColours[i];
        for (int i = 16; i < 256; ++i) {
            const PaletteEntry& e = logicalPalette.entries[i - 8];
            colourTable[i] = Rgb(e.red, e.green, e.blue);
        }
    }
    return 1;
}

} // namespace tessil
