// The framework's internal state: screen geometry, drawing state, fonts and
// the dynamic block. Only tessil/ includes this; the program uses tessil.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"
#include "tessil/raster.h"
#include "tessil/screen_program.h"
#include "tessil/surface.h"
#include "tessil/tessil.h"

struct PlatformFont;

namespace tessil {

// ---- Geometry (set together by SetScreenMode) ------------------------------

struct ScreenGeometry {
    int width = 640, height = 480;     // pixels
    int rightEdge = 639, bottomEdge = 479;
    int columns = 80, rows = 60;
    double cellWidth = 8, cellHeight = 8; // character cell, pixels
    int cellWidthPx = 8, cellHeightPx = 8;
    double scaleX = 1, scaleY = 1;
    int strokeX = 4, strokeY = 4;      // stroke unit
    int unitsPerPixelX = 16, unitsPerPixelY = 21;
    int roundingTerm = 9000;

    // The frame conversions work in: the screen, or a viewport/picture.
    int x0 = 0, y0 = 0;                // origin offsets, pixels
    int scaleRight = 639, scaleBottom = 479; // edges that units multiply by
    int aspect = 1024;                 // ellipse height per width, 1024 = 1
    int screenAspect = 1024;           // the full screen's aspect factor
};
extern ScreenGeometry screen;

// Screen units to pixels for drawing commands (with the rounding term) and for
// hit testing and the text command (without).
inline int UnitsToX(int u) { return int((int64_t(u) * screen.scaleRight + screen.roundingTerm) / 10000) + screen.x0; }
inline int UnitsToY(int v) { return int((int64_t(v) * screen.scaleBottom + screen.roundingTerm) / 10000) + screen.y0; }
inline int UnitsToXExact(int u) { return int(int64_t(u) * screen.scaleRight / 10000) + screen.x0; }
inline int UnitsToYExact(int v) { return int(int64_t(v) * screen.scaleBottom / 10000) + screen.y0; }
// A length in x (no origin), as frames convert their thickness.
inline int UnitsToWidth(int u) { return int((int64_t(u) * screen.scaleRight + screen.roundingTerm) / 10000); }
// Pixels (full screen) to the smallest screen unit that converts back to
// them without the rounding term.
int PixelToUnitsX(int x);
int PixelToUnitsY(int y);

// A 16-bit value stored high byte first, as every position in a display list.
inline int Word16(const uint8_t* p) { return (int(p[0]) << 8) | int(p[1]); }

// ---- Drawing state ---------------------------------------------------------

struct DrawingState {
    uint8_t colour = 0;     // lines and text
    uint8_t fillColour = 0; // rectangles and fills
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0; // current rectangle / points, pixels
    uint8_t forcedMode = 0; // 24 = exclusive-or
    uint8_t textBackground = 0; // 0 opaque, 1 transparent (commands 180, 181)
    int colourParameter = -16;  // command 160: b[1] - 16; the opaque
                                // background of text fields when 0..255
    uint8_t charSize[2] = {0, 0}; // command 178: font code, row-height code
    int textGridColumns = 0, textGridRows = 0; // command 179; 0 = default
    int pictureDepth = 0;   // > 0 while a picture draws into a rectangle
    bool functionBarDisabled = false;
};
extern DrawingState draw;

constexpr uint8_t kForcedXor = 24;
inline RasterOp CurrentOp() { return draw.forcedMode == kForcedXor ? RasterOp::Xor : RasterOp::Copy; }

// The canvas drawing commands paint on: the surface, clipped to the current
// picture's viewport while one is drawn.
Canvas& DrawCanvas();
void SetDrawClip(const Clip& clip);
void ResetDrawClip();

// ---- Colours ----------------------------------------------------------------

extern COLORREF colourTable[256];
inline Pixel ColourPixel(int index) { return PixelFromColorref(colourTable[index & 255]); }

// ---- Fonts -------------------------------------------------------------------

// The bitmap fonts, as loaded (the 8 x 8 font already un-inverted).
extern uint8_t font8x8[kFont8x8Size];
extern uint8_t font12x12[5120];
extern uint8_t font16x16[8704];

// Windows fonts built by SetScreenMode, and the user's text font (made on
// first use from the working copy of the font record).
extern PlatformFont* titleFont;
extern PlatformFont* fixedFontA;
extern PlatformFont* fixedFontB;
extern FontRecord fontWorking;
PlatformFont* UserTextFont(); // NULL when no Windows font is selected
void RestoreUserTextFont();   // commands 128 and 129
void DropUserTextFont();      // command 179
void BuildWindowFonts();     // title font, fixed fonts A and B for the mode
void DeleteScreenFonts();
int LoadScreenFonts();        // 1, or 0 when the font record is missing
extern int fontsLoadedForMode; // -1 when palette and fonts are to be loaded again

// ---- The dynamic block --------------------------------------------------------

constexpr int kMaxFields = 1000;

// One zero-filled allocation that screens and fields live in (the areas the
// framework uses; screen programs add theirs).
struct DynamicBlock {
    uint8_t fieldArea[12800]; // field records; its last 3200 bytes take a picture's record
    uint8_t screenRecord[kRecordSize]; // the screen program being run
    uint8_t commandBuffer[kCommandBufferSize]; // display lists built by the framework
    char currentFolder[64];
    char screenLibraryPath[80];
    char screenFilePath[80]; // the screen file in use
    char lineBuffer[80];
};
static_assert(offsetof(DynamicBlock, screenRecord) == 12800);

extern DynamicBlock* dyn;
// The field table of the current screen: pointers into dyn->fieldArea.
extern uint8_t* fieldTable[kMaxFields];
extern uint16_t fieldCount;
// Fields of the current screen whose characters are drawn as '*' (MaskField);
// cleared when a screen starts.
extern bool fieldMasked[kMaxFields];
// Scroll offset of the field being edited (0 when no entry is active).
extern uint16_t scrollOffset;


// Where a picture's screen record is read: the last 3200 bytes of the field area.
inline uint8_t* PictureRecordArea() { return dyn->fieldArea + sizeof(dyn->fieldArea) - kRecordSize; }

// ---- Screen files -------------------------------------------------------------

// Reads record `number` (from 1) of a screen file into a 3200-byte buffer. A
// short last record is padded with 255 (end of list). Returns the bytes read,
// or 0 when the file or record is missing. The last file named stays open.
int ReadScreenRecord(const char* path, int number, uint8_t* buffer);
void CloseScreenFiles();

// ---- Helpers used across the drawing files --------------------------------------

// Shows a framework notice on text row 2 and waits `ticks` seconds.
void ShowNotice(const char* text, int ticks);

// The window timer that repaints the window from the surface.
constexpr UINT_PTR kRepaintTimer = 4;
void ScheduleRepaint(int milliseconds);
// Set while the choice wait edits a field: refreshes then leave the repaint
// timer alone.
extern bool timedChoiceWait;

} // namespace tessil
