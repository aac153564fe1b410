// A fresh, empty folder (folder_/cwd) made the current directory for the
// length of one test, so that relative names work alike on Linux and under
// Wine.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/win32.h"

class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        static std::atomic<unsigned> counter{0};
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (;;) {
            folder_ = fs::temp_directory_path() /
                      ("kvplat-" + std::to_string(stamp) + "-" + std::to_string(counter++));
            std::error_code ec;
            if (fs::create_directory(folder_, ec)) break;
        }
        // On Linux the folder is also the root of the current drive, so that
        // the current directory reads as "C:\cwd" there as on Windows, and no
        // "\..." name can reach outside. (Windows cannot move its root.)
        PlatformSetDriveRoot(folder_.string().c_str());
        cwd_ = folder_ / "cwd";
        fs::create_directory(cwd_);
        previous_ = fs::current_path();
        fs::current_path(cwd_);
    }

    void TearDown() override {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::current_path(previous_, ec);
        PlatformSetDriveRoot(nullptr);
        // Read-only files would stop the removal on Windows.
        for (auto it = fs::recursive_directory_iterator(folder_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
        fs::remove_all(folder_, ec);
    }

    std::filesystem::path folder_;    // the whole scratch area
    std::filesystem::path cwd_;       // folder_/cwd, the current directory
    std::filesystem::path previous_;
};

// Independent of the API under test: the C++ library's own file streams.
inline void PutText(const std::string& name, const std::string& text) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(text.data(), std::streamsize(text.size()));
}

inline std::string GetText(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Opens with the arguments the program uses most.
inline HANDLE OpenFile(const char* name, DWORD access, DWORD disposition) {
    return CreateFileA(name, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline ULONGLONG Ticks(const FILETIME& ft) {
    return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

inline FILETIME FromTicks(ULONGLONG ticks) {
    FILETIME ft;
    ft.dwLowDateTime = DWORD(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = DWORD(ticks >> 32);
    return ft;
}

// 2000-01-01 00:00:00 UTC.
constexpr ULONGLONG kY2kTicks = 125911584000000000ull;
