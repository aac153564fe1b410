// The baseline: every entry of the remote folder recorded as it is listed
// now, each marked "-file init" so that the first web site check takes the
// live values without acting.
#include <cstring>
#include <string>
#include <vector>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "sites/site_files.h"
#include "sites/site_list.h"
#include "engine/engine.h"
#include "engine/entry_kind.h"
#include "engine/pass_connection.h"
#include "engine/remote_listing.h"
#include "net/connection.h"
#include "tessil/input.h"

int baselineAttempts = 5;

namespace {

constexpr char kProgram[] = "BASELINE";

enum class Attempt { kComplete, kRepeat, kStoreUnavailable };

// An empty folder still gets its (empty) store, so that the checks know the
// baseline was made and report every file that appears later.
Attempt Completed()
{
    const bool stored = PutFileRecord(nullptr, nullptr) == 1;
    CloseFileRecords();
    return stored ? Attempt::kComplete : Attempt::kStoreUnavailable;
}

// One attempt of entering and listing the folder into the store.
Attempt RecordFolder(const char* remoteFolder, const char* fileMask, std::string& path)
{
    switch (engine::EnterRemoteFolder(remoteFolder, path)) {
    case engine::EnterResult::kEntered:
        break;
    case engine::EnterResult::kNoCurrentFolder:
        return Attempt::kRepeat;
    case engine::EnterResult::kNotEntered:
        // A folder made now is empty: whatever the store held is gone with it.
        if (FtpCreateDirectoryA(ftpConnection, path.c_str())) {
            CloseFileRecords();
            DeleteFileA(siteStoreFile);
        }
        CloseFileRecords();
        return Attempt::kRepeat;
    }
    if (!currentSite.offsetMeasured)
        MeasureServerClockOffset();

    std::vector<engine::ListedEntry> entries;
    const engine::ListResult result =
        engine::ListRemoteFolder(fileMask, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, entries);
    if (result == engine::ListResult::kBroken && !entries.empty()) {
        // A part of a listing is no baseline: start over from an empty store.
        CloseFileRecords();
        DeleteFileA(siteStoreFile);
        return Attempt::kRepeat;
    }
    // A server that cuts every listing short never gives more: what it gives
    // is the baseline (the web site check reports the cut each visit).
    if (result != engine::ListResult::kListed && result != engine::ListResult::kTruncated) {
        // Nothing listed: only the server's own "no files" makes the (empty)
        // baseline; any other answer is asked again.
        if (GetLastError() != ERROR_NO_MORE_FILES) {
            CloseFileRecords();
            return Attempt::kRepeat;
        }
        return Completed();
    }
    // Every listed entry is recorded, unsafe names too: the checks report
    // those, they never act on them locally. Left out are a record too long
    // to be stored (the web site check reports it) and the program's own
    // scratch names (S5). Any entry with the directory bit is a folder.
    for (const engine::ListedEntry& listed : entries) {
        if (engine::IsScratchName(listed.name.c_str()))
            continue;
        WIN32_FIND_DATAA entry = listed.FindData();
        ServerTimeToLocal(entry);
        char record[kRecordBufferSize];
        const bool folderLike = engine::IsAnyFolder(engine::KindOf(entry.dwFileAttributes));
        const int length = BuildFileRecord(entry, folderLike, record);
        if (length < 0)
            continue;
        std::memcpy(record + length, kMarkInit, sizeof kMarkInit); // kMarkRoom leaves room
        if (!PutFileRecord(record, nullptr)) {
            CloseFileRecords();
            return Attempt::kStoreUnavailable;
        }
    }
    return Completed();
}

} // namespace

void CreateBaseline(const char* host, const char* user, const char* password, const char* remoteFolder,
                    const char* fileMask, const char*, int16_t mode)
{
    CloseEventLog();
    CloseFileRecords();
    engine::StartPass(host, user, password, remoteFolder, fileMask);
    if (mode == kBaselineAnew)
        DeleteFileA(siteStoreFile);
    else if (SiteStoreExists())
        return;
    engine::ShowPass(kProgram, "CREATING BASELINE", host, remoteFolder, fileMask);

    if (!engine::ConnectWithRetry({kEventBaselineLost, kOutageRecorded, kProgram, "TRYING TO RECONNECT"})) {
        ConnectSite(kCloseConnection);
        CloseEventLog();
        return;
    }
    engine::EndOutage(kEventBaselineBack);
    std::string path; // worked out from the login folder once
    for (int attempt = 0; attempt < baselineAttempts && !tessil::shutdownRequested; ++attempt) {
        const Attempt result = RecordFolder(remoteFolder, fileMask, path);
        if (result == Attempt::kComplete)
            break;
        if (result == Attempt::kStoreUnavailable) {
            engine::ShowPassTitle(kProgram, engine::kStoreUnavailableStatus);
            break;
        }
        // A dead connection is not mended by asking again on it; a new one
        // starts in the login folder again.
        if (!ftpConnection) {
            if (!ConnectSite(kOpenConnection))
                break;
            path.clear();
        }
    }
    CloseFileRecords();
    ConnectSite(kCloseConnection);
    CloseEventLog();
}
