// The monitoring engine: the site's file record store and the passes that the
// driver runs for each site. Every pass works on the current site (its texts
// are passed as arguments, its clock offset is read from currentSite), uses
// the one FTP connection of net/connection.h and closes it before it returns.
//
// FILE RECORDS
//
// A site's record store is the keyed file siteStoreFile (sites/site_files.h)
// with one key per file or sub-folder of the remote folder; every key carries
// the tag 1 and nothing else is stored. The key is the record text:
//
//   folder-like entry   "%s*%lu-%lu-0-0"       name, write time high, low
//   other entries       "%s*%lu-%lu-%lu-%lu"   name, write time high, low,
//                                              size high, size low
//
// then, for a file (never a folder), the parts the listing showed:
//
//   "-mode %04o"   the permission bits (07777), where the listing shows them
//   "-link"        the entry is a symbolic link, not a plain file
//
// and at most a mark or two (kMark* below). Numbers are unsigned decimals.
// The time is a FILETIME already in local time (ServerTimeToLocal for the
// web, FileTimeToLocalFileTime for the secure server folder). Records
// written before the parts existed have neither: they read as a plain file
// of unknown mode. No mark's text begins with a part's, so R3 holds for
// both.
//
// Invariants and rules every pass keeps:
//   R1  A record text holds at most kMaxRecordText bytes; PutFileRecord
//       refuses a longer one, so a long name is never cut into another's.
//   R2  The name is everything before the last "*" (numbers and marks hold
//       none), so a listed name that holds "*" is still compared whole.
//   R3  Marks are looked for only after that last "*": a file named
//       "x-file init.php" carries no mark.
//   R4  Two records of one name do not exist at once: a writer deletes the
//       old text when it adds the new one.
//   R5  A pass acts only on what it could look up: when the store cannot be
//       opened (or a lookup fails), the pass ends without acting.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// ---- Record texts ---------------------------------------------------------------

inline constexpr int kMaxRecordText = 199;
inline constexpr int kRecordBufferSize = kMaxRecordText + 1;

// The marks, appended right after the last number.
inline constexpr char kMarkInit[] = "-file init";                      // the baseline made it
inline constexpr char kMarkUpdatedBySw[] = "-file updated by sw";      // the web site check put it back
inline constexpr char kMarkUpdatedByCwu[] = "-file updated by cwu";    // the secure server check uploaded it
inline constexpr char kMarkChecked[] = "-file checked by cwu-mfw flag"; // local copy not newer; awaits the web check
inline constexpr char kMarkFiltered[] = "-filtered by ksv";            // excluded from monitoring
// The families the web site check tells apart.
inline constexpr char kFamilyUpdated[] = "-file updated by";
inline constexpr char kFamilyChecked[] = "-file checked by";

// The most a record can gain in marks (the secure server check appends
// kMarkChecked to a record that may carry kMarkFiltered). An entry whose
// plain record leaves less room than this is not recorded at all (R1).
inline constexpr int kMarkRoom = int(sizeof kMarkFiltered - 1 + sizeof kMarkChecked - 1);

// The parts of a file's plain record after its numbers.
inline constexpr char kPartMode[] = "-mode ";
inline constexpr char kPartLink[] = "-link";
inline constexpr int kModePartLength = int(sizeof kPartMode - 1) + 4;

// Builds the plain record of an entry (no mark) into `record`: the mode
// part when the entry's dwReserved1 carries kFindDataModeKnown, the link
// part when its dwReserved0 is IO_REPARSE_TAG_SYMLINK (platform/extensions.h).
// Returns its length, or -1 when the record and kMarkRoom would pass
// kMaxRecordText (then `record` is empty); a mode part that would pass it
// is left out instead, so a name recorded before modes were kept still
// fits. A folder-like entry's size fields are cleared in `entry` too, since
// the event log takes the entry as the pass passes it on.
int BuildFileRecord(WIN32_FIND_DATAA& entry, bool folderLike, char (&record)[kRecordBufferSize]);

// What a record text says of its entry, marks aside.
struct RecordFields {
    FILETIME time;
    DWORD sizeHigh, sizeLow;
    bool modeKnown; // the record holds a mode part
    DWORD mode;     // its bits (07777) when known
    bool link;
};
// Reads the numbers and parts after the name; false when the numbers
// cannot be read (a damaged or foreign text).
bool ReadRecordFields(const char* record, RecordFields& fields);

// The name of a record (R2) and its length; the whole text when it holds no "*".
int RecordNameLength(const char* record);
// True when two records are of the same name, byte for byte.
bool SameRecordName(const char* a, const char* b);
// True when `record` carries `mark` (or a family text) after its name (R3).
bool RecordHasMark(const char* record, const char* mark);
// The write time after the name ("%lu-%lu-"); false when it cannot be read.
bool RecordTime(const char* record, FILETIME& time);

// ---- The store ------------------------------------------------------------------

// Removes `oldRecord` (when given) and adds `newRecord` (when given), opening
// the store first when it is not open. Returns 1; 0 when the store cannot be
// opened, or when `newRecord` passes kMaxRecordText (then nothing changes).
// Errors of the keyed file's insert and delete are not reported (a failed
// delete leaves the old text beside the new one).
int32_t PutFileRecord(const char* newRecord, const char* oldRecord);

// Looks up the name of `record` (R2): copies into `out` (kRecordBufferSize
// bytes) the stored record of exactly that name. Records of longer names
// that begin with it and a "*" are passed over, up to 4,096 of them (a name
// hidden behind more counts as not recorded). Returns 1 when found, 0 when
// the store holds no record of the name (`out` is then empty), -1 when the
// store cannot be opened or is damaged (a failed find, a stored key longer
// than kMaxRecordText at or after the name).
int32_t GetFileRecord(const char* record, char* out);

// True when the site's store file exists and holds a byte: a baseline was
// made. The checks act on nothing before (every file would look unknown).
bool SiteStoreExists();

// Closes the store if it is open. Every pass calls it before it returns, and
// before the store file is deleted.
void CloseFileRecords();

// Opening the store: a missing or empty store file is created (512-byte
// nodes); an open that still fails is tried storeOpenAttempts times in all
// (5), storeRetryMilliseconds apart (1,000) with the window live. Tests
// shorten them.
extern int storeOpenAttempts;
extern int storeRetryMilliseconds;

// ---- Server time ----------------------------------------------------------------

// Subtracts the current site's offset hours from the entry's last-write time
// (a negative offset adds), in place, with full calendar carry.
void ServerTimeToLocal(WIN32_FIND_DATAA& entry);

// Measures the current site's offset hours: uploads kHelpText as the
// scratch name kScratchProbe (remote_listing.h) into the current remote
// folder, lists it by that name and takes the whole hours between its
// listed time and the local time (each cut to its hour). On success the
// offset is stored in currentSite, marked measured and the record written
// back to the site list (when the site has a place in it). The probe is
// deleted whatever came of it (one left by a lost connection is removed by
// the web site check), and the act is noted (own_acts.h) for currentSite's
// host and remote folder. When the probe cannot be uploaded or is not
// listed, or the clocks lie more than two days apart, nothing is stored.
// Call with the FTP connection in the site's remote folder.
void MeasureServerClockOffset();

// ---- Passes ---------------------------------------------------------------------

// Waiting between connection attempts of a pass: reconnectPauseMilliseconds
// (5,000) with the window live, at most reconnectRounds failed attempts per
// pass (12: each ConnectSite attempt probes and pauses on its own, so this is
// several minutes); then the pass gives up until the next cycle, with its
// outage still recorded. Tests shorten them.
extern int reconnectPauseMilliseconds;
extern int reconnectRounds;
// Attempts of the baseline to enter and list the remote folder (5).
extern int baselineAttempts;

// What a pass returns besides a count. The driver calls a pass again while
// it asks to (RepeatPass).
inline constexpr int16_t kPassDone = 0;       // nothing left to do, or nothing this pass can do
inline constexpr int16_t kPassCallAgain = -1; // call again (each pass says when)
// CheckWebSite only: the pass ended before it had an entry to check, or
// stopped where the store was unavailable. The same number as one entry
// acted on: its callers take both for done.
inline constexpr int16_t kWebCheckEndedEarly = 1;

// CreateBaseline's modes.
inline constexpr int16_t kBaselineIfMissing = 0; // only when the store file is missing or empty
inline constexpr int16_t kBaselineAnew = 1;      // deletes the store file and builds it anew

// Records every entry of the remote folder as "-file init" records, in the
// way `mode` says: any entry with the directory bit as a folder, the
// program's scratch names never (S5). A listing the server cut short is
// recorded as far as it goes. `unused` is not read.
void CreateBaseline(const char* host, const char* user, const char* password, const char* remoteFolder,
                    const char* fileMask, const char* unused, int16_t mode);

// Compares the remote listing with the store: puts back changed and unknown
// web files from the secure server folder (after a quarantine copy of the
// web version when the site's synchronise-web switch is on) and reports them.
// Every entry is decided first; only the changed ones are acted on, so a
// quiet visit costs one lookup per entry.
//   - Read-only, hidden and archive files are files: only the directory bit
//     makes a folder. A folder that changed by the program's own act
//     (engine/own_acts.h) is recorded without an event.
//   - A put-back goes to the scratch name and is renamed over the target (a
//     link is replaced, never written through), its mode set back with SITE
//     CHMOD where the server gave it another; a change of mode alone is set
//     back the same way. After the pass's put-backs the folder is listed
//     once more: a put-back the listing confirms (a plain file of the clean
//     file's size) is recorded exactly as listed; one that did not take is
//     reported (kDetailPutBackFailed) and keeps the old record, so the next
//     visit tries again.
//   - When most files whose name and size match their records (more than
//     half, at least 3) moved by the same whole number of quarter hours,
//     one kDetailClockShift event names the shift, which is adopted: whole
//     hours into the site's offset (written back to the site list), else
//     into those records.
//   - Scratch names (engine/remote_listing.h) are deleted, never recorded
//     or reported. A listing the server cut short is checked as far as it
//     goes and reported once per call (kDetailListTruncated).
// Records older stores wrote with a "-file updated by" mark take what is
// listed once; older records without a mode, or of a read-only file with
// the size 0-0, are brought up to date without an event.
// Returns the number of entries acted on; kPassCallAgain when the listing
// broke off or a transfer lost the connection; kWebCheckEndedEarly when the
// pass ended before it had an entry to check (no baseline, no connection,
// connection re-established in this call, remote folder not entered or
// created, nothing listed) or the store was unavailable.
int16_t CheckWebSite(const char* secureFolder, const char* host, const char* user, const char* password,
                     const char* remoteFolder, const char* fileMask, int16_t unused);

// Walks the secure server folder: uploads local files that are new or newer
// than their record (through the scratch name, as the web site check puts
// back) and marks the others checked. The uploads are confirmed by one
// listing of the remote folder at the end: each that arrived is recorded as
// listed; one that did not keeps its old record and is sent again by the
// next pass. Returns the number of entries uploaded or newly recorded.
int32_t CheckSecureServer(const char* secureFolder, const char* host, const char* user, const char* password,
                          const char* remoteFolder, const char* fileMask, int16_t unused);

// ---- Synchronisation ------------------------------------------------------------
//
// The passes below delete and overwrite, so each acts only where it knows
// where it stands:
//   S1  Nothing is deleted from a listing that broke off or that the server
//       cut short, or in a folder that could not be entered (the current
//       folder is then another one).
//   S2  The web synchronisation deletes nothing while the secure server
//       folder is missing, unreadable or empty: every web file would look
//       missing locally.
//   S3  A listed name is used on the server only as itself in its own folder;
//       it becomes a local path only when it is a safe local name
//       (net/file_names.h), and never reaches a local file of another
//       spelling.
//   S4  Every loop that could repeat for ever has a bound (below).
//   S5  The program's scratch names (remote_listing.h) are never recorded,
//       deleted as a site's file or downloaded: the web site check removes
//       them.
//
// The work list file (siteWorkListFile) holds the entries a pass acts on
// between listing and acting, one a line: "%s*%lu-%lu-%lu-%lu,%d\n", the
// name, the write time high and low (after ServerTimeToLocal), the size high
// and low and the attribute word. A pass that cannot write it or read it
// back whole acts on nothing.

// New passes of one SyncWebWithServer call after the first, when a pass is
// cut short (the listing broke off, the connection was lost or the remote
// folder could not be entered again) (4): the call then returns 0.
extern int syncRestarts;
// Nesting depth of DeleteRemoteFolder (32): a deeper folder is left alone.
extern int deleteFolderDepth;
// Calls of a pass that RepeatPass makes at most (5).
extern int passRepeats;

// Deletes from the web site every entry of the remote folder that matches
// the mask and that the secure server folder `localFolder` lacks (a
// sub-folder, any entry with the directory bit, whole through
// DeleteRemoteFolder), with its file record, and logs each
// (kEventFileDeleted, kEventFolderDeleted). An entry the server will not
// delete is logged with kDetailNotDeleted once per visit (a call after one
// that returned kPassCallAgain continues the visit) and passed over: no
// entry holds back those after it. The program's scratch names are left to
// the web site check. Each deletion is noted as the program's own act
// (own_acts.h) for `host` and the folder it happened in.
// Returns kPassDone when done (or when it cannot act: S1, S2, no connection
// after reconnectRounds; a listing the server cut short deletes nothing);
// kPassCallAgain when the connection was re-established in this call or
// the current FTP folder cannot be read.
int32_t SyncWebWithServer(const char* localFolder, const char* host, const char* user, const char* password,
                          const char* remoteFolder, const char* fileMask);

// Downloads into `localFolder` every file of the remote folder that matches
// the mask and is missing locally or strictly newer on the web, and at
// least as large as the site command's "MINSIZE_=_" number. Returns
// kPassDone when done; kPassCallAgain when the connection was
// re-established, the current folder cannot be read or the listing broke
// off (a listing the server cut short is worked as far as it goes);
// otherwise the number of entries not yet dealt with after a failed
// download. Call again while not done. kPassDone too when it cannot act
// (secure server folder missing, no connection, remote folder not entered);
// a local file held open elsewhere is left for a later call.
int32_t MirrorWebToServer(const char* localFolder, const char* host, const char* user, const char* password,
                          const char* remoteFolder, const char* fileMask);

// Calls `pass` until it returns kPassDone, at most passRepeats times;
// returns its last result.
template <typename Pass>
int32_t RepeatPass(Pass&& pass)
{
    int32_t result = kPassDone;
    for (int call = 0; call < passRepeats; ++call)
        if ((result = pass()) == kPassDone)
            break;
    return result;
}

// The site command's clean-up of old files ("DELETE_OLD_FILES", "CLEANUP"),
// then "roadmap.txt", the remote folder's larger files, written in the data
// folder and uploaded into the remote folder. Each deletion and the upload
// are noted as the program's own acts (own_acts.h). Note the argument order.
void CreateRoadmap(const char* host, const char* localFolder, const char* user, const char* password,
                   const char* remoteFolder, const char* fileMask);

// Removes the folder `folderPath` (below the login folder, "/" between
// levels) from the server with everything in it, bottom-up; the sub-folders
// it cannot remove at once are listed in "deleteresults<listNumber>.txt" in
// the data folder while it works. Any entry with the directory bit is a
// folder (a link never has it: it is deleted, never entered). Nothing is
// deleted in a folder that cannot be entered or whose listing broke off or
// was cut short (S1). Each folder it changes is noted as the program's own
// act (own_acts.h) for connectionHost. True when the folder is gone; false
// when it is still there, or could not be reached. Leaves the connection
// closed.
bool DeleteRemoteFolder(const char* folderPath, int32_t listNumber);
