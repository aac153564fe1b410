#include "support/temp_folder.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/win32.h"

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        path_ = fs::temp_directory_path() /
                ("kvtest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(path_, ec)) break;
    }
    previous_ = fs::current_path();
    fs::current_path(path_);
    PlatformSetDriveRoot(path_.string().c_str());
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::current_path(previous_, ec);
    PlatformSetDriveRoot(nullptr);
    // Read-only files would stop the removal on Windows.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TempFolder::native(const std::string& relative) const {
    return (path_ / relative).string();
}

std::string ReadWholeFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWholeFile(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}
