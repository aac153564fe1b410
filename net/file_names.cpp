#include "net/file_names.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "sites/site_list.h"

namespace {

// Longer than any name a listing returns (they drop 260 bytes and more).
constexpr size_t kLookedAt = 300;

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool SameLetters(const char* text, size_t length, const char* word)
{
    if (std::strlen(word) != length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (Upper(text[i]) != word[i])
            return false;
    return true;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The part before the first "." (blanks before it do not count) names a
// device whatever extension follows.
bool IsDeviceName(const char* name, size_t length)
{
    const char* dot = static_cast<const char*>(std::memchr(name, '.', length));
    size_t base = dot ? size_t(dot - name) : length;
    while (base > 0 && name[base - 1] == ' ')
        --base;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* word : kDevices)
        if (SameLetters(name, base, word))
            return true;
    if (base != 4 || !(SameLetters(name, 3, "COM") || SameLetters(name, 3, "LPT")))
        return false;
    // The ANSI code page's superscript one, two and three count as digits.
    const auto last = uint8_t(name[3]);
    return IsDigit(char(last)) || last == 0xB9 || last == 0xB2 || last == 0xB3;
}

// The transfer layer of earlier builds left its own scratch files under
// this prefix.
constexpr char kOldScratchPrefix[] = ".kv-ftpget-";

bool StartsWith(const char* name, size_t length, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    return length >= n && std::memcmp(name, prefix, n) == 0;
}

bool IsScratchName(const char* name, size_t length)
{
    size_t prefix = 0;
    if (StartsWith(name, length, kScratchPrefix))
        prefix = sizeof kScratchPrefix - 1;
    else if (StartsWith(name, length, kOldScratchPrefix))
        prefix = sizeof kOldScratchPrefix - 1;
    const size_t suffix = sizeof kScratchSuffix - 1;
    if (!prefix || length <= prefix + suffix || std::memcmp(name + length - suffix, kScratchSuffix, suffix) != 0)
        return false;
    size_t at = prefix, end = length - suffix;
    auto digits = [&] {
        size_t start = at;
        while (at < end && IsDigit(name[at]))
            ++at;
        return at > start;
    };
    if (!digits() || at >= end || name[at++] != '-' || !digits())
        return false;
    return at == end;
}

const char* LastComponent(const char* path)
{
    const char* last = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || (p == path + 1 && *p == ':'))
            last = p + 1;
    return last;
}

} // namespace

FileNameUse ClassifyFileName(const char* name)
{
    if (!name)
        return FileNameUse::kNotAFile;
    const size_t length = strnlen(name, kLookedAt + 1);
    if (length == 0 || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return FileNameUse::kNotAFile;
    if (IsScratchName(name, length))
        return FileNameUse::kScratch;
    if (length > size_t(kMaxLocalNameLength) || name[length - 1] == '.' || name[length - 1] == ' ' ||
        IsDeviceName(name, length))
        return FileNameUse::kServerOnly;
    for (size_t i = 0; i < length; ++i) {
        const auto c = uint8_t(name[i]);
        if (c < 32 || c == 127 || std::strchr("/\\:*?\"<>|", c))
            return FileNameUse::kServerOnly;
    }
    return FileNameUse::kLocal;
}

bool LocalWriteAllowed(const char* path)
{
    if (!path || strnlen(path, MAX_PATH) >= MAX_PATH) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    const char* leaf = LastComponent(path);
    if (ClassifyFileName(leaf) != FileNameUse::kLocal) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    // Our path translation takes an entry of the exact spelling when one
    // exists beside others of another case; Windows never has two.
    bool exact = false;
    do
        exact = std::strcmp(found.cFileName, leaf) == 0;
    while (!exact && FindNextFileA(search, &found));
    FindClose(search);
    if (!exact)
        SetLastError(ERROR_ALREADY_EXISTS);
    return exact;
}

int RemoveScratchFiles(const char* folder)
{
    std::string prefix(folder ? folder : "", folder ? strnlen(folder, MAX_PATH) : 0);
    if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/')
        prefix += '\\';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((prefix + ".kv-*").c_str(), &found); // both scratch prefixes
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int removed = 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            ClassifyFileName(found.cFileName) != FileNameUse::kScratch)
            continue;
        const std::string file = prefix + found.cFileName;
        SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileA(file.c_str()))
            ++removed;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return removed;
}
