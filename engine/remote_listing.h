// Listings read whole: an entry kept small, a listing read to its end before
// anything is acted on, and the store's order of names. The remote folder's
// listing is here; the local folder's is in local_copy.h. Internal to
// engine/.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace engine {

// One entry of a listing, kept small: a folder of 100,000 files is read
// whole before it is acted on, so that a transfer never shares the
// connection with an open listing.
struct ListedEntry {
    DWORD attributes;
    FILETIME lastWrite;
    DWORD sizeHigh, sizeLow;
    std::string name;
    DWORD reparseTag = 0; // dwReserved0: IO_REPARSE_TAG_SYMLINK for a link
    DWORD mode = 0;       // dwReserved1: kFindDataModeKnown | bits, or 0

    // The entry of a listing's find data; the name ends at its first NUL.
    static ListedEntry From(const WIN32_FIND_DATAA& data);
    WIN32_FIND_DATAA FindData() const;
};

// Sorts `entries` in the store's order of names: unsigned bytes, shorter
// first, as far as names go. The lookups of a pass then walk the store's
// nodes in order instead of at random.
void SortByName(std::vector<ListedEntry>& entries);

// Lists the current remote folder with `mask` and `flags` (as
// FtpFindFirstFileA) and reads the listing whole, then closes it (the
// global listing handle is not used). The entries come back in the store's
// order of names (servers list in the order of their own folders);
// `inServerOrder` keeps the server's order.
//   kListed  `entries` hold every entry.
//   kEmpty   nothing matched; a listing that fails without an error counts
//            so too (Wine's WinINet reports an empty folder that way).
//   kBroken  no connection, or the listing failed or broke off: `entries`
//            hold what came before (at least the first entry when it broke
//            off, none when it never opened); nothing may be deleted on its
//            strength.
//   kTruncated  the server said it cut the listing short: `entries` hold
//            what it gave, which is never the whole folder; as kBroken,
//            nothing may be deleted on its strength.
// When nothing was listed (kEmpty, or kBroken without entries) the last
// error is still the failed listing's, or as it was when there is no
// connection.
enum class ListResult { kListed, kEmpty, kBroken, kTruncated };
ListResult ListRemoteFolder(const char* mask, DWORD flags, std::vector<ListedEntry>& entries,
                            bool inServerOrder = false);

// The program's own names on the server: an upload goes to a scratch name
// first and is renamed over its target, and the clock probe is one. No site
// holds such a name; one that is listed was left by a run that was stopped,
// and is removed, never recorded or reported.
inline constexpr char kScratchPrefix[] = ".kestrovane~";
inline constexpr char kScratchUpload[] = ".kestrovane~upload";
inline constexpr char kScratchProbe[] = ".kestrovane~probe";
bool IsScratchName(const char* name);

} // namespace engine
