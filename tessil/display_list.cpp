// Running display lists, and presenting the surface after the outermost one.
#include "tessil/display_commands.h"
#include "tessil/input.h"
#include "tessil/screen_program.h"
#include "tessil/state.h"

namespace tessil {

namespace {

int nesting = 0;

} // namespace

bool PresentSurface()
{
    const Surface& s = ScreenSurface();
    if (!screenHost.outputEnabled || s.pixels.empty())
        return true;
    if (screenHost.present)
        return screenHost.present(s, screen.width, screen.height);
    if (!mainWindow || IsIconic(mainWindow))
        return true;
    return PlatformPresentPixels(mainWindow, s.pixels.data(), screen.width, screen.height, s.width) != FALSE;
}

void ExecuteDisplayList(const uint8_t* start, const uint8_t* end, int mode)
{
    // The surface exists from the first drawing on.
    if (ScreenSurface().pixels.empty())
        CreateScreenBitmap();
    ++nesting;
    DispatchDisplayCommands(start, end, mode);
    --nesting;
    if (nesting == 0) {
        if (!PresentSurface() && screenHost.exitProgram)
            screenHost.exitProgram();
        RunPendingRerun();
    }
}

void ScheduleRepaint(int milliseconds)
{
    if (screenHost.scheduleRepaint)
        screenHost.scheduleRepaint(milliseconds);
    else if (mainWindow)
        SetTimer(mainWindow, kRepaintTimer, UINT(milliseconds), nullptr);
}

void ShowNotice(const char* text, int ticks)
{
    ShowMessageLine(text, 0, 2, 195);
    if (ticks > 0)
        WaitTicks(ticks);
}

} // namespace tessil
