// Time: the system clock as FILETIME, calendar conversion, local time,
// tick count and Sleep.
//
// Calendar arithmetic is done here on the proleptic Gregorian calendar (as
// Windows does) rather than through the C library, so that every FILETIME up
// to year 30828 converts, whatever the range of time_t functions.
// Local time uses the C library's time zone (TZ, /etc/localtime) with the UTC
// offset in force at the instant converted, so a summer date converts with
// summer time even in winter. (Windows applies today's offset to every
// instant; the program only converts times of the recent past and present,
// where both agree except around a change.)
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <sched.h>

#include "platform/linux/filetime.h"
#include "platform/linux/kernel32.h"

namespace {

constexpr int64_t kTicksPerMillisecond = 10000;
constexpr int64_t kTicksPerDay = 86400 * kTicksPerSecond;
constexpr int64_t kDaysFrom1601To1970 = 134774;

// Days since 1970-01-01 of a civil date, and back (H. Hinnant's algorithms).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int64_t(yoe) + era * 400 + (m <= 2);
}

bool IsLeapYear(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && IsLeapYear(y)) ? 29 : kDays[m - 1];
}

uint64_t NowTicks() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return FileTimeTicks(FileTimeFromTimespec(ts));
}

// Seconds east of UTC in force at the Unix time t.
bool OffsetAt(int64_t t, int64_t& offset) {
    static std::once_flag once;
    std::call_once(once, [] { tzset(); });
    time_t when = time_t(t);
    struct tm broken;
    if (!localtime_r(&when, &broken)) return false;
    offset = broken.tm_gmtoff;
    return true;
}

// Floor of ticks / kTicksPerSecond as Unix seconds.
int64_t UnixSeconds(uint64_t ticks) {
    return int64_t(ticks / kTicksPerSecond) - kEpochDifferenceSeconds;
}

// ticks + seconds, within 0 .. 2^63-1; false when it would leave that range.
bool ShiftTicks(uint64_t ticks, int64_t seconds, uint64_t& out) {
    __int128 shifted = __int128(ticks) + __int128(seconds) * kTicksPerSecond;
    if (shifted < 0 || shifted > __int128(INT64_MAX)) return false;
    out = uint64_t(shifted);
    return true;
}

}  // namespace

void GetSystemTimeAsFileTime(LPFILETIME systemTimeAsFileTime) {
    *systemTimeAsFileTime = FileTimeFromTicks(NowTicks());
}

void GetSystemTime(LPSYSTEMTIME systemTime) {
    FILETIME now = FileTimeFromTicks(NowTicks());
    FileTimeToSystemTime(&now, systemTime);
}

void GetLocalTime(LPSYSTEMTIME systemTime) {
    FILETIME now = FileTimeFromTicks(NowTicks());
    FILETIME local;
    if (!FileTimeToLocalFileTime(&now, &local)) local = now;
    FileTimeToSystemTime(&local, systemTime);
}

BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localFileTime) {
    if (!fileTime || !localFileTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t ticks = FileTimeTicks(*fileTime);
    int64_t offset;
    uint64_t local;
    if (!OffsetAt(UnixSeconds(ticks), offset) || !ShiftTicks(ticks, offset, local)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *localFileTime = FileTimeFromTicks(local);
    return TRUE;
}

// A local time names the instant whose offset maps it there. In the hour
// that is skipped when clocks go forward no instant does; the offset in force
// before the change is applied. In the hour that repeats when clocks go back
// two do; the later one is taken.
BOOL LocalFileTimeToFileTime(const FILETIME* localFileTime, LPFILETIME fileTime) {
    if (!localFileTime || !fileTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t local = FileTimeTicks(*localFileTime);
    int64_t asUtc = UnixSeconds(local);
    int64_t guessOffset, offset;
    if (!OffsetAt(asUtc, guessOffset) || !OffsetAt(asUtc - guessOffset, offset)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t utc;
    if (!ShiftTicks(local, -offset, utc)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *fileTime = FileTimeFromTicks(utc);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime) {
    if (!fileTime || !systemTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t ticks = FileTimeTicks(*fileTime);
    if (ticks > uint64_t(INT64_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int64_t days = int64_t(ticks / kTicksPerDay);
    uint64_t inDay = ticks % kTicksPerDay;
    int64_t year;
    unsigned month, day;
    CivilFromDays(days - kDaysFrom1601To1970, year, month, day);
    systemTime->wYear = WORD(year);
    systemTime->wMonth = WORD(month);
    systemTime->wDay = WORD(day);
    systemTime->wDayOfWeek = WORD((days + 1) % 7);  // 1601-01-01 was a Monday
    systemTime->wHour = WORD(inDay / (3600 * kTicksPerSecond));
    systemTime->wMinute = WORD(inDay / (60 * kTicksPerSecond) % 60);
    systemTime->wSecond = WORD(inDay / kTicksPerSecond % 60);
    systemTime->wMilliseconds = WORD(inDay / kTicksPerMillisecond % 1000);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime) {
    if (!systemTime || !fileTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SYSTEMTIME& st = *systemTime;
    // wDayOfWeek is ignored, as on Windows.
    bool valid = st.wYear >= 1601 && st.wYear <= 30827 && st.wMonth >= 1 && st.wMonth <= 12 &&
                 st.wDay >= 1 && st.wDay <= DaysInMonth(st.wYear, st.wMonth) && st.wHour < 24 &&
                 st.wMinute < 60 && st.wSecond < 60 && st.wMilliseconds < 1000;
    if (!valid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kDaysFrom1601To1970;
    uint64_t ticks = uint64_t(days) * kTicksPerDay +
                     uint64_t((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) * kTicksPerSecond +
                     uint64_t(st.wMilliseconds) * kTicksPerMillisecond;
    *fileTime = FileTimeFromTicks(ticks);
    return TRUE;
}

LONG CompareFileTime(const FILETIME* fileTime1, const FILETIME* fileTime2) {
    uint64_t a = FileTimeTicks(*fileTime1), b = FileTimeTicks(*fileTime2);
    return a < b ? -1 : a > b ? 1 : 0;
}

DWORD GetTickCount(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
    return DWORD(ms & 0xFFFFFFFFu);  // wraps after 49.7 days, as on Windows
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    // 0xFFFFFFFF is INFINITE: sleep for good.
    do {
        struct timespec left;
        left.tv_sec = time_t(milliseconds / 1000);
        left.tv_nsec = long(milliseconds % 1000) * 1000000;
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    } while (milliseconds == 0xFFFFFFFFu);
}
