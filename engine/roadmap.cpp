// The roadmap: the site command's clean-up of old files ("DELETE_OLD_FILES"
// by listed date, or "CLEANUP" by the date in a file's name), then
// "roadmap.txt", the remote folder's larger files, uploaded into it.
#include "engine/roadmap.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "sites/site_list.h"
#include "engine/engine.h"
#include "engine/entry_kind.h"
#include "engine/local_copy.h"
#include "engine/own_acts.h"
#include "engine/pass_connection.h"
#include "engine/remote_listing.h"
#include "engine/stream.h"
#include "net/connection.h"
#include "net/file_names.h"
#include "net/timed_transfers.h"
#include "records/record_file.h"
#include "tessil/tessil.h"

namespace engine {

namespace {

// The site command's keywords and where their numbers start.
constexpr std::string_view kDeleteOldFiles = "DELETE_OLD_FILES";
constexpr size_t kDeleteOldFilesNumber = 17;
constexpr std::string_view kCleanUp = "CLEANUP";
constexpr size_t kCleanUpNumber = 8;
constexpr std::string_view kThenExit = "THEN_EXIT";

// "YYYYMMDD" of a calendar date.
void FormatDate(int year, int month, int day, DateText& date)
{
    char text[40];
    std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, day);
    std::memcpy(date, text, 8);
    date[8] = '\0';
}

} // namespace

bool CommandNumber(std::string_view command, std::string_view keyword, size_t offset, long& days, size_t& end)
{
    const size_t at = command.find(keyword);
    if (at == std::string_view::npos || offset > command.size() - at)
        return false;
    size_t i = at + offset;
    while (i < command.size() && (command[i] == ' ' || command[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < command.size() && (command[i] == '-' || command[i] == '+'))
        negative = command[i++] == '-';
    const size_t digits = i;
    long value = 0;
    for (; i < command.size() && command[i] >= '0' && command[i] <= '9'; ++i)
        if ((value = value * 10 + (command[i] - '0')) > kMaxCleanUpDays)
            return false;
    if (i == digits)
        return false;
    days = negative ? -value : value;
    end = i;
    return true;
}

bool CutOffDate(std::time_t now, long days, DateText& date)
{
    const std::time_t then = now + std::time_t(days) * 86400;
    const std::tm* local = std::localtime(&then);
    if (!local)
        return false;
    FormatDate(local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, date);
    return true;
}

bool ListedDate(const FILETIME& lastWrite, DateText& date)
{
    SYSTEMTIME st;
    if ((lastWrite.dwHighDateTime == 0 && lastWrite.dwLowDateTime == 0) || !FileTimeToSystemTime(&lastWrite, &st))
        return false;
    FormatDate(st.wYear, st.wMonth, st.wDay, date);
    return true;
}

bool NameDate(std::string_view name, DateText& date)
{
    if (name.size() < 3)
        return false;
    const size_t from = name[2] >= '0' && name[2] <= '9' ? 2 : 3;
    if (name.size() < from + 8)
        return false;
    for (size_t i = 0; i < 8; ++i) {
        const char c = name[from + i];
        if (c < '0' || c > '9')
            return false;
        date[i] = c;
    }
    date[8] = '\0';
    return true;
}

CleanUp ReadCleanUp(std::string_view command)
{
    CleanUp cleanUp;
    size_t end = 0;
    if (command.find(kDeleteOldFiles) != std::string_view::npos) {
        if (CommandNumber(command, kDeleteOldFiles, kDeleteOldFilesNumber, cleanUp.days, end)) {
            cleanUp.kind = CleanUpKind::kByListedDate;
            cleanUp.thenExit = command.substr(end).find(kThenExit) != std::string_view::npos;
        }
    } else if (CommandNumber(command, kCleanUp, kCleanUpNumber, cleanUp.days, end)) {
        cleanUp.kind = CleanUpKind::kByNameDate;
    }
    return cleanUp;
}

} // namespace engine

namespace {

constexpr char kProgram[] = "ROADMAP";
constexpr char kRoadmapFile[] = "roadmap.txt";

// The clean-up of old files keeps names holding these.
constexpr const char* kExemptNames[] = {".htaccess", "roadmap.txt"};

// A roadmap line: a name of at least this many bytes, larger than this.
constexpr size_t kRoadmapMinName = 12;
constexpr DWORD kRoadmapMinSize = 200;

// Connects with the baseline's outage events; the flag ends at 0. False
// when the connect gave up (the outage stays recorded).
bool Connect()
{
    if (!engine::ConnectWithRetry({kEventBaselineLost, kOutageRecorded, kProgram, "TRYING TO RECONNECT"}))
        return false;
    engine::EndOutage(kEventBaselineBack);
    return true;
}

// Reads the whole listing of the current FTP folder. False when it broke
// off or failed; an empty folder is true with no entries.
bool ListedWhole(const char* fileMask, DWORD flags, std::vector<engine::ListedEntry>& entries, bool inServerOrder)
{
    return engine::ListRemoteFolder(fileMask, flags, entries, inServerOrder) != engine::ListResult::kBroken;
}

// A plain file of the site: neither "."/".." nor our scratch files (S5),
// nor a folder.
bool SiteFile(const engine::ListedEntry& entry, FileNameUse use)
{
    return use != FileNameUse::kNotAFile && use != FileNameUse::kScratch &&
           !engine::IsScratchName(entry.name.c_str()) && !engine::IsAnyFolder(engine::KindOf(entry.attributes));
}

bool Exempt(const std::string& name)
{
    for (const char* exempt : kExemptNames)
        if (name.find(exempt) != std::string::npos)
            return true;
    return false;
}

// Deletes the dated files of the current FTP folder (the remote folder of
// `host`), from a whole listing only: a listing that broke off deletes
// nothing.
void DeleteOldFiles(const engine::CleanUp& cleanUp, const char* host, const char* remoteFolder,
                    const char* localFolder, const char* fileMask)
{
    engine::DateText cutOff;
    if (!engine::CutOffDate(std::time(nullptr), cleanUp.days, cutOff))
        return;
    std::vector<engine::ListedEntry> entries;
    if (!ListedWhole(fileMask, INTERNET_FLAG_NO_CACHE_WRITE, entries, false))
        return;
    for (const engine::ListedEntry& entry : entries) {
        const FileNameUse use = ClassifyFileName(entry.name.c_str());
        if (!SiteFile(entry, use) || !ftpConnection)
            continue;
        engine::DateText date;
        if (cleanUp.kind == engine::CleanUpKind::kByListedDate) {
            if (Exempt(entry.name) || !engine::ListedDate(entry.lastWrite, date) || std::strcmp(date, cutOff) > 0)
                continue;
            char title[MAX_PATH + 32];
            std::snprintf(title, sizeof title, "DELETING OLD FILE - %s", entry.name.c_str());
            ShowScreenLine(kTitleLine, title);
            tessil::RefreshFields();
            if (FtpDeleteFileA(ftpConnection, entry.name.c_str()))
                engine::NoteOwnAct(host, remoteFolder);
            continue;
        }
        if (!engine::NameDate(entry.name, date) || std::strcmp(date, cutOff) > 0)
            continue;
        // The clean copy of a web file that stays is kept. Otherwise its file
        // of exactly this name, and nothing else: no other spelling, no
        // folder, nothing outside the secure server folder.
        if (!FtpDeleteFileA(ftpConnection, entry.name.c_str()))
            continue;
        engine::NoteOwnAct(host, remoteFolder);
        if (use != FileNameUse::kLocal || !localFolder[0])
            continue;
        const std::string path = engine::LocalPath(localFolder, entry.name.c_str());
        if (engine::FindLocalEntry(path, entry.name.c_str()) == engine::LocalEntry::kFile)
            DeleteFileA(path.c_str());
    }
}

// Writes the roadmap of `entries` (the server's order) into the data folder,
// whole. Names that cannot be one line are left out, and so are folders.
bool WriteRoadmap(const std::vector<engine::ListedEntry>& entries)
{
    engine::Stream file(std::fopen(kRoadmapFile, "wb"));
    if (!file)
        return false;
    for (const engine::ListedEntry& entry : entries)
        if (entry.name.size() >= kRoadmapMinName && entry.sizeLow > kRoadmapMinSize &&
            SiteFile(entry, ClassifyFileName(entry.name.c_str())) &&
            entry.name.find_first_of("\r\n") == std::string::npos &&
            std::fprintf(file.get(), "%s\n", entry.name.c_str()) < 0)
            return false;
    return std::fflush(file.get()) == 0 && !std::ferror(file.get());
}

} // namespace

void CreateRoadmap(const char* host, const char* localFolder, const char* user, const char* password,
                   const char* remoteFolder, const char* fileMask)
{
    engine::StartPass(host, user, password, remoteFolder, fileMask);
    auto finish = [] {
        ConnectSite(kCloseConnection);
        CloseEventLog();
    };
    if (!Connect())
        return finish();

    const engine::CleanUp cleanUp = engine::ReadCleanUp(FieldText(currentSite.optionText));
    if (cleanUp.kind != engine::CleanUpKind::kNone) {
        // Where the other passes work: a path from the FTP root would be
        // another folder on a server whose login folder is not the root.
        std::string path;
        if (engine::EnterRemoteFolder(remoteFolder, path) != engine::EnterResult::kEntered)
            return finish();
        DeleteOldFiles(cleanUp, host, remoteFolder, localFolder, fileMask);
        if (cleanUp.thenExit)
            return finish();
    }

    engine::ShowPass(kProgram, "CREATING ROADMAP", host, remoteFolder, fileMask);
    if (!Connect())
        return finish();
    // An upload lands only in the remote folder, from a whole listing: the
    // old roadmap stays otherwise.
    std::string path;
    std::vector<engine::ListedEntry> entries;
    if (engine::EnterRemoteFolder(remoteFolder, path) == engine::EnterResult::kEntered &&
        ListedWhole(fileMask, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, entries, true) &&
        !entries.empty() && WriteRoadmap(entries) && ftpConnection &&
        UploadFile(ftpConnection, kRoadmapFile, kRoadmapFile))
        engine::NoteOwnAct(host, remoteFolder);
    finish();
}
