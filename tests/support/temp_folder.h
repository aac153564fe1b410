// A fresh folder for one test, made the current directory and, on Linux, the
// root of the current drive, so that both relative names and "\kestrovane\..."
// names land inside it. Removed again when the test ends.
#pragma once

#include <filesystem>
#include <string>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // A native path inside the folder.
    std::string native(const std::string& relative) const;

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

// Reads a whole file (native path) into a string; empty when missing.
std::string ReadWholeFile(const std::filesystem::path& file);
// Writes a whole file (native path).
void WriteWholeFile(const std::filesystem::path& file, const std::string& bytes);
