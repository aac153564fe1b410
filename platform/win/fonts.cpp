// PlatformFont on Windows: a GDI font selected into a memory context, which
// draws white text on black into a 32-bit DIB section; the pixels are then
// read back as a mask. The DIB is kept with the font and grows to the largest
// mask asked for, so drawing one character does not create GDI objects.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/win32.h"

struct PlatformFont {
    HDC dc = nullptr;
    HFONT font = nullptr;
    HGDIOBJ firstFont = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ firstBitmap = nullptr;
    uint32_t* bits = nullptr;  // top-down rows of bitmapWidth pixels
    int bitmapWidth = 0;
    int bitmapHeight = 0;
    int ascent = 0;
    int cellHeight = 0;

    ~PlatformFont() {
        if (dc) {
            if (firstBitmap) SelectObject(dc, firstBitmap);
            if (firstFont) SelectObject(dc, firstFont);
            DeleteDC(dc);
        }
        if (bitmap) DeleteObject(bitmap);
        if (font) DeleteObject(font);
    }
};

namespace {

bool SelectFont(PlatformFont& font, const LOGFONTA& description) {
    HFONT made = CreateFontIndirectA(&description);
    if (!made) return false;
    HGDIOBJ previous = SelectObject(font.dc, made);
    if (!previous || previous == HGDI_ERROR) {
        DeleteObject(made);
        return false;
    }
    if (!font.firstFont) {
        font.firstFont = previous;
    } else {
        DeleteObject(previous);
    }
    font.font = made;
    return true;
}

// Makes sure the DIB holds at least width x height pixels.
bool ReserveBitmap(PlatformFont& font, int width, int height) {
    if (font.bitmap && width <= font.bitmapWidth && height <= font.bitmapHeight) return true;
    const int newWidth = std::max(width, font.bitmapWidth);
    const int newHeight = std::max(height, font.bitmapHeight);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = newWidth;
    info.bmiHeader.biHeight = -newHeight;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP made = CreateDIBSection(font.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!made || !bits) {
        if (made) DeleteObject(made);
        return false;
    }
    HGDIOBJ previous = SelectObject(font.dc, made);
    if (!previous || previous == HGDI_ERROR) {
        DeleteObject(made);
        return false;
    }
    if (!font.firstBitmap) font.firstBitmap = previous;
    if (font.bitmap) DeleteObject(font.bitmap);
    font.bitmap = made;
    font.bits = static_cast<uint32_t*>(bits);
    font.bitmapWidth = newWidth;
    font.bitmapHeight = newHeight;
    return true;
}

}  // namespace

PlatformFont* PlatformCreateFont(const LOGFONTA* description) {
    if (!description) return nullptr;
    PlatformFont* font = new PlatformFont;
    font->dc = CreateCompatibleDC(nullptr);
    TEXTMETRICA metrics;
    bool made = font->dc && SelectFont(*font, *description) && GetTextMetricsA(font->dc, &metrics);
    // Outline fonts are antialiased by the system's font smoothing unless
    // told not to; raster fonts keep the quality asked for, which decides
    // whether they may be scaled.
    if (made && (metrics.tmPitchAndFamily & (TMPF_TRUETYPE | TMPF_VECTOR)) &&
        description->lfQuality != NONANTIALIASED_QUALITY) {
        LOGFONTA crisp = *description;
        crisp.lfQuality = NONANTIALIASED_QUALITY;
        made = SelectFont(*font, crisp) && GetTextMetricsA(font->dc, &metrics);
    }
    if (!made) {
        delete font;
        return nullptr;
    }
    font->ascent = metrics.tmAscent;
    font->cellHeight = metrics.tmHeight;
    SetBkMode(font->dc, TRANSPARENT);
    SetTextColor(font->dc, RGB(255, 255, 255));
    SetTextAlign(font->dc, TA_TOP | TA_LEFT | TA_NOUPDATECP);
    return font;
}

void PlatformDeleteFont(PlatformFont* font) {
    delete font;
}

int PlatformGetFontAscent(PlatformFont* font) {
    return font ? font->ascent : 0;
}

BOOL PlatformMeasureText(PlatformFont* font, LPCSTR text, int count, SIZE* size) {
    if (!font || !text || !size || count < 0) return FALSE;
    if (!GetTextExtentPoint32A(font->dc, text, count, size)) return FALSE;
    size->cy = font->cellHeight;
    return TRUE;
}

BOOL PlatformRenderText(PlatformFont* font, LPCSTR text, int count, BYTE* mask, int width,
                        int height) {
    return PlatformRenderTextAt(font, 0, 0, text, count, mask, width, height);
}

BOOL PlatformRenderTextAt(PlatformFont* font, int x, int y, LPCSTR text, int count, BYTE* mask,
                          int width, int height) {
    if (!font || !text || !mask || count < 0 || width <= 0 || height <= 0) return FALSE;
    if (!ReserveBitmap(*font, width, height)) return FALSE;
    GdiFlush();
    uint32_t* bits = font->bits;
    for (int row = 0; row < height; ++row)
        std::memset(bits + size_t(row) * size_t(font->bitmapWidth), 0, size_t(width) * 4);
    if (count > 0 && !TextOutA(font->dc, x, y, text, count)) return FALSE;
    GdiFlush();
    // White on black without antialiasing: a pixel is on or off.
    for (int row = 0; row < height; ++row) {
        const uint32_t* in = font->bits + size_t(row) * size_t(font->bitmapWidth);
        BYTE* out = mask + size_t(row) * size_t(width);
        for (int column = 0; column < width; ++column)
            out[column] = (in[column] & 0x0000FF00u) >= 0x8000u ? 255 : 0;
    }
    return TRUE;
}
