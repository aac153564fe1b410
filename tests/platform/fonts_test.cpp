// Text in Windows fonts (PlatformCreateFont and friends). The claims hold for
// GDI, also under Wine with its stand-ins for the Windows faces, and for the
// FreeType layer; which file a face maps to and exact sizes are Linux-only
// facts (linux_fonts_test.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

struct FontDeleter {
    void operator()(PlatformFont* font) const { PlatformDeleteFont(font); }
};
using Font = std::unique_ptr<PlatformFont, FontDeleter>;

// As the screen framework describes its fixed font.
LOGFONTA Describe(const char* face, LONG height, LONG weight = FW_BOLD) {
    LOGFONTA description{};
    description.lfHeight = height;
    description.lfWeight = weight;
    description.lfCharSet = ANSI_CHARSET;
    description.lfOutPrecision = OUT_TT_PRECIS;
    description.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    description.lfQuality = PROOF_QUALITY;
    description.lfPitchAndFamily = FF_MODERN;
    std::snprintf(description.lfFaceName, LF_FACESIZE, "%s", face);
    return description;
}

Font Make(const LOGFONTA& description) {
    return Font(PlatformCreateFont(&description));
}

SIZE Measure(PlatformFont* font, const std::string& text) {
    SIZE size{-1, -1};
    EXPECT_TRUE(PlatformMeasureText(font, text.data(), int(text.size()), &size));
    return size;
}

// A rendered mask followed by guard bytes that must survive the render.
struct Mask {
    static constexpr size_t kGuard = 64;
    int width, height;
    std::vector<BYTE> bytes;
    Mask(int w, int h, BYTE fill = 0x5A) : width(w), height(h), bytes(size_t(w) * size_t(h) + kGuard, fill) {}

    bool At(int x, int y) const { return bytes[size_t(y) * size_t(width) + size_t(x)] != 0; }
    int Ink() const {
        int ink = 0;
        for (int i = 0; i < width * height; ++i) ink += bytes[size_t(i)] ? 1 : 0;
        return ink;
    }
    bool OnlyZeroOr255() const {
        for (int i = 0; i < width * height; ++i)
            if (bytes[size_t(i)] != 0 && bytes[size_t(i)] != 255) return false;
        return true;
    }
    bool GuardIntact(BYTE fill = 0x5A) const {
        for (size_t i = size_t(width) * size_t(height); i < bytes.size(); ++i)
            if (bytes[i] != fill) return false;
        return true;
    }
};

Mask Render(PlatformFont* font, const std::string& text, int width, int height, int x = 0,
            int y = 0) {
    Mask mask(width, height);
    EXPECT_TRUE(PlatformRenderTextAt(font, x, y, text.data(), int(text.size()), mask.bytes.data(),
                                     width, height));
    return mask;
}

class Fonts : public ::testing::Test {
protected:
    void SetUp() override {
        fixed_ = Make(Describe("Courier New", -13));
        ASSERT_TRUE(fixed_);
        cell_ = Measure(fixed_.get(), "H");
    }
    Font fixed_;
    SIZE cell_{};
};

TEST_F(Fonts, FixedFontHasOneAdvanceAndAFullCell) {
    EXPECT_GT(cell_.cx, 0);
    EXPECT_GE(cell_.cy, 13);
    for (int c = 32; c < 127; ++c) {
        EXPECT_EQ(Measure(fixed_.get(), std::string(1, char(c))).cx, cell_.cx) << "character " << c;
    }
    const int ascent = PlatformGetFontAscent(fixed_.get());
    EXPECT_GT(ascent, cell_.cy / 2);
    EXPECT_LT(ascent, cell_.cy);
}

TEST_F(Fonts, RunsMeasureAsTheSumOfTheirAdvances) {
    EXPECT_EQ(Measure(fixed_.get(), "Hello, world").cx, 12 * cell_.cx);
    SIZE size{-1, -1};
    ASSERT_TRUE(PlatformMeasureText(fixed_.get(), "Hello", 2, &size));
    EXPECT_EQ(size.cx, 2 * cell_.cx);
    ASSERT_TRUE(PlatformMeasureText(fixed_.get(), "Hello", 0, &size));
    EXPECT_EQ(size.cx, 0);

    // A proportional face: a run is still the sum of its characters.
    LOGFONTA swiss = Describe("Arial", -13, FW_NORMAL);
    swiss.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    Font sans = Make(swiss);
    ASSERT_TRUE(sans);
    const LONG i = Measure(sans.get(), "i").cx, w = Measure(sans.get(), "W").cx;
    EXPECT_LT(i, w);
    EXPECT_EQ(Measure(sans.get(), "iWiW").cx, 2 * (i + w));
}

TEST_F(Fonts, HeightsFollowTheDescription) {
    Font big = Make(Describe("Courier New", -26));
    ASSERT_TRUE(big);
    EXPECT_GT(Measure(big.get(), "H").cy, cell_.cy);
    EXPECT_GT(Measure(big.get(), "H").cx, cell_.cx);
    // A positive height is the cell height itself.
    Font byCell = Make(Describe("Courier New", 20));
    ASSERT_TRUE(byCell);
    EXPECT_EQ(Measure(byCell.get(), "H").cy, 20);
    // A wider average character width widens the characters.
    LOGFONTA wide = Describe("Courier New", -13);
    wide.lfWidth = 2 * cell_.cx;
    Font stretched = Make(wide);
    ASSERT_TRUE(stretched);
    EXPECT_GT(Measure(stretched.get(), "H").cx, cell_.cx * 3 / 2);
    EXPECT_EQ(Measure(stretched.get(), "H").cy, cell_.cy);
}

TEST_F(Fonts, RenderingDrawsMonochromeInkInsideTheMask) {
    Mask a = Render(fixed_.get(), "A", cell_.cx, cell_.cy);
    EXPECT_GT(a.Ink(), 10);
    EXPECT_TRUE(a.OnlyZeroOr255());  // the fill byte is gone: the mask is cleared first
    EXPECT_TRUE(a.GuardIntact());
    // Nothing of "A" lies below the baseline.
    for (int y = PlatformGetFontAscent(fixed_.get()); y < cell_.cy; ++y)
        for (int x = 0; x < cell_.cx; ++x) EXPECT_FALSE(a.At(x, y)) << x << "," << y;

    EXPECT_EQ(Render(fixed_.get(), "   ", 3 * cell_.cx, cell_.cy).Ink(), 0);
    EXPECT_EQ(Render(fixed_.get(), "", cell_.cx, cell_.cy).Ink(), 0);

    // A run longer than the mask, and a mask smaller than one character.
    Mask clipped = Render(fixed_.get(), "WWWWWWWWWW", cell_.cx + 3, cell_.cy - 4);
    EXPECT_GT(clipped.Ink(), 0);
    EXPECT_TRUE(clipped.GuardIntact());
    EXPECT_TRUE(Render(fixed_.get(), "W", 1, 1).GuardIntact());
}

TEST_F(Fonts, CharactersFollowEachOtherByTheirAdvance) {
    const int width = 3 * cell_.cx;
    Mask alone = Render(fixed_.get(), "H", width, cell_.cy);
    Mask after = Render(fixed_.get(), " H", width, cell_.cy);
    Mask moved = Render(fixed_.get(), "H", width, cell_.cy, cell_.cx, 0);
    ASSERT_GT(alone.Ink(), 0);
    for (int y = 0; y < cell_.cy; ++y) {
        for (int x = 0; x + cell_.cx < width; ++x) {
            EXPECT_EQ(alone.At(x, y), after.At(x + cell_.cx, y)) << x << "," << y;
            EXPECT_EQ(alone.At(x, y), moved.At(x + cell_.cx, y)) << x << "," << y;
        }
    }
    // An origin above the mask drops the top rows.
    Mask raised = Render(fixed_.get(), "H", width, cell_.cy, 0, -3);
    for (int y = 0; y + 3 < cell_.cy; ++y)
        for (int x = 0; x < width; ++x) EXPECT_EQ(alone.At(x, y + 3), raised.At(x, y));
}

TEST_F(Fonts, Windows1252LettersHaveTheirOwnShapes) {
    const Mask e = Render(fixed_.get(), "e", cell_.cx, 2 * cell_.cy, 0, cell_.cy / 2);
    const Mask eAcute = Render(fixed_.get(), "\xE9", cell_.cx, 2 * cell_.cy, 0, cell_.cy / 2);
    const Mask euro = Render(fixed_.get(), "\x80", cell_.cx, 2 * cell_.cy, 0, cell_.cy / 2);
    EXPECT_GT(eAcute.Ink(), e.Ink());
    EXPECT_GT(euro.Ink(), 0);
    EXPECT_EQ(Measure(fixed_.get(), "\xE9\x80").cx, 2 * cell_.cx);
}

TEST_F(Fonts, UnderlineAndStrikeOutCrossBlanks) {
    LOGFONTA description = Describe("Courier New", -13);
    description.lfUnderline = TRUE;
    Font underlined = Make(description);
    description.lfUnderline = FALSE;
    description.lfStrikeOut = TRUE;
    Font struck = Make(description);
    ASSERT_TRUE(underlined && struck);
    const int width = 4 * cell_.cx;
    Mask under = Render(underlined.get(), "    ", width, cell_.cy);
    Mask through = Render(struck.get(), "    ", width, cell_.cy);
    const int ascent = PlatformGetFontAscent(fixed_.get());
    // A full row under the baseline, and one through the letters.
    auto fullRowBetween = [&](const Mask& mask, int from, int to) {
        for (int y = from; y < to; ++y) {
            int x = 0;
            while (x < width && mask.At(x, y)) ++x;
            if (x == width) return true;
        }
        return false;
    };
    EXPECT_TRUE(fullRowBetween(under, ascent, cell_.cy));
    EXPECT_FALSE(fullRowBetween(under, 0, ascent));
    EXPECT_TRUE(fullRowBetween(through, 0, ascent));
    EXPECT_FALSE(fullRowBetween(through, ascent, cell_.cy));
}

TEST_F(Fonts, UnknownFacesStillGiveAFont) {
    Font stand_in = Make(Describe("No Such Face 7", -13, FW_NORMAL));
    ASSERT_TRUE(stand_in);
    SIZE size = Measure(stand_in.get(), "A");
    EXPECT_GT(size.cx, 0);
    EXPECT_GT(Render(stand_in.get(), "A", size.cx, size.cy).Ink(), 0);
}

TEST_F(Fonts, BadArgumentsAreRefusedAndTouchNothing) {
    EXPECT_EQ(PlatformCreateFont(nullptr), nullptr);
    PlatformDeleteFont(nullptr);
    EXPECT_EQ(PlatformGetFontAscent(nullptr), 0);

    SIZE size{-7, -7};
    EXPECT_FALSE(PlatformMeasureText(nullptr, "A", 1, &size));
    EXPECT_FALSE(PlatformMeasureText(fixed_.get(), nullptr, 1, &size));
    EXPECT_FALSE(PlatformMeasureText(fixed_.get(), "A", -1, &size));
    EXPECT_FALSE(PlatformMeasureText(fixed_.get(), "A", 1, nullptr));
    EXPECT_EQ(size.cx, -7);
    EXPECT_EQ(size.cy, -7);

    Mask mask(cell_.cx, cell_.cy);
    BYTE* bytes = mask.bytes.data();
    EXPECT_FALSE(PlatformRenderText(nullptr, "A", 1, bytes, mask.width, mask.height));
    EXPECT_FALSE(PlatformRenderText(fixed_.get(), nullptr, 1, bytes, mask.width, mask.height));
    EXPECT_FALSE(PlatformRenderText(fixed_.get(), "A", -1, bytes, mask.width, mask.height));
    EXPECT_FALSE(PlatformRenderText(fixed_.get(), "A", 1, nullptr, mask.width, mask.height));
    EXPECT_FALSE(PlatformRenderText(fixed_.get(), "A", 1, bytes, 0, mask.height));
    EXPECT_FALSE(PlatformRenderText(fixed_.get(), "A", 1, bytes, mask.width, 0));
    EXPECT_FALSE(PlatformRenderText(fixed_.get(), "A", 1, bytes, -4, -4));
    EXPECT_FALSE(PlatformRenderTextAt(nullptr, 0, 0, "A", 1, bytes, mask.width, mask.height));
    EXPECT_EQ(mask.Ink(), mask.width * mask.height);  // still the fill byte
}

}  // namespace
