// The screen compiler: screen sources (data/screens/*.scr) to screen files of
// 3200-byte records of display commands, the readable listing of a screen
// file, and the 60-byte font record of "winfont.ini".
//
// The source language is described at the top of screen_compiler.cpp and in
// data/screens/README.md. Everything here is pure computation on bytes except
// that CompileScreenSource reads the files that `font8x8` statements name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tessil/display_commands.h"
#include "tessil/screen_program.h"

namespace screenc {

// The screen file's facts are the framework's.
using tessil::kFont8x8Offset;
using tessil::kFont8x8Size;
using tessil::kFontRecord;
using tessil::kRecordSize;

constexpr int kMaxRecord = 255;      // chains and pictures name records by one byte

// One error, named by file and line ("kestrvane.scr:12: ...").
struct Diagnostic {
    std::string file;
    int line = 0;
    std::string message;
    std::string Format() const;
};

struct CompileResult {
    std::vector<uint8_t> bytes; // the whole screen file; empty when there are errors
    std::vector<Diagnostic> errors;
    bool ok() const { return errors.empty(); }
};

// Compiles a screen source. `path` names the source in diagnostics, and files
// named by the source (the 8 x 8 font) are found relative to its folder.
// Every error of the source is reported, not only the first.
CompileResult CompileScreenSource(const std::string& source, const std::string& path);

// Lists every record of a screen file as source statements, one command a
// line, with the pixel positions at 640 x 480 as comments. A listing of a file
// whose records hold nothing after their lists compiles back to the same
// bytes; bytes after a list (the 8 x 8 font) are described, not listed.
std::string DumpScreenFile(const std::vector<uint8_t>& bytes);

// The 60-byte font record of "winfont.ini": point size in tenths (0 = no
// Windows font), weight in hundreds, italic flag, pitch and family, face name
// (at most 31 characters). Returns an empty vector and sets *error when a
// value does not fit its byte.
std::vector<uint8_t> MakeFontRecord(int pointSizeTenths, int weightHundreds, int italic, int pitchAndFamily,
                                    const std::string& face, std::string* error);

// The name of colours 0..15 ("black" .. "olive"); nullptr for the others.
const char* ColourName(int colour);

// Unit conversion at 640 x 480, as the framework converts: with the rounding
// term (drawing commands) or without it (the text command 151, hit tests).
int UnitsToPixelX(int u, bool rounding);
int UnitsToPixelY(int v, bool rounding);
// The screen unit for a pixel of 640 x 480 that converts back to exactly that
// pixel, chosen nearest to the pixel's share of the screen (x / 640, y / 480)
// so that larger screens keep the proportions. Pixel 640 (480) is the far
// edge, unit 10000.
int PixelToUnitsX(int x, bool rounding);
int PixelToUnitsY(int y, bool rounding);

} // namespace screenc
