// FTP listings (MLSD, RFC 3659; LIST in the Unix "ls -l" and the DOS/IIS
// styles) turned into WIN32_FIND_DATAA entries.
//
// Entries are filled as Windows' WinINet fills them:
//  - attributes: a folder is FILE_ATTRIBUTE_DIRECTORY, a file
//    FILE_ATTRIBUTE_NORMAL; when the listing shows that the owner may not
//    write (LIST permissions, MLSD unix.mode, else MLSD perm without "w" for
//    a file or "c" for a folder) FILE_ATTRIBUTE_READONLY is added, and a
//    read-only file is READONLY alone (NORMAL is only ever used alone).
//    DOS listings carry no permissions.
//  - symbolic links (platform/extensions.h): LIST's "l" type, whose
//    "name -> target" gives the name before the first " -> " (only in a
//    link line: elsewhere an arrow is part of the name); MLSD
//    type=OS.unix=symlink or OS.unix=slink[:target] (fact names and the type
//    in any case). A link's attributes are FILE_ATTRIBUTE_REPARSE_POINT (with
//    READONLY when listed so), never a folder's; FtpFillFindData puts
//    IO_REPARSE_TAG_SYMLINK into dwReserved0. FtpList also marks entries of
//    one MLSD listing that share a "unique" fact (names of one file: hard
//    links, or links a server shows as their targets); when the listing
//    itself types one of them as a link, that one is the link and the
//    others are its target, left as they are (ProFTPD gives a link its
//    target's "unique"), so a link beside a page never hides the page.
//  - permission bits: LIST's mode column (rwx with s/S, t/T) and MLSD
//    UNIX.mode (octal, "0o" too) give mode = kFindDataModeKnown | the bits
//    (07777), which FtpFillFindData puts into dwReserved1; else mode is 0.
//  - sizes: files only (folders 0), 64 bits split into the two halves.
//  - times: last-write, creation and last-access all hold the listed time.
//    The listed clock reading is taken as it stands, without a zone: MLSD
//    "modify" is UTC by definition, and pyftpdlib and vsftpd list LIST times
//    in UTC too, so for them the FILETIME is the true UTC instant; a server
//    that lists local times gives its local clock reading (the program
//    measures the server's offset in whole hours itself). LIST shows no
//    seconds, so they are 0; a date listed without a time (older files) is
//    taken at 12:00, as Wine's WinINet takes it. Two-digit DOS years below
//    70 are 20xx, others 19xx.
//  - a LIST time without a year ("Jan  5 12:34", which ls prints for about
//    the last six months) is put in the year that brings it nearest to now
//    (so within half a year either way). An unchanged file thus keeps its
//    time from one listing to the next, whatever the clocks of the two
//    machines say; the year only changes where ls itself would switch to
//    printing one.
//  - MDTM is not asked: its UTC seconds cannot be mixed with LIST's clock
//    readings in minutes without the time of an unchanged file changing
//    between listings (as files enter or leave whatever set would be asked,
//    and with the round-trip bound any such set needs). Servers that offer
//    MLSD give exact times for every entry anyway.
//  - a date that is no date (February 30, month 13, a year before 1601, an
//    MLSD time of the wrong length) never drops its entry: the entry gets
//    kFtpUnknownTime, a time no real file has, the same in every listing.
//
// Names are untrusted, but a listing hides nothing it can represent: every
// name is returned byte for byte (":" and "\", trailing dots and blanks,
// control characters, any case), and the program decides what each may be
// used for. Only names that cannot be returned faithfully are dropped:
// empty, "." and "..", names holding "/", CR, LF or NUL, and names of
// MAX_PATH bytes or more.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

struct FtpEntry {
    std::string name;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    uint64_t size = 0;
    FILETIME time = {0, 0};
    bool link = false;   // a symbolic link (see FtpMarkLink)
    DWORD mode = 0;      // kFindDataModeKnown | permission bits, or 0
    std::string unique;  // MLSD "unique" fact, also of skipped lines (cdir, pdir)
};

// Makes the entry a link: REPARSE_POINT (keeping READONLY), never a folder.
void FtpMarkLink(FtpEntry& entry);

// The time of an entry whose listed date is no date: 1601-01-01 00:00 UTC.
constexpr FILETIME kFtpUnknownTime = {0, 0};

// What one listing line is.
enum class FtpLine {
    kEntry,       // an entry to return (filled in)
    kSkipped,     // a listing line, but no entry: "total 12", MLSD cdir and
                  // pdir, devices and pipes, a name that cannot be returned
    kUnreadable,  // not a line of this listing format
};

// One line of an MLSD listing, without its line end.
FtpLine FtpParseMlsdLine(const std::string& line, FtpEntry& entry);

// One line of a LIST listing (either style), without its line end. now (UTC)
// decides the year of a time listed without one.
FtpLine FtpParseListLine(const std::string& line, const FILETIME& now, FtpEntry& entry);

// True when name can be returned as a directory entry (see above).
bool FtpNameIsListable(const std::string& name);

// Windows mask matching, the rule of FindFirstFileA (ftp_find.cpp; Linux's
// FindFirstFileA uses it too).
bool FtpMatchMask(const std::string& mask, const char* name);

void FtpFillFindData(const FtpEntry& entry, WIN32_FIND_DATAA& data);
