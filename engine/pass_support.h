// What the engine's passes share: their screen lines, their connection with
// its outage events, entering the remote folder, and reading a listing.
// Internal to engine/.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "engine/entry_kind.h"
#include "platform/win32.h"

namespace engine {

// Text line 1: "KESTROVANE <program> - PAGE <eventPage> STATUS: <status>".
void ShowPassTitle(const char* program, const char* status);
// Text line 27: "host/remote folder/mask", or "host/mask" without a folder.
void ShowSiteLine(const char* host, const char* remoteFolder, const char* fileMask);

// Copies the account into the connection globals and names the site's files.
void StartPass(const char* host, const char* user, const char* password, const char* remoteFolder,
               const char* fileMask);

// The status of most passes while they wait for the connection.
inline constexpr char kLostConnectionStatus[] = "LOST CONNECTION, TRYING TO RECONNECT";

// How a pass tells its outage.
struct OutageEvents {
    uint8_t lostType;    // logged once per outage, when lostConnection is 0
    uint8_t flag;        // lostConnection becomes this
    const char* program; // text line 1 while waiting: as ShowPassTitle, or
    const char* status;  // "KESTROVANE <program> - STATUS: <status>" when
    bool paged = true;   // not paged
};

// ConnectSite mode 2 until it connects, waiting reconnectPauseMilliseconds
// with the window live after each failure; the outage is logged once (and
// mailed at once, ShowEvents 0). False after reconnectRounds failures or on
// shutdown: the pass gives up with the outage still recorded. A failure with
// a reason (connectionFailureReason: a certificate that does not verify) is
// not tried again in this pass: the event carries the reason, text line 1
// shows "UNABLE TO CONNECT: <reason>", and the next cycle tries again. The
// recovery event is the caller's, since the passes differ in what follows it.
bool ConnectWithRetry(const OutageEvents& events);

// Enters the remote folder: the current FTP folder, "/", the folder's name.
// `path` receives the path tried. A pass that tries again on the same
// connection passes the path back: the current folder may then be the
// remote folder itself, and the path must not grow into a folder below it.
enum class EnterResult { kEntered, kNoCurrentFolder, kNotEntered };
EnterResult EnterRemoteFolder(const char* remoteFolder, std::string& path);

// One entry of a listing, kept small: a folder of 100,000 files is read
// whole before it is acted on, so that a transfer never shares the
// connection with an open listing.
struct ListedEntry {
    DWORD attributes;
    FILETIME lastWrite;
    DWORD sizeHigh, sizeLow;
    std::string name;

    WIN32_FIND_DATAA FindData() const;
};

// Reads the rest of a listing whose first entry `first` holds, and closes
// it (the global listing handle is not used). True when it ended with
// ERROR_NO_MORE_FILES; false when it broke off (what came before is kept).
// The entries come back in the store's order of names, so that the lookups
// of a pass walk the store's nodes in order instead of at random (servers
// list in the order of their own folders).
// `inServerOrder` keeps the server's order instead.
bool ReadListing(HINTERNET listing, const WIN32_FIND_DATAA& first, std::vector<ListedEntry>& entries,
                 bool inServerOrder = false);

// Lists the current remote folder with `mask` and `flags` (as
// FtpFindFirstFileA) and reads the listing whole (ReadListing).
//   kListed  `entries` hold every entry.
//   kEmpty   nothing matched; a listing that fails without an error counts
//            so too (Wine's WinINet reports an empty folder that way).
//   kBroken  no connection, or the listing failed or broke off: `entries`
//            hold what came before; nothing may be deleted on its strength.
enum class ListResult { kListed, kEmpty, kBroken };
ListResult ListRemoteFolder(const char* mask, DWORD flags, std::vector<ListedEntry>& entries,
                            bool inServerOrder = false);

// Writes `entries` as the work list (siteWorkListFile, engine/engine.h),
// replacing it; entries whose name holds a line break cannot be a line and
// are left out. False when the file cannot be written whole.
bool WriteWorkList(const std::vector<ListedEntry>& entries);
// Reads the work list back. The name is everything before the last "*" (a
// listed name may hold "*"). False when the file cannot be read or a line
// is not a work list line: the pass then acts on nothing.
bool ReadWorkList(std::vector<ListedEntry>& entries);

// The same for the local secure server folder: every entry of "folder\mask"
// in the store's order of names; empty when nothing can be listed.
std::vector<ListedEntry> ReadLocalFolder(const char* folder, const char* fileMask);

// True when the local file `path`, whose last component is `name`, exists
// with exactly that spelling: a listed name never reaches a local file of
// another spelling.
bool LocalFileSpelledAs(const char* path, const char* name);

// "folder\name" into a std::string.
std::string LocalPath(const char* folder, const char* name);

} // namespace engine
