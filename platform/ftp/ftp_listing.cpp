// Listing lines -> directory entries (rules in ftp_listing.h).
#include "platform/ftp/ftp_listing.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace {

uint64_t Ticks(const FILETIME& time) {
    return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool SameTextIgnoringCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Decimal digits s[at, at+count) as a number; -1 when any is not a digit.
int Digits(const std::string& s, size_t at, size_t count) {
    if (at + count > s.size()) return -1;
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return -1;
        value = value * 10 + (s[i] - '0');
    }
    return value;
}

// A size of at most 2^63 - 1; false for anything else.
bool ParseSize(const std::string& s, uint64_t& size) {
    if (!AllDigits(s) || s.size() > 19) return false;
    size = 0;
    for (char c : s) size = size * 10 + uint64_t(c - '0');
    return size <= uint64_t(INT64_MAX);
}

// The listed clock reading as a FILETIME, without any zone (see the header);
// false when it is no date FILETIME can hold.
bool MakeTime(int year, int month, int day, int hour, int minute, int second, int ms,
              FILETIME& time) {
    if (year < 1601 || year > 30827 || month < 1 || day < 1 || hour < 0 || minute < 0 ||
        second < 0 || ms < 0)
        return false;
    SYSTEMTIME st = {};
    st.wYear = WORD(year);
    st.wMonth = WORD(month);
    st.wDay = WORD(day);
    st.wHour = WORD(hour);
    st.wMinute = WORD(minute);
    st.wSecond = WORD(second);
    st.wMilliseconds = WORD(ms);
    return SystemTimeToFileTime(&st, &time) != FALSE;
}

// A time listed without a year: in the year that brings it nearest to now.
FILETIME NearestTime(const FILETIME& now, int month, int day, int hour, int minute) {
    FILETIME best = kFtpUnknownTime;
    SYSTEMTIME today;
    if (!FileTimeToSystemTime(&now, &today)) return best;
    uint64_t bestDistance = UINT64_MAX;
    for (int year = today.wYear - 1; year <= today.wYear + 1; ++year) {
        FILETIME candidate;
        if (!MakeTime(year, month, day, hour, minute, 0, 0, candidate)) continue;
        const uint64_t a = Ticks(candidate), b = Ticks(now);
        const uint64_t distance = a > b ? a - b : b - a;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    return best;
}

int MonthNumber(const std::string& token) {
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int m = 0; m < 12; ++m)
        if (SameTextIgnoringCase(token, kMonths[m])) return m + 1;
    return 0;
}

struct Token {
    std::string text;
    size_t end;  // offset just after it in the line
};

std::vector<Token> SplitBlanks(const std::string& line) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) tokens.push_back({line.substr(start, i - start), i});
    }
    return tokens;
}

// "drwxr-xr-x": a type and nine permission characters (more may follow:
// "+" or "@" for extended attributes).
bool LooksLikeMode(const std::string& token) {
    if (token.size() < 10 || std::string_view("-dlbcps").find(token[0]) == std::string_view::npos)
        return false;
    for (size_t i = 1; i < 10; ++i)
        if (std::string_view("-rwxsStTlL").find(token[i]) == std::string_view::npos) return false;
    return true;
}

// The permission bits of a mode column: "rwx" three times; "s" (with x) and
// "S" (without) in the owner's and group's execute place are set-user and
// set-group id ("l"/"L" there for the group: mandatory locking, the same bit),
// "t" and "T" in the others' place the sticky bit.
DWORD ListedMode(const std::string& mode) {
    DWORD bits = 0;
    for (int who = 0; who < 3; ++who) {
        const int shift = 3 * (2 - who);
        const char read = mode[1 + 3 * who], write = mode[2 + 3 * who], run = mode[3 + 3 * who];
        if (read == 'r') bits |= 04u << shift;
        if (write == 'w') bits |= 02u << shift;
        const DWORD special = who == 0 ? 04000u : who == 1 ? 02000u : 01000u;
        const char lower = who == 2 ? 't' : 's', upper = who == 2 ? 'T' : 'S';
        if (run == 'x' || run == lower) bits |= 01u << shift;
        if (run == lower || run == upper || (who == 1 && (run == 'l' || run == 'L')))
            bits |= special;
    }
    return kFindDataModeKnown | bits;
}

// "-rw-r--r--   1 owner group   1234 Jan  5 12:34 name" (the group may be
// missing): the date is found by its month name, the size is the number
// before it, the name is everything after the single blank that follows the
// time or year. The date's shape finds it ("Mon d[d] hh:mm" or
// "Mon d[d] yyyy[y]"); its values never reject the line.
FtpLine ParseUnixLine(const std::string& line, const FILETIME& now, FtpEntry& entry) {
    std::vector<Token> tokens = SplitBlanks(line);
    if (tokens.size() == 2 && tokens[0].text == "total" && AllDigits(tokens[1].text))
        return FtpLine::kSkipped;
    if (tokens.size() < 6 || !LooksLikeMode(tokens[0].text)) return FtpLine::kUnreadable;
    const std::string& mode = tokens[0].text;
    const char type = mode[0];
    if (type != '-' && type != 'd' && type != 'l') return FtpLine::kSkipped;  // devices, pipes
    for (size_t i = 2; i + 2 < tokens.size(); ++i) {
        int month = MonthNumber(tokens[i].text);
        const std::string& dayText = tokens[i + 1].text;
        if (!month || !AllDigits(tokens[i - 1].text) || !AllDigits(dayText) || dayText.size() > 2)
            continue;
        const int day = std::atoi(dayText.c_str());
        const std::string& clock = tokens[i + 2].text;
        FILETIME time;
        if (clock.size() >= 3 && clock.size() <= 5 && AllDigits(clock)) {
            // Noon, as Windows' WinINet gives it: the date survives any
            // later shift by a zone offset.
            if (!MakeTime(std::atoi(clock.c_str()), month, day, 12, 0, 0, 0, time))
                time = kFtpUnknownTime;
        } else if (clock.size() == 5 && clock[2] == ':' && Digits(clock, 0, 2) >= 0 &&
                   Digits(clock, 3, 2) >= 0) {
            time = NearestTime(now, month, day, Digits(clock, 0, 2), Digits(clock, 3, 2));
        } else {
            continue;
        }
        uint64_t size;
        if (!ParseSize(tokens[i - 1].text, size)) return FtpLine::kUnreadable;
        const size_t nameStart = tokens[i + 2].end + 1;
        if (nameStart > line.size()) return FtpLine::kSkipped;
        std::string name = line.substr(nameStart);
        if (type == 'l') {
            size_t arrow = name.find(" -> ");
            if (arrow != std::string::npos) name.resize(arrow);
        }
        entry.name = std::move(name);
        entry.time = time;
        entry.mode = ListedMode(mode);
        entry.link = false;
        const bool ownerMayWrite = mode[2] == 'w';
        if (type == 'd') {
            entry.attributes = FILE_ATTRIBUTE_DIRECTORY | (ownerMayWrite ? 0 : FILE_ATTRIBUTE_READONLY);
            entry.size = 0;
        } else {
            entry.attributes = ownerMayWrite ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
            entry.size = size;
            if (type == 'l') FtpMarkLink(entry);
        }
        return FtpLine::kEntry;
    }
    return FtpLine::kUnreadable;
}

// "01-05-20  12:34PM       <DIR>          name" or "... 1234 name"; the year
// may have four digits and the clock may be a 24-hour one. The shape of the
// date and the clock finds the line; their values never reject it.
FtpLine ParseDosLine(const std::string& line, FtpEntry& entry) {
    std::vector<Token> tokens = SplitBlanks(line);
    if (tokens.size() < 4) return FtpLine::kUnreadable;
    const std::string& date = tokens[0].text;
    const std::string& clock = tokens[1].text;
    if ((date.size() != 8 && date.size() != 10) || date[2] != '-' || date[5] != '-' ||
        clock.size() < 5 || clock[2] != ':')
        return FtpLine::kUnreadable;
    const int month = Digits(date, 0, 2), day = Digits(date, 3, 2);
    int year = Digits(date, 6, date.size() - 6);
    int hour = Digits(clock, 0, 2);
    const int minute = Digits(clock, 3, 2);
    if (month < 0 || day < 0 || year < 0 || hour < 0 || minute < 0) return FtpLine::kUnreadable;
    if (date.size() == 8) year += year < 70 ? 2000 : 1900;
    const std::string half = clock.substr(5);
    bool clockValid = true;
    if (SameTextIgnoringCase(half, "AM") || SameTextIgnoringCase(half, "PM")) {
        clockValid = hour >= 1 && hour <= 12;
        hour = hour % 12 + (SameTextIgnoringCase(half, "PM") ? 12 : 0);
    } else if (!half.empty()) {
        clockValid = false;
    }
    FILETIME time;
    if (!clockValid || !MakeTime(year, month, day, hour, minute, 0, 0, time)) time = kFtpUnknownTime;
    const std::string& kind = tokens[2].text;
    uint64_t size = 0;
    bool folder = SameTextIgnoringCase(kind, "<DIR>");
    if (!folder && !ParseSize(kind, size)) return FtpLine::kUnreadable;
    size_t nameStart = tokens[2].end;
    while (nameStart < line.size() && (line[nameStart] == ' ' || line[nameStart] == '\t'))
        ++nameStart;
    entry.name = line.substr(nameStart);
    entry.time = time;
    entry.attributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    entry.size = folder ? 0 : size;
    entry.link = false;
    entry.mode = 0;
    return FtpLine::kEntry;
}

// An entry whose name cannot be returned is a listing line all the same.
FtpLine Checked(FtpLine kind, const FtpEntry& entry) {
    return kind == FtpLine::kEntry && !FtpNameIsListable(entry.name) ? FtpLine::kSkipped : kind;
}

}  // namespace

bool FtpNameIsListable(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.size() < MAX_PATH &&
           name.find_first_of(std::string("/\r\n\0", 4)) == std::string::npos;
}

// RFC 3659: entry = [facts] SP pathname, facts = 1*(fact-name "=" value ";").
FtpLine FtpParseMlsdLine(const std::string& line, FtpEntry& entry) {
    size_t space = line.find(' ');
    if (space == std::string::npos) return FtpLine::kUnreadable;
    // Every fact ends with ";" and has a value: a line such as "DELE y" is
    // no entry.
    if (space > 0 && line[space - 1] != ';') return FtpLine::kUnreadable;
    std::string name = line.substr(space + 1);
    std::string type, modify, mode, perm;
    entry.unique.clear();
    entry.link = false;
    bool haveSize = false;
    uint64_t size = 0;
    size_t at = 0;
    while (at < space) {
        size_t end = line.find(';', at);
        if (end == std::string::npos || end > space) end = space;
        std::string fact = line.substr(at, end - at);
        at = end + 1;
        size_t equals = fact.find('=');
        if (equals == std::string::npos || equals == 0) return FtpLine::kUnreadable;
        std::string key = fact.substr(0, equals), value = fact.substr(equals + 1);
        for (char& c : key) c = AsciiLower(c);
        if (key == "type") {
            type = value;
            for (char& c : type) c = AsciiLower(c);
        } else if (key == "modify") {
            modify = value;
        } else if (key == "size") {
            haveSize = ParseSize(value, size);
        } else if (key == "unix.mode") {
            mode = value;
        } else if (key == "perm") {
            perm = value;
            for (char& c : perm) c = AsciiLower(c);
        } else if (key == "unique") {
            entry.unique = value;
        }
    }
    // OS.unix=symlink (ProFTPD), OS.unix=slink:target (RFC 3659's example).
    const bool link = type == "os.unix=symlink" || type == "os.unix=slink" ||
                      type.rfind("os.unix=slink:", 0) == 0;
    bool folder;
    if (type == "dir") folder = true;
    else if (type == "file" || type.empty() || link)
        folder = false;
    else
        return FtpLine::kSkipped;  // cdir, pdir, devices and the like
    // YYYYMMDDHHMMSS[.sss], UTC.
    FILETIME time = kFtpUnknownTime;
    if (modify.size() == 14 || (modify.size() > 15 && modify[14] == '.')) {
        int year = Digits(modify, 0, 4), month = Digits(modify, 4, 2), day = Digits(modify, 6, 2);
        int hour = Digits(modify, 8, 2), minute = Digits(modify, 10, 2);
        int second = Digits(modify, 12, 2), ms = 0;
        if (modify.size() > 15) {
            size_t digits = std::min<size_t>(modify.size() - 15, 3);
            ms = Digits(modify, 15, digits);
            for (size_t i = digits; i < 3 && ms >= 0; ++i) ms *= 10;
        }
        if (second == 60) second = 59;  // a leap second
        if (!MakeTime(year, month, day, hour, minute, second, ms, time)) time = kFtpUnknownTime;
    }
    bool ownerMayWrite = true;
    entry.mode = 0;
    // pyftpdlib writes the mode as Python does: "0o644".
    if (mode.size() > 2 && mode[0] == '0' && (mode[1] == 'o' || mode[1] == 'O')) mode.erase(0, 2);
    if (!mode.empty() && mode.size() <= 12 && mode.find_first_not_of("01234567") == std::string::npos) {
        const unsigned long bits = std::strtoul(mode.c_str(), nullptr, 8);
        ownerMayWrite = (bits & 0200) != 0;
        entry.mode = kFindDataModeKnown | DWORD(bits & kFindDataModeBits);
    } else if (!perm.empty()) {
        ownerMayWrite = perm.find(folder ? 'c' : 'w') != std::string::npos;
    }
    entry.name = std::move(name);
    entry.time = time;
    if (folder) {
        entry.attributes = FILE_ATTRIBUTE_DIRECTORY | (ownerMayWrite ? 0 : FILE_ATTRIBUTE_READONLY);
        entry.size = 0;
    } else {
        entry.attributes = ownerMayWrite ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
        entry.size = haveSize ? size : 0;
        if (link) FtpMarkLink(entry);
    }
    return Checked(FtpLine::kEntry, entry);
}

FtpLine FtpParseListLine(const std::string& line, const FILETIME& now, FtpEntry& entry) {
    const bool dos = !line.empty() && line[0] >= '0' && line[0] <= '9';
    return Checked(dos ? ParseDosLine(line, entry) : ParseUnixLine(line, now, entry), entry);
}

void FtpMarkLink(FtpEntry& entry) {
    entry.link = true;
    entry.attributes = (entry.attributes & FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_REPARSE_POINT;
}

void FtpFillFindData(const FtpEntry& entry, WIN32_FIND_DATAA& data) {
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = entry.attributes;
    data.dwReserved0 = entry.link ? IO_REPARSE_TAG_SYMLINK : 0;
    data.dwReserved1 = entry.mode;
    data.ftCreationTime = entry.time;
    data.ftLastAccessTime = entry.time;
    data.ftLastWriteTime = entry.time;
    data.nFileSizeHigh = DWORD(entry.size >> 32);
    data.nFileSizeLow = DWORD(entry.size & 0xFFFFFFFFu);
    std::memcpy(data.cFileName, entry.name.c_str(), entry.name.size() + 1);
}
