// FindFirstFileA / FindNextFileA / FindClose.
//
// The folder is read once, when the search starts (not at all for a name
// without wildcards that exists as spelled, the only entry Windows would find
// then): the matching names are kept, sorted as Windows' NTFS lists them
// ("." and ".." first, then without regard to case), and each is looked up
// again when it is handed out, so an entry that has vanished meanwhile is
// skipped rather than reported stale.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/linux/errors.h"
#include "platform/linux/filetime.h"
#include "platform/ftp/ftp_listing.h"
#include "platform/linux/files.h"
#include "platform/linux/handles.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/paths.h"

namespace {

struct FindObject final : PlatformObject {
    static constexpr HandleKind kKind = HandleKind::Find;
    FindObject() : PlatformObject(kKind) {}
    std::string folder;               // native, ends with "/"
    std::vector<std::string> names;   // matching entries, in listing order
    size_t next = 0;
};

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

// NTFS order: by upper-cased name, then by bytes so that the order is total.
bool ListsBefore(const std::string& a, const std::string& b) {
    auto rank = [](const std::string& s) { return s == "." ? 0 : s == ".." ? 1 : 2; };
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = (unsigned char)AsciiUpper(a[i]), y = (unsigned char)AsciiUpper(b[i]);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

// Fills data with the next entry that still exists; false at the end.
bool FillNext(FindObject& find, WIN32_FIND_DATAA& data) {
    while (find.next < find.names.size()) {
        const std::string& name = find.names[find.next++];
        struct stat st;
        if (stat((find.folder + name).c_str(), &st) != 0) continue;  // vanished
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) continue;  // no Windows kind
        std::memset(&data, 0, sizeof data);
        data.dwFileAttributes = PlatformAttributesFromStat(st, name);
        // Linux has no creation time every file system keeps; the status
        // change time stands in for it.
        data.ftCreationTime = FileTimeFromTimespec(st.st_ctim);
        data.ftLastAccessTime = FileTimeFromTimespec(st.st_atim);
        data.ftLastWriteTime = FileTimeFromTimespec(st.st_mtim);
        if (S_ISREG(st.st_mode)) {
            uint64_t size = uint64_t(st.st_size);
            data.nFileSizeHigh = DWORD(size >> 32);
            data.nFileSizeLow = DWORD(size & 0xFFFFFFFFu);
        }
        std::memcpy(data.cFileName, name.c_str(), name.size() + 1);
        return true;
    }
    return false;
}

bool SameEntry(const std::string& a, const std::string& b) {
    struct stat x, y;
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findFileData) {
    if (!PlatformCheckPathText(fileName)) return INVALID_HANDLE_VALUE;
    if (!findFileData) {
        SetLastError(ERROR_NOACCESS);
        return INVALID_HANDLE_VALUE;
    }
    // Split into folder and mask (the last component).
    const std::string text = fileName;
    size_t separator = text.find_last_of("\\/");
    size_t maskStart = 0;  // no folder part: the current directory
    if (separator != std::string::npos) maskStart = separator + 1;
    else if (text.size() >= 2 && text[1] == ':') maskStart = 2;
    const std::string folderText = maskStart ? text.substr(0, maskStart) : std::string(1, '.');
    std::string mask = text.substr(maskStart);
    // Like any last component, the mask loses trailing dots and blanks.
    if (mask.find_first_not_of(". ") != std::string::npos)
        while (mask.back() == '.' || mask.back() == ' ') mask.pop_back();
    if (mask.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string folder;
    bool exactName = false;  // mask is a name from the disk, not a pattern
    if (mask == "." || mask == "..") {
        // The pattern names a folder itself ("sub\.", ".."): Windows
        // normalises it first and lists that folder's own entry.
        std::string target;
        if (!PlatformTranslatePath(fileName, target)) return INVALID_HANDLE_VALUE;
        char* real = realpath(target.c_str(), nullptr);
        if (!real) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        std::string resolved = real;
        std::free(real);
        if (resolved == "/" || SameEntry(resolved, PlatformDriveRoot())) {
            SetLastError(ERROR_FILE_NOT_FOUND);  // a root has no entry of its own
            return INVALID_HANDLE_VALUE;
        }
        size_t slash = resolved.rfind('/');
        folder = resolved.substr(0, slash + 1);
        mask = resolved.substr(slash + 1);
        exactName = true;
    } else if (!PlatformTranslatePath(folderText.c_str(), folder)) {
        return INVALID_HANDLE_VALUE;
    }
    if (folder.back() != '/') folder += '/';

    std::shared_ptr<FindObject> find;
    try {
        find = std::make_shared<FindObject>();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    find->folder = folder;
    // A name without wildcards that exists as spelled is the one entry
    // Windows would find: the folder need not be read (a lookup per file in
    // a folder of thousands would otherwise read the whole folder each time).
    struct stat spelled;
    if (!exactName && mask.find_first_of("*?") == std::string::npos && mask.size() < MAX_PATH &&
        mask.find('\\') == std::string::npos && lstat((folder + mask).c_str(), &spelled) == 0 &&
        (S_ISREG(spelled.st_mode) || S_ISDIR(spelled.st_mode))) {
        find->names.push_back(mask);
    } else {
        DIR* dir = opendir(folder.c_str());
        if (!dir) {
            int err = errno;
            SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                         : PlatformErrorFromErrno(err));
            return INVALID_HANDLE_VALUE;
        }
        // The root of a drive has no "." and "..".
        const bool isRoot = SameEntry(folder, "/") || SameEntry(folder, PlatformDriveRoot());
        try {
            while (struct dirent* entry = readdir(dir)) {
                const char* name = entry->d_name;
                bool dots = std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
                if (dots && isRoot) continue;
                // A name Windows cannot hold, or one with a backslash, which the
                // program could never name again, is not listed.
                if (std::strlen(name) >= MAX_PATH || std::strchr(name, '\\')) continue;
                if (exactName ? mask == name : FtpMatchMask(mask, name)) find->names.emplace_back(name);
            }
            closedir(dir);
            std::sort(find->names.begin(), find->names.end(), ListsBefore);
        } catch (const std::bad_alloc&) {
            closedir(dir);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (!FillNext(*find, *findFileData)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = PlatformRegisterHandle(find);
    if (!handle) return INVALID_HANDLE_VALUE;
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findFileData) {
    auto find = PlatformLookup<FindObject>(findFile);
    if (!find) return FALSE;
    if (!findFileData) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (!FillNext(*find, *findFileData)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE findFile) {
    return PlatformReleaseHandle(findFile, HandleKind::Find) ? TRUE : FALSE;
}
