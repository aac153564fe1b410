#include "tessil/tessil_fixture.h"

#include <algorithm>
#include <fstream>

namespace tessil_test {

HostLog hostLog;

namespace {

bool RecordPresent(const Surface&, int, int)
{
    ++hostLog.presents;
    return true;
}
void RecordTicks(int n) { hostLog.waitedTicks += n; }
void RecordExit() { ++hostLog.exits; }
void RecordRepaint(int) { ++hostLog.repaints; }

} // namespace

void WriteScreenLibrary(const std::string& path)
{
    std::vector<uint8_t> bytes(21 * 3200, 255);
    uint8_t* font = bytes.data() + 20 * 3200 + 1152;
    std::memset(font, 255, 2048); // stored inverted: 255 is a blank row
    for (int row = 0; row < 8; ++row)
        font[8 * 'A' + row] = uint8_t(kGlyphA[row] ^ 255);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void TessilTest::SetUp()
{
    hostLog = {};
    screenHost = {};
    screenHost.present = RecordPresent;
    screenHost.waitTicks = RecordTicks;
    screenHost.exitProgram = RecordExit;
    screenHost.scheduleRepaint = RecordRepaint;
    ASSERT_TRUE(CreateDynamicBuffers());
    WriteScreenLibrary(folder.native("screens.lib"));
    SetScreenLibraryPath("screens.lib");
    draw = DrawingState{};
    fontSettings = FontRecord{};
    fontWorking = FontRecord{};
    screenMode = 1;
    displayWidth = 1024;
    displayHeight = 768;
    screen = ScreenGeometry{};
    ASSERT_EQ(SetScreenMode(640, 480), 1);
    CreateScreenBitmap();
    hostLog.presents = 0;
}

void TessilTest::TearDown()
{
    fieldCount = 0;
    std::fill(fieldMasked, fieldMasked + kMaxFields, false);
    scrollOffset = 0;
    ReleaseScreenResources();
    screenHost = {};
}

void TessilTest::Run(std::vector<uint8_t> list)
{
    list.push_back(255);
    ExecuteDisplayList(list.data(), list.data() + list.size(), 0);
}

int TessilTest::Count(int index, int x1, int y1, int x2, int y2) const
{
    int n = 0;
    Pixel c = ColourPixel(index);
    for (int y = y1; y <= y2; ++y)
        for (int x = x1; x <= x2; ++x)
            n += At(x, y) == c;
    return n;
}

int16_t TessilTest::AddTextField(uint8_t colour, uint8_t width, int u, int v, const char* text)
{
    uint8_t* record = dyn->fieldArea + fieldBytes_;
    record[0] = 252;
    record[1] = colour;
    record[2] = width;
    record[3] = uint8_t(u >> 8);
    record[4] = uint8_t(u);
    record[5] = uint8_t(v >> 8);
    record[6] = uint8_t(v);
    std::memset(record + 7, 0, size_t(width) + 100);
    std::memcpy(record + 7, text, std::strlen(text) < width ? std::strlen(text) : width);
    fieldBytes_ += 7 + size_t(width) + 100;
    fieldTable[fieldCount] = record;
    return int16_t(fieldCount++);
}

int16_t TessilTest::AddOtherField(uint8_t kind)
{
    uint8_t* record = dyn->fieldArea + fieldBytes_;
    std::memset(record, 0, 12);
    record[0] = kind;
    fieldBytes_ += 12;
    fieldTable[fieldCount] = record;
    return int16_t(fieldCount++);
}

} // namespace tessil_test
