// The few services the program needs that Win32 does not name, declared once
// for both systems. Each has a Windows and a Linux implementation in platform/.
#pragma once

// Creates (or opens) a file whose contents must stay private to the user,
// such as the site list, which holds passwords. On Linux a new file gets mode
// 0600 and an existing one is narrowed to it; on Windows it is CreateFileA
// with the default security of the folder. Arguments and result are those of
// CreateFileA with share mode 0 and no template.
HANDLE PlatformCreatePrivateFile(LPCSTR path, DWORD access, DWORD disposition);

// Makes an existing native folder the root of the current drive, for every
// later path that begins with "\" or a drive letter. On Linux this overrides
// KESTROVANE_DRIVE (tests use it to work in a fresh folder); NULL goes back to
// KESTROVANE_DRIVE / $HOME. Fails with ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND for a missing folder and ERROR_DIRECTORY for a file,
// keeping the earlier root. On Windows the drive root cannot be moved and the
// call returns FALSE with ERROR_NOT_SUPPORTED.
BOOL PlatformSetDriveRoot(LPCSTR nativeFolder);

// Text in a Windows font, rasterised into the program's own surfaces (the
// screen framework never draws with GDI objects). Characters are
// Windows-1252 codes. A font belongs to the thread that uses it; create and
// use fonts on the UI thread.
typedef struct PlatformFont PlatformFont;

// Makes a font from a description as CreateFontIndirectA would: the face
// name (without regard to case), weight, italic, underline, strike-out, and
// the height (< 0: em height in pixels; > 0: cell height; 0: a default) and
// average width (0: natural). Escapement and orientation are ignored. A face
// that is not installed is replaced by the nearest one, so this returns NULL
// only for a NULL description or when no font at all can be loaded. Linux:
// see platform/linux/MANIFEST.md for the faces used.
PlatformFont* PlatformCreateFont(const LOGFONTA* description);

// Releases a font; NULL is ignored.
void PlatformDeleteFont(PlatformFont* font);

// The font's ascent in pixels: the baseline's distance from the top of the
// cell. 0 for NULL.
int PlatformGetFontAscent(PlatformFont* font);

// As GetTextExtentPoint32A: cx = the sum of the advances of the first count
// characters, cy = the cell height (ascent + descent). FALSE for a NULL font,
// text or size, or a negative count.
BOOL PlatformMeasureText(PlatformFont* font, LPCSTR text, int count, SIZE* size);

// Renders the first count characters as TextOutA would at (0, 0) with top
// alignment (baseline at the ascent), without antialiasing: clears the
// width x height mask (one byte a pixel, rows top first), then writes 255 for
// every foreground pixel; pixels outside the mask are dropped. FALSE (mask
// untouched) for a NULL font, text or mask, a negative count or a mask
// without pixels.
BOOL PlatformRenderText(PlatformFont* font, LPCSTR text, int count, BYTE* mask, int width,
                        int height);

// PlatformRenderText with the top left of the run at (x, y) of the mask, as
// TextOutA at (x, y): what a glyph draws above its cell (accents of capitals,
// in some faces) can be caught with y > 0.
BOOL PlatformRenderTextAt(PlatformFont* font, int x, int y, LPCSTR text, int count, BYTE* mask,
                          int width, int height);
