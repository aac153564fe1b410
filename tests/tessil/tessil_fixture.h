// A fresh framework for each test: a temporary drive, the dynamic block, a
// screen library with a known 8 x 8 font, mode 1 at 640 x 480, a cleared
// surface, and a host that records what the framework asked of it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/temp_folder.h"
#include "tessil/display_commands.h"
#include "tessil/state.h"
#include "tessil/tessil.h"

namespace tessil_test {

using namespace tessil;

struct HostLog {
    int presents = 0;
    int waitedTicks = 0;
    int exits = 0;
    int repaints = 0;
};
extern HostLog hostLog;

// Glyph 'A' of the test 8 x 8 font: a solid top row and a left column; every
// other glyph is blank.
constexpr uint8_t kGlyphA[8] = {0xFF, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};

// Writes a screen library whose record 21 carries the test 8 x 8 font.
void WriteScreenLibrary(const std::string& path);

class TessilTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs a display list (255 appended) through ExecuteDisplayList.
    void Run(std::vector<uint8_t> list);
    Pixel At(int x, int y) const { return ScreenSurface().Get(x, y); }
    Pixel Colour(int index) const { return ColourPixel(index); }
    // Pixels of colour `index` inside the inclusive rectangle.
    int Count(int index, int x1, int y1, int x2, int y2) const;
    int CountAll(int index) const { return Count(index, 0, 0, ScreenSurface().width - 1, ScreenSurface().height - 1); }
    // Adds a text field record to the field table; returns its index.
    int16_t AddTextField(uint8_t colour, uint8_t width, int u, int v, const char* text = "");
    // Adds a record of another kind (a button) to the field table.
    int16_t AddOtherField(uint8_t kind);

    TempFolder folder;

private:
    size_t fieldBytes_ = 0;
};

// A 16-bit screen unit, high byte first, for building lists.
inline void Put(std::vector<uint8_t>& list, int value)
{
    list.push_back(uint8_t(value >> 8));
    list.push_back(uint8_t(value));
}

} // namespace tessil_test
