// main() for GUI programs on Linux: calls the program's WinMain as Windows'
// start-up code does, with the raw command line and SW_SHOWNORMAL.
#include <string>

#include "platform/linux/winmain.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
    // WinMain may change its line in place, and keep pointers into it.
    static std::string line;
    line = PlatformRawCommandLine(argc, argv);
    return WinMain(GetModuleHandleA(nullptr), nullptr, line.data(), SW_SHOWNORMAL);
}
