// A program for the CreateProcessA tests: appends its arguments, each in
// brackets, as one line to launched.txt in the current folder. On Windows the
// C runtime splits its command line; on Linux our CreateProcessA does, so the
// two splittings can be held against each other.
#include <fstream>

int main(int argc, char** argv) {
    std::ofstream out("launched.txt", std::ios::app | std::ios::binary);
    for (int i = 1; i < argc; ++i) out << '[' << argv[i] << ']';
    out << '\n';
    return out ? 0 : 1;
}
