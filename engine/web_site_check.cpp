// The web site check: the live listing against the site's records. A web
// file that changed, or that the records do not know, is put back from the
// secure server folder and reported. A put-back is never taken on trust:
// the folder is listed again after the pass's put-backs, and only what that
// listing shows becomes the record; a put-back that did not take keeps the
// old record, so the next visit tries again.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
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
#include "engine/put_back.h"
#include "engine/remote_listing.h"
#include "net/connection.h"
#include "net/file_names.h"
#include "net/timed_transfers.h"
#include "platform/extensions.h"
#include "tessil/input.h"

namespace {

constexpr char kProgram[] = "MONITOR";

constexpr int64_t kTicksPerMinute = 600000000;
constexpr int64_t kTicksPerHour = 60 * kTicksPerMinute;
// A server's clock or time zone moves every time by a whole number of
// quarter hours; fewer files than this moving alike are ordinary changes.
constexpr int64_t kClockShiftStep = 15 * kTicksPerMinute;
constexpr int kMinShiftedFiles = 3;

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

int64_t Ticks(const FILETIME& time)
{
    return int64_t((uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

void AddTicks(FILETIME& time, int64_t ticks)
{
    const uint64_t value = uint64_t(Ticks(time) + ticks);
    time.dwHighDateTime = DWORD(value >> 32);
    time.dwLowDateTime = DWORD(value);
}

bool SameSize(const RecordFields& a, const RecordFields& b)
{
    return a.sizeHigh == b.sizeHigh && a.sizeLow == b.sizeLow;
}

// The live entry as the record has it, or as a record written before modes
// and read-only files were kept has it: no mode, or (a read-only, hidden or
// archive file, once counted with folders) the size 0-0 at the same time.
enum class Match { kDiffers, kSame, kOlderForm };

Match CompareWithRecord(const RecordFields& live, const RecordFields& was, bool markedFile)
{
    if (CompareFileTime(&live.time, &was.time) != 0 || live.link != was.link)
        return Match::kDiffers;
    const bool olderSize = markedFile && was.sizeHigh == 0 && was.sizeLow == 0 && !SameSize(live, was);
    if (!SameSize(live, was) && !olderSize)
        return Match::kDiffers;
    if (live.modeKnown && was.modeKnown && live.mode != was.mode)
        return Match::kDiffers;
    return olderSize || (live.modeKnown && !was.modeKnown) ? Match::kOlderForm : Match::kSame;
}

// One listed entry that the records do not account for.
struct Finding {
    WIN32_FIND_DATAA entry; // after ServerTimeToLocal, as the event logs it
    char live[kRecordBufferSize];
    char stored[kRecordBufferSize]; // empty when unknown
    Decision decision;
    bool folder;
    RecordFields now, was; // `was` only when changed
};

// Applies the decision table to `finding` (its live record and the lookup's
// result), updating the store where the table says so. Returns the
// decision; `sameSize` tells whether the entry is a file whose record has
// the same name and size.
Decision Decide(Finding& f, int found, bool markedFile, bool& sameSize)
{
    sameSize = false;
    if (std::strcmp(f.live, f.stored) == 0) {
        sameSize = !f.folder;
        return kNothingToDo;
    }
    ReadRecordFields(f.live, f.now);
    // A name that sorts after every record is as unknown as any other: a
    // new file is reported wherever it sorts.
    if (found == 0 || !SameRecordName(f.live, f.stored))
        return kUnknown;
    const bool known = ReadRecordFields(f.stored, f.was);
    sameSize = known && !f.folder && SameSize(f.now, f.was);
    const Match match = known ? CompareWithRecord(f.now, f.was, markedFile) : Match::kDiffers;
    const bool filtered = RecordHasMark(f.stored, kMarkFiltered);
    // Records older stores wrote after a put-back or an upload, and the
    // baseline's, take what is listed once.
    const bool accepted = RecordHasMark(f.stored, kFamilyUpdated) || RecordHasMark(f.stored, kMarkInit);
    if (RecordHasMark(f.stored, kFamilyChecked)) {
        // The secure server check waits for this check to confirm the web copy.
        if (match == Match::kDiffers && !filtered && !accepted)
            return kChanged;
        std::string record = f.live;
        if (filtered)
            record += kMarkFiltered;
        PutFileRecord(record.c_str(), f.stored);
        return kNothingToDo;
    }
    if (accepted) {
        PutFileRecord(f.live, f.stored);
        return kNothingToDo;
    }
    if (filtered)
        return kNothingToDo;
    if (match == Match::kOlderForm)
        PutFileRecord(f.live, f.stored);
    if (match != Match::kDiffers)
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

void LogSiteEvent(const WIN32_FIND_DATAA& entry, int32_t changed, int32_t detail)
{
    const std::tm stamp = LocalNow();
    LogEvent(kEventSiteEntry, entry, changed, &stamp, detail);
}

// An event whose entry is only a text: the clock shift, the cut listing.
void LogNamedEvent(const char* text, int32_t changed, int32_t detail)
{
    WIN32_FIND_DATAA entry;
    std::memset(&entry, 0, sizeof entry);
    std::snprintf(entry.cFileName, sizeof entry.cFileName, "%s", text);
    LogSiteEvent(entry, changed, detail);
}

enum class EntryOutcome { kDone, kStoreUnavailable };

// Builds the live record of one listed entry and decides it. Quiet entries
// end here (the usual case: one lookup each); the others go to `findings`.
EntryOutcome CheckEntry(const engine::ListedEntry& listed, std::vector<Finding>& findings, int& sameSizeFiles,
                        int16_t& counter)
{
    Finding& f = findings.emplace_back();
    f.entry = listed.FindData();
    ServerTimeToLocal(f.entry);
    // Only the directory bit makes a folder: read-only, hidden and archive
    // files are compared and put back like any other.
    const engine::EntryKind kind = engine::KindOf(f.entry.dwFileAttributes);
    f.folder = engine::IsAnyFolder(kind);
    const int length = BuildFileRecord(f.entry, f.folder, f.live);
    if (length < 0) {
        char name[sizeof f.entry.cFileName + 48];
        std::snprintf(name, sizeof name, "%s*%lu-%lu-%lu-%lu", f.entry.cFileName,
                      (unsigned long)f.entry.ftLastWriteTime.dwHighDateTime,
                      (unsigned long)f.entry.ftLastWriteTime.dwLowDateTime, (unsigned long)f.entry.nFileSizeHigh,
                      (unsigned long)f.entry.nFileSizeLow);
        if (FirstSightOfLongName(name)) {
            CountAction(counter);
            LogSiteEvent(f.entry, 0, kUnknown);
        }
        findings.pop_back();
        return EntryOutcome::kDone;
    }
    const int found = GetFileRecord(f.live, f.stored);
    if (found < 0) {
        findings.pop_back();
        return EntryOutcome::kStoreUnavailable;
    }
    bool sameSize = false;
    f.decision = Decide(f, found, kind == engine::EntryKind::kMarkedFile, sameSize);
    if (sameSize)
        ++sameSizeFiles;
    if (f.decision == kNothingToDo)
        findings.pop_back();
    else if (f.decision == kUnknown)
        f.stored[0] = '\0';
    return EntryOutcome::kDone;
}

// The time by which a changed file moved against its record when nothing
// else about it changed; 0 otherwise.
int64_t TimeShift(const Finding& f)
{
    if (f.decision != kChanged || f.folder || !SameSize(f.now, f.was) || f.now.link != f.was.link ||
        (f.now.modeKnown && f.was.modeKnown && f.now.mode != f.was.mode))
        return 0;
    const int64_t shift = Ticks(f.now.time) - Ticks(f.was.time);
    return shift % kClockShiftStep == 0 ? shift : 0;
}

// When most files whose name and size match their records (more than half,
// and at least kMinShiftedFiles) moved by the same whole number of quarter
// hours, the server's clock moved, not the files: one event, and the shift
// is adopted (whole hours in the site's offset, else in the records).
// Those files leave `findings`; the others stay, their times re-based on
// an adjusted offset. True when a shift was adopted.
bool AdoptClockShift(std::vector<Finding>& findings, int sameSizeFiles)
{
    std::map<int64_t, int> shifts;
    for (const Finding& f : findings)
        if (const int64_t shift = TimeShift(f))
            ++shifts[shift];
    int64_t shift = 0;
    for (const auto& [ticks, count] : shifts)
        if (count >= kMinShiftedFiles && count * 2 > sameSizeFiles)
            shift = ticks;
    if (shift == 0)
        return false;

    char text[32];
    std::snprintf(text, sizeof text, "%+lld MIN", (long long)(shift / kTicksPerMinute));
    LogNamedEvent(text, 1, kDetailClockShift);
    const bool wholeHours = shift % kTicksPerHour == 0;
    if (wholeHours) {
        SetSiteOffsetHours(currentSite, SiteOffsetHours(currentSite) + int32_t(shift / kTicksPerHour));
        if (currentRecordNumber > 0)
            WriteSiteRecord(siteListPath, currentSite, currentRecordNumber);
    }
    std::vector<Finding> rest;
    for (Finding& f : findings) {
        bool shifted = TimeShift(f) == shift;
        if (wholeHours) {
            // Under the new offset a folder the clock moved as well (and a
            // file that moved alike but also changed mode) lists as recorded.
            AddTicks(f.entry.ftLastWriteTime, -shift);
            BuildFileRecord(f.entry, f.folder, f.live);
            ReadRecordFields(f.live, f.now);
            shifted = shifted || (f.decision == kChanged && std::strcmp(f.live, f.stored) == 0);
        }
        if (!shifted) {
            rest.push_back(f);
            continue;
        }
        if (std::strcmp(f.live, f.stored) != 0)
            PutFileRecord(f.live, f.stored);
    }
    findings.swap(rest);
    return true;
}

// What a put-back is to bring back, and how it went so far.
struct PutBack {
    Finding* finding;
    int32_t detail;
    bool content;       // the clean file was sent (else only the mode)
    bool sent;          // the server took the upload or the mode command
    DWORD cleanSizeHigh, cleanSizeLow;
};

void EnsureQuarantineFolder()
{
    if (GetFileAttributesA(kQuarantineFolder) == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryA(kQuarantineFolder, nullptr);
}

// Puts a web file back from the clean copy, replacing what is there (a link
// too, never written through). A name that is unsafe as a local name is
// never made into a local path, and a file the clean copy lacks cannot be
// put back: false for both, with nothing sent.
bool SendCleanFile(const char* secureFolder, const Finding& f, bool quarantine, PutBack& putBack)
{
    const char* name = f.entry.cFileName;
    if (ClassifyFileName(name) != FileNameUse::kLocal)
        return false;
    const std::string clean = engine::LocalPath(secureFolder, name);
    if (!ftpConnection || engine::FindLocalEntry(clean, name) != engine::LocalEntry::kFile)
        return false;
    WIN32_FIND_DATAA cleanData;
    HANDLE found = FindFirstFileA(clean.c_str(), &cleanData);
    if (found == INVALID_HANDLE_VALUE)
        return false;
    FindClose(found);
    if (quarantine) {
        EnsureQuarantineFolder();
        const std::string copy = engine::LocalPath(kQuarantineFolder, name);
        const int64_t size = (int64_t(f.entry.nFileSizeHigh) << 32) | f.entry.nFileSizeLow;
        DownloadFile(ftpConnection, name, copy.c_str(), size);
    }
    putBack.cleanSizeHigh = cleanData.nFileSizeHigh;
    putBack.cleanSizeLow = cleanData.nFileSizeLow;
    putBack.sent = ftpConnection && engine::ReplaceRemoteFile(clean.c_str(), name, f.now.link);
    return true;
}

const engine::ListedEntry* FindListed(const std::vector<engine::ListedEntry>& listing, const char* name)
{
    auto at = std::lower_bound(listing.begin(), listing.end(), name,
                               [](const engine::ListedEntry& e, const char* n) { return e.name < n; });
    return at != listing.end() && at->name == name ? &*at : nullptr;
}

// Lists the folder once for all of the pass's put-backs and records what
// it shows of each that took; one that did not keeps its old record and is
// reported as failed. A listing that cannot be had verifies nothing: every
// record stays, and the next visit looks again. False when the store
// became unavailable.
bool VerifyPutBacks(std::vector<PutBack>& putBacks, const char* fileMask)
{
    std::vector<engine::ListedEntry> listing;
    const bool listed = ftpConnection &&
                        engine::ListRemoteFolder(fileMask, INTERNET_FLAG_NO_CACHE_WRITE, listing) ==
                            engine::ListResult::kListed;
    for (PutBack& p : putBacks) {
        Finding& f = *p.finding;
        const char* old = f.stored[0] ? f.stored : nullptr;
        const engine::ListedEntry* now = listed ? FindListed(listing, f.entry.cFileName) : nullptr;
        if (!listed) {
            LogSiteEvent(f.entry, p.sent, p.detail);
            continue;
        }
        const bool plainFile = now && !engine::IsAnyFolder(engine::KindOf(now->attributes)) &&
                               now->reparseTag != IO_REPARSE_TAG_SYMLINK;
        WIN32_FIND_DATAA entry;
        if (plainFile) {
            entry = now->FindData();
            ServerTimeToLocal(entry);
        }
        const DWORD listedMode = plainFile && (now->mode & kFindDataModeKnown) ? now->mode : 0;
        const DWORD wantedMode = f.was.modeKnown ? kFindDataModeKnown | f.was.mode : 0;
        if (!p.content) {
            // Only the mode was to be set: a server that cannot do it
            // leaves the file as it is, reported, and the state it lists
            // becomes the record (asking again would only repeat the event).
            const bool took = p.sent && plainFile && (!listedMode || listedMode == wantedMode);
            if (took && !listedMode)
                entry.dwReserved1 = wantedMode;
            LogSiteEvent(f.entry, took, kDetailModeChanged);
            char record[kRecordBufferSize];
            if (BuildFileRecord(plainFile ? entry : f.entry, false, record) < 0 ||
                !PutFileRecord(record, old))
                return false;
            continue;
        }
        const bool took = p.sent && plainFile && entry.nFileSizeHigh == p.cleanSizeHigh &&
                          entry.nFileSizeLow == p.cleanSizeLow;
        if (!took) {
            LogSiteEvent(f.entry, 0, kDetailPutBackFailed);
            continue;
        }
        LogSiteEvent(f.entry, 1, p.detail);
        // An upload gets the server's own mode; the record's is set back.
        if (wantedMode && listedMode && listedMode != wantedMode) {
            if (engine::SetRemoteMode(f.entry.cFileName, f.was.mode))
                entry.dwReserved1 = wantedMode;
            else
                LogSiteEvent(entry, 0, kDetailModeChanged);
        }
        char record[kRecordBufferSize];
        if (BuildFileRecord(entry, false, record) >= 0 && !PutFileRecord(record, old))
            return false;
    }
    return true;
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
    // A listing the server cut short is reported instead: it would be cut
    // the same way if asked again.
    const bool broken = result == engine::ListResult::kBroken;

    counter = 0;
    const EventPageBatch batch; // the page is drawn once, when the pass ends
    if (result == engine::ListResult::kTruncated) {
        CountAction(counter);
        LogNamedEvent(remoteFolder, 0, kDetailListTruncated);
    }
    // Decide every entry first; only those the records do not account for
    // are kept, and acted on after.
    std::vector<Finding> findings;
    std::vector<std::string> scratch;
    int sameSizeFiles = 0;
    for (const engine::ListedEntry& listed : entries) {
        if (ClassifyFileName(listed.name.c_str()) == FileNameUse::kNotAFile)
            continue;
        if (engine::IsScratchName(listed.name.c_str())) {
            scratch.push_back(listed.name);
            continue;
        }
        if (CheckEntry(listed, findings, sameSizeFiles, counter) == EntryOutcome::kStoreUnavailable) {
            engine::ShowPassTitle(kProgram, engine::kStoreUnavailableStatus);
            return finish(kWebCheckEndedEarly);
        }
    }
    // Left by a run that was stopped mid-upload: never the site's own.
    for (const std::string& name : scratch)
        if (ftpConnection && FtpDeleteFileA(ftpConnection, name.c_str()))
            engine::NoteOwnAct(host, remoteFolder);
    if (AdoptClockShift(findings, sameSizeFiles))
        CountAction(counter);

    std::vector<PutBack> putBacks;
    bool lost = false;
    for (Finding& f : findings) {
        const std::string folderPath = std::string(remoteFolder) + "/" + f.entry.cFileName;
        if (f.folder) {
            // The program's own upload, delete or probe in that folder.
            if (f.decision == kChanged && engine::TakeOwnAct(host, folderPath.c_str())) {
                if (!PutFileRecord(f.live, f.stored))
                    return finish(kWebCheckEndedEarly);
                continue;
            }
            CountAction(counter);
            LogSiteEvent(f.entry, 0, f.decision);
            if (!PutFileRecord(f.live, f.decision == kChanged ? f.stored : nullptr))
                return finish(kWebCheckEndedEarly);
            continue;
        }
        CountAction(counter);
        const bool wasFile = f.decision == kChanged && !f.was.link;
        const bool modeOnly = wasFile && !f.now.link && CompareFileTime(&f.now.time, &f.was.time) == 0 &&
                              SameSize(f.now, f.was) && f.now.modeKnown && f.was.modeKnown &&
                              f.now.mode != f.was.mode;
        PutBack p{&f, f.now.link ? int32_t(kDetailLink) : int32_t(f.decision), !modeOnly, false, 0, 0};
        bool attempted = false;
        if (modeOnly) {
            engine::ShowPassTitle(kProgram, "RESETTING SERVER FILE MODE");
            attempted = ClassifyFileName(f.entry.cFileName) == FileNameUse::kLocal;
            p.sent = attempted && engine::SetRemoteMode(f.entry.cFileName, f.was.mode);
        } else {
            engine::ShowPassTitle(kProgram, "RELOADING SERVER FILE");
            attempted = SendCleanFile(secureFolder, f, currentSite.syncWeb != 0, p);
            if (attempted)
                engine::NoteOwnAct(host, remoteFolder);
        }
        if (attempted) {
            putBacks.push_back(p);
        } else {
            // Nothing to put back with: reported once, and the state on the
            // web becomes the record, so a further change is reported too.
            LogSiteEvent(f.entry, 0, modeOnly ? int32_t(kDetailModeChanged) : p.detail);
            if (!PutFileRecord(f.live, f.decision == kChanged ? f.stored : nullptr))
                return finish(kWebCheckEndedEarly);
        }
        // A transfer that ran out of time closed the connection: the rest
        // waits for the driver's next call.
        if (!ftpConnection) {
            lost = true;
            break;
        }
    }
    if (!putBacks.empty() && !VerifyPutBacks(putBacks, fileMask)) {
        engine::ShowPassTitle(kProgram, engine::kStoreUnavailableStatus);
        return finish(kWebCheckEndedEarly);
    }
    return finish(broken || lost ? kPassCallAgain : counter);
}
