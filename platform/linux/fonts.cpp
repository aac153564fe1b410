// PlatformFont on Linux: Windows fonts emulated with FreeType over the font
// files of Debian's fonts-liberation and fonts-dejavu-core packages.
//
// Metrics follow GDI's rules for TrueType fonts: the cell is the OS/2 table's
// usWinAscent + usWinDescent scaled to the em height, advances are the hinted
// advances rounded to whole pixels, and there is no kerning. Glyphs are
// hinted and rendered in monochrome, as GDI renders a font without
// antialiasing. A font holds its own FreeType face and a cache of its 256
// glyphs, filled as characters are first used: the screen framework draws
// text one character at a time, thousands of characters a redraw, so a
// character that has been drawn once costs a copy.
#include "platform/linux/fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Sizes beyond this are clamped: no screen of the program is taller, and a
// corrupt description must not make the glyph cache enormous.
constexpr int64_t kMaxPixels = 512;
// lfHeight 0 asks for "a reasonable default" size.
constexpr int64_t kDefaultCellHeight = 16;

// One installed family: files for regular, bold, italic, bold italic.
struct Family {
    const char* files[4];
};

enum FamilyId { kLiberationMono, kLiberationSans, kLiberationSerif, kDejaVuSans,
                kDejaVuSansMono, kDejaVuSerif, kFamilyCount };

constexpr Family kFamilies[kFamilyCount] = {
    {{"liberation/LiberationMono-Regular.ttf", "liberation/LiberationMono-Bold.ttf",
      "liberation/LiberationMono-Italic.ttf", "liberation/LiberationMono-BoldItalic.ttf"}},
    {{"liberation/LiberationSans-Regular.ttf", "liberation/LiberationSans-Bold.ttf",
      "liberation/LiberationSans-Italic.ttf", "liberation/LiberationSans-BoldItalic.ttf"}},
    {{"liberation/LiberationSerif-Regular.ttf", "liberation/LiberationSerif-Bold.ttf",
      "liberation/LiberationSerif-Italic.ttf", "liberation/LiberationSerif-BoldItalic.ttf"}},
    {{"dejavu/DejaVuSans.ttf", "dejavu/DejaVuSans-Bold.ttf", "dejavu/DejaVuSans-Oblique.ttf",
      "dejavu/DejaVuSans-BoldOblique.ttf"}},
    {{"dejavu/DejaVuSansMono.ttf", "dejavu/DejaVuSansMono-Bold.ttf",
      "dejavu/DejaVuSansMono-Oblique.ttf", "dejavu/DejaVuSansMono-BoldOblique.ttf"}},
    {{"dejavu/DejaVuSerif.ttf", "dejavu/DejaVuSerif-Bold.ttf", "dejavu/DejaVuSerif-Italic.ttf",
      "dejavu/DejaVuSerif-BoldItalic.ttf"}},
};

// The same design in the other package, tried before anything else when a
// family's files are missing.
constexpr FamilyId kTwin[kFamilyCount] = {kDejaVuSansMono, kDejaVuSans, kDejaVuSerif,
                                          kLiberationSans, kLiberationMono, kLiberationSerif};

struct FaceName {
    const char* name;
    FamilyId family;
};

// Windows faces by their metric-compatible stand-ins. "Small Fonts" is a
// small raster sans on Windows; DejaVu Sans is the clearest sans at its sizes.
constexpr FaceName kFaceNames[] = {
    {"courier new", kLiberationMono},     {"courier", kLiberationMono},
    {"liberation mono", kLiberationMono}, {"arial", kLiberationSans},
    {"helvetica", kLiberationSans},       {"liberation sans", kLiberationSans},
    {"times new roman", kLiberationSerif}, {"times", kLiberationSerif},
    {"liberation serif", kLiberationSerif}, {"small fonts", kDejaVuSans},
    {"dejavu sans", kDejaVuSans},         {"dejavu sans mono", kDejaVuSansMono},
    {"dejavu serif", kDejaVuSerif},
};

// Windows-1252 codes 0x80..0x9F. The five undefined codes map to the C1
// controls, as Windows maps them, and so find no glyph.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t UnicodeOf(unsigned char code) {
    return code >= 0x80 && code < 0xA0 ? kCp1252High[code - 0x80] : code;
}

bool SameNameIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

FamilyId ChooseFamily(const LOGFONTA& description) {
    // lfFaceName need not be terminated within its 32 bytes.
    char face[LF_FACESIZE + 1];
    std::memcpy(face, description.lfFaceName, LF_FACESIZE);
    face[LF_FACESIZE] = '\0';
    for (const FaceName& known : kFaceNames) {
        if (SameNameIgnoringCase(face, known.name)) return known.family;
    }
    // An unknown face: as GDI's mapper, go by the pitch and family asked for.
    const BYTE pitch = description.lfPitchAndFamily & 0x03;
    const BYTE family = description.lfPitchAndFamily & 0xF0;
    if (pitch == FIXED_PITCH || family == FF_MODERN) return kLiberationMono;
    if (family == FF_ROMAN) return kLiberationSerif;
    if (family == FF_SWISS) return kLiberationSans;
    return kDejaVuSans;
}

// One FreeType library for the process, made on first use and kept to the
// end. FreeType requires face creation and destruction to be serialised per
// library; everything else a font does touches only its own face.
std::mutex faceMutex;

FT_Library Library() {
    static FT_Library library = [] {
        FT_Library made = nullptr;
        return FT_Init_FreeType(&made) == 0 ? made : nullptr;
    }();
    return library;
}

// numerator / denominator rounded to the nearest, halves away from zero;
// the denominator is positive.
int64_t RoundedDiv(int64_t numerator, int64_t denominator) {
    const int64_t magnitude = (2 * std::abs(numerator) + denominator) / (2 * denominator);
    return numerator < 0 ? -magnitude : magnitude;
}

struct Glyph {
    bool loaded = false;
    int advance = 0;
    int left = 0;   // from the pen position to the first column
    int top = 0;    // from the baseline up to the first row
    int width = 0;
    int rows = 0;
    std::vector<BYTE> pixels;  // width * rows, 0 or 255
};

}  // namespace

struct PlatformFont {
    FT_Face face = nullptr;
    std::string file;
    int ascent = 0;
    int descent = 0;
    bool underline = false;
    bool strikeOut = false;
    int underlineTop = 0, underlineThickness = 1;  // rows from the top of the cell
    int strikeOutTop = 0, strikeOutThickness = 1;
    bool emboldened = false;      // bold made from a regular file
    FT_Pos emboldenStrength = 0;  // 26.6
    bool oblique = false;         // italic made from an upright file
    int missingAdvance = 0;       // what a character without a glyph advances
    std::array<Glyph, 256> glyphs;

    ~PlatformFont() {
        if (face) {
            std::lock_guard<std::mutex> lock(faceMutex);
            FT_Done_Face(face);
        }
    }
};

namespace {

FT_Face OpenFace(const std::string& path) {
    FT_Library library = Library();
    if (!library) return nullptr;
    std::lock_guard<std::mutex> lock(faceMutex);
    FT_Face face = nullptr;
    if (FT_New_Face(library, path.c_str(), 0, &face) != 0) return nullptr;
    // Only outline fonts can be sized as a description asks.
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
        FT_Done_Face(face);
        return nullptr;
    }
    return face;
}

// Loads the first file that opens, from the chosen family's style down to
// any family at all; NULL when none does.
bool OpenBestFace(PlatformFont& font, FamilyId family, int style, const std::string& root) {
    std::vector<FamilyId> order{family, kTwin[family]};
    for (int other = 0; other < kFamilyCount; ++other) {
        if (std::find(order.begin(), order.end(), other) == order.end())
            order.push_back(static_cast<FamilyId>(other));
    }
    for (FamilyId id : order) {
        for (int tried : {style, 0}) {
            const std::string file = kFamilies[id].files[tried];
            font.face = OpenFace(root + "/" + file);
            if (font.face) {
                font.file = file;
                return true;
            }
            if (style == 0) break;
        }
    }
    return false;
}

// Sizes the face and fixes the cell as GDI does for a TrueType font.
void SetSize(PlatformFont& font, const LOGFONTA& description) {
    FT_Face face = font.face;
    const int64_t units = face->units_per_EM;
    const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    int64_t winAscent = os2 ? os2->usWinAscent : face->ascender;
    int64_t winDescent = os2 ? os2->usWinDescent : -face->descender;
    if (winAscent <= 0 || winAscent + winDescent <= 0) {
        winAscent = units * 4 / 5;
        winDescent = units / 5;
    }
    winDescent = std::max<int64_t>(winDescent, 0);
    const int64_t cellUnits = winAscent + winDescent;

    int64_t height = description.lfHeight;
    if (height == 0) height = kDefaultCellHeight;
    int64_t emPixels;
    if (height > 0) {
        // The cell is exactly the height asked for.
        const int64_t cell = std::clamp<int64_t>(height, 1, kMaxPixels);
        emPixels = std::max<int64_t>(1, RoundedDiv(cell * units, cellUnits));
        font.ascent = static_cast<int>(RoundedDiv(cell * winAscent, cellUnits));
        font.descent = static_cast<int>(cell - font.ascent);
    } else {
        emPixels = std::clamp<int64_t>(-height, 1, kMaxPixels);
        font.ascent = static_cast<int>(RoundedDiv(emPixels * winAscent, units));
        font.descent = static_cast<int>(RoundedDiv(emPixels * winDescent, units));
        if (font.ascent + font.descent == 0) font.ascent = 1;
    }

    // lfWidth is the average character width, which the OS/2 table records.
    int64_t xPixels = emPixels;
    const int64_t width = std::min<int64_t>(std::abs(int64_t{description.lfWidth}), kMaxPixels);
    if (width != 0) {
        const int64_t average = os2 && os2->xAvgCharWidth > 0 ? os2->xAvgCharWidth : units / 2;
        xPixels = std::clamp<int64_t>(RoundedDiv(width * units, average), 1, kMaxPixels);
    }
    FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(xPixels), static_cast<FT_UInt>(emPixels));

    auto scaled = [&](int64_t fontUnits) {
        return static_cast<int>(RoundedDiv(fontUnits * emPixels, units));
    };
    font.underlineThickness = std::max(1, scaled(std::abs(int64_t{face->underline_thickness})));
    font.underlineTop = font.ascent - scaled(face->underline_position) -
                        font.underlineThickness / 2;
    const int64_t strikeUnits = os2 && os2->yStrikeoutSize > 0 ? os2->yStrikeoutSize : units / 20;
    const int64_t strikePosition =
        os2 && os2->yStrikeoutPosition > 0 ? os2->yStrikeoutPosition : winAscent / 3;
    font.strikeOutThickness = std::max(1, scaled(strikeUnits));
    font.strikeOutTop = font.ascent - scaled(strikePosition);
    // Windows keeps the underline inside the cell.
    font.underlineTop = std::min(font.underlineTop,
                                 font.ascent + font.descent - font.underlineThickness);

    if (font.emboldened) font.emboldenStrength = std::max<FT_Pos>(64, emPixels * 64 / 24);
}

FT_Int32 LoadFlags(const PlatformFont& font) {
    FT_Int32 flags = FT_LOAD_TARGET_MONO;
    // Made-up styles work on outlines, so embedded bitmaps are skipped.
    if (font.emboldened || font.oblique) flags |= FT_LOAD_NO_BITMAP;
    return flags;
}

int AdvanceOf(const PlatformFont& font, FT_UInt index) {
    if (FT_Load_Glyph(font.face, index, LoadFlags(font)) != 0) return 0;
    int advance = static_cast<int>((font.face->glyph->advance.x + 32) >> 6);
    if (font.emboldened) advance += 1;
    return advance;
}

// Copies a rendered FreeType bitmap into the glyph, one byte a pixel.
void TakeBitmap(Glyph& glyph, const FT_Bitmap& bitmap) {
    if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) return;
    glyph.width = static_cast<int>(bitmap.width);
    glyph.rows = static_cast<int>(bitmap.rows);
    glyph.pixels.assign(size_t(glyph.width) * size_t(glyph.rows), 0);
    // A negative pitch means the rows are stored bottom up.
    const unsigned char* top = bitmap.buffer;
    if (bitmap.pitch < 0) top -= ptrdiff_t(bitmap.pitch) * (glyph.rows - 1);
    for (int y = 0; y < glyph.rows; ++y) {
        const unsigned char* row = top + ptrdiff_t(y) * bitmap.pitch;
        BYTE* out = glyph.pixels.data() + size_t(y) * size_t(glyph.width);
        for (int x = 0; x < glyph.width; ++x) {
            const bool set = bitmap.pixel_mode == FT_PIXEL_MODE_MONO
                                 ? (row[x >> 3] & (0x80 >> (x & 7))) != 0
                                 : row[x] >= 128;
            out[x] = set ? 255 : 0;
        }
    }
}

const Glyph& GlyphOf(PlatformFont& font, unsigned char code) {
    Glyph& glyph = font.glyphs[code];
    if (glyph.loaded) return glyph;
    glyph.loaded = true;
    glyph.advance = font.missingAdvance;
    const FT_UInt index = FT_Get_Char_Index(font.face, UnicodeOf(code));
    if (index == 0 || FT_Load_Glyph(font.face, index, LoadFlags(font)) != 0) return glyph;
    FT_GlyphSlot slot = font.face->glyph;
    glyph.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
        if (font.oblique) {
            // The slant FreeType's own synthesis uses, about 12 degrees.
            FT_Matrix shear{0x10000, 0x0366A, 0, 0x10000};
            FT_Outline_Transform(&slot->outline, &shear);
        }
        if (font.emboldened) {
            FT_Outline_EmboldenXY(&slot->outline, font.emboldenStrength, 0);
            glyph.advance += 1;
        }
    }
    if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0)
        return glyph;
    glyph.left = slot->bitmap_left;
    glyph.top = slot->bitmap_top;
    TakeBitmap(glyph, slot->bitmap);
    return glyph;
}

// Underline and strike-out: rows top..top+thickness across [left, right).
void FillRows(BYTE* mask, int width, int height, int64_t left, int64_t right, int64_t top,
              int thickness) {
    left = std::max<int64_t>(left, 0);
    right = std::min<int64_t>(right, width);
    if (left >= right) return;
    for (int64_t y = std::max<int64_t>(top, 0); y < std::min<int64_t>(top + thickness, height); ++y)
        std::memset(mask + size_t(y) * size_t(width) + size_t(left), 255, size_t(right - left));
}

}  // namespace

PlatformFont* PlatformCreateFontFrom(const LOGFONTA* description, const std::string& root) {
    if (!description) return nullptr;
    const bool bold = description->lfWeight >= FW_SEMIBOLD;
    const bool italic = description->lfItalic != 0;
    auto font = std::make_unique<PlatformFont>();
    if (!OpenBestFace(*font, ChooseFamily(*description), (bold ? 1 : 0) + (italic ? 2 : 0), root))
        return nullptr;
    // A style the file lacks is made up, as GDI makes it up.
    font->emboldened = bold && !(font->face->style_flags & FT_STYLE_FLAG_BOLD);
    font->oblique = italic && !(font->face->style_flags & FT_STYLE_FLAG_ITALIC);
    font->underline = description->lfUnderline != 0;
    font->strikeOut = description->lfStrikeOut != 0;
    SetSize(*font, *description);
    // Characters without a glyph advance as the font's default glyph would.
    font->missingAdvance = AdvanceOf(*font, 0);
    if (font->missingAdvance <= 0) {
        font->missingAdvance = AdvanceOf(*font, FT_Get_Char_Index(font->face, ' '));
    }
    return font.release();
}

PlatformFont* PlatformCreateFont(const LOGFONTA* description) {
    return PlatformCreateFontFrom(description, kPlatformFontRoot);
}

void PlatformDeleteFont(PlatformFont* font) {
    delete font;
}

std::string PlatformFontFile(PlatformFont* font) {
    return font ? font->file : std::string();
}

int PlatformGetFontAscent(PlatformFont* font) {
    return font ? font->ascent : 0;
}

BOOL PlatformMeasureText(PlatformFont* font, LPCSTR text, int count, SIZE* size) {
    if (!font || !text || !size || count < 0) return FALSE;
    int64_t width = 0;
    for (int i = 0; i < count; ++i) width += GlyphOf(*font, static_cast<unsigned char>(text[i])).advance;
    size->cx = static_cast<LONG>(std::min<int64_t>(width, INT32_MAX));
    size->cy = font->ascent + font->descent;
    return TRUE;
}

BOOL PlatformRenderText(PlatformFont* font, LPCSTR text, int count, BYTE* mask, int width,
                        int height) {
    return PlatformRenderTextAt(font, 0, 0, text, count, mask, width, height);
}

BOOL PlatformRenderTextAt(PlatformFont* font, int x, int y, LPCSTR text, int count, BYTE* mask,
                          int width, int height) {
    if (!font || !text || !mask || count < 0 || width <= 0 || height <= 0) return FALSE;
    std::memset(mask, 0, size_t(width) * size_t(height));
    const int64_t baseline = int64_t{y} + font->ascent;
    // Past the right edge by a cell height, no glyph can reach back in.
    const int64_t lastPen = int64_t{width} + font->ascent + font->descent;
    int64_t pen = x;
    for (int i = 0; i < count && pen < lastPen; ++i) {
        const Glyph& glyph = GlyphOf(*font, static_cast<unsigned char>(text[i]));
        const int64_t x0 = pen + glyph.left;
        const int64_t y0 = baseline - glyph.top;
        // Only the part of the glyph inside the mask is copied.
        const int64_t fromX = std::max<int64_t>(0, -x0);
        const int64_t toX = std::min<int64_t>(glyph.width, width - x0);
        const int64_t fromY = std::max<int64_t>(0, -y0);
        const int64_t toY = std::min<int64_t>(glyph.rows, height - y0);
        for (int64_t row = fromY; row < toY && fromX < toX; ++row) {
            const BYTE* in = glyph.pixels.data() + size_t(row) * size_t(glyph.width);
            BYTE* out = mask + size_t(y0 + row) * size_t(width);
            for (int64_t column = fromX; column < toX; ++column) out[x0 + column] |= in[column];
        }
        pen += glyph.advance;
    }
    if (font->underline || font->strikeOut) {
        SIZE extent;
        PlatformMeasureText(font, text, count, &extent);
        const int64_t left = x, right = int64_t{x} + extent.cx;
        if (font->underline)
            FillRows(mask, width, height, left, right, int64_t{y} + font->underlineTop,
                     font->underlineThickness);
        if (font->strikeOut)
            FillRows(mask, width, height, left, right, int64_t{y} + font->strikeOutTop,
                     font->strikeOutThickness);
    }
    return TRUE;
}
