// Running display lists, and presenting the surface after the outermost one.
#include "tessil/display_commands.h"
#include "tessil/state.h"

namespace tessil {

namespace {

int nesting = 0;

void PresentScreen()
{
    Surface& s = ScreenSurface();
    if (!screenHost.outputEnabled || !screenHost.present || s.pixels.empty())
        return;
    if (!screenHost.present(s, screen.width, screen.height) && screenHost.exitProgram)
        screenHost.exitProgram();
}

} // namespace

void ExecuteDisplayList(const uint8_t* start, const uint8_t* end, int mode)
{
    // The surface exists from the first drawing on.
    if (ScreenSurface().pixels.empty())
        CreateScreenBitmap();
    ++nesting;
    DispatchDisplayCommands(start, end, mode);
    --nesting;
    if (nesting == 0)
        PresentScreen();
}

void WaitTicksIfHosted(int ticks)
{
    if (ticks > 0 && screenHost.waitTicks)
        screenHost.waitTicks(ticks);
}

void ShowNotice(const char* text, int ticks)
{
    ShowMessageLine(text, 0, 2, 195);
    WaitTicksIfHosted(ticks);
}

} // namespace tessil
