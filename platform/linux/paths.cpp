// PlatformTranslatePath: Windows path text -> native path. The rules are
// listed in paths.h.
#include "platform/linux/paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/win32.h"
#include "platform/linux/errors.h"

namespace {

constexpr size_t kMaxComponent = 255;

std::mutex g_rootMutex;
bool g_rootSet = false;       // PlatformSetDriveRoot overrides the environment
std::string g_root;           // ... with this folder

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (n != a.size()) return false;
    for (size_t i = 0; i < n; ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string CurrentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    if (getcwd(buffer.data(), buffer.size()) == nullptr) return ".";
    return buffer.data();
}

// An absolute form of a native folder named by the environment; a relative
// value is taken against the current directory at the time it is first seen.
std::string AbsoluteFolder(const std::string& folder) {
    if (!folder.empty() && folder[0] == '/') return StripTrailingSlashes(folder);
    static std::mutex cacheMutex;
    static std::string lastValue, lastAbsolute;
    std::lock_guard<std::mutex> lock(cacheMutex);
    if (folder != lastValue) {
        lastValue = folder;
        lastAbsolute = StripTrailingSlashes(CurrentDirectory() + "/" + folder);
    }
    return lastAbsolute;
}

std::string HomeFolder() {
    const char* home = PlatformSetting("HOME");
    if (home && *home) return home;
    std::vector<char> buffer(16384);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        return found->pw_dir;
    return "/";
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

bool NameExists(const std::string& native) {
    struct stat st;
    return lstat(native.c_str(), &st) == 0;
}

// Windows drops trailing dots and blanks from the last component and a single
// trailing dot from the others ("a.\b" is "a\b", "name. . " is "name").
std::string StripWindowsTrailers(const std::string& name, bool last) {
    std::string out = name;
    if (last) {
        while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
    } else if (out.size() >= 2 && out.back() == '.' && out[out.size() - 2] != '.') {
        out.pop_back();
    }
    return out;
}

bool ValidWindowsName(const std::string& name) {
    if (name.size() > kMaxComponent) return false;
    for (unsigned char c : name) {
        if (c < 0x20) return false;
        if (std::strchr("<>:\"|?*", c)) return false;
    }
    return true;
}

// The entry of folder whose name equals name without regard to ASCII case.
// When several do, the smallest in byte order is taken so the answer does not
// depend on the order of the directory.
bool FindNoCase(const std::string& folder, const std::string& name, std::string& found) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return false;
    bool any = false;
    while (struct dirent* entry = readdir(dir)) {
        if (!EqualNoCase(name, entry->d_name)) continue;
        if (!any || std::strcmp(entry->d_name, found.c_str()) < 0) found = entry->d_name;
        any = true;
    }
    closedir(dir);
    return any;
}

}  // namespace

bool PlatformCheckPathText(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (strnlen(path, MAX_PATH) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

std::string PlatformDriveRoot() {
    {
        std::lock_guard<std::mutex> lock(g_rootMutex);
        if (g_rootSet) return g_root;
    }
    const char* drive = PlatformSetting("KESTROVANE_DRIVE");
    if (drive && *drive) return AbsoluteFolder(drive);
    return AbsoluteFolder(HomeFolder());
}

BOOL PlatformSetDriveRoot(LPCSTR nativeFolder) {
    if (nativeFolder == nullptr) {
        std::lock_guard<std::mutex> lock(g_rootMutex);
        g_rootSet = false;
        g_root.clear();
        return TRUE;
    }
    std::string folder = nativeFolder;
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) {
        PlatformSetLastErrno(errno, &folder);
        return FALSE;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    char* real = realpath(folder.c_str(), nullptr);
    if (!real) {
        PlatformSetLastErrno(errno, &folder);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(g_rootMutex);
    g_root = real;
    g_rootSet = true;
    std::free(real);
    return TRUE;
}

bool PlatformTranslatePath(const char* path, std::string& native, LeafMatch leaf) {
    if (!PlatformCheckPathText(path)) return false;
    std::string text = path;
    for (char& c : text)
        if (c == '\\') c = '/';

    // Where the path starts.
    std::string base;        // "" = the current directory
    bool rooted = true;      // ".." stops at base
    size_t pos = 0;
    bool driveLetter = text.size() >= 2 && text[1] == ':' &&
                       ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
    if (driveLetter) {
        base = PlatformDriveRoot();
        pos = 2;
    } else if (path[0] == '\\') {
        base = PlatformDriveRoot();
    } else if (path[0] == '/') {
        base = "/";
    } else {
        rooted = false;
    }

    // Split and resolve "." and ".." on the text.
    std::vector<std::string> parts;
    bool trailingSeparator = false;
    while (pos < text.size()) {
        size_t end = text.find('/', pos);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(pos, end - pos);
        trailingSeparator = end < text.size();
        pos = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") parts.pop_back();
            else if (!rooted) parts.push_back(part);
            continue;
        }
        parts.push_back(part);
    }

    // Walk the components against the disk.
    std::string current = base;
    bool parentExists = true;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& spelled = parts[i];
        bool last = i + 1 == parts.size();
        if (spelled == "..") {
            current = Join(current, spelled);
            continue;
        }
        if (parentExists && NameExists(Join(current, spelled)) &&
            !(last && leaf == LeafMatch::AsSpelled)) {
            current = Join(current, spelled);
            continue;
        }
        std::string name = StripWindowsTrailers(spelled, last && !trailingSeparator);
        if (name.empty()) continue;  // "..." and the like: the folder itself
        if (!ValidWindowsName(name)) {
            SetLastError(ERROR_INVALID_NAME);
            return false;
        }
        std::string found;
        if (parentExists && !(last && leaf == LeafMatch::AsSpelled)) {
            if (NameExists(Join(current, name))) {
                found = name;
            } else if (!FindNoCase(current, name, found)) {
                parentExists = false;
            }
        }
        current = Join(current, found.empty() ? name : found);
    }
    if (current.empty()) current = ".";
    if (trailingSeparator && current.back() != '/') current += '/';
    if (current.size() >= PATH_MAX) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    native = std::move(current);
    return true;
}

std::string PlatformNativeToWindows(const std::string& native) {
    std::string root = PlatformDriveRoot();
    char* real = realpath(root.c_str(), nullptr);
    if (real) {
        root = real;
        std::free(real);
    }
    std::string rest;
    if (root == "/") {
        if (native.empty() || native[0] != '/') return native;
        rest = native.substr(1);
    } else if (native == root) {
        rest.clear();
    } else if (native.size() > root.size() && native.compare(0, root.size(), root) == 0 &&
               native[root.size()] == '/') {
        rest = native.substr(root.size() + 1);
    } else {
        return native;
    }
    std::string out = "C:\\";
    for (char c : rest) out += (c == '/') ? '\\' : c;
    while (out.size() > 3 && out.back() == '\\') out.pop_back();
    return out;
}
