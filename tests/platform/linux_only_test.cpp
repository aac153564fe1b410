// Linux only: behaviour the Linux layer decides where Windows and Wine leave
// room, or that only matters on Linux (root, symbolic links, time zones).
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace {

class LinuxLayer : public ScratchFolder {};

std::vector<std::string> ListInOrder(const char* pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

TEST_F(LinuxLayer, DotNamesAreHiddenAndListingIsSorted) {
    PutText("gamma", "");
    PutText("Beta", "");
    PutText("alpha", "");
    PutText(".profile", "");
    EXPECT_EQ(ListInOrder("*"),
              (std::vector<std::string>{".", "..", ".profile", "alpha", "Beta", "gamma"}));
    EXPECT_EQ(GetFileAttributesA(".profile"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(GetFileAttributesA("."), FILE_ATTRIBUTE_DIRECTORY);
    // The root of the drive has no "." and "..".
    EXPECT_EQ(ListInOrder("\\*"), std::vector<std::string>{"cwd"});
}

TEST_F(LinuxLayer, EntriesThatVanishAreSkipped) {
    PutText("a.txt", "");
    PutText("b.txt", "");
    PutText("c.txt", "");
    fs::create_symlink("nowhere", "dangling.txt");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("*.txt", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "a.txt");
    fs::remove("b.txt");
    ASSERT_TRUE(FindNextFileA(find, &data));
    EXPECT_STREQ(data.cFileName, "c.txt");
    EXPECT_FALSE(FindNextFileA(find, &data));  // the dangling link is not listed
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(find));
    EXPECT_FALSE(FindClose(find));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(LinuxLayer, HandleKindsDoNotMix) {
    WIN32_FIND_DATAA data;
    PutText("f", "");
    HANDLE find = FindFirstFileA("*", &data);
    HANDLE file = OpenFile("f", GENERIC_READ, OPEN_EXISTING);
    EXPECT_FALSE(CloseHandle(find));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FindClose(file));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FindNextFileA(file, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(FindClose(find));
    EXPECT_TRUE(CloseHandle(file));
    int notAHandle = 0;
    EXPECT_FALSE(CloseHandle(&notAHandle));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(INVALID_HANDLE_VALUE));  // the current-process pseudo-handle
}

TEST_F(LinuxLayer, CopyReplacesWholeAndLeavesNoTemporaryFile) {
    PutText("src.txt", std::string(300000, 's'));
    PutText("dst.txt", "old");
    ASSERT_TRUE(CopyFileA("src.txt", "dst.txt", FALSE));
    EXPECT_EQ(GetText("dst.txt"), std::string(300000, 's'));
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 2);
    EXPECT_FALSE(CopyFileA("src.txt", "SRC.TXT", FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(GetText("src.txt").size(), 300000u);
    // Copies keep the mode bits, so a private file stays private.
    fs::permissions("src.txt", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(CopyFileA("src.txt", "private.txt", TRUE));
    EXPECT_EQ(fs::status("private.txt").permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(LinuxLayer, ReadOnlyHoldsForRootAndMoveDoesNotReplaceIt) {
    PutText("ro.txt", "keep");
    PutText("new.txt", "new");
    ASSERT_TRUE(SetFileAttributesA("ro.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(fs::status("ro.txt").permissions() &
                  (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write),
              fs::perms::none);
    EXPECT_FALSE(MoveFileExA("new.txt", "ro.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(GetText("ro.txt"), "keep");
    // A read-only folder flag is accepted without making the folder unwritable.
    ASSERT_TRUE(CreateDirectoryA("dir", nullptr));
    EXPECT_TRUE(SetFileAttributesA("dir", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA("dir"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(MoveFileExA("new.txt", "x", 0x4 /* MOVEFILE_DELAY_UNTIL_REBOOT */));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(LinuxLayer, CurrentDirectoryCannotBeRemoved) {
    EXPECT_FALSE(RemoveDirectoryA("..\\cwd"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
}

// Wine lets a move without a high half pass 4 GiB and returns the low half;
// Windows refuses it, so that a 32-bit caller never loses the high half.
TEST_F(LinuxLayer, NarrowFilePointerCannotPassFourGigabytes) {
    HANDLE h = OpenFile("f.bin", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(h, 0x7FFFFFFF, nullptr, FILE_BEGIN), 0x7FFFFFFFu);
    EXPECT_EQ(SetFilePointer(h, 0x7FFFFFFF, nullptr, FILE_CURRENT), 0xFFFFFFFEu);
    // A real position whose low half is all ones is told apart by the error.
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    LONG high = 0;
    EXPECT_EQ(SetFilePointer(h, 0, &high, FILE_CURRENT), 0xFFFFFFFFu);
    EXPECT_EQ(high, 0);
    CloseHandle(h);
}

// ctest runs the program with TZ set to Central European rules: +1 in
// winter, +2 from the last Sunday of March 01:00 UTC to the last Sunday of
// October 01:00 UTC.
constexpr const char* kTestZone = "CET-1CEST,M3.5.0,M10.5.0/3";

ULONGLONG TicksOf(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
    SYSTEMTIME st{};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return Ticks(ft);
}

TEST(LocalTime, UsesTheOffsetInForceAtThatInstant) {
    const char* tz = std::getenv("TZ");
    if (!tz || std::string(tz) != kTestZone) GTEST_SKIP() << "run through ctest";
    const ULONGLONG hour = 36000000000ull;
    FILETIME in, out;
    in = FromTicks(TicksOf(2021, 1, 15, 12, 0));
    ASSERT_TRUE(FileTimeToLocalFileTime(&in, &out));
    EXPECT_EQ(Ticks(out), Ticks(in) + hour);
    in = FromTicks(TicksOf(2021, 7, 15, 12, 0));
    ASSERT_TRUE(FileTimeToLocalFileTime(&in, &out));
    EXPECT_EQ(Ticks(out), Ticks(in) + 2 * hour);
    ASSERT_TRUE(LocalFileTimeToFileTime(&out, &in));
    EXPECT_EQ(Ticks(in), TicksOf(2021, 7, 15, 12, 0));

    // 02:30 does not exist on 28 March: the winter offset is used.
    in = FromTicks(TicksOf(2021, 3, 28, 2, 30));
    ASSERT_TRUE(LocalFileTimeToFileTime(&in, &out));
    EXPECT_EQ(Ticks(out), TicksOf(2021, 3, 28, 1, 30));
    // 02:30 happens twice on 31 October: the later one is taken.
    in = FromTicks(TicksOf(2021, 10, 31, 2, 30));
    ASSERT_TRUE(LocalFileTimeToFileTime(&in, &out));
    EXPECT_EQ(Ticks(out), TicksOf(2021, 10, 31, 1, 30));
}

}  // namespace

// Windows behaviour that Wine does not reproduce, so platform_tests cannot
// claim it: Wine leaves the read-only flag and handle rights to the host's
// permissions (which root bypasses), treats a case-only rename as a no-op,
// and accepts 29 February of every year.
class WindowsBeyondWine : public ScratchFolder {};

TEST_F(WindowsBeyondWine, ReadOnlyFilesAreNotWrittenOrReplaced) {
    PutText("file.txt", "x");
    PutText("other.txt", "y");
    ASSERT_TRUE(SetFileAttributesA("file.txt", FILE_ATTRIBUTE_READONLY));
    for (DWORD disposition : {DWORD(OPEN_EXISTING), DWORD(OPEN_ALWAYS), DWORD(CREATE_ALWAYS),
                              DWORD(TRUNCATE_EXISTING)}) {
        EXPECT_EQ(OpenFile("file.txt", GENERIC_WRITE, disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED)) << disposition;
    }
    EXPECT_FALSE(CopyFileA("other.txt", "file.txt", FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(GetText("file.txt"), "x");
    // A new file made read-only may still be written through its handle.
    HANDLE h = CreateFileA("made-ro.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &done, nullptr));
    CloseHandle(h);
    EXPECT_EQ(GetText("made-ro.txt"), "abc");
    EXPECT_NE(GetFileAttributesA("made-ro.txt") & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(WindowsBeyondWine, HandleRightsCoverTruncationAndTimes) {
    PutText("rights.txt", "abc");
    HANDLE reader = OpenFile("rights.txt", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SetEndOfFile(reader));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    FILETIME write = FromTicks(kY2kTicks);
    EXPECT_FALSE(SetFileTime(reader, nullptr, nullptr, &write));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(FlushFileBuffers(reader));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    CloseHandle(reader);
}

TEST_F(WindowsBeyondWine, MoveCanChangeOnlyTheCase) {
    PutText("case.txt", "x");
    ASSERT_TRUE(MoveFileA("case.txt", "CASE.TXT"));
    EXPECT_EQ(ListInOrder("case.txt"), std::vector<std::string>{"CASE.TXT"});
    // Replacing an entry spelled otherwise gives it the new spelling.
    PutText("new.txt", "new");
    ASSERT_TRUE(MoveFileExA("new.txt", "case.TXT", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ListInOrder("*.txt"), std::vector<std::string>{"case.TXT"});
    EXPECT_EQ(GetText("case.TXT"), "new");
}

TEST(WindowsBeyondWineTime, TwentyNinthOfFebruaryOnlyInLeapYears) {
    for (WORD year : {1900, 2001, 2100}) {
        SYSTEMTIME st{};
        st.wYear = year;
        st.wMonth = 2;
        st.wDay = 29;
        FILETIME ft;
        EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << year;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
}
