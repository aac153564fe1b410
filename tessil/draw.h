// The drawing routines display commands end in. Each takes the command's
// bytes (already checked to lie whole inside its list) and paints into the
// surface through the current canvas, in the current raster mode.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessil {

// Lines and curves.
void DrawLine(); // (x1, y1)-(x2, y2) in the current colour, both ends painted
void DrawSegment(const uint8_t* points, bool trim);
void DrawPolyline(const uint8_t* command, bool dashed);
void DrawCurve(const uint8_t* command);

// Areas.
void FillCurrentRect(); // (x1, y1)-(x2, y2), edges included, fill colour
void FillArea(const uint8_t* command);
void DrawPolygonCommand(const uint8_t* command);
void DrawImageCommand(const uint8_t* command, size_t length);

// Frames and boxes.
void DrawFrame(const uint8_t* command);
void DrawShadowFrame(const uint8_t* command);
void DrawRoundBox(const uint8_t* command);
void DrawEllipse(const uint8_t* command);

// Text.
void DrawTextCommand(const uint8_t* command);
void DrawTextField(const uint8_t* command);
// Text in fixed font B with its top-left corner at pixel (x, y), on an opaque
// background of colour `background`.
void DrawTextAt(int x, int y, const char* text, int count, uint8_t colour, uint8_t background);

// Pictures and viewports.
void DrawPicture(const uint8_t* command);
void BeginViewport(const uint8_t* rectangle);
void EndViewport();

} // namespace tessil
