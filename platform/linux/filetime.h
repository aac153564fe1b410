// FILETIME <-> POSIX time. A FILETIME counts 100 ns intervals since
// 1601-01-01 00:00 UTC; the Unix epoch lies 11644473600 s after that.
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/linux/win32_types.h"

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kEpochDifferenceSeconds = 11644473600;

inline uint64_t FileTimeTicks(const FILETIME& ft) {
    return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

inline FILETIME FileTimeFromTicks(uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = DWORD(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = DWORD(ticks >> 32);
    return ft;
}

// Times before 1601 (which Windows cannot express) become 0.
inline FILETIME FileTimeFromTimespec(const struct timespec& ts) {
    int64_t seconds = int64_t(ts.tv_sec) + kEpochDifferenceSeconds;
    if (seconds < 0) return FileTimeFromTicks(0);
    return FileTimeFromTicks(uint64_t(seconds) * kTicksPerSecond + uint64_t(ts.tv_nsec) / 100);
}

inline struct timespec TimespecFromFileTime(const FILETIME& ft) {
    uint64_t ticks = FileTimeTicks(ft);
    struct timespec ts;
    ts.tv_sec = time_t(int64_t(ticks / kTicksPerSecond) - kEpochDifferenceSeconds);
    ts.tv_nsec = long(ticks % kTicksPerSecond) * 100;
    return ts;
}
