// Drives and watches a window from outside, as a user and a camera would: on
// Linux with xdotool (XTest) and ImageMagick's import on the X display, on
// Windows (and under Wine) with SendInput and the screen's device context.
// Coordinates are screen pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32.h"

bool ProbeMove(int x, int y);
// Moves there, then presses and releases button 1 (left) or 3 (right).
bool ProbeClick(int x, int y, int button);
bool ProbeKeyDown(BYTE virtualKey);
bool ProbeKeyUp(BYTE virtualKey);
bool ProbeTap(BYTE virtualKey);
// The screen's pixels in a rectangle, as 0x00RRGGBB, rows top first.
bool ProbeGrab(int x, int y, int width, int height, std::vector<uint32_t>& pixels);
