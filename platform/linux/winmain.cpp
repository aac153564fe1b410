// main() for GUI programs on Linux: calls the program's WinMain as Windows'
// start-up code does, with the raw command line and SW_SHOWNORMAL.
#include <cstdio>
#include <string>

#include "platform/linux/user32_internal.h"
#include "platform/linux/winmain.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
    // Without a display no window can be made, and a program that goes on
    // without one runs busy and never ends: end at once, with the reason.
    if (!user32::EnsureDisplay()) {
        std::fprintf(stderr, "%s: cannot open the X display (is DISPLAY set?)\n", argc > 0 ? argv[0] : "program");
        return 1;
    }
    // WinMain may change its line in place, and keep pointers into it.
    static std::string line;
    line = PlatformRawCommandLine(argc, argv);
    return WinMain(GetModuleHandleA(nullptr), nullptr, line.data(), SW_SHOWNORMAL);
}
