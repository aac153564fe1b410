// The web synchronisation: the web site is made to hold nothing that the
// clean copy lacks. Every entry of the remote folder without a local
// counterpart of the same spelling is deleted from the web (a sub-folder
// whole), and a deleted file loses its record. Nothing is uploaded.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "alerts/event_log.h"
#include "engine/engine.h"
#include "engine/entry_kind.h"
#include "engine/local_copy.h"
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
// open in an editor is still the clean copy's); a web folder (a plain one:
// any other word is a file here) needs a local folder. A name no local file
// can carry is missing by definition.
bool MissingLocally(const engine::ListedEntry& e, const engine::LocalNames& local)
{
    // Short dot names are the folder's own entries on some servers.
    if (e.name.size() <= 2 && e.name[0] == '.')
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
    const bool webFolder = engine::KindOf(e.attributes) == engine::EntryKind::kFolder;
    return here == engine::LocalEntry::kNone || (webFolder && here != engine::LocalEntry::kFolder);
}

enum class PassEnd {
    kDone,           // nothing left to do: kPassDone
    kAgain,          // a listing broke off or entries are left: a new pass
    kCallAgain,      // connection re-established, or no current folder: kPassCallAgain
    kGiveUp,         // no connection after reconnectRounds: kPassDone
    kNoWorkList,     // the work list cannot be written or read back: kPassDone
    kNoStore,        // the record store cannot be read: kPassDone
};

// Closes what a pass opened.
void ClosePass()
{
    CloseEventLog();
    CloseFileRecords();
    ConnectSite(kCloseConnection);
}

// Removes the record of a file just deleted. The counter falls only when
// the store holds a record at or after the name, so a file never recorded
// costs one more listing, which finds it gone.
bool ForgetRecord(const std::string& name, int& counter)
{
    if (name.size() + 1 >= size_t(kRecordBufferSize))
        return true; // too long ever to have been recorded (R1)
    const std::string key = name + '*'; // the name ends at the last "*" (R2)
    char stored[kRecordBufferSize];
    const int found = GetFileRecord(key.c_str(), stored);
    if (found < 0)
        return false;
    if (found == 1) {
        --counter;
        if (size_t(RecordNameLength(stored)) == name.size() && std::memcmp(stored, name.data(), name.size()) == 0)
            PutFileRecord(nullptr, stored);
    }
    return true;
}

// One listing of the remote folder and the deletions it calls for.
PassEnd SyncPass(const engine::LocalNames& local, const char* remoteFolder, const char* fileMask, const std::tm& stamp)
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
    case engine::ListResult::kBroken:
        return PassEnd::kAgain; // S1: half a folder is not the folder
    }

    std::vector<engine::ListedEntry> missing;
    for (engine::ListedEntry& e : entries) {
        if (!MissingLocally(e, local))
            continue;
        WIN32_FIND_DATAA data = e.FindData();
        ServerTimeToLocal(data);
        e.lastWrite = data.ftLastWriteTime;
        missing.push_back(std::move(e));
    }
    std::vector<engine::ListedEntry> work;
    if (!engine::WriteWorkList(missing) || !engine::ReadWorkList(work))
        return PassEnd::kNoWorkList;

    int counter = int(work.size());
    for (const engine::ListedEntry& e : work) {
        const WIN32_FIND_DATAA entry = e.FindData();
        if (engine::KindOf(e.attributes) == engine::EntryKind::kFolder) {
            const std::string folderPath = remoteFolder[0] ? std::string(remoteFolder) + '/' + e.name : e.name;
            DeleteRemoteFolder(folderPath.c_str(), 1);
            // Logged whatever came of it: a folder still there is found again
            // by the next synchronisation.
            LogEvent(kEventFolderDeleted, entry, int32_t(e.attributes), &stamp, 0);
            if (!engine::ConnectWithRetry(
                    {kEventUploadLost, kUploadOutageRecorded, kProgram, engine::kLostConnectionStatus}))
                return PassEnd::kGiveUp;
            // The rest are deleted by their bare names: only inside the
            // remote folder itself (S1). `path` is the one tried above.
            if (engine::EnterRemoteFolder(remoteFolder, path) != engine::EnterResult::kEntered)
                break;
            --counter;
            continue;
        }
        if (!FtpDeleteFileA(ftpConnection, e.name.c_str()))
            break; // the rest wait for a new pass, which lists afresh
        LogEvent(kEventFileDeleted, entry, int32_t(e.attributes), &stamp, 0);
        if (!ForgetRecord(e.name, counter))
            return PassEnd::kNoStore;
    }
    return counter == 0 ? PassEnd::kDone : PassEnd::kAgain;
}

} // namespace

int32_t SyncWebWithServer(const char* localFolder, const char* host, const char* user, const char* password,
                          const char* remoteFolder, const char* fileMask)
{
    engine::ShowPass(kProgram, kSyncing, host, remoteFolder, fileMask);
    const std::tm stamp = LocalNow();
    engine::StartPass(host, user, password, remoteFolder, fileMask);
    auto finish = [&](int32_t result, const char* status) {
        ClosePass();
        if (status)
            engine::ShowPassTitle(kProgram, status);
        return result;
    };

    engine::LocalNames local;
    if (const char* refusal = ReadCleanCopy(localFolder, local))
        return finish(kPassDone, refusal);

    for (int pass = 0;; ++pass) {
        if (pass > syncRestarts)
            return finish(kPassDone, kIncomplete);
        switch (SyncPass(local, remoteFolder, fileMask, stamp)) {
        case PassEnd::kDone:
        case PassEnd::kGiveUp:
            return finish(kPassDone, nullptr);
        case PassEnd::kCallAgain:
            return finish(kPassCallAgain, nullptr);
        case PassEnd::kNoWorkList:
            return finish(kPassDone, engine::kWorkListUnavailableStatus);
        case PassEnd::kNoStore:
            return finish(kPassDone, engine::kStoreUnavailableStatus);
        case PassEnd::kAgain:
            ClosePass();
            break;
        }
    }
}
