// The secure server check: the clean copy brought to the web. A local file
// that the records do not know, or that is newer than its record, is
// uploaded; one that is not newer is marked for the web site check to
// confirm, and a mark that survives to the next pass means the web copy
// went missing, so the file is uploaded again. An upload is recorded as the
// folder's listing shows it afterwards; one that did not arrive keeps the
// old record, so the next pass sends it again.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
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
#include "platform/extensions.h"
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

// One upload of the pass, awaiting the listing that confirms it.
struct Sent {
    WIN32_FIND_DATAA entry; // the local file's
    Decision decision;
    std::string stored; // the old record; empty for a new file
    bool uploaded;
};

struct PassState {
    const char* secureFolder;
    const char* host;
    const char* remoteFolder;
    UploadConnection connection;
    int32_t count = 0;
    bool stop = false; // no more uploads in this pass
    std::vector<Sent> sent;
};

// Uploads one local file; 1 when the server took it. Sets state.stop when
// no connection into the remote folder can be had: the rest waits for the
// next pass, with its records as they were.
int32_t Upload(PassState& state, const char* name, bool wasLink, bool& attempted)
{
    attempted = false;
    if (state.connection.Ready() != UploadConnection::State::kReady) {
        state.stop = true;
        return 0;
    }
    attempted = true;
    engine::ShowPassTitle(kProgram, "SENDING SERVER FILE TO WEB SITE");
    const std::string local = engine::LocalPath(state.secureFolder, name);
    engine::NoteOwnAct(state.host, state.remoteFolder);
    return engine::ReplaceRemoteFile(local.c_str(), name, wasLink);
}

// Lists the remote folder once for all of the pass's uploads: an upload
// that the listing shows as a plain file of the local file's size is
// recorded as listed; any other keeps its old record (a new file stays
// unrecorded), so the next pass sends it again. A failed upload of a known
// file is not reported; a new file's event is logged either way (without a
// line when it failed).
void ConfirmUploads(PassState& state, const char* fileMask)
{
    if (state.sent.empty())
        return;
    std::vector<engine::ListedEntry> listing;
    const bool listed = state.connection.Ready() == UploadConnection::State::kReady &&
                        engine::ListRemoteFolder(fileMask, INTERNET_FLAG_NO_CACHE_WRITE, listing) ==
                            engine::ListResult::kListed;
    for (Sent& s : state.sent) {
        const char* name = s.entry.cFileName;
        auto at = std::lower_bound(listing.begin(), listing.end(), std::string(name),
                                   [](const engine::ListedEntry& e, const std::string& n) { return e.name < n; });
        const bool arrived = s.uploaded && listed && at != listing.end() && at->name == name &&
                             !engine::IsAnyFolder(engine::KindOf(at->attributes)) &&
                             at->reparseTag != IO_REPARSE_TAG_SYMLINK && at->sizeHigh == s.entry.nFileSizeHigh &&
                             at->sizeLow == s.entry.nFileSizeLow;
        if (arrived || s.decision == kNotKnown) {
            const std::tm stamp = LocalNow();
            LogEvent(kEventCleanUpload, s.entry, arrived, &stamp, s.decision);
        }
        if (!arrived)
            continue;
        sentCopies.Remember(name, s.entry);
        WIN32_FIND_DATAA web = at->FindData();
        ServerTimeToLocal(web);
        char record[kRecordBufferSize];
        if (BuildFileRecord(web, false, record) >= 0)
            PutFileRecord(record, s.stored.empty() ? nullptr : s.stored.c_str());
    }
}

void CheckEntry(PassState& state, WIN32_FIND_DATAA& entry)
{
    FILETIME local;
    FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local);
    entry.ftLastWriteTime = local;
    // Only the directory bit makes a folder.
    const bool folderLike = engine::IsAnyFolder(engine::KindOf(entry.dwFileAttributes));
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
    RecordFields was{};
    const bool wasLink = old && ReadRecordFields(stored, was) && was.link;
    bool attempted = false;
    const int32_t uploaded = Upload(state, entry.cFileName, wasLink, attempted);
    if (!attempted)
        return;
    ++state.count;
    state.sent.push_back({entry, decision, old ? std::string(stored) : std::string(), uploaded != 0});
}

} // namespace

int32_t CheckSecureServer(const char* secureFolder, const char* host, const char* user, const char* password,
                          const char* remoteFolder, const char* fileMask, int16_t)
{
    engine::ShowPass(kProgram, "CHECKING SECURE SERVER", host, remoteFolder, fileMask);
    engine::StartPass(host, user, password, remoteFolder, fileMask);

    PassState state{secureFolder, host, remoteFolder, UploadConnection(remoteFolder), 0, false, {}};
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
    ConfirmUploads(state, fileMask);
    CloseFileRecords();
    CloseEventLog();
    return state.count;
}
