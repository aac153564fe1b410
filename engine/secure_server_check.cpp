// The secure server check: the clean copy brought to the web. A local file
// that the records do not know, or that is newer than its record, is
// uploaded; one that is not newer is marked for the web site check to
// confirm, and a mark that survives to the next pass means the web copy
// went missing, so the file is uploaded again.
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "sites/site_files.h"
#include "sites/site_list.h"
#include "engine/engine.h"
#include "engine/entry_kind.h"
#include "engine/local_copy.h"
#include "engine/pass_connection.h"
#include "net/connection.h"
#include "net/file_names.h"
#include "net/timed_transfers.h"
#include "tessil/input.h"

namespace {

constexpr char kProgram[] = "MONITOR";

enum Decision : uint8_t {
    kNoUpload = 0,
    kNewer = 1,    // local copy newer than the record, or not confirmed on the web
    kNotKnown = 2, // no record of this name
    kMarkAsChecked = 3,
};

// The pass's one connection, opened at its first upload and kept for the
// rest, in the remote folder.
class UploadConnection {
public:
    UploadConnection(const char* remoteFolder) : remoteFolder_(remoteFolder) {}
    ~UploadConnection() { ConnectSite(kCloseConnection); }

    enum class State { kReady, kGiveUp };

    State Ready()
    {
        if (ftpConnection && entered_)
            return State::kReady;
        entered_ = false;
        if (!engine::ConnectWithRetry(
                {kEventUploadLost, kUploadOutageRecorded, kProgram, engine::kLostConnectionStatus}))
            return State::kGiveUp;
        engine::EndOutage(kEventUploadBack);
        // A file must not land in whatever folder the login gave.
        std::string path; // a new connection starts in the login folder
        entered_ = engine::EnterRemoteFolder(remoteFolder_, path) == engine::EnterResult::kEntered;
        return entered_ ? State::kReady : State::kGiveUp;
    }

private:
    const char* remoteFolder_;
    bool entered_ = false;
};

// What this run uploaded, per site and name: the local time and size of the
// copy sent. A server lists times cut to the second or the minute (a day
// for old files), and its clock may lag the local one by minutes, so the
// web time recorded after an upload can be earlier than the local copy's
// own: that copy is not newer than the web's, and is not sent again.
class SentCopies {
public:
    bool Sent(const char* name, const WIN32_FIND_DATAA& entry) const
    {
        auto at = sent_.find(Key(name));
        return at != sent_.end() && at->second == Copy(entry);
    }
    void Remember(const char* name, const WIN32_FIND_DATAA& entry)
    {
        constexpr size_t kMaxRemembered = 100000;
        if (sent_.size() >= kMaxRemembered)
            sent_.clear();
        sent_[Key(name)] = Copy(entry);
    }

private:
    using CopyId = std::tuple<DWORD, DWORD, DWORD, DWORD>;
    static std::string Key(const char* name) { return std::string(siteStoreFile) + '\n' + name; }
    static CopyId Copy(const WIN32_FIND_DATAA& entry)
    {
        return {entry.ftLastWriteTime.dwHighDateTime, entry.ftLastWriteTime.dwLowDateTime, entry.nFileSizeHigh,
                entry.nFileSizeLow};
    }
    std::map<std::string, CopyId> sent_;
};

SentCopies sentCopies;

struct PassState {
    const char* secureFolder;
    UploadConnection connection;
    int32_t count = 0;
    bool stop = false; // no more uploads in this pass
};

// Uploads one local file; 1 when it arrived. Sets state.stop when no
// connection into the remote folder can be had: the rest waits for the
// next pass, with its records as they were.
int32_t Upload(PassState& state, const char* name, bool& attempted)
{
    attempted = false;
    if (state.connection.Ready() != UploadConnection::State::kReady) {
        state.stop = true;
        return 0;
    }
    attempted = true;
    engine::ShowPassTitle(kProgram, "SENDING SERVER FILE TO WEB SITE");
    const std::string local = engine::LocalPath(state.secureFolder, name);
    return UploadFile(ftpConnection, local.c_str(), name);
}

void CheckEntry(PassState& state, WIN32_FIND_DATAA& entry)
{
    FILETIME local;
    FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local);
    entry.ftLastWriteTime = local;
    // Only plain folders are recorded as folders.
    const bool folderLike = engine::KindOf(entry.dwFileAttributes) == engine::EntryKind::kFolder;
    char record[kRecordBufferSize];
    const int length = BuildFileRecord(entry, folderLike, record);
    if (length < 0)
        return; // cannot be recorded, so an upload would repeat every pass
    char stored[kRecordBufferSize] = {};
    const int found = GetFileRecord(record, stored);
    if (found < 0) {
        state.stop = true;
        engine::ShowPassTitle(kProgram, engine::kStoreUnavailableStatus);
        return;
    }

    Decision decision;
    if (found == 0 || !SameRecordName(record, stored)) {
        decision = kNotKnown;
    } else if (RecordHasMark(stored, kMarkFiltered)) {
        std::memcpy(record + length, kMarkFiltered, sizeof kMarkFiltered);
        PutFileRecord(record, stored);
        return;
    } else {
        FILETIME recorded{};
        const bool known = RecordTime(stored, recorded);
        if (!known || (CompareFileTime(&local, &recorded) > 0 && !sentCopies.Sent(entry.cFileName, entry)))
            decision = kNewer;
        else if (!RecordHasMark(stored, kFamilyChecked))
            decision = kMarkAsChecked;
        else
            decision = folderLike ? kNoUpload : kNewer;
    }

    if (decision == kNoUpload)
        return;
    if (decision == kMarkAsChecked) {
        // A mirrored site takes its changes from the web: nothing to confirm.
        if (!currentSite.mirror && std::strlen(stored) + sizeof kMarkChecked - 1 <= size_t(kMaxRecordText)) {
            std::string marked = std::string(stored) + kMarkChecked;
            PutFileRecord(marked.c_str(), stored);
        }
        return;
    }

    const char* old = decision == kNewer ? stored : nullptr;
    std::memcpy(record + length, kMarkUpdatedByCwu, sizeof kMarkUpdatedByCwu);
    if (folderLike) {
        ++state.count;
        PutFileRecord(record, old);
        return;
    }
    bool attempted = false;
    const int32_t uploaded = Upload(state, entry.cFileName, attempted);
    if (!attempted)
        return;
    ++state.count;
    if (uploaded)
        sentCopies.Remember(entry.cFileName, entry);
    // A failed upload of a known file is not reported; a new file's event
    // is logged either way (without a line when it failed).
    if (uploaded || found == 0) {
        const std::tm stamp = LocalNow();
        LogEvent(kEventCleanUpload, entry, uploaded, &stamp, decision);
    }
    PutFileRecord(record, old);
}

} // namespace

int32_t CheckSecureServer(const char* secureFolder, const char* host, const char* user, const char* password,
                          const char* remoteFolder, const char* fileMask, int16_t)
{
    engine::ShowPass(kProgram, "CHECKING SECURE SERVER", host, remoteFolder, fileMask);
    engine::StartPass(host, user, password, remoteFolder, fileMask);

    PassState state{secureFolder, UploadConnection(remoteFolder)};
    for (const engine::ListedEntry& listed : engine::ReadLocalFolder(secureFolder, fileMask)) {
        if (state.stop || tessil::shutdownRequested)
            break;
        // Only names that are the same on the web and here are the clean
        // copy's; the program's own scratch files are not.
        if (ClassifyFileName(listed.name.c_str()) != FileNameUse::kLocal)
            continue;
        WIN32_FIND_DATAA entry = listed.FindData();
        CheckEntry(state, entry);
    }
    CloseFileRecords();
    CloseEventLog();
    return state.count;
}
