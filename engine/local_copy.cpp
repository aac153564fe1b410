// The secure server folder: its paths, its listing and its entries by exact
// spelling.
#include "engine/local_copy.h"

#include <cstring>

#include "engine/entry_kind.h"

namespace engine {

namespace {

// A found entry of the wanted spelling.
LocalEntry EntryOf(DWORD attributes)
{
    return IsAnyFolder(KindOf(attributes)) ? LocalEntry::kFolder : LocalEntry::kFile;
}

} // namespace

std::string LocalPath(const char* folder, const char* name)
{
    std::string path = folder;
    path += '\\';
    path += name;
    return path;
}

bool LocalFolderExists(const char* folder)
{
    const DWORD attributes = GetFileAttributesA(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && IsAnyFolder(KindOf(attributes));
}

std::vector<ListedEntry> ReadLocalFolder(const char* folder, const char* fileMask)
{
    std::vector<ListedEntry> entries;
    const std::string pattern = LocalPath(folder, fileMask);
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do
        entries.push_back(ListedEntry::From(data));
    while (FindNextFileA(search, &data));
    FindClose(search);
    SortByName(entries);
    return entries;
}

LocalEntry FindLocalEntry(const std::string& path, const char* name)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? LocalEntry::kNone : LocalEntry::kUnreadable;
    FindClose(search);
    if (std::strcmp(found.cFileName, name) != 0)
        return LocalEntry::kOtherSpelling;
    return EntryOf(found.dwFileAttributes);
}

void LocalNames::Add(const ListedEntry& entry)
{
    entries_.emplace(entry.name, EntryOf(entry.attributes));
}

LocalEntry LocalNames::Find(const std::string& name) const
{
    const auto at = entries_.find(name);
    return at == entries_.end() ? LocalEntry::kNone : at->second;
}

} // namespace engine
