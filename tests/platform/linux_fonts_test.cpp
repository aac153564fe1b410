// Linux only: which font files stand in for the Windows faces, the sizes
// FreeType gives them, what happens when files are missing or damaged, and
// the bitmap fonts drawn from them (data/fonts, made by tools/mkfonts).
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/linux/fonts.h"

namespace fs = std::filesystem;

namespace {

LOGFONTA Describe(const char* face, LONG height, LONG weight, BYTE italic = FALSE,
                  BYTE pitchAndFamily = FF_MODERN) {
    LOGFONTA description{};
    description.lfHeight = height;
    description.lfWeight = weight;
    description.lfItalic = italic;
    description.lfOutPrecision = OUT_RASTER_PRECIS;
    description.lfQuality = PROOF_QUALITY;
    description.lfPitchAndFamily = pitchAndFamily;
    std::snprintf(description.lfFaceName, LF_FACESIZE, "%s", face);
    return description;
}

std::string FileFor(const LOGFONTA& description) {
    PlatformFont* font = PlatformCreateFont(&description);
    std::string file = PlatformFontFile(font);
    PlatformDeleteFont(font);
    return file;
}

SIZE Measure(PlatformFont* font, const char* text) {
    SIZE size{-1, -1};
    EXPECT_TRUE(PlatformMeasureText(font, text, int(std::strlen(text)), &size));
    return size;
}

int Ink(PlatformFont* font, const char* text) {
    SIZE size = Measure(font, text);
    std::vector<BYTE> mask(size_t(size.cx) * size_t(size.cy));
    EXPECT_TRUE(PlatformRenderText(font, text, int(std::strlen(text)), mask.data(), size.cx, size.cy));
    int ink = 0;
    for (BYTE b : mask) ink += b ? 1 : 0;
    return ink;
}

TEST(LinuxFonts, FacesMapToMetricCompatibleFiles) {
    struct Case {
        const char* face;
        LONG weight;
        BYTE italic, pitch;
        const char* file;
    } cases[] = {
        {"Courier New", FW_BOLD, 0, FF_MODERN, "liberation/LiberationMono-Bold.ttf"},
        {"COURIER new", FW_NORMAL, 0, 0, "liberation/LiberationMono-Regular.ttf"},
        {"Courier", FW_SEMIBOLD, 1, 0, "liberation/LiberationMono-BoldItalic.ttf"},
        {"Arial", FW_NORMAL, 1, 0, "liberation/LiberationSans-Italic.ttf"},
        {"Times New Roman", FW_MEDIUM, 0, 0, "liberation/LiberationSerif-Regular.ttf"},
        {"Small Fonts", FW_BOLD, 0, FF_MODERN, "dejavu/DejaVuSans-Bold.ttf"},
        {"DejaVu Sans Mono", FW_BOLD, 1, 0, "dejavu/DejaVuSansMono-BoldOblique.ttf"},
        {"dejavu serif", FW_NORMAL, 1, 0, "dejavu/DejaVuSerif-Italic.ttf"},
        // Unknown faces go by pitch and family.
        {"Lucida Console", FW_NORMAL, 0, FIXED_PITCH, "liberation/LiberationMono-Regular.ttf"},
        {"Fixedsys", FW_NORMAL, 0, FF_MODERN, "liberation/LiberationMono-Regular.ttf"},
        {"Georgia", FW_NORMAL, 0, FF_ROMAN | VARIABLE_PITCH, "liberation/LiberationSerif-Regular.ttf"},
        {"Verdana", FW_NORMAL, 0, FF_SWISS, "liberation/LiberationSans-Regular.ttf"},
        {"", FW_NORMAL, 0, 0, "dejavu/DejaVuSans.ttf"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileFor(Describe(c.face, -13, c.weight, c.italic, c.pitch)), c.file) << c.face;

    // A face name that fills all 32 bytes without a terminator is read as 32
    // characters, not beyond.
    LOGFONTA unterminated = Describe("", -13, FW_NORMAL, FALSE, 0);
    std::memset(unterminated.lfFaceName, 'x', LF_FACESIZE);
    EXPECT_EQ(FileFor(unterminated), "dejavu/DejaVuSans.ttf");
}

TEST(LinuxFonts, SizesFollowGdiRules) {
    // Courier New's metrics: usWinAscent 1705, usWinDescent 615, 2048 units.
    const LOGFONTA fixed = Describe("Courier New", -13, FW_BOLD);
    PlatformFont* font = PlatformCreateFont(&fixed);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(Measure(font, "H").cx, 8);
    EXPECT_EQ(Measure(font, "H").cy, 15);
    EXPECT_EQ(PlatformGetFontAscent(font), 11);
    PlatformDeleteFont(font);

    const LONG cells[] = {16, 0};  // 0 asks for the default, a 16-pixel cell
    for (LONG height : cells) {
        LOGFONTA description = Describe("Courier New", height, FW_BOLD);
        font = PlatformCreateFont(&description);
        EXPECT_EQ(Measure(font, "H").cy, 16);
        PlatformDeleteFont(font);
    }

    LOGFONTA wide = Describe("Courier New", -13, FW_BOLD);
    wide.lfWidth = 10;  // the average width of a monospaced face is its advance
    font = PlatformCreateFont(&wide);
    EXPECT_EQ(Measure(font, "H").cx, 10);
    EXPECT_EQ(Measure(font, "H").cy, 15);
    PlatformDeleteFont(font);

    // Absurd sizes are clamped, not obeyed or refused.
    for (LONG extreme : {LONG(INT32_MIN), LONG(INT32_MAX)}) {
        LOGFONTA huge = Describe("Courier New", extreme, FW_BOLD);
        huge.lfWidth = extreme;
        font = PlatformCreateFont(&huge);
        ASSERT_NE(font, nullptr);
        EXPECT_LE(Measure(font, "H").cy, 1024);
        EXPECT_GT(Ink(font, "H"), 0);
        PlatformDeleteFont(font);
    }
}

TEST(LinuxFonts, CodesWithoutGlyphsAdvanceBlank) {
    const LOGFONTA fixed = Describe("Courier New", -13, FW_BOLD);
    PlatformFont* font = PlatformCreateFont(&fixed);
    ASSERT_NE(font, nullptr);
    // 0x81 is undefined in Windows-1252; 0x80 is the euro sign, 0x9F Y diaeresis.
    EXPECT_EQ(Ink(font, "\x81"), 0);
    EXPECT_EQ(Measure(font, "\x81\x01").cx, 16);
    EXPECT_GT(Ink(font, "\x80"), 0);
    EXPECT_GT(Ink(font, "\x9F"), Ink(font, "Y"));
    PlatformDeleteFont(font);
}

class FontFolder : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("kvfonts-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(root_ / "liberation");
        fs::create_directories(root_ / "dejavu");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void Link(const std::string& file) {
        fs::create_symlink(fs::path(kPlatformFontRoot) / file, root_ / file);
    }
    void Damage(const std::string& file) {
        std::ofstream out(root_ / file, std::ios::binary);
        out << "not a font at all";
    }
    PlatformFont* Create(const LOGFONTA& description) {
        return PlatformCreateFontFrom(&description, root_.string());
    }
    fs::path root_;
};

TEST_F(FontFolder, NoLoadableFileGivesNoFont) {
    const LOGFONTA description = Describe("Courier New", -13, FW_BOLD);
    EXPECT_EQ(Create(description), nullptr);
    Damage("liberation/LiberationMono-Bold.ttf");
    Damage("dejavu/DejaVuSans.ttf");
    EXPECT_EQ(Create(description), nullptr);
    EXPECT_EQ(PlatformCreateFontFrom(&description, "/nonexistent/fonts"), nullptr);
}

TEST_F(FontFolder, MissingFilesFallBackToTheNearestFace) {
    const LOGFONTA bold = Describe("Courier New", -13, FW_BOLD);
    Link("dejavu/DejaVuSans.ttf");
    PlatformFont* font = Create(bold);
    EXPECT_EQ(PlatformFontFile(font), "dejavu/DejaVuSans.ttf");
    PlatformDeleteFont(font);

    Link("dejavu/DejaVuSansMono-Bold.ttf");
    font = Create(bold);
    EXPECT_EQ(PlatformFontFile(font), "dejavu/DejaVuSansMono-Bold.ttf");
    PlatformDeleteFont(font);

    // With only the regular file (the bold one damaged), bold is made from
    // it: heavier strokes, one pixel more advance, as GDI emboldens.
    Damage("liberation/LiberationMono-Bold.ttf");
    Link("liberation/LiberationMono-Regular.ttf");
    PlatformFont* made = Create(bold);
    PlatformFont* regular = Create(Describe("Courier New", -13, FW_NORMAL));
    ASSERT_NE(made, nullptr);
    ASSERT_NE(regular, nullptr);
    EXPECT_EQ(PlatformFontFile(made), "liberation/LiberationMono-Regular.ttf");
    EXPECT_EQ(Measure(made, "H").cx, Measure(regular, "H").cx + 1);
    EXPECT_GT(Ink(made, "HHH"), Ink(regular, "HHH"));
    PlatformDeleteFont(made);
    PlatformDeleteFont(regular);
}

// The committed bitmap fonts, decoded as the screen framework reads them:
// glyph c as rows of bits, the leftmost pixel the most significant.
struct BitmapFont {
    int cell = 0;
    std::vector<std::vector<uint32_t>> rows;  // 256 glyphs x cell rows
    std::vector<int> offsets, advances;
};

std::string ReadData(const char* name) {
    std::ifstream in(fs::path(KV_FONT_DATA_DIR) / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

BitmapFont Decode(int cell) {
    BitmapFont font;
    font.cell = cell;
    const char* names[] = {"CHAR8X8.BIN", "CHAR12X12.FNT", "CHAR16X16.FNT"};
    const size_t sizes[] = {2048, 5120, 8704};
    const int which = cell / 4 - 2;
    const std::string bytes = ReadData(names[which]);
    EXPECT_EQ(bytes.size(), sizes[which]) << names[which];
    if (bytes.size() != sizes[which]) return font;
    auto at = [&](size_t i) { return uint32_t(uint8_t(bytes[i])); };
    for (size_t c = 0; c < 256; ++c) {
        std::vector<uint32_t> glyph;
        if (cell == 8) {
            for (size_t y = 0; y < 8; ++y) glyph.push_back(at(8 * c + y) ^ 0xFF);
        } else if (cell == 12) {
            for (size_t pair = 0; pair < 6; ++pair) {
                const size_t b = 20 * c + 3 * pair;
                glyph.push_back((at(b) << 4) | (at(b + 1) >> 4));
                glyph.push_back(((at(b + 1) & 0x0F) << 8) | at(b + 2));
            }
            font.offsets.push_back(int(at(20 * c + 18)));
            font.advances.push_back(int(at(20 * c + 19)));
        } else {
            for (size_t y = 0; y < 16; ++y) glyph.push_back((at(34 * c + 2 * y) << 8) | at(34 * c + 2 * y + 1));
            font.offsets.push_back(int(at(34 * c + 32)));
            font.advances.push_back(int(at(34 * c + 33)));
        }
        font.rows.push_back(glyph);
    }
    return font;
}

int InkOf(const std::vector<uint32_t>& glyph) {
    int ink = 0;
    for (uint32_t row : glyph) ink += std::popcount(row);
    return ink;
}

TEST(BitmapFonts, CommittedFilesHoldReadableGlyphsInTheirLayout) {
    for (int cell : {8, 12, 16}) {
        SCOPED_TRACE(cell);
        const BitmapFont font = Decode(cell);
        ASSERT_EQ(font.rows.size(), 256u);
        for (int c = 0; c < 256; ++c) {
            const bool control = c < 32 || c == 127;
            if (control || c == ' ') {
                EXPECT_EQ(InkOf(font.rows[size_t(c)]), 0) << c;
            } else if (c < 127) {
                EXPECT_GE(InkOf(font.rows[size_t(c)]), 2) << c;
            }
            if (cell != 8) {
                EXPECT_EQ(font.offsets[size_t(c)], 0) << c;
                EXPECT_EQ(font.advances[size_t(c)], cell) << c;
            }
        }
        // Orientation: "L" is a stem on the left that turns right at the
        // bottom, "_" lies in the bottom rows, "^" in the top half.
        const std::vector<uint32_t>& l = font.rows['L'];
        int top = 0, bottom = cell - 1;
        while (l[size_t(top)] == 0) ++top;
        while (l[size_t(bottom)] == 0) --bottom;
        EXPECT_GE(bottom - top, cell / 2);
        EXPECT_LT(std::popcount(l[size_t(top)]), std::popcount(l[size_t(bottom)]));
        const uint32_t rightHalf = (1u << (cell / 2)) - 1;
        EXPECT_NE(l[size_t(top)] & ~rightHalf, 0u) << "stem not on the left";
        EXPECT_EQ(l[size_t(top)] & rightHalf, 0u) << "stem not on the left";
        for (int y = 0; y < cell * 2 / 3; ++y) EXPECT_EQ(font.rows['_'][size_t(y)], 0u) << y;
        for (int y = cell / 2; y < cell; ++y) EXPECT_EQ(font.rows['^'][size_t(y)], 0u) << y;
    }
}

}  // namespace
