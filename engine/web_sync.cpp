// The web synchronisation: the web site is made to hold nothing that the
// clean copy lacks. Every entry of the remote folder without a local
// counterpart of the same spelling is deleted from the web (a sub-folder
// whole) and loses its record; one that cannot be deleted is reported and
// passed over. Nothing is uploaded.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "alerts/event_log.h"
#include "sites/site_files.h"
#include "engine/engine.h"
#include "engine/entry_kind.h"
#include "engine/local_copy.h"
#include "engine/own_acts.h"
#include "engine/pass_connection.h"
#include "engine/remote_listing.h"
#include "engine/work_list.h"
#include "net/connection.h"
#include "net/file_names.h"

int syncRestarts = 4;

namespace {

constexpr char kProgram[] = "MONITOR";
constexpr char kSyncing[] = "SYNCH WEB WITH LOCAL SERVER";
constexpr char kCleanCopyMissing[] = "SECURE SERVER FOLDER MISSING - NOTHING DELETED";
constexpr char kCleanCopyEmpty[] = "SECURE SERVER FOLDER EMPTY - NOTHING DELETED";
constexpr char kIncomplete[] = "SYNCH INCOMPLETE";
constexpr char kCutShortStatus[] = "LISTING CUT SHORT - NOTHING DELETED";

// Reads every entry of the clean copy, once for the whole call. Returns the
// title status that forbids deleting (S2), or null when the folder lists at
// least one entry: without that, a missing or unplugged clean copy would
// make every web file look missing locally and wipe the site.
const char* ReadCleanCopy(const char* localFolder, engine::LocalNames& names)
{
    if (!engine::LocalFolderExists(localFolder))
        return kCleanCopyMissing;
    for (const engine::ListedEntry& e : engine::ReadLocalFolder(localFolder, "*"))
        if (ClassifyFileName(e.name.c_str()) != FileNameUse::kNotAFile)
            names.Add(e);
    return names.empty() ? kCleanCopyEmpty : nullptr;
}

// True when the listed entry is to be deleted from the web. A local entry
// of the same spelling keeps it, whether or not it can be opened (a file
// open in an editor is still the clean copy's); a web folder (any entry
// with the directory bit, a read-only one too) needs a local folder. A name
// no local file can carry is missing by definition. The program's own
// scratch names are the web site check's to remove.
bool MissingLocally(const engine::ListedEntry& e, const engine::LocalNames& local)
{
    // Short dot names are the folder's own entries on some servers.
    if (e.name.size() <= 2 && e.name[0] == '.')
        return false;
    if (engine::IsScratchName(e.name.c_str()))
        return false;
    switch (ClassifyFileName(e.name.c_str())) {
    case FileNameUse::kNotAFile:
    case FileNameUse::kScratch:
        return false;
    case FileNameUse::kServerOnly:
        return true;
    case FileNameUse::kLocal:
        break;
    }
    const engine::LocalEntry here = local.Find(e.name);
    const bool webFolder = engine::IsAnyFolder(engine::KindOf(e.attributes));
    return here == engine::LocalEntry::kNone || (webFolder && here != engine::LocalEntry::kFolder);
}

enum class PassEnd {
    kDone,       // nothing left to do: kPassDone
    kAgain,      // a listing broke off or the pass was cut short: a new pass
    kCallAgain,  // connection re-established, or no current folder: kPassCallAgain
    kGiveUp,     // no connection after reconnectRounds: kPassDone
    kNoWorkList, // the work list cannot be written or read back: kPassDone
    kNoStore,    // the record store cannot be read: kPassDone
    kCutShort,   // the server cut the listing short: kPassDone, nothing deleted
};

// The entries of this visit that could not be deleted, by site and name:
// each is reported once and passed over, so that it holds back no entry
// after it. A call that follows one which asked to be called again belongs
// to the same visit; any other call begins a visit.
std::set<std::string> notDeleted;
bool visitContinues = false;

std::string NotDeletedKey(const std::string& name)
{
    return std::string(siteStoreFile) + '\n' + name;
}

// Closes what a pass opened.
void ClosePass()
{
    CloseEventLog();
    CloseFileRecords();
    ConnectSite(kCloseConnection);
}

// Removes the record of an entry just deleted. False when the store cannot
// be read (R5).
bool ForgetRecord(const std::string& name)
{
    if (name.size() + 1 >= size_t(kRecordBufferSize))
        return true; // too long ever to have been recorded (R1)
    const std::string key = name + '*'; // the name ends at the last "*" (R2)
    char stored[kRecordBufferSize];
    const int found = GetFileRecord(key.c_str(), stored);
    if (found == 1)
        PutFileRecord(nullptr, stored);
    return found >= 0;
}

// Reports an entry that should have been deleted and was not, and
// remembers it for the visit.
void ReportNotDeleted(uint8_t type, const engine::ListedEntry& e, const std::tm& stamp)
{
    notDeleted.insert(NotDeletedKey(e.name));
    LogEvent(type, e.FindData(), int32_t(e.attributes), &stamp, kDetailNotDeleted);
}

// True when the connection still answers: a deletion it refused was the
// server's refusal, not a lost connection.
bool StillConnected()
{
    char current[MAX_PATH];
    DWORD length = sizeof current;
    return ftpConnection && FtpGetCurrentDirectoryA(ftpConnection, current, &length);
}

// One listing of the remote folder and the deletions it calls for.
// `leftOver` counts the entries this visit could not delete.
PassEnd SyncPass(const engine::LocalNames& local, const char* host, const char* remoteFolder, const char* fileMask,
                 const std::tm& stamp, int& leftOver)
{
    const EventPageBatch batch; // the page is drawn once, when the pass ends
    if (!engine::ConnectWithRetry({kEventRestoreLost, kOutageRecorded, kProgram, engine::kLostConnectionStatus}))
        return PassEnd::kGiveUp;
    if (engine::EndOutage(kEventRestoreBack, engine::AfterRecovery::kEndPass))
        return PassEnd::kCallAgain;
    std::string path;
    switch (engine::EnterRemoteFolder(remoteFolder, path)) {
    case engine::EnterResult::kEntered:
        break;
    case engine::EnterResult::kNoCurrentFolder:
        return PassEnd::kCallAgain;
    case engine::EnterResult::kNotEntered:
        return PassEnd::kDone;
    }

    std::vector<engine::ListedEntry> entries;
    switch (engine::ListRemoteFolder(fileMask, INTERNET_FLAG_NO_CACHE_WRITE, entries)) {
    case engine::ListResult::kListed:
        break;
    case engine::ListResult::kEmpty:
        return PassEnd::kDone;
    case engine::ListResult::kTruncated:
        return PassEnd::kCutShort; // S1; asking again gives no more
    case engine::ListResult::kBroken:
        return PassEnd::kAgain; // S1: half a folder is not the folder
    }

    leftOver = 0;
    std::vector<engine::ListedEntry> missing;
    for (engine::ListedEntry& e : entries) {
        if (!MissingLocally(e, local))
            continue;
        if (notDeleted.count(NotDeletedKey(e.name))) {
            ++leftOver; // reported already
            continue;
        }
        WIN32_FIND_DATAA data = e.FindData();
        ServerTimeToLocal(data);
        e.lastWrite = data.ftLastWriteTime;
        missing.push_back(std::move(e));
    }
    std::vector<engine::ListedEntry> work;
    if (!engine::WriteWorkList(missing) || !engine::ReadWorkList(work))
        return PassEnd::kNoWorkList;

    for (const engine::ListedEntry& e : work) {
        if (engine::IsAnyFolder(engine::KindOf(e.attributes))) {
            const std::string folderPath = remoteFolder[0] ? std::string(remoteFolder) + '/' + e.name : e.name;
            if (DeleteRemoteFolder(folderPath.c_str(), 1)) {
                LogEvent(kEventFolderDeleted, e.FindData(), int32_t(e.attributes), &stamp, 0);
                if (!ForgetRecord(e.name))
                    return PassEnd::kNoStore;
            } else {
                ReportNotDeleted(kEventFolderDeleted, e, stamp);
                ++leftOver;
            }
            if (!engine::ConnectWithRetry(
                    {kEventUploadLost, kUploadOutageRecorded, kProgram, engine::kLostConnectionStatus}))
                return PassEnd::kGiveUp;
            // The rest are deleted by their bare names: only inside the
            // remote folder itself (S1). `path` is the one tried above.
            if (engine::EnterRemoteFolder(remoteFolder, path) != engine::EnterResult::kEntered)
                return PassEnd::kAgain;
            continue;
        }
        if (ftpConnection && FtpDeleteFileA(ftpConnection, e.name.c_str())) {
            engine::NoteOwnAct(host, remoteFolder);
            LogEvent(kEventFileDeleted, e.FindData(), int32_t(e.attributes), &stamp, 0);
            if (!ForgetRecord(e.name))
                return PassEnd::kNoStore;
            continue;
        }
        // A lost connection leaves the rest to a new pass, which lists afresh.
        if (!StillConnected())
            return PassEnd::kAgain;
        ReportNotDeleted(kEventFileDeleted, e, stamp);
        ++leftOver;
    }
    return PassEnd::kDone;
}

} // namespace

int32_t SyncWebWithServer(const char* localFolder, const char* host, const char* user, const char* password,
                          const char* remoteFolder, const char* fileMask)
{
    engine::ShowPass(kProgram, kSyncing, host, remoteFolder, fileMask);
    const std::tm stamp = LocalNow();
    engine::StartPass(host, user, password, remoteFolder, fileMask);
    if (!visitContinues)
        notDeleted.clear();
    auto finish = [&](int32_t result, const char* status) {
        ClosePass();
        visitContinues = result == kPassCallAgain;
        if (status)
            engine::ShowPassTitle(kProgram, status);
        return result;
    };

    engine::LocalNames local;
    if (const char* refusal = ReadCleanCopy(localFolder, local))
        return finish(kPassDone, refusal);

    int leftOver = 0;
    for (int pass = 0;; ++pass) {
        if (pass > syncRestarts)
            return finish(kPassDone, kIncomplete);
        switch (SyncPass(local, host, remoteFolder, fileMask, stamp, leftOver)) {
        case PassEnd::kDone:
            return finish(kPassDone, leftOver ? kIncomplete : nullptr);
        case PassEnd::kGiveUp:
            return finish(kPassDone, nullptr);
        case PassEnd::kCallAgain:
            return finish(kPassCallAgain, nullptr);
        case PassEnd::kNoWorkList:
            return finish(kPassDone, engine::kWorkListUnavailableStatus);
        case PassEnd::kNoStore:
            return finish(kPassDone, engine::kStoreUnavailableStatus);
        case PassEnd::kCutShort:
            return finish(kPassDone, kCutShortStatus);
        case PassEnd::kAgain:
            ClosePass();
            break;
        }
    }
}
