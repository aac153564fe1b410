// Stands in for the monitor in the installer's tests: writes its current
// folder and its arguments (each in brackets) as two lines to started.txt in
// its current folder, and ends.
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32.h"

int main(int argc, char** argv) {
    DWORD needed = GetCurrentDirectoryA(0, nullptr);
    std::vector<char> folder(needed + 1, '\0');
    GetCurrentDirectoryA(needed, folder.data());
    std::ofstream out("started.txt", std::ios::binary);
    out << folder.data() << '\n';
    for (int i = 1; i < argc; ++i) out << '[' << argv[i] << ']';
    out << '\n';
    return out ? 0 : 1;
}
