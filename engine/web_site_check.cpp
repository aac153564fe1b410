// The web site check: the live listing against the site's records. A web
// file that changed, or that the records do not know, is put back from the
// secure server folder and reported; the repaired state becomes the record.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "sites/data_files.h"
#include "sites/site_files.h"
#include "sites/site_list.h"
#include "engine/engine.h"
#include "engine/entry_kind.h"
#include "engine/local_copy.h"
#include "engine/own_acts.h"
#include "engine/pass_connection.h"
#include "engine/remote_listing.h"
#include "net/connection.h"
#include "net/file_names.h"
#include "net/timed_transfers.h"
#include "records/record_file.h"
#include "tessil/input.h"

namespace {

constexpr char kProgram[] = "MONITOR";

// The result counts entries acted on in 16 bits; a flood of new files
// stays the largest count rather than turning negative ("call again").
void CountAction(int16_t& counter)
{
    if (counter < INT16_MAX)
        ++counter;
}

// What the check found for one entry.
enum Decision : uint8_t {
    kNothingToDo = 0,
    kChanged = 1, // the record of the same name differs
    kUnknown = 2, // no record of this name
};

// `record` cut where `mark` begins after its name.
std::string CutAtMark(const char* record, const char* mark)
{
    const char* star = std::strrchr(record, '*');
    const char* at = std::strstr(star ? star : record, mark);
    return at ? std::string(record, size_t(at - record)) : std::string(record);
}

// Applies the decision table to the live record `live` and the looked-up
// record `stored` (found: the lookup's result), updating the store where
// the table says so. Returns the decision.
Decision Decide(const char* live, const char* stored, int found)
{
    // A name that sorts after every record is as unknown as any other: a
    // new file is reported wherever it sorts.
    if (found == 0 || !SameRecordName(live, stored))
        return kUnknown;
    const bool filtered = RecordHasMark(stored, kMarkFiltered);
    const bool accepted = RecordHasMark(stored, kFamilyUpdated) || RecordHasMark(stored, kMarkInit);
    if (RecordHasMark(stored, kFamilyChecked)) {
        // The secure server check waits for this check to confirm the web copy.
        if (CutAtMark(stored, kFamilyChecked) != live && !filtered && !accepted)
            return kChanged;
        std::string record = live;
        if (filtered)
            record += kMarkFiltered;
        PutFileRecord(record.c_str(), stored);
        return kNothingToDo;
    }
    if (accepted) {
        PutFileRecord(live, stored);
        return kNothingToDo;
    }
    if (filtered || std::strcmp(live, stored) == 0)
        return kNothingToDo;
    return kChanged;
}

// A record too long to be stored cannot carry the repaired state, so its
// file is reported, never put back (that would repeat every pass), and
// reported again only when it changes. Kept for the run, per site.
bool FirstSightOfLongName(const std::string& live)
{
    static std::set<std::string> seen;
    constexpr size_t kMaxRemembered = 10000;
    if (seen.size() >= kMaxRemembered)
        seen.clear();
    return seen.insert(std::string(siteStoreFile) + '\n' + live).second;
}

void EnsureQuarantineFolder()
{
    if (GetFileAttributesA(kQuarantineFolder) == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryA(kQuarantineFolder, nullptr);
}

// Puts a web file back from the clean copy. A name that is unsafe as a local
// name is never made into a local path: it is reported as not put back.
// Returns the upload's result.
int32_t PutBack(const char* secureFolder, const WIN32_FIND_DATAA& entry, bool quarantine)
{
    const char* name = entry.cFileName;
    if (ClassifyFileName(name) != FileNameUse::kLocal)
        return 0;
    if (quarantine) {
        EnsureQuarantineFolder();
        const std::string copy = engine::LocalPath(kQuarantineFolder, name);
        const int64_t size = (int64_t(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
        DownloadFile(ftpConnection, name, copy.c_str(), size);
    }
    const std::string clean = engine::LocalPath(secureFolder, name);
    if (!ftpConnection || engine::FindLocalEntry(clean, name) != engine::LocalEntry::kFile)
        return 0;
    return UploadFile(ftpConnection, clean.c_str(), name);
}

enum class EntryOutcome { kDone, kStoreUnavailable, kConnectionLost };

EntryOutcome CheckEntry(const char* secureFolder, WIN32_FIND_DATAA& entry, int16_t& counter)
{
    ServerTimeToLocal(entry);
    // The check counts read-only, hidden and archive entries with folders:
    // their sizes are not compared and they are reported, never put back.
    const engine::EntryKind kind = engine::KindOf(entry.dwFileAttributes);
    const bool folderLike = kind == engine::EntryKind::kFolder || kind == engine::EntryKind::kMarkedFile;
    char live[kRecordBufferSize];
    const int length = BuildFileRecord(entry, folderLike, live);
    if (length < 0) {
        char name[sizeof entry.cFileName + 48];
        std::snprintf(name, sizeof name, "%s*%lu-%lu-%lu-%lu", entry.cFileName,
                      (unsigned long)entry.ftLastWriteTime.dwHighDateTime,
                      (unsigned long)entry.ftLastWriteTime.dwLowDateTime, (unsigned long)entry.nFileSizeHigh,
                      (unsigned long)entry.nFileSizeLow);
        if (FirstSightOfLongName(name)) {
            CountAction(counter);
            const std::tm stamp = LocalNow();
            LogEvent(kEventSiteEntry, entry, 0, &stamp, kUnknown);
        }
        return EntryOutcome::kDone;
    }
    char stored[kRecordBufferSize] = {};
    const int found = GetFileRecord(live, stored);
    if (found < 0)
        return EntryOutcome::kStoreUnavailable;
    const Decision decision = Decide(live, stored, found);
    if (decision == kNothingToDo)
        return EntryOutcome::kDone;
    // The program's own upload, delete or probe in that folder.
    if (decision == kChanged && engine::IsAnyFolder(kind) &&
        engine::TakeOwnAct(connectionHost,
                           (std::string(FieldText(currentSite.remoteFolder)) + "/" + entry.cFileName).c_str()))
        return PutFileRecord(live, stored) ? EntryOutcome::kDone : EntryOutcome::kStoreUnavailable;

    CountAction(counter);
    int32_t changed = 0;
    if (!folderLike) {
        engine::ShowPassTitle(kProgram, "RELOADING SERVER FILE");
        changed = PutBack(secureFolder, entry, currentSite.syncWeb != 0);
    }
    const std::tm stamp = LocalNow();
    LogEvent(kEventSiteEntry, entry, changed, &stamp, decision);
    // Whether or not it was put back, the state now on the web becomes the
    // reference: the event has told the user, the next pass stays quiet.
    std::memcpy(live + length, kMarkUpdatedBySw, sizeof kMarkUpdatedBySw);
    if (!PutFileRecord(live, decision == kChanged ? stored : nullptr))
        return EntryOutcome::kStoreUnavailable;
    return ftpConnection ? EntryOutcome::kDone : EntryOutcome::kConnectionLost;
}

} // namespace

int16_t CheckWebSite(const char* secureFolder, const char* host, const char* user, const char* password,
                     const char* remoteFolder, const char* fileMask, int16_t)
{
    engine::ShowPass(kProgram, "CHECKING WEB SITE", host, remoteFolder, fileMask);
    engine::StartPass(host, user, password, remoteFolder, fileMask);
    int16_t counter = kWebCheckEndedEarly; // until the listing is checked
    auto finish = [&](int16_t result) {
        CloseEventLog();
        CloseFileRecords();
        ConnectSite(kCloseConnection);
        return result;
    };

    // Without a baseline every file would look unknown.
    if (!SiteStoreExists()) {
        engine::ShowPassTitle(kProgram, "NO BASELINE YET");
        return finish(counter);
    }
    if (!engine::ConnectWithRetry(
            {kEventSiteCheckLost, kOutageRecorded, "VANEGUARD", engine::kLostConnectionStatus, false}))
        return finish(counter);
    if (engine::EndOutage(kEventSiteCheckBack, engine::AfterRecovery::kEndPass))
        return finish(counter);

    std::string path;
    switch (engine::EnterRemoteFolder(remoteFolder, path)) {
    case engine::EnterResult::kEntered:
        break;
    case engine::EnterResult::kNoCurrentFolder:
        return finish(counter);
    case engine::EnterResult::kNotEntered:
        CloseEventLog();
        CloseFileRecords();
        // A folder made now holds nothing the records know: start afresh.
        if (FtpCreateDirectoryA(ftpConnection, path.c_str())) {
            DeleteFileA(siteStoreFile);
            CreateBaseline(host, user, password, remoteFolder, fileMask, "", kBaselineAnew);
        }
        return finish(counter);
    }
    if (!currentSite.offsetMeasured)
        MeasureServerClockOffset();

    std::vector<engine::ListedEntry> entries;
    const engine::ListResult result = engine::ListRemoteFolder(fileMask, INTERNET_FLAG_NO_CACHE_WRITE, entries);
    if (result == engine::ListResult::kEmpty)
        return finish(counter);
    // What a broken listing gave is still checked; the driver calls again.
    const bool complete = result == engine::ListResult::kListed;

    counter = 0;
    for (const engine::ListedEntry& listed : entries) {
        if (ClassifyFileName(listed.name.c_str()) == FileNameUse::kNotAFile)
            continue;
        WIN32_FIND_DATAA entry = listed.FindData();
        const EntryOutcome outcome = CheckEntry(secureFolder, entry, counter);
        if (outcome == EntryOutcome::kStoreUnavailable) {
            engine::ShowPassTitle(kProgram, engine::kStoreUnavailableStatus);
            return finish(kWebCheckEndedEarly);
        }
        // A transfer that ran out of time closed the connection; the driver
        // calls again for the rest.
        if (outcome == EntryOutcome::kConnectionLost)
            return finish(kPassCallAgain);
    }
    return finish(complete ? counter : kPassCallAgain);
}
