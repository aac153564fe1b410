// Listing lines of every style the layer reads, the names it cannot return,
// and the dates it cannot read.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/ftp/ftp_listing.h"
#include "platform/win32.h"
#include "wininet/ftp_session.h"

namespace {

FILETIME At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    SYSTEMTIME st = {};
    st.wYear = WORD(year);
    st.wMonth = WORD(month);
    st.wDay = WORD(day);
    st.wHour = WORD(hour);
    st.wMinute = WORD(minute);
    st.wSecond = WORD(second);
    FILETIME ft = {};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

const FILETIME kNow = At(2026, 6, 15, 10, 0);

constexpr FtpLine kEntry = FtpLine::kEntry;
constexpr FtpLine kSkipped = FtpLine::kSkipped;
constexpr FtpLine kUnreadable = FtpLine::kUnreadable;

FtpEntry List(const std::string& line, FtpLine expect = kEntry, FILETIME now = kNow) {
    FtpEntry entry;
    EXPECT_EQ(FtpParseListLine(line, now, entry), expect) << line;
    return entry;
}

FtpEntry Mlsd(const std::string& line, FtpLine expect = kEntry) {
    FtpEntry entry;
    EXPECT_EQ(FtpParseMlsdLine(line, entry), expect) << line;
    return entry;
}

TEST(UnixListing, FilesFoldersLinksAndPermissions) {
    FtpEntry e = List("-rw-r--r--   1 owner group     1234 Mar  4  2021 index.html");
    EXPECT_EQ(e.name, "index.html");
    EXPECT_EQ(e.attributes, DWORD(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(e.size, 1234u);
    EXPECT_EQ(Ticks(e.time), Ticks(At(2021, 3, 4, 12)));  // a date alone: noon

    e = List("drwxr-xr-x   2 owner group     4096 Jan  5 12:34 www");
    EXPECT_EQ(e.attributes, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(e.size, 0u);  // folders have no size
    EXPECT_EQ(Ticks(e.time), Ticks(At(2026, 1, 5, 12, 34)));

    // Without the owner's write permission: read-only, alone for a file.
    EXPECT_EQ(List("-r--rw-rw-   1 o g 10 Jan  2  2020 ro.txt").attributes,
              DWORD(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(List("dr-xr-xr-x   2 o g 4096 Feb 29  2020 locked").attributes,
              DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));

    // No group column; a size beyond 32 bits; a link by its own name;
    // blanks inside a name.
    EXPECT_EQ(List("-rw-r--r--   1 owner         77 Aug  9  2022 nogroup.htm").name, "nogroup.htm");
    EXPECT_EQ(List("-rw-r--r-- 1 o g 5000000000 Jun  1  2023 huge.bin").size, 5000000000u);
    e = List("lrwxrwxrwx   1 o g 11 Jul  7  2019 link.htm -> index.html");
    EXPECT_EQ(e.name, "link.htm");
    EXPECT_EQ(e.attributes, DWORD(FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(List("-rw-r--r-- 1 o g 3 Sep  9  2019 two  blanks .txt").name, "two  blanks .txt");

    // Listing lines that are no entries, and lines of no listing.
    List("total 42", kSkipped);
    List("crw-r--r--   1 o g     1, 3 Jan  1  2020 device", kSkipped);
    List("garbage that is no listing line", kUnreadable);
    List("connection refused by the administrator", kUnreadable);
}

// The year that puts the date nearest to now, so that a file's time does
// not change between listings while ls leaves its year out.
TEST(UnixListing, AYearlessTimeIsTheNearestToNow) {
    const struct {
        const char* date;
        FILETIME now;
        FILETIME expected;
    } cases[] = {
        {"Jun 17 09:00", kNow, At(2026, 6, 17, 9, 0)},     // two days ahead
        {"Jun 25 09:00", kNow, At(2026, 6, 25, 9, 0)},     // ten days ahead
        {"Dec 31 23:59", kNow, At(2025, 12, 31, 23, 59)},  // five months back
        {"Dec 30 08:00", At(2027, 1, 1, 0, 5), At(2026, 12, 30, 8, 0)},
        {"Jan  2 10:00", At(2026, 12, 31, 22, 0), At(2027, 1, 2, 10, 0)},
        {"Feb 29 10:00", kNow, kFtpUnknownTime},  // no leap year near
        {"Feb 29 10:00", At(2028, 6, 1), At(2028, 2, 29, 10, 0)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ticks(List(std::string("-rw-r--r-- 1 o g 1 ") + c.date + " a", kEntry, c.now).time),
                  Ticks(c.expected))
            << c.date;
}

// A date that is no date never hides the file: it is listed at the
// unknown time.
TEST(ListedDates, EntriesWithImpossibleDatesAreKept) {
    const struct {
        std::string line;
        bool mlsd;
        FILETIME expected;
    } cases[] = {
        {"-rw-r--r-- 1 o g 10 Feb 30  2021 feb30.txt", false, kFtpUnknownTime},
        {"-rw-r--r-- 1 o g 10 Jan  1  1000 y1000.txt", false, kFtpUnknownTime},
        {"-rw-r--r-- 1 o g 10 Jan  1 10000 y10000.txt", false, At(10000, 1, 1, 12)},
        {"-rw-r--r-- 1 o g 10 Jan  0 12:00 day0.txt", false, kFtpUnknownTime},
        {"-rw-r--r-- 1 o g 10 Jan  5 25:61 clock.txt", false, kFtpUnknownTime},
        {"13-01-23  10:15AM    12 bad-month.txt", false, kFtpUnknownTime},
        {"06-01-23  13:15PM    12 bad-hour.txt", false, kFtpUnknownTime},
        {"02-30-2021  10:15    12 dos-feb30.txt", false, kFtpUnknownTime},
        {"06-01-23  10:15XM    12 dos-clock.txt", false, kFtpUnknownTime},
        {"type=file;size=1;modify=2024010203040; thirteen", true, kFtpUnknownTime},
        {"type=file;size=1;modify=10000101000000; y1000", true, kFtpUnknownTime},
        {"type=file;size=1;modify=20210230000000; feb30", true, kFtpUnknownTime},
        {"type=file;size=1;modify=yesterday; words", true, kFtpUnknownTime},
    };
    for (const auto& c : cases) {
        FtpEntry e = c.mlsd ? Mlsd(c.line) : List(c.line);
        EXPECT_EQ(Ticks(e.time), Ticks(c.expected)) << c.line;
        EXPECT_EQ(e.name, c.line.substr(c.line.rfind(' ') + 1)) << c.line;
    }
}

TEST(DosListing, FoldersFilesAndClocks) {
    FtpEntry e = List("01-05-20  12:34PM       <DIR>          www");
    EXPECT_EQ(e.name, "www");
    EXPECT_EQ(e.attributes, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(Ticks(e.time), Ticks(At(2020, 1, 5, 12, 34)));
    e = List("03-04-21  05:06AM                 1234 index.html");
    EXPECT_EQ(e.attributes, DWORD(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(e.size, 1234u);
    EXPECT_EQ(Ticks(e.time), Ticks(At(2021, 3, 4, 5, 6)));
    EXPECT_EQ(Ticks(List("12-31-1999  11:59PM    77 old.htm").time), Ticks(At(1999, 12, 31, 23, 59)));
    EXPECT_EQ(Ticks(List("12-31-99  12:00AM    77 midnight.htm").time), Ticks(At(1999, 12, 31, 0, 0)));
    EXPECT_EQ(Ticks(List("06-01-23  00:15      12 clock24.txt").time), Ticks(At(2023, 6, 1, 0, 15)));
    EXPECT_EQ(List("06-01-23  10:15AM    12 with blank.txt").name, "with blank.txt");
}

TEST(MlsdListing, FactsBecomeAttributesSizesAndTimes) {
    FtpEntry e = Mlsd("type=file;size=1234;modify=20210304050607;unix.mode=0644; index.html");
    EXPECT_EQ(e.name, "index.html");
    EXPECT_EQ(e.attributes, DWORD(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(e.size, 1234u);
    EXPECT_EQ(Ticks(e.time), Ticks(At(2021, 3, 4, 5, 6, 7)));
    EXPECT_EQ(Ticks(Mlsd("Type=File;Modify=20210304050607.250; ms").time),
              Ticks(At(2021, 3, 4, 5, 6, 7)) + 2500000u);
    EXPECT_EQ(Mlsd("type=file;size=1;unix.mode=0444; ro").attributes, DWORD(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Mlsd("type=file;size=1;unix.mode=0o444;perm=rw; ro").attributes,
              DWORD(FILE_ATTRIBUTE_READONLY));  // the mode says more than perm
    EXPECT_EQ(Mlsd("type=file;size=1;unix.mode=0o644; rw").attributes, DWORD(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(Mlsd("type=file;size=1;perm=r; ro").attributes, DWORD(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Mlsd("type=file;size=1;perm=adfrw; rw").attributes, DWORD(FILE_ATTRIBUTE_NORMAL));
    e = Mlsd("type=dir;sizd=4096;modify=20190607080910;perm=el; d");
    EXPECT_EQ(e.attributes, DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(e.size, 0u);
    EXPECT_EQ(Mlsd("type=file;size=1; name; with; semicolons").name, "name; with; semicolons");

    Mlsd("type=cdir;modify=20200101000000; .", kSkipped);
    Mlsd("type=pdir;modify=20200101000000; ..", kSkipped);
    Mlsd("type=cdir; /some/folder", kSkipped);
    Mlsd("type=OS.unix=chr-13/29; device", kSkipped);
    Mlsd("DELE y", kUnreadable);  // the tail of a name that held CR LF
    Mlsd("nospace", kUnreadable);
}

// Links, wherever a listing shows one, are marked as Windows marks a local
// link and are never folders; an arrow outside a link line is part of the
// name. Mode columns and UNIX.mode give the permission bits.
TEST(ListedLinksAndModes, LinksAreMarkedAndModesKept) {
    const struct {
        std::string line;
        bool mlsd;
        const char* name;
        bool link;
        DWORD attributes;
        DWORD mode;  // without kFindDataModeKnown; ~0u: unknown
    } cases[] = {
        {"lrwxrwxrwx   1 o g 10 Dec 10 00:11 link.html -> index.html", false, "link.html", true,
         FILE_ATTRIBUTE_REPARSE_POINT, 0777},
        {"lrwxrwxrwx   1 o g 3 Jul  7  2019 up -> ..", false, "up", true, FILE_ATTRIBUTE_REPARSE_POINT, 0777},
        {"-rw-r--r--   1 o g 3 Sep  9  2019 a -> b", false, "a -> b", false, FILE_ATTRIBUTE_NORMAL, 0644},
        {"-rwsr-sr-t   1 o g 3 Sep  9  2019 suid", false, "suid", false, FILE_ATTRIBUTE_NORMAL, 07755},
        {"-r-Sr-Sr-T   1 o g 3 Sep  9  2019 flags", false, "flags", false, FILE_ATTRIBUTE_READONLY, 07444},
        {"drwxrwxrwt   2 o g 4096 Sep  9  2019 tmp", false, "tmp", false, FILE_ATTRIBUTE_DIRECTORY, 01777},
        {"09-09-19  10:15AM    3 dos.txt", false, "dos.txt", false, FILE_ATTRIBUTE_NORMAL, ~0u},
        {"modify=20261210001102;perm=adfrw;size=10;type=OS.unix=symlink;unique=FE00UA72199;"
         "UNIX.mode=0777; link.html", true, "link.html", true, FILE_ATTRIBUTE_REPARSE_POINT, 0777},
        {"Type=os.UNIX=slink:/etc;Unix.Mode=0555; etc", true, "etc", true,
         FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY, 0555},
        {"type=file;size=1;unix.mode=0o4755; setuid", true, "setuid", false, FILE_ATTRIBUTE_NORMAL, 04755},
        {"type=file;size=1;UNIX.mode=0100444; typed", true, "typed", false, FILE_ATTRIBUTE_READONLY, 0444},
        {"type=dir;unix.mode=rwx;perm=el; words", true, "words", false,
         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY, ~0u},
    };
    for (const auto& c : cases) {
        FtpEntry e = c.mlsd ? Mlsd(c.line) : List(c.line);
        EXPECT_EQ(e.name, c.name) << c.line;
        EXPECT_EQ(e.attributes, c.attributes) << c.line;
        WIN32_FIND_DATAA data;
        FtpFillFindData(e, data);
        EXPECT_EQ(data.dwReserved0, c.link ? DWORD(IO_REPARSE_TAG_SYMLINK) : 0u) << c.line;
        EXPECT_EQ(data.dwReserved1, c.mode == ~0u ? 0u : kFindDataModeKnown | c.mode) << c.line;
    }
}

// Every name the entry can hold is returned byte for byte, however unsafe
// it would be as a local name; only names no entry can hold are dropped.
TEST(ListedNames, EveryRepresentableNameIsReturnedAsListed) {
    for (const std::string& name :
         std::vector<std::string>{"shell:.php", "index.html.", "index.html ", "INDEX.HTML", "a\\b",
                                  "c:d", "tab\there", "del\x7f", "...", ".htaccess",
                                  std::string(259, 'n')}) {
        EXPECT_TRUE(FtpNameIsListable(name)) << name;
        EXPECT_EQ(List("-rw-r--r-- 1 o g 5 Jan  1  2020 " + name).name, name);
        EXPECT_EQ(List("01-01-20  10:15AM    5 " + name).name, name);
        EXPECT_EQ(Mlsd("type=file;size=5; " + name).name, name);
    }
    for (const std::string& name :
         std::vector<std::string>{"../evil", "a/b", ".", "..", "q\rDELE z", std::string("nul\0z", 5),
                                  std::string(260, 'n')}) {
        EXPECT_FALSE(FtpNameIsListable(name)) << name;
        List("-rw-r--r-- 1 o g 5 Jan  1  2020 " + name, kSkipped);
        Mlsd("type=file;size=5; " + name, kSkipped);
    }
}

TEST(ListedNames, MasksMatchAsFindFirstFileMatches) {
    EXPECT_TRUE(FtpMatchMask("*.*", "noext"));
    EXPECT_TRUE(FtpMatchMask("*", ".htaccess"));
    EXPECT_TRUE(FtpMatchMask("*.HTM", "about.htm"));
    EXPECT_FALSE(FtpMatchMask("*.htm", "index.html"));
    EXPECT_TRUE(FtpMatchMask("*.htm*", "index.html"));
    EXPECT_TRUE(FtpMatchMask("name.", "name"));
    EXPECT_TRUE(FtpMatchMask("a?c", "abc"));
    EXPECT_FALSE(FtpMatchMask("a?c", "ac"));
    EXPECT_TRUE(FtpMatchMask("KSVHELP.TXT", "ksvhelp.txt"));
}

TEST(ListedNames, EntriesFillFindDataAsWindowsDoes) {
    FtpEntry e = Mlsd("type=file;size=5000000000;modify=20210304050607; big");
    WIN32_FIND_DATAA data;
    std::memset(&data, 0xAB, sizeof data);
    FtpFillFindData(e, data);
    EXPECT_EQ(data.nFileSizeHigh, 1u);
    EXPECT_EQ(data.nFileSizeLow, 705032704u);
    EXPECT_EQ(Ticks(data.ftCreationTime), Ticks(e.time));
    EXPECT_EQ(Ticks(data.ftLastAccessTime), Ticks(e.time));
    EXPECT_EQ(Ticks(data.ftLastWriteTime), Ticks(e.time));
    EXPECT_STREQ(data.cFileName, "big");
    EXPECT_EQ(data.cAlternateFileName[0], '\0');
    EXPECT_EQ(data.dwReserved0, 0u);
}

}  // namespace
