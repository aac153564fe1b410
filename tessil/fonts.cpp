// The bitmap character fonts and the Windows fonts.
//
// Bitmap fonts: 256 glyphs indexed by character code; a set bit is a
// foreground pixel, the leftmost pixel the most significant bit.
//   8 x 8    bytes 1152..3199 of record 21 of the screen library file;
//            8 bytes a glyph (one a row, top first), stored inverted
//   12 x 12  "CHAR12X12.FNT", 5120 bytes, 20 bytes a glyph: 18 bytes of
//            image (two 12-bit rows in every three bytes), byte 18 vertical
//            offset, byte 19 advance width
//   16 x 16  "CHAR16X16.FNT", 8704 bytes, 34 bytes a glyph: 16 rows of two
//            bytes, byte 32 vertical offset, byte 33 advance width
#include <cstdio>
#include <cstring>

#include "records/record_file.h"
#include "tessil/palette.h"
#include "tessil/state.h"

namespace tessil {

FontRecord fontSettings;
FontRecord fontWorking;
uint8_t font8x8[kFont8x8Size];
uint8_t font12x12[5120];
uint8_t font16x16[8704];
PlatformFont* titleFont = nullptr;
PlatformFont* fixedFontA = nullptr;
PlatformFont* fixedFontB = nullptr;

namespace {

PlatformFont* userFont = nullptr;
bool userFontMade = false;

// A file that lies in the screen library's folder.
void BesideLibrary(const char* name, char* out, size_t size)
{
    const char* library = dyn ? dyn->screenLibraryPath : "";
    const char* slash = std::strrchr(library, '\\');
    const char* forward = std::strrchr(library, '/');
    if (!slash || (forward && forward > slash))
        slash = forward;
    size_t folder = slash ? size_t(slash - library) + 1 : 0;
    std::snprintf(out, size, "%.*s%s", int(folder), library, name);
}

// Reads a font file whole; a missing or short file leaves its glyphs blank.
void ReadFontFile(const char* name, uint8_t* font, int32_t size)
{
    char path[MAX_PATH];
    BesideLibrary(name, path, sizeof path);
    if (ReadRecord(path, font, 1, size) != size)
        std::memset(font, 0, size_t(size));
}

void ReplaceFont(PlatformFont*& font, PlatformFont* made)
{
    PlatformDeleteFont(font);
    font = made;
}

LOGFONTA BaseDescription()
{
    LOGFONTA lf;
    std::memset(&lf, 0, sizeof lf);
    lf.lfWeight = FW_BOLD;
    lf.lfCharSet = ANSI_CHARSET;
    lf.lfOutPrecision = OUT_RASTER_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = PROOF_QUALITY;
    lf.lfPitchAndFamily = 0x30;
    return lf;
}

void SetFace(LOGFONTA& lf, std::string_view face)
{
    size_t n = face.size() < sizeof lf.lfFaceName - 1 ? face.size() : sizeof lf.lfFaceName - 1;
    std::memcpy(lf.lfFaceName, face.data(), n);
    lf.lfFaceName[n] = 0;
}

} // namespace

int LoadScreenFonts()
{
    LoadPalette();
    uint8_t record[kRecordSize];
    const char* library = dyn ? dyn->screenLibraryPath : "";
    if (ReadRecord(library, record, kFontRecord, kRecordSize) != kRecordSize) {
        char text[160];
        std::snprintf(text, sizeof text, "File %s, not found", library);
        ShowNotice(text, 2);
        if (screenHost.exitProgram)
            screenHost.exitProgram();
        return 0;
    }
    for (int i = 0; i < kFont8x8Size; ++i)
        font8x8[i] = uint8_t(record[kFont8x8Offset + i] ^ 255);
    ReadFontFile("CHAR12X12.FNT", font12x12, sizeof font12x12);
    ReadFontFile("CHAR16X16.FNT", font16x16, sizeof font16x16);
    return 1;
}

void BuildWindowFonts()
{
    LOGFONTA lf = BaseDescription();
    SetFace(lf, "Small Fonts");
    lf.lfHeight = LONG(-10 * screen.scaleY);
    ReplaceFont(titleFont, PlatformCreateFont(&lf));

    SetFace(lf, "Courier New");
    lf.lfHeight = LONG(-13 * screen.scaleY);
    lf.lfOutPrecision = OUT_TT_PRECIS;
    ReplaceFont(fixedFontA, PlatformCreateFont(&lf));

    lf.lfOutPrecision = OUT_RASTER_PRECIS;
    ReplaceFont(fixedFontB, PlatformCreateFont(&lf));
    DropUserTextFont();
}

// The user's font is sized by the text grid when one is set, else by its
// point size at 96 pixels an inch, scaled with the screen.
PlatformFont* UserTextFont()
{
    if (fontWorking.pointSizeTenths == 0)
        return nullptr;
    if (userFontMade)
        return userFont;
    LOGFONTA lf = BaseDescription();
    std::string_view face = FieldText(fontWorking.faceName);
    SetFace(lf, face.empty() ? "Courier New" : face);
    if (draw.textGridRows > 0)
        lf.lfHeight = -LONG(screen.height / draw.textGridRows);
    else
        lf.lfHeight = -LONG(fontWorking.pointSizeTenths * 96 * screen.scaleY / 720.0 + 0.5);
    if (lf.lfHeight == 0)
        lf.lfHeight = -1;
    lf.lfWeight = fontWorking.weightHundreds ? LONG(fontWorking.weightHundreds) * 100 : FW_BOLD;
    lf.lfItalic = fontWorking.italic ? 1 : 0;
    if (fontWorking.pitchAndFamily)
        lf.lfPitchAndFamily = fontWorking.pitchAndFamily;
    userFont = PlatformCreateFont(&lf);
    userFontMade = true;
    return userFont;
}

void RestoreUserTextFont()
{
    if (std::memcmp(&fontWorking, &fontSettings, sizeof fontWorking) != 0) {
        fontWorking = fontSettings;
        DropUserTextFont();
    }
}

void DropUserTextFont()
{
    PlatformDeleteFont(userFont);
    userFont = nullptr;
    userFontMade = false;
}

void DeleteScreenFonts()
{
    DropUserTextFont();
    ReplaceFont(titleFont, nullptr);
    ReplaceFont(fixedFontA, nullptr);
    ReplaceFont(fixedFontB, nullptr);
}

} // namespace tessil
