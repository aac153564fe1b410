// The remote folder's listing, read whole and sorted by name.
#include "engine/remote_listing.h"

#include <algorithm>
#include <cstring>

#include "net/connection.h"

namespace engine {

ListedEntry ListedEntry::From(const WIN32_FIND_DATAA& data)
{
    return {data.dwFileAttributes, data.ftLastWriteTime, data.nFileSizeHigh, data.nFileSizeLow,
            std::string(data.cFileName, strnlen(data.cFileName, sizeof data.cFileName - 1)), data.dwReserved0,
            data.dwReserved1};
}

WIN32_FIND_DATAA ListedEntry::FindData() const
{
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = attributes;
    data.ftLastWriteTime = lastWrite;
    data.nFileSizeHigh = sizeHigh;
    data.nFileSizeLow = sizeLow;
    data.dwReserved0 = reparseTag;
    data.dwReserved1 = mode;
    std::memcpy(data.cFileName, name.data(), name.size());
    return data;
}

void SortByName(std::vector<ListedEntry>& entries)
{
    std::sort(entries.begin(), entries.end(),
              [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
}

namespace {

// Reads the rest of a listing whose first entry `first` holds, and closes
// it; what came before a break is kept.
ListResult ReadListing(HINTERNET listing, const WIN32_FIND_DATAA& first, std::vector<ListedEntry>& entries,
                       bool inServerOrder)
{
    WIN32_FIND_DATAA data = first;
    ListResult result = ListResult::kBroken;
    for (;;) {
        entries.push_back(ListedEntry::From(data));
        if (!InternetFindNextFileA(listing, &data)) {
            const DWORD error = GetLastError();
            result = error == ERROR_NO_MORE_FILES ? ListResult::kListed
                     : error == ERROR_MORE_DATA   ? ListResult::kTruncated
                                                  : ListResult::kBroken;
            break;
        }
    }
    InternetCloseHandle(listing);
    if (!inServerOrder)
        SortByName(entries);
    return result;
}

} // namespace

ListResult ListRemoteFolder(const char* mask, DWORD flags, std::vector<ListedEntry>& entries, bool inServerOrder)
{
    entries.clear();
    if (!ftpConnection)
        return ListResult::kBroken;
    WIN32_FIND_DATAA first;
    HINTERNET listing = FtpFindFirstFileA(ftpConnection, mask, &first, flags, 0);
    if (!listing) {
        const DWORD error = GetLastError();
        if (error == ERROR_MORE_DATA)
            return ListResult::kTruncated;
        return error == ERROR_NO_MORE_FILES || error == ERROR_SUCCESS ? ListResult::kEmpty : ListResult::kBroken;
    }
    return ReadListing(listing, first, entries, inServerOrder);
}

bool IsScratchName(const char* name)
{
    return std::strncmp(name, kScratchPrefix, sizeof kScratchPrefix - 1) == 0;
}

} // namespace engine
