// The mirror: the secure server folder brought up to date from the web. A
// file of the remote folder that is missing locally, or strictly newer on the
// web, is downloaded; nothing is deleted or uploaded, no record is changed,
// and sub-folders are neither entered nor created.
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/event_log.h"
#include "sites/site_list.h"
#include "engine/engine.h"
#include "engine/entry_kind.h"
#include "engine/local_copy.h"
#include "engine/pass_connection.h"
#include "engine/remote_listing.h"
#include "engine/work_list.h"
#include "net/connection.h"
#include "net/file_names.h"
#include "net/timed_transfers.h"
#include "records/record_file.h"
#include "tessil/input.h"

int passRepeats = 5;

namespace {

constexpr char kProgram[] = "MONITOR";
constexpr char kMirroring[] = "SYNC SERVER WITH WEB FILES";
constexpr char kDownloading[] = "DOWNLOADING WEB SITE FILE TO SERVER";
constexpr char kFolderMissing[] = "SECURE SERVER FOLDER MISSING";

// The site command's "MINSIZE_=_<digits>": the smallest web file mirrored,
// compared with the low 32 bits of the listed size. The command is a field
// of the site record (untrusted, possibly without a NUL); no digits give 0,
// and a number too large for 32 bits is the largest, never a wrapped one.
uint32_t MinimumSize()
{
    constexpr std::string_view kKey = "MINSIZE_=_";
    const std::string_view command = FieldText(currentSite.optionText);
    const size_t at = command.find(kKey);
    if (at == std::string_view::npos)
        return 0;
    const char* first = command.data() + at + kKey.size();
    const char* last = command.data() + command.size();
    uint32_t size = 0;
    const auto [end, error] = std::from_chars(first, last, size);
    if (error == std::errc::result_out_of_range)
        return UINT32_MAX;
    return end == first ? 0 : size;
}

// The local file's last-write time in local time, as the listed web times
// are after ServerTimeToLocal. False when it cannot be read: the file is
// open in another program (the open shares nothing), so it is not written
// over now; the next call looks again.
bool LocalWriteTime(const std::string& path, FILETIME& local)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME written;
    const bool read = GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    return read && FileTimeToLocalFileTime(&written, &local);
}

// Whether the listed entry is to be acted on; `entry` has had its time
// converted to local time.
bool Wanted(const char* localFolder, const WIN32_FIND_DATAA& entry, uint32_t minimumSize)
{
    if (entry.nFileSizeLow < minimumSize)
        return false;
    // A sub-folder on the web: any entry with the folder bit, a read-only one
    // too, since a folder cannot be downloaded and a failed download would
    // stop every file after it, every call.
    if (engine::IsAnyFolder(engine::KindOf(entry.dwFileAttributes)))
        return true; // counted, never acted on
    const std::string path = engine::LocalPath(localFolder, entry.cFileName);
    if (path.size() >= MAX_PATH)
        return false; // a path too long is left alone
    // Downloaded when missing; compared when a file of exactly that spelling;
    // left alone otherwise.
    switch (engine::FindLocalEntry(path, entry.cFileName)) {
    case engine::LocalEntry::kNone:
        return true;
    case engine::LocalEntry::kFile:
        break;
    case engine::LocalEntry::kFolder:
    case engine::LocalEntry::kOtherSpelling:
    case engine::LocalEntry::kUnreadable:
        return false;
    }
    FILETIME local;
    return LocalWriteTime(path, local) && CompareFileTime(&entry.ftLastWriteTime, &local) == 1;
}

} // namespace

int32_t MirrorWebToServer(const char* localFolder, const char* host, const char* user, const char* password,
                          const char* remoteFolder, const char* fileMask)
{
    engine::ShowPass(kProgram, kMirroring, host, remoteFolder, fileMask);
    const std::tm stamp = LocalNow();
    engine::StartPass(host, user, password, remoteFolder, fileMask);
    const uint32_t minimumSize = MinimumSize();
    auto finish = [](int32_t result) {
        ConnectSite(kCloseConnection);
        CloseEventLog();
        CloseFileRecords();
        return result;
    };

    // A missing clean copy is an unplugged drive or a typo: the mirror
    // never makes one of its own.
    if (!engine::LocalFolderExists(localFolder)) {
        engine::ShowPassTitle(kProgram, kFolderMissing);
        return finish(kPassDone);
    }

    if (!engine::ConnectWithRetry(
            {kEventMirrorLost, kOutageRecorded, "MIRRORFROMWEB", engine::kLostConnectionStatus, false}))
        return finish(kPassDone);
    if (engine::EndOutage(kEventMirrorBack, engine::AfterRecovery::kEndPass))
        return finish(kPassCallAgain);

    std::string path;
    switch (engine::EnterRemoteFolder(remoteFolder, path)) {
    case engine::EnterResult::kEntered:
        break;
    case engine::EnterResult::kNoCurrentFolder:
        return finish(kPassCallAgain);
    case engine::EnterResult::kNotEntered:
        return finish(kPassDone);
    }
    // Listed times are compared with local ones: without the offset a
    // server in another zone would look hours newer or older.
    if (!currentSite.offsetMeasured)
        MeasureServerClockOffset();

    std::vector<engine::ListedEntry> entries;
    switch (engine::ListRemoteFolder(fileMask, INTERNET_FLAG_NO_CACHE_WRITE, entries)) {
    case engine::ListResult::kListed:
    case engine::ListResult::kTruncated: // all the server ever gives: worked as it is
        break;
    case engine::ListResult::kEmpty:
        return finish(kPassDone);
    case engine::ListResult::kBroken:
        return finish(kPassCallAgain); // a part of a listing: no download from it
    }

    std::vector<engine::ListedEntry> work;
    for (const engine::ListedEntry& listed : entries) {
        // Only names that are the same here and on the web become local
        // paths; the program's own scratch names are no site's files (S5).
        if (ClassifyFileName(listed.name.c_str()) != FileNameUse::kLocal || engine::IsScratchName(listed.name.c_str()))
            continue;
        WIN32_FIND_DATAA entry = listed.FindData();
        ServerTimeToLocal(entry);
        if (Wanted(localFolder, entry, minimumSize))
            work.push_back({entry.dwFileAttributes, entry.ftLastWriteTime, entry.nFileSizeHigh, entry.nFileSizeLow,
                            listed.name});
    }
    if (!engine::WriteWorkList(work) || !engine::ReadWorkList(work)) {
        engine::ShowPassTitle(kProgram, engine::kWorkListUnavailableStatus);
        return finish(kPassDone);
    }

    int32_t counter = int32_t(work.size());
    if (counter > 0)
        engine::ShowPassTitle(kProgram, kDownloading);
    {
        const EventPageBatch batch; // the page is drawn once, after the downloads
        for (const engine::ListedEntry& listed : work) {
            if (tessil::shutdownRequested)
                break;
            if (engine::IsAnyFolder(engine::KindOf(listed.attributes))) {
                --counter;
                continue;
            }
            const std::string local = engine::LocalPath(localFolder, listed.name.c_str());
            const int64_t size = (int64_t(listed.sizeHigh) << 32) | listed.sizeLow;
            // A failure leaves the local file as it was (the download lands in
            // a scratch file); the caller calls again for the rest.
            if (!ftpConnection || !DownloadFile(ftpConnection, listed.name.c_str(), local.c_str(), size))
                break;
            LogEvent(kEventFileDownloaded, listed.FindData(), int32_t(listed.attributes), &stamp, 0);
            --counter;
        }
    }
    return finish(counter);
}
