#include "engine/pass_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "sites/site_files.h"
#include "sites/site_record.h"
#include "engine/engine.h"
#include "net/connection.h"
#include "tessil/input.h"
#include "tessil/tessil.h"

int reconnectPauseMilliseconds = 5000;
int reconnectRounds = 12;

namespace engine {

void ShowPassTitle(const char* program, const char* status)
{
    char text[300];
    std::snprintf(text, sizeof text, "KESTROVANE %s - PAGE %d STATUS: %s", program, int(eventPage), status);
    ShowScreenLine(kTitleLine, text);
    tessil::RefreshFields();
}

void ShowSiteLine(const char* host, const char* remoteFolder, const char* fileMask)
{
    ShowScreenLine(kSiteLine, SiteLine(host, remoteFolder, fileMask).c_str());
    tessil::RefreshFields();
}

void StartPass(const char* host, const char* user, const char* password, const char* remoteFolder,
               const char* fileMask)
{
    SetConnectionAccount(host, user, password);
    SiteFileNames(host, remoteFolder, fileMask);
}

namespace {

void ShowOutageTitle(const OutageEvents& events, const char* status)
{
    if (events.paged) {
        ShowPassTitle(events.program, status);
        return;
    }
    char title[300];
    std::snprintf(title, sizeof title, "KESTROVANE %s - STATUS: %s", events.program, status);
    ShowScreenLine(kTitleLine, title);
    tessil::RefreshFields();
}

} // namespace

bool ConnectWithRetry(const OutageEvents& events)
{
    for (int failures = 0;; ++failures) {
        if (tessil::shutdownRequested)
            return false;
        if (ConnectSite(kOpenConnection))
            return true;
        if (lostConnection == 0) {
            LogConnectionEvent(events.lostType, LocalNow(), connectionFailureReason);
            ShowEvents(kMailEvents);
            lostConnection = events.flag;
        }
        if (connectionFailureReason[0]) {
            const std::string status = std::string("UNABLE TO CONNECT: ") + connectionFailureReason;
            ShowOutageTitle(events, status.c_str());
            return false;
        }
        if (failures + 1 >= reconnectRounds)
            return false;
        ShowOutageTitle(events, events.status);
        tessil::SystemRequest(1);
        tessil::PauseLive(reconnectPauseMilliseconds);
    }
}

EnterResult EnterRemoteFolder(const char* remoteFolder, std::string& path)
{
    if (!ftpConnection)
        return EnterResult::kNoCurrentFolder;
    if (path.empty()) {
        char current[MAX_PATH] = {};
        DWORD length = sizeof current;
        if (!FtpGetCurrentDirectoryA(ftpConnection, current, &length))
            return EnterResult::kNoCurrentFolder;
        path = current;
        if (path.empty() || path.back() != '/')
            path += '/';
        path += remoteFolder;
    }
    return FtpSetCurrentDirectoryA(ftpConnection, path.c_str()) ? EnterResult::kEntered : EnterResult::kNotEntered;
}

WIN32_FIND_DATAA ListedEntry::FindData() const
{
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = attributes;
    data.ftLastWriteTime = lastWrite;
    data.nFileSizeHigh = sizeHigh;
    data.nFileSizeLow = sizeLow;
    std::memcpy(data.cFileName, name.data(), name.size());
    return data;
}

namespace {

ListedEntry Listed(const WIN32_FIND_DATAA& data)
{
    return {data.dwFileAttributes, data.ftLastWriteTime, data.nFileSizeHigh, data.nFileSizeLow,
            std::string(data.cFileName, strnlen(data.cFileName, sizeof data.cFileName - 1))};
}

// Unsigned bytes, shorter first: the store's order of keys, as far as names go.
void SortByName(std::vector<ListedEntry>& entries)
{
    std::sort(entries.begin(), entries.end(),
              [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
}

} // namespace

bool ReadListing(HINTERNET listing, const WIN32_FIND_DATAA& first, std::vector<ListedEntry>& entries,
                 bool inServerOrder)
{
    WIN32_FIND_DATAA data = first;
    bool complete = false;
    for (;;) {
        entries.push_back(Listed(data));
        if (!InternetFindNextFileA(listing, &data)) {
            complete = GetLastError() == ERROR_NO_MORE_FILES;
            break;
        }
    }
    InternetCloseHandle(listing);
    if (!inServerOrder)
        SortByName(entries);
    return complete;
}

ListResult ListRemoteFolder(const char* mask, DWORD flags, std::vector<ListedEntry>& entries, bool inServerOrder)
{
    entries.clear();
    if (!ftpConnection)
        return ListResult::kBroken;
    WIN32_FIND_DATAA first;
    HINTERNET listing = FtpFindFirstFileA(ftpConnection, mask, &first, flags, 0);
    if (!listing) {
        const DWORD error = GetLastError();
        return error == ERROR_NO_MORE_FILES || error == ERROR_SUCCESS ? ListResult::kEmpty : ListResult::kBroken;
    }
    return ReadListing(listing, first, entries, inServerOrder) ? ListResult::kListed : ListResult::kBroken;
}

namespace {

// Closes a C stream when it goes out of scope.
struct StreamCloser {
    void operator()(FILE* stream) const { std::fclose(stream); }
};
using Stream = std::unique_ptr<FILE, StreamCloser>;

} // namespace

bool WriteWorkList(const std::vector<ListedEntry>& entries)
{
    Stream list(std::fopen(siteWorkListFile, "wb"));
    if (!list)
        return false;
    for (const ListedEntry& e : entries) {
        if (e.name.find_first_of("\r\n") != std::string::npos)
            continue;
        if (std::fprintf(list.get(), "%s*%lu-%lu-%lu-%lu,%d\n", e.name.c_str(),
                         (unsigned long)e.lastWrite.dwHighDateTime, (unsigned long)e.lastWrite.dwLowDateTime,
                         (unsigned long)e.sizeHigh, (unsigned long)e.sizeLow, int(e.attributes)) < 0)
            return false;
    }
    return std::fflush(list.get()) == 0 && !std::ferror(list.get());
}

bool ReadWorkList(std::vector<ListedEntry>& entries)
{
    entries.clear();
    Stream list(std::fopen(siteWorkListFile, "rb"));
    if (!list)
        return false;
    // A name holds at most MAX_PATH bytes; the numbers add at most 60.
    char line[MAX_PATH + 64];
    while (std::fgets(line, sizeof line, list.get())) {
        char* end = std::strchr(line, '\n');
        if (!end)
            return false; // longer than any line the pass writes
        *end = '\0';
        char* star = std::strrchr(line, '*');
        if (!star || star == line)
            return false;
        unsigned long high = 0, low = 0, sizeHigh = 0, sizeLow = 0;
        int attributes = 0, used = 0;
        if (std::sscanf(star + 1, "%lu-%lu-%lu-%lu,%d%n", &high, &low, &sizeHigh, &sizeLow, &attributes, &used) != 5 ||
            star[1 + used] != '\0')
            return false;
        entries.push_back({DWORD(attributes), {DWORD(low), DWORD(high)}, DWORD(sizeHigh), DWORD(sizeLow),
                           std::string(line, size_t(star - line))});
    }
    return !std::ferror(list.get());
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
        entries.push_back(Listed(data));
    while (FindNextFileA(search, &data));
    FindClose(search);
    SortByName(entries);
    return entries;
}

bool LocalFileSpelledAs(const char* path, const char* name)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return std::strcmp(found.cFileName, name) == 0 && !IsAnyFolder(KindOf(found.dwFileAttributes));
}

std::string LocalPath(const char* folder, const char* name)
{
    std::string path = folder;
    path += '\\';
    path += name;
    return path;
}

} // namespace engine
