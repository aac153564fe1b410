// One complete sample screen, drawn with every kind of display command and
// the shipped fonts, compared with the picture kept in tests/tessil/golden/.
//
// Run with KV_UPDATE_GOLDEN=1 to write a new picture after an intended change
// (and look at it before committing it).
#include "tessil/tessil_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tools/png/png_file.h"

namespace tessil_test {
namespace {

namespace fs = std::filesystem;

// Builds display lists command by command.
struct List {
    std::vector<uint8_t> bytes;
    List& Op(std::initializer_list<int> b)
    {
        for (int v : b)
            bytes.push_back(uint8_t(v));
        return *this;
    }
    List& W(std::initializer_list<int> words)
    {
        for (int v : words)
            Put(bytes, v);
        return *this;
    }
    // A picture: colour, rectangle, record and file name.
    List& Picture(int colour, std::initializer_list<int> rect, int record, const std::string& name)
    {
        Op({234, colour}).W(rect).W({0}).Op({record, int(name.size())});
        return Text(name);
    }
    List& Text(const std::string& s)
    {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    List& Field(int colour, int u, int v, const std::string& s)
    {
        Op({152, colour, int(s.size())}).W({u, v});
        return Text(s);
    }
};

// A 32 x 24 bitmap of 24 bits, bottom-up: a colour gradient with a white border.
std::string GradientBitmap()
{
    int w = 32, h = 24, stride = w * 3;
    std::string b(54 + size_t(stride * h), '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + size_t(i)] = char(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, uint32_t(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(h));
    b[26] = 1, b[28] = 24;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            size_t at = 54 + size_t(y * stride + x * 3);
            bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            b[at] = char(edge ? 255 : 255 - x * 8);       // blue
            b[at + 1] = char(edge ? 255 : y * 10);        // green
            b[at + 2] = char(edge ? 255 : x * 8);         // red
        }
    return b;
}

class GoldenTest : public TessilTest {
protected:
    void SetUp() override
    {
        TessilTest::SetUp();
        // The shipped fonts, in place of the test font.
        fs::path fonts = KV_FONT_DATA_DIR;
        std::string font8 = ReadWholeFile(fonts / "CHAR8X8.BIN");
        ASSERT_EQ(font8.size(), 2048u) << "missing " << (fonts / "CHAR8X8.BIN").string();
        std::string library(21 * 3200, char(255));
        library.replace(20 * 3200 + 1152, 2048, font8);
        WriteWholeFile(folder.path() / "screens.lib", library);
        for (const char* name : {"CHAR12X12.FNT", "CHAR16X16.FNT"})
            fs::copy_file(fonts / name, folder.path() / name, fs::copy_options::overwrite_existing);
        ASSERT_EQ(LoadScreenFonts(), 1);
        WriteWholeFile(folder.path() / "gradient.bmp", GradientBitmap());

        // A screen file whose record 2 is drawn into a rectangle as a picture.
        List inner;
        inner.Op({170, 13}).W({0, 0, 10000, 10000});
        inner.Op({190, 11}).W({500, 500, 9500, 9500, 150});
        inner.Op({132, 7}).W({2000, 5000, 8000, 5000});
        inner.Op({255});
        std::string book(2 * 3200, char(255));
        book.replace(3200, inner.bytes.size(), std::string(inner.bytes.begin(), inner.bytes.end()));
        WriteWholeFile(folder.path() / "inset.plt", book);
    }

    void DrawSampleScreen()
    {
        List l;
        l.Op({129});
        l.Op({170, 14}).W({0, 700, 10000, 9300});              // navy panel
        l.Op({192, 1}).W({300, 900, 3200, 3600, 30});          // flat frame with drop shadow
        l.Op({193, 7}).W({3600, 900, 6400, 3600, 30});         // flat frame, shadow up and left
        l.Op({190, 11}).W({6800, 900, 9700, 3600, 80});        // raised
        l.Op({191, 11}).W({7100, 1300, 9400, 3200, 80});       // sunken inside it
        l.Op({131, 5, 4}).W({500, 4000, 1500, 4800, 2500, 4000, 3500, 4800}); // polyline
        l.Op({135, 7, 5}).W({500, 5200, 1250, 5800, 2000, 5200, 2750, 5800, 3500, 5200}); // dashed
        l.Op({132, 4}).W({4000, 4400, 5500, 4400});            // ellipse
        l.Op({172, 12}).W({4750, 4400});                       // flood fill inside it
        l.Op({133, 2}).W({4000, 5800, 5500, 5800, 0, 5400});   // ellipse with a height
        l.Op({134, 3}).W({5800, 5800, 7200, 5800, 6500, 3800}); // curve
        l.Op({203, 5}).W({7500, 3900, 9700, 5800, 200});       // rounded box
        l.Op({215, 0, 0, 1, 3}).W({7800, 5500, 8600, 4200, 9400, 5500, 10}); // filled triangle
        l.Op({130, 3, 0, 16}).W({9000, 6200, 16, 8});          // 16 x 8 checker image
        for (int row = 0; row < 8; ++row)
            l.Op({row & 1 ? 0x0F : 0xF0, row & 1 ? 0x0F : 0xF0});
        l.Op({188, 6, 1}).W({2800, 3300, 4200, 4200});          // exclusive-or over the frames
        // Text fields: the 8 x 8 font opaque and transparent, 12 x 12, 16 x 16.
        l.Op({160, 16 + 8, 180});
        l.Field(0x80 | 3, 500, 6200, "Opaque 8x8 field: ABC xyz 0123 !?%&");
        l.Op({181});
        l.Field(0x80 | 7, 500, 6500, "Transparent 8x8: Gr\xFC\xDF" "e, \xE0\xE9\xEE\xF5\xFC \xC6\xD8\xC5");
        l.Op({178, 3, 3});
        l.Field(0x80 | 5, 500, 6850, "12x12 font: Hello 456");
        l.Op({178, 4, 4});
        l.Field(0x80 | 1, 500, 7250, "16x16: Sample");
        l.Op({178, 0, 0, 180});
        // Pictures: a bitmap file and a screen record, each in a rectangle.
        l.Picture(3, {5000, 6200, 6000, 7500}, 0, "gradient.bmp");
        l.Picture(3, {6300, 6200, 8700, 8200}, 2, "inset.plt");
        // A viewport: the next rectangle fills its lower-right quarter.
        l.Op({186, 0}).W({500, 7800, 4500, 9100});
        l.Op({170, 9}).W({5000, 5000, 10000, 10000});
        l.Op({189, 3}).W({0, 0, 10000, 10000, 0});
        l.Op({187});
        l.Op({255});
        Run({});
        ExecuteDisplayList(l.bytes.data(), l.bytes.data() + l.bytes.size(), 0);

        // Windows-font text: a title, a status line and a field in the user's font.
        ShowMessageLine("KESTROVANE SAMPLE SCREEN ^- every display command", 0, 0, 0xE3);
        ShowMessageLine("Status: all primitives drawn", 0, 57, 0x1E);
        fontSettings.pointSizeTenths = 90;
        std::strcpy(fontSettings.faceName, "Courier New");
        List w;
        w.Op({128, 180, 160, 16 + 8}).Field(0x80 | 7, 5000, 8700, "Windows font field");
        w.Op({255});
        ExecuteDisplayList(w.bytes.data(), w.bytes.data() + w.bytes.size(), 0);
        fontSettings = FontRecord{};
        Run({128});
    }
};

// Where text in a Windows font is drawn: FreeType versions may differ there.
struct Region {
    int left, top, right, bottom;
};
const Region kFontText[] = {{0, 0, 639, 16}, {0, 456, 639, 479}, {315, 410, 639, 440}};

bool InFontText(int x, int y)
{
    for (const Region& r : kFontText)
        if (x >= r.left && x <= r.right && y >= r.top && y <= r.bottom)
            return true;
    return false;
}

TEST_F(GoldenTest, SampleScreenMatchesThePicture)
{
    DrawSampleScreen();
    const Surface& s = ScreenSurface();
    fs::path golden = fs::path(KV_GOLDEN_DIR) / "sample_screen.png";
    if (std::getenv("KV_UPDATE_GOLDEN")) {
        ASSERT_TRUE(WritePng(s, golden.string().c_str()));
        GTEST_SKIP() << "wrote " << golden.string();
    }
    Surface expected;
    ASSERT_TRUE(ReadPng(golden.string().c_str(), expected)) << "cannot read " << golden.string();
    ASSERT_EQ(expected.width, s.width);
    ASSERT_EQ(expected.height, s.height);

    int exactDiffs = 0, fontDiffs = 0, fontPixels = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            bool differs = s.Get(x, y) != expected.Get(x, y);
            if (InFontText(x, y)) {
                ++fontPixels;
                fontDiffs += differs;
            } else if (differs && ++exactDiffs <= 5) {
                ADD_FAILURE() << "pixel " << x << ", " << y << " differs";
            }
        }
    EXPECT_EQ(exactDiffs, 0);
    EXPECT_LE(fontDiffs, fontPixels / 10) << "Windows-font text differs in " << fontDiffs << " pixels";
    if (HasFailure())
        WritePng(s, (folder.path().parent_path() / "sample_screen.actual.png").string().c_str());
}

// Guards the picture's readability: text cells of the fields hold lit pixels.
TEST_F(GoldenTest, SampleScreenUsesTheShippedGlyphs)
{
    DrawSampleScreen();
    // The opaque 8 x 8 field starts at u 500 (x 32), v 6200 (y 297).
    int lit = Count(3, 32, 297, 32 + 8 * 35, 297 + 7);
    EXPECT_GT(lit, 150);
}

} // namespace
} // namespace tessil_test
