// The logical palette and the colour table.
//
// "\tollybrook\palette.ini" and "palette.ini" (1032 bytes, one record):
//   offset  size  content
//   0       2     version, 768 (0x300), little-endian
//   2       2     entry count, 256
//   4       1024  256 entries: red, green, blue, flags
//   1028    4     spare
// "defaultcolors.dat" (1024 bytes): 256 COLORREF values (0x00BBGGRR),
// little-endian, indexed by the colour numbers of display lists.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessil {

struct PaletteEntry {
    uint8_t red, green, blue, flags;
};

struct PaletteFile {
    uint8_t version[2];
    uint8_t count[2];
    PaletteEntry entries[256];
    uint8_t spare[4];
};
static_assert(sizeof(PaletteFile) == 1032);
static_assert(offsetof(PaletteFile, entries) == 4);

extern PaletteFile logicalPalette;

// The palette written as "palette.ini" when the shared one is missing or
// short: the twenty colours every Windows palette reserves at 0-9 and
// 246-255, a 6 x 6 x 6 colour cube at 10-225 and a grey ramp at 226-245.
void DefaultPalette(PaletteFile& palette);

// Fills the logical palette and the colour table from their files (or the
// defaults). Returns 1.
int LoadPalette();

} // namespace tessil
