// FTP listings (MLSD, RFC 3659; LIST in the Unix "ls -l" and the DOS/IIS
// styles) turned into WIN32_FIND_DATAA entries.
//
// Entries are filled as Windows' WinINet fills them:
//  - attributes: a folder is FILE_ATTRIBUTE_DIRECTORY, a file
//    FILE_ATTRIBUTE_NORMAL; when the listing shows that the owner may not
//    write (LIST permissions, MLSD unix.mode, else MLSD perm without "w" for
//    a file or "c" for a folder) FILE_ATTRIBUTE_READONLY is added, and a
//    read-only file is READONLY alone (NORMAL is only ever used alone).
//    Symbolic links count as files. DOS listings carry no permissions.
//  - sizes: files only (folders 0), 64 bits split into the two halves.
//  - times: last-write, creation and last-access all hold the listed time.
//    The listed clock reading is taken as it stands, without a zone: MLSD
//    "modify" is UTC by definition, and pyftpdlib and vsftpd list LIST times
//    in UTC too, so for them the FILETIME is the true UTC instant; a server
//    that lists local times gives its local clock reading (the program
//    measures the server's offset in whole hours itself). LIST shows no
//    seconds, so they are 0; a date listed without a time (older files) is
//    taken at 12:00, as Wine's WinINet takes it. A LIST time without a year ("Jan  5 12:34",
//    which ls prints for the last six months) is in the current year, or the
//    year before when that would put it more than two days in the future.
//    Two-digit DOS years below 70 are 20xx, others 19xx.
//
// Names are untrusted: an entry whose name is empty, "." or "..", holds "/",
// "\", ":" or a control character, or is MAX_PATH bytes or longer is not
// returned at all (it could not name a local file safely, nor be named back
// to the server). Lines that are not entries ("total 12", garbage) are
// skipped too.
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux/win32_types.h"

struct FtpEntry {
    std::string name;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    uint64_t size = 0;
    FILETIME time = {0, 0};
};

// One line of an MLSD listing, without its line end. False when the line
// gives no entry to return.
bool FtpParseMlsdLine(const std::string& line, FtpEntry& entry);

// One line of a LIST listing (either style), without its line end. now (UTC)
// decides the year of a time listed without one.
bool FtpParseListLine(const std::string& line, const FILETIME& now, FtpEntry& entry);

// True when name may be returned as a directory entry (see above).
bool FtpNameIsSafe(const std::string& name);

// Windows mask matching, the rule of FindFirstFileA (PlatformMatchMask).
bool FtpMatchMask(const std::string& mask, const std::string& name);

void FtpFillFindData(const FtpEntry& entry, WIN32_FIND_DATAA& data);
