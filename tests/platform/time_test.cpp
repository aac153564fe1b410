// Time conversions: known values, round trips, validation, local time,
// comparison, the clocks and Sleep.
#include <cstdlib>
#include <initializer_list>

#include "scratch_folder.h"

namespace {

SYSTEMTIME MakeTime(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0,
                    WORD second = 0, WORD ms = 0) {
    SYSTEMTIME st{};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    st.wSecond = second;
    st.wMilliseconds = ms;
    return st;
}

ULONGLONG ToTicks(const SYSTEMTIME& st) {
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return Ticks(ft);
}

TEST(Time, KnownValues) {
    EXPECT_EQ(ToTicks(MakeTime(2000, 1, 1)), kY2kTicks);
    EXPECT_EQ(ToTicks(MakeTime(1601, 1, 1)), 0u);
    EXPECT_EQ(ToTicks(MakeTime(1970, 1, 1)), 116444736000000000ull);
    EXPECT_EQ(ToTicks(MakeTime(2000, 1, 1, 0, 0, 0, 1)), kY2kTicks + 10000);

    SYSTEMTIME st;
    FILETIME ft = FromTicks(kY2kTicks);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, 2000);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wDayOfWeek, 6);  // a Saturday
    EXPECT_EQ(st.wHour + st.wMinute + st.wSecond + st.wMilliseconds, 0);
    ft = FromTicks(0);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, 1601);
    EXPECT_EQ(st.wDayOfWeek, 1);  // a Monday

    // The largest value Windows converts.
    ft = FromTicks(0x7FFFFFFFFFFFFFFFull);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, 30828);
    EXPECT_EQ(st.wMonth, 9);
    EXPECT_EQ(st.wDay, 14);
    EXPECT_EQ(st.wHour, 2);
    EXPECT_EQ(st.wMinute, 48);
    EXPECT_EQ(st.wSecond, 5);
    EXPECT_EQ(st.wMilliseconds, 477);
    ft = FromTicks(0x8000000000000000ull);
    EXPECT_FALSE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(Time, RoundTripsThroughSystemTime) {
    for (const SYSTEMTIME& in :
         {MakeTime(1601, 1, 1), MakeTime(1900, 2, 28, 23, 59, 59, 999), MakeTime(1900, 3, 1),
          MakeTime(2000, 2, 29, 12, 30, 15, 500), MakeTime(2024, 12, 31, 23, 59, 59, 999),
          MakeTime(2100, 3, 1, 1, 2, 3, 4), MakeTime(30827, 12, 31, 23, 59, 59, 999)}) {
        FILETIME ft;
        ASSERT_TRUE(SystemTimeToFileTime(&in, &ft)) << in.wYear;
        SYSTEMTIME out;
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &out));
        EXPECT_EQ(out.wYear, in.wYear);
        EXPECT_EQ(out.wMonth, in.wMonth);
        EXPECT_EQ(out.wDay, in.wDay);
        EXPECT_EQ(out.wHour, in.wHour);
        EXPECT_EQ(out.wMinute, in.wMinute);
        EXPECT_EQ(out.wSecond, in.wSecond);
        EXPECT_EQ(out.wMilliseconds, in.wMilliseconds);
    }
    // Sub-millisecond ticks are dropped by the conversion, not rounded.
    FILETIME ft = FromTicks(kY2kTicks + 9999);
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wMilliseconds, 0);
}

TEST(Time, SystemTimeFieldsAreValidated) {
    for (const SYSTEMTIME& bad :
         {MakeTime(1600, 12, 31), MakeTime(2000, 0, 1), MakeTime(2000, 13, 1),
          MakeTime(2000, 1, 0), MakeTime(2000, 1, 32), MakeTime(2000, 2, 30),
          MakeTime(2000, 4, 31), MakeTime(2000, 1, 1, 24),
          MakeTime(2000, 1, 1, 0, 60), MakeTime(2000, 1, 1, 0, 0, 60),
          MakeTime(2000, 1, 1, 0, 0, 0, 1000)}) {
        FILETIME ft = FromTicks(42);
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft))
            << bad.wYear << "-" << bad.wMonth << "-" << bad.wDay << " " << bad.wHour << ":"
            << bad.wMinute << ":" << bad.wSecond << "." << bad.wMilliseconds;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
    // The day of the week is not checked.
    SYSTEMTIME st = MakeTime(2000, 1, 1);
    st.wDayOfWeek = 3;
    EXPECT_EQ(ToTicks(st), kY2kTicks);
}

TEST(Time, CompareFileTime) {
    FILETIME a = FromTicks(kY2kTicks), b = FromTicks(kY2kTicks + 1);
    FILETIME high = FromTicks(0x100000000ull), low = FromTicks(0xFFFFFFFFull);
    EXPECT_EQ(CompareFileTime(&a, &b), -1);
    EXPECT_EQ(CompareFileTime(&b, &a), 1);
    EXPECT_EQ(CompareFileTime(&a, &a), 0);
    EXPECT_EQ(CompareFileTime(&low, &high), -1);
    EXPECT_EQ(CompareFileTime(&high, &low), 1);
}

TEST(Time, LocalTimeRoundTripsAndAgreesWithTheClock) {
    FILETIME now, local, back;
    GetSystemTimeAsFileTime(&now);
    ASSERT_TRUE(FileTimeToLocalFileTime(&now, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(Ticks(back), Ticks(now));
    // Whole minutes apart: no time zone has a finer offset today.
    LONGLONG offset = LONGLONG(Ticks(local)) - LONGLONG(Ticks(now));
    EXPECT_EQ(offset % (60 * 10000000ll), 0);

    SYSTEMTIME utcFields, localFields;
    GetSystemTime(&utcFields);
    GetLocalTime(&localFields);
    LONGLONG measured = LONGLONG(ToTicks(localFields)) - LONGLONG(ToTicks(utcFields));
    EXPECT_LT(std::llabs(measured - offset), 2 * 10000000ll);

    ULONGLONG fromFields = ToTicks(utcFields);
    EXPECT_LT(std::llabs(LONGLONG(fromFields) - LONGLONG(Ticks(now))), 2 * 10000000ll);
    EXPECT_GT(Ticks(now), ToTicks(MakeTime(2020, 1, 1)));
}

TEST(Time, SystemClockHasSubMillisecondResolution) {
    bool finer = false;
    for (int i = 0; i < 200 && !finer; ++i) {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        finer = Ticks(ft) % 10000 != 0;
    }
    EXPECT_TRUE(finer);
}

TEST(Time, SleepAndTickCount) {
    DWORD start = GetTickCount();
    Sleep(60);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 45u);  // the tick may be as coarse as 16 ms
    EXPECT_LT(elapsed, 5000u);
    Sleep(0);
}

}  // namespace
