// The screen framework: what the rest of the program may call.
//
// The emulated screen is 80 columns by 60 rows, drawn into one pixel surface
// by display lists (byte-coded display commands, see display_commands.h).
// Positions in display lists are screen units: 0..10000 across the width and
// down the height, high byte first. Text fields live in the current screen's
// field table; the program changes them in memory and draws every changed one
// with RefreshFields.
//
// Everything here runs on the UI thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"
#include "tessil/surface.h"

namespace tessil {

// ---- Screen, palette and fonts -------------------------------------------

// 0 = not chosen yet, 1 = 640 x 480, 2 = 960 x 720, 3 = 1280 x 960, 4 = the
// window's client size (a one-time request that becomes 1).
extern uint8_t screenMode;
// The display the window lives on, used when the mode is 0 and for the
// 640 x 480 display rule. Start-up sets it; 0 x 0 means "not known".
extern int displayWidth, displayHeight;

// Sets every geometry value for screenMode and the window's client size,
// loads palette and fonts when the mode differs from the one they were last
// loaded for, and rebuilds the Windows fonts. Returns 1, or 0 when the
// screen library's font record is missing (the notice has then been shown
// and the host asked to end the program).
int SetScreenMode(int clientWidth, int clientHeight);

// Creates the surface when it is missing or the geometry outgrew it, then
// clears the whole screen to colour 0.
void CreateScreenBitmap();

// The surface every display command draws into.
Surface& ScreenSurface();

// The user's text font record ("\kestrovane\winfont.ini", 60 bytes) and the
// framework's working copy that display command 128 restores from it.
//   byte 0     point size in tenths; 0 = no Windows font: text fields are
//              drawn with the bitmap font of the screen mode
//   byte 1     weight in hundreds (4 normal, 7 bold; 0 = bold)
//   byte 2     1 = italic
//   byte 3     pitch and family, as in a Windows font description
//   bytes 4-35 face name, NUL-terminated
//   bytes 36-59 reserved, zero
struct FontRecord {
    uint8_t pointSizeTenths;
    uint8_t weightHundreds;
    uint8_t italic;
    uint8_t pitchAndFamily;
    char faceName[32];
    uint8_t reserved[24];
};
static_assert(sizeof(FontRecord) == 60);
static_assert(offsetof(FontRecord, faceName) == 4);
extern FontRecord fontSettings;

// Allocates the framework's dynamic block (screens, fields, command buffer).
// Returns false when it cannot be had. Called once at start-up.
bool CreateDynamicBuffers();

// ---- Settings -------------------------------------------------------------

// What the program's settings files tell the framework. The values come from
// files the user edits: ApplySettings bounds them.
struct Settings {
    // The screen's physical proportions, any unit; they set the aspect of
    // ellipses. Values outside (0, 100) count as 1.
    double screenAcross = 1, screenDown = 1;
    // The screen library (see SetScreenLibraryPath); its folder part, from the
    // first backslash to the last, becomes the framework's current folder.
    const char* libraryPath = "";
};

// Takes the settings read at start-up. Call after CreateDynamicBuffers.
void ApplySettings(const Settings& settings);

// Takes the user's font record: sets fontSettings and the working copy that
// display command 128 restores from it.
void SetFontRecord(const FontRecord& record);

// Puts the framework in its start state: opaque text, default character
// sizes and text grid, no line editing, the function-key bar enabled.
void ResetState();
// Releases the dynamic block and the framework's drawing resources.
void ReleaseScreenResources();

// The screen library file: its record 21 carries the 8 x 8 font, and
// CHAR12X12.FNT and CHAR16X16.FNT lie in its folder.
void SetScreenLibraryPath(const char* path);

// ---- Display lists ---------------------------------------------------------

// Runs the display commands in [start, end) into the surface and, when this is
// the outermost call, presents the surface through the host. mode 0 runs every
// command; any other mode only a leading text command (151).
void ExecuteDisplayList(const uint8_t* start, const uint8_t* end, int mode);

// ---- Text fields and status lines -----------------------------------------

// Index of the ordinal-th (from 1) field whose kind byte is `kind`; 65535
// when there are fewer.
uint16_t FindField(uint8_t kind, uint16_t ordinal);
// Puts text (up to its NUL, which is kept, or width + 100 characters) into a
// text field and pads the rest with fill; marks the field changed. Result:
// width + 100, or 0 for an index that names no text field (negative, beyond
// the table, or another kind). A zero fill switches later text to a
// transparent background, any other fill to opaque. Nothing is drawn.
uint16_t SetFieldText(int16_t field, const char* text, char fill);
// Formats *value into a text field through a printf format with one numeric
// conversion; the format decides the value's type: "%ld" int32_t, "%d"
// int16_t, "lx"/"lX" int32_t, "x"/"X" int16_t, "f"/"g"/"e" float. Blanks
// become fill; result: the width, or 0 (no text field, or a format that is
// not one numeric conversion).
uint16_t SetFieldValue(int16_t field, const char* format, const void* value, char fill);
// Draws a text field's characters (all but blanks and NULs) as '*' until the
// next screen loads, while its text, edited and read as before, stays as
// typed: for passwords. Marks it changed. Result 1, or 0 when the index names
// no text field.
int MaskField(int16_t field);
// Sets a field's colour byte (a colour below 128 also marks it changed).
// Result 1, or 0 when the index names no field.
int SetFieldColour(int16_t field, uint8_t colour);
// Draws every changed text field in as few display lists as fit the command
// buffer, then asks the host for a repaint.
void RefreshFields();
// Draws one line of text (carets are left out) on a band from `column` to the
// right edge; attribute bits 0-3 are the text colour, bits 4-7 the band's.
void ShowMessageLine(const char* text, int column, int row, uint8_t attribute);

// The shared line buffer: the characters ShowMessageLine last placed, each at
// its column (read by the function-key bar).
char* LineBuffer();

// ---- The host ------------------------------------------------------------------

// The framework presents into the main window (input.h's mainWindow) and
// waits with it live. Tests and tools that have no window may take these
// over; any hook left empty does the framework's own thing, and without a
// window nothing is presented and waits return at once. exitProgram is set
// by the program: the shutdown clean-up lives above the framework.
struct ScreenHost {
    // Copies width x height pixels of the surface to the window. Returns
    // false when the window's drawing context could not be released.
    bool (*present)(const Surface& surface, int width, int height) = nullptr;
    // Asks for a repaint from the surface after `milliseconds`.
    void (*scheduleRepaint)(int milliseconds) = nullptr;
    // Waits n one-second ticks with the window live.
    void (*waitTicks)(int n) = nullptr;
    // Pauses for `milliseconds` with the window live.
    void (*pause)(int milliseconds) = nullptr;
    // Stands in for the window's message queue when waiting for one event:
    // records one input as the window procedure would (tests script the
    // user this way).
    void (*nextEvent)() = nullptr;
    // Ends the program through the shutdown clean-up; does not return.
    void (*exitProgram)() = nullptr;
    // False while screen output is switched off.
    bool outputEnabled = true;
};
extern ScreenHost screenHost;

// Gives the framework the program's main window (before it is first shown),
// the size of the display it lives on, and the program's end (the shutdown
// clean-up, which lives above the framework). Screen mode 1, focus "at start".
void AttachWindow(HWND window, int displayWidthPixels, int displayHeightPixels, void (*exitProgram)());

// Copies the surface to the window now (unless output is off or the window
// is minimised). Returns false when the window's context was not released.
bool PresentSurface();

} // namespace tessil
