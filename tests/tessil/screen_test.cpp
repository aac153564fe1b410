// Screen modes, unit conversion, palette and colour files, bitmap fonts.
#include "tessil/tessil_fixture.h"

#include <filesystem>

#include "tessil/palette.h"

namespace tessil_test {
namespace {

class ScreenTest : public TessilTest {};

TEST_F(ScreenTest, ModeGeometry)
{
    EXPECT_EQ(screen.width, 640);
    EXPECT_EQ(screen.rightEdge, 639);
    EXPECT_EQ(screen.bottomEdge, 479);
    EXPECT_EQ(screen.rows, 60);
    EXPECT_EQ(screen.cellWidthPx, 8);
    EXPECT_EQ(screen.cellHeightPx, 8);
    EXPECT_EQ(screen.strokeX, 4);
    EXPECT_EQ(screen.unitsPerPixelX, 16); // 10000 / 639 + 0.9
    EXPECT_EQ(screen.unitsPerPixelY, 21); // 10000 / 479 + 0.9
    EXPECT_EQ(UnitsToX(10000), 639);      // the right edge, not 640
    EXPECT_EQ(UnitsToY(10000), 479);
    EXPECT_EQ(UnitsToX(0), 0);

    screenMode = 2;
    SetScreenMode(640, 480);
    EXPECT_EQ(screen.width, 960);
    EXPECT_EQ(screen.rows, 60);
    EXPECT_EQ(screen.cellWidthPx, 12);
    EXPECT_EQ(screen.strokeX, 6);
    EXPECT_EQ(UnitsToX(5000), 480); // (5000 * 959 + 9000) / 10000
    EXPECT_EQ(UnitsToXExact(5000), 479);

    screenMode = 3;
    SetScreenMode(640, 480);
    EXPECT_EQ(screen.width, 1280);
    EXPECT_EQ(screen.cellHeightPx, 16);
    EXPECT_EQ(screen.strokeY, 8);
}

TEST_F(ScreenTest, ClientSizeModesAndModeZero)
{
    screenMode = 4; // one-time request: the client size, then mode 1
    SetScreenMode(800, 600);
    EXPECT_EQ(screenMode, 1);
    EXPECT_EQ(screen.width, 800);
    EXPECT_EQ(screen.rows, 75);
    EXPECT_EQ(screen.cellWidthPx, 10);
    EXPECT_EQ(screen.strokeX, 5);

    SetScreenMode(800, 600); // plain mode 1 is 640 x 480 again
    EXPECT_EQ(screen.width, 640);

    displayWidth = 640;
    displayHeight = 480; // on a 640 x 480 display the screen takes the client size
    SetScreenMode(632, 427);
    EXPECT_EQ(screen.width, 632);
    EXPECT_EQ(screen.height, 427);
    EXPECT_EQ(screen.rows, 53);

    struct {
        int w, h;
        uint8_t mode;
    } displays[] = {{1024, 768, 2}, {960, 720, 1}, {1600, 1200, 3}, {1280, 960, 2}};
    for (auto d : displays) {
        displayWidth = d.w;
        displayHeight = d.h;
        screenMode = 0;
        SetScreenMode(640, 480);
        EXPECT_EQ(screenMode, d.mode) << d.w << " x " << d.h;
    }
}

TEST_F(ScreenTest, DefaultColoursAndPaletteFile)
{
    EXPECT_EQ(colourTable[1], 0x00FFFF00u); // cyan as 0x00BBGGRR
    EXPECT_EQ(colourTable[4], 0x000000FFu); // red
    EXPECT_EQ(colourTable[14], 0x00800000u); // navy
    // 16..255 are palette entries 8..247; none of the files existed, so
    // "palette.ini" now holds the default palette.
    std::string written = ReadWholeFile(folder.path() / "palette.ini");
    ASSERT_EQ(written.size(), 1032u);
    EXPECT_EQ(uint8_t(written[0]), 0x00);
    EXPECT_EQ(uint8_t(written[1]), 0x03);
    EXPECT_EQ(uint8_t(written[3]), 0x01);
    const PaletteEntry& e = logicalPalette.entries[16 - 8];
    EXPECT_EQ(colourTable[16], COLORREF(e.red | (e.green << 8) | (e.blue << 16)));
    EXPECT_EQ(colourTable[255], 0x00A4A0A0u); // entry 247: the medium grey reserved colour
}

TEST_F(ScreenTest, ColourFileWholeOrIgnored)
{
    std::string colours(1024, '\0');
    colours[4 * 5] = 0x12; // colour 5 := red 0x12
    colours[4 * 5 + 2] = 0x34;
    WriteWholeFile(folder.path() / "defaultcolors.dat", colours);
    LoadPalette();
    EXPECT_EQ(colourTable[5], 0x00340012u);
    EXPECT_EQ(colourTable[3], 0u);

    WriteWholeFile(folder.path() / "defaultcolors.dat", colours.substr(0, 1000));
    LoadPalette();
    EXPECT_EQ(colourTable[5], 0x0000FF00u); // the default green again
    EXPECT_EQ(colourTable[3], 0x00FFFFFFu);
}

TEST_F(ScreenTest, SharedPaletteFileIsUsed)
{
    // The shared file lies at the drive's root, which only Linux lets a test move.
    if (!PlatformSetDriveRoot(folder.path().string().c_str()))
        GTEST_SKIP() << "the drive root cannot be moved here";
    PaletteFile shared;
    DefaultPalette(shared);
    shared.entries[8] = {1, 2, 3, 0};
    std::filesystem::create_directory(folder.path() / "tollybrook");
    WriteWholeFile(folder.path() / "tollybrook" / "palette.ini",
                   std::string(reinterpret_cast<const char*>(&shared), sizeof shared));
    std::filesystem::remove(folder.path() / "palette.ini");
    LoadPalette();
    EXPECT_EQ(colourTable[16], 0x00030201u);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "palette.ini"));
}

TEST_F(ScreenTest, MissingFontRecordEndsTheProgram)
{
    SetScreenLibraryPath("missing.lib");
    EXPECT_EQ(LoadScreenFonts(), 0);
    EXPECT_EQ(hostLog.exits, 1);
    EXPECT_EQ(hostLog.waitedTicks, 2);
    EXPECT_EQ(std::string(LineBuffer(), 27), "File missing.lib, not found");
}

// A 12 x 12 glyph packs two rows into three bytes; the font file lies beside
// the screen library.
TEST_F(ScreenTest, TwelvePixelGlyphRowsUnpack)
{
    std::string font(5120, '\0');
    font[20 * 'Q' + 0] = char(0xAB);
    font[20 * 'Q' + 1] = char(0xCD);
    font[20 * 'Q' + 2] = char(0xEF);
    font[20 * 'Q' + 18] = 1; // one pixel lower
    font[20 * 'Q' + 19] = 12;
    WriteWholeFile(folder.path() / "CHAR12X12.FNT", font);
    screenMode = 2;
    ASSERT_EQ(SetScreenMode(640, 480), 1);
    CreateScreenBitmap();
    draw.textBackground = 1;
    std::vector<uint8_t> list = {152, 4, 1};
    Put(list, 0);
    Put(list, 0);
    list.push_back('Q');
    Run(list);
    auto rowBits = [&](int y) {
        int bits = 0;
        for (int x = 0; x < 12; ++x)
            bits = (bits << 1) | (At(x, y) == Colour(4));
        return bits;
    };
    EXPECT_EQ(rowBits(0), 0);     // the vertical offset moved the glyph down
    EXPECT_EQ(rowBits(1), 0xABC); // row A: byte 0 and the high half of byte 1
    EXPECT_EQ(rowBits(2), 0xDEF); // row B: the low half of byte 1 and byte 2
    EXPECT_EQ(CountAll(4), 7 + 10);
}

} // namespace
} // namespace tessil_test
