// The raw command line WinMain receives, made from argv on Linux.
#pragma once

#include <string>

// Windows hands a GUI program the text after its name as it was typed. The
// shell has already split it here, so it is put back together: one blank
// between words, and a word that holds a blank or a tab, or is empty, in
// double quotes. Nothing is escaped: the program splits its line itself and
// takes the text between quotes as it stands.
inline std::string PlatformRawCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; i++) {
        if (i > 1) line += ' ';
        std::string word = argv[i];
        bool quote = word.empty() || word.find_first_of(" \t") != std::string::npos;
        if (quote) line += '"';
        line += word;
        if (quote) line += '"';
    }
    return line;
}
