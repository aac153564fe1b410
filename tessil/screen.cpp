// Screen modes and their geometry, screen-unit conversion, and the surface.
#include <cstring>

#include "tessil/display_commands.h"
#include "tessil/input.h"
#include "tessil/state.h"

namespace tessil {

uint8_t screenMode = 1;
int displayWidth = 0, displayHeight = 0;
ScreenGeometry screen;
DrawingState draw;
ScreenHost screenHost;

void AttachWindow(HWND window, int displayWidthPixels, int displayHeightPixels, void (*exitProgram)())
{
    mainWindow = window;
    focusState = 1;
    screenMode = 1;
    displayWidth = displayWidthPixels;
    displayHeight = displayHeightPixels;
    screenHost.exitProgram = exitProgram;
}

int fontsLoadedForMode = -1;

namespace {

Surface surface;
Canvas canvas;

// Mode 0 asks for the largest mode the display holds with room to spare.
uint8_t ModeForDisplay()
{
    if (displayWidth > 1280 && displayHeight > 960)
        return 3;
    if (displayWidth > 960 && displayHeight > 720)
        return 2;
    return 1;
}

void SetGeometry(int width, int height, int rows)
{
    screen.width = width;
    screen.height = height;
    screen.rightEdge = width - 1;
    screen.bottomEdge = height - 1;
    screen.columns = 80;
    screen.rows = rows > 0 ? rows : 1;
    screen.cellWidth = double(width) / 80.0;
    screen.cellHeight = double(height) / double(screen.rows);
    screen.cellWidthPx = int(screen.cellWidth);
    screen.cellHeightPx = int(screen.cellHeight);
    screen.strokeX = int(4 * screen.scaleX);
    screen.strokeY = int(4 * screen.scaleY);
    if (screen.strokeX == 0)
        screen.strokeX = 4;
    if (screen.strokeY == 0)
        screen.strokeY = 4;
    screen.unitsPerPixelX = int(10000.0 / double(screen.rightEdge > 0 ? screen.rightEdge : 1) + 0.9);
    screen.unitsPerPixelY = int(10000.0 / double(screen.bottomEdge > 0 ? screen.bottomEdge : 1) + 0.9);
    screen.roundingTerm = 9000;
    screen.x0 = 0;
    screen.y0 = 0;
    screen.scaleRight = screen.rightEdge;
    screen.scaleBottom = screen.bottomEdge;
    screen.aspect = screen.screenAspect;
}

int AtLeast(int value, int minimum) { return value < minimum ? minimum : value; }

} // namespace

int SetScreenMode(int clientWidth, int clientHeight)
{
    if (screenMode == 0)
        screenMode = ModeForDisplay();
    // A client area too small to hold 80 columns of one pixel would give a
    // zero cell; the screen never gets smaller than 80 x 60.
    clientWidth = AtLeast(clientWidth, 80);
    clientHeight = AtLeast(clientHeight, 60);
    bool fillClient = screenMode == 4 || (screenMode == 1 && displayWidth == 640 && displayHeight == 480);
    if (screenMode == 4)
        screenMode = 1;

    switch (screenMode) {
    case 2:
        screen.scaleX = screen.scaleY = 1.5;
        SetGeometry(960, 720, 60);
        break;
    case 3:
        screen.scaleX = screen.scaleY = 2.0;
        SetGeometry(1280, 960, 60);
        break;
    default: {
        screenMode = 1;
        int width = fillClient ? clientWidth : 640;
        int height = fillClient ? clientHeight : 480;
        screen.scaleX = double(width) / 640.0;
        screen.scaleY = double(height) / 480.0;
        SetGeometry(width, height, height / 8);
        break;
    }
    }

    int result = 1;
    if (fontsLoadedForMode != screenMode) {
        result = LoadScreenFonts();
        fontsLoadedForMode = result ? screenMode : -1;
    }
    BuildWindowFonts();
    return result;
}

int PixelToUnitsX(int x)
{
    int64_t edge = screen.rightEdge > 0 ? screen.rightEdge : 1;
    return int((int64_t(x) * 10000 + edge - 1) / edge);
}

int PixelToUnitsY(int y)
{
    int64_t edge = screen.bottomEdge > 0 ? screen.bottomEdge : 1;
    return int((int64_t(y) * 10000 + edge - 1) / edge);
}

Surface& ScreenSurface() { return surface; }

void CreateScreenBitmap()
{
    int width = screen.width + screen.x0;
    int height = screen.height + screen.y0;
    if (surface.width != width || surface.height != height) {
        surface.Resize(width, height);
        canvas = MakeCanvas(surface);
    }
    static const uint8_t clear[] = {kCmdFillRect, 0, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10, kCmdEnd};
    DispatchDisplayCommands(clear, clear + sizeof clear, 0);
}

Canvas& DrawCanvas()
{
    if (!canvas.surface)
        canvas = MakeCanvas(surface);
    return canvas;
}

void SetDrawClip(const Clip& clip) { canvas = MakeCanvas(surface, clip); }

void ResetDrawClip() { canvas = MakeCanvas(surface); }

} // namespace tessil
