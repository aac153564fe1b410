// CreateFileA dispositions, reading, writing, seeking, sizes, times and
// handles, with the last-error values Windows gives.
#include <string>

#include "scratch_folder.h"

namespace {

class Files : public ScratchFolder {};

const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

TEST_F(Files, DispositionsOnMissingAndExistingFiles) {
    // CREATE_NEW: only when missing.
    HANDLE h = OpenFile("new.txt", kReadWrite, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    CloseHandle(h);
    EXPECT_EQ(OpenFile("new.txt", kReadWrite, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));

    // OPEN_EXISTING: missing file and missing folder are told apart.
    EXPECT_EQ(OpenFile("absent.txt", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenFile("nofolder\\absent.txt", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(OpenFile("absent.txt", kReadWrite, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    // OPEN_ALWAYS keeps the contents and says whether the file was there.
    PutText("kept.txt", "contents");
    h = OpenFile("kept.txt", kReadWrite, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    CloseHandle(h);
    EXPECT_EQ(GetText("kept.txt"), "contents");
    h = OpenFile("fresh.txt", kReadWrite, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    CloseHandle(h);

    // CREATE_ALWAYS truncates and says so; TRUNCATE_EXISTING truncates.
    h = OpenFile("kept.txt", kReadWrite, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    CloseHandle(h);
    EXPECT_EQ(GetText("kept.txt"), "");
    h = OpenFile("other.txt", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    CloseHandle(h);
    PutText("cut.txt", "to be cut");
    h = OpenFile("cut.txt", GENERIC_WRITE, TRUNCATE_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(GetText("cut.txt"), "");

    // Not a disposition at all.
    EXPECT_EQ(OpenFile("new.txt", GENERIC_READ, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(OpenFile("new.txt", GENERIC_READ, 6), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(Files, FoldersAndBadNamesCannotBeOpened) {
    ASSERT_TRUE(CreateDirectoryA("folder", nullptr));
    for (DWORD disposition : {DWORD(OPEN_EXISTING), DWORD(OPEN_ALWAYS), DWORD(CREATE_ALWAYS)}) {
        EXPECT_EQ(OpenFile("folder", GENERIC_READ, disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED)) << disposition;
    }
    EXPECT_EQ(OpenFile("folder", GENERIC_WRITE, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenFile("", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(OpenFile("bad?name", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
    // A separator after a file's name, or a file used as a folder.
    PutText("plain.txt", "x");
    EXPECT_EQ(OpenFile("plain.txt\\", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
    EXPECT_FALSE(DeleteFileA("plain.txt\\"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
    EXPECT_EQ(OpenFile("plain.txt\\inner", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetText("plain.txt"), "x");
    // Trailing dots and blanks are not part of a name.
    HANDLE h = OpenFile("plain.txt. .", GENERIC_READ, OPEN_EXISTING);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
}

TEST_F(Files, NamesMatchWithoutRegardToCase) {
    PutText("MixedCase.Txt", "hello");
    HANDLE h = OpenFile("mixedcase.TXT", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[16] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "hello");
    CloseHandle(h);
    EXPECT_EQ(OpenFile("MIXEDCASE.TXT", GENERIC_READ, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
}

TEST_F(Files, ReadWriteAndSeek) {
    HANDLE h = OpenFile("data.bin", kReadWrite, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(h, "abcdefghij", 10, &done, nullptr));
    EXPECT_EQ(done, 10u);

    char buffer[32] = {};
    EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_BEGIN), 2u);
    ASSERT_TRUE(ReadFile(h, buffer, 3, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "cde");
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), 4u);
    EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_END), 8u);
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "ij");
    // At the end a read succeeds with nothing.
    done = 99;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 0u);

    // A move before the start fails and leaves the pointer alone.
    SetLastError(0);
    EXPECT_EQ(SetFilePointer(h, -11, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 10u);
    LARGE_INTEGER distance, position;
    distance.QuadPart = -1;
    EXPECT_FALSE(SetFilePointerEx(h, distance, &position, FILE_BEGIN));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));
    EXPECT_FALSE(SetFilePointerEx(h, distance, &position, 7));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    // Writing past the end fills the gap with zeros.
    EXPECT_EQ(SetFilePointer(h, 12, nullptr, FILE_BEGIN), 12u);
    ASSERT_TRUE(WriteFile(h, "Z", 1, &done, nullptr));
    EXPECT_EQ(GetFileSize(h, nullptr), 13u);
    EXPECT_EQ(SetFilePointer(h, 10, nullptr, FILE_BEGIN), 10u);
    ASSERT_TRUE(ReadFile(h, buffer, 3, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), std::string("\0\0Z", 3));

    // SetEndOfFile cuts at the pointer.
    EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_TRUE(SetEndOfFile(h));
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 4);
    EXPECT_TRUE(FlushFileBuffers(h));
    CloseHandle(h);
    EXPECT_EQ(GetText("data.bin"), "abcd");
}

// Offsets carried in an OVERLAPPED on a handle opened for synchronous I/O:
// each transfer happens at its offset whatever the file pointer, and leaves
// the pointer just after the bytes it moved.
TEST_F(Files, PositionalReadsAndWrites) {
    HANDLE h = OpenFile("positional.bin", kReadWrite, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(h, "abcdefghij", 10, &done, nullptr));
    auto at = [](DWORD offset, DWORD high = 0) {
        OVERLAPPED o{};
        o.Offset = offset;
        o.OffsetHigh = high;
        return o;
    };
    auto pointer = [h] { return SetFilePointer(h, 0, nullptr, FILE_CURRENT); };
    char buffer[16] = {};

    OVERLAPPED o = at(3);
    ASSERT_TRUE(ReadFile(h, buffer, 4, &done, &o));
    EXPECT_EQ(std::string(buffer, done), "defg");
    EXPECT_EQ(o.InternalHigh, ULONG_PTR(4));
    EXPECT_EQ(pointer(), 7u);
    ASSERT_TRUE(ReadFile(h, buffer, 2, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "hi");

    o = at(1);
    ASSERT_TRUE(WriteFile(h, "XY", 2, &done, &o));
    EXPECT_EQ(pointer(), 3u);
    // Past the end: the gap fills with zeros, and a plain write goes on after.
    o = at(12);
    ASSERT_TRUE(WriteFile(h, "Z", 1, &done, &o));
    ASSERT_TRUE(WriteFile(h, "!", 1, &done, nullptr));
    // Both halves all ones: at the end of the file.
    o = at(0xFFFFFFFF, 0xFFFFFFFF);
    ASSERT_TRUE(WriteFile(h, "$", 1, &done, &o));
    EXPECT_EQ(pointer(), 15u);

    // A read that runs into the end gives what there is; one that starts
    // beyond it fails.
    o = at(10);
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, &o));
    EXPECT_EQ(std::string(buffer, done), std::string("\0\0Z!$", 5));
    o = at(5, 1);
    done = 99;
    EXPECT_FALSE(ReadFile(h, buffer, 4, &done, &o));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_HANDLE_EOF));
    EXPECT_EQ(done, 0u);

    // SetEndOfFile cuts where the last positional transfer left the pointer.
    o = at(2);
    ASSERT_TRUE(ReadFile(h, buffer, 2, &done, &o));
    EXPECT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    EXPECT_EQ(GetText("positional.bin"), "aXYd");
}

TEST_F(Files, PositionsBeyondFourGigabytes) {
    HANDLE h = OpenFile("big.bin", kReadWrite, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(h, 5, &high, FILE_BEGIN), 5u);
    EXPECT_EQ(high, 1);
    LARGE_INTEGER distance, position;
    distance.QuadPart = 0;
    ASSERT_TRUE(SetFilePointerEx(h, distance, &position, FILE_CURRENT));
    EXPECT_EQ(position.QuadPart, 0x100000005ll);
    // Negative distances count back from there.
    high = -1;
    EXPECT_EQ(SetFilePointer(h, -5, &high, FILE_CURRENT), 0u);
    EXPECT_EQ(high, 1);
    DWORD sizeHigh = 77;
    EXPECT_EQ(GetFileSize(h, &sizeHigh), 0u);
    EXPECT_EQ(sizeHigh, 0u);
    CloseHandle(h);
}

TEST_F(Files, AccessRightsOfTheHandleAreEnforced) {
    PutText("rights.txt", "abc");
    char buffer[8];
    DWORD done = 5;
    HANDLE reader = OpenFile("rights.txt", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(SetEndOfFile(reader));
    CloseHandle(reader);
    HANDLE writer = OpenFile("rights.txt", GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReadFile(writer, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    CloseHandle(writer);
    EXPECT_EQ(GetText("rights.txt"), "abc");
}

TEST_F(Files, BadHandlesAreRefused) {
    char buffer[4];
    DWORD done;
    EXPECT_FALSE(ReadFile(nullptr, buffer, 4, &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, buffer, 4, &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    HANDLE h = OpenFile("closed.txt", kReadWrite, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(Files, FileTimesAreSetAndRead) {
    HANDLE h = OpenFile("timed.txt", kReadWrite, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME write = FromTicks(kY2kTicks + 12345670);  // 1.234567 s after
    FILETIME access = FromTicks(kY2kTicks + 864000000000ull);
    ASSERT_TRUE(SetFileTime(h, nullptr, &access, &write));
    FILETIME created, accessed, written;
    ASSERT_TRUE(GetFileTime(h, &created, &accessed, &written));
    EXPECT_EQ(Ticks(written), Ticks(write));
    EXPECT_EQ(Ticks(accessed), Ticks(access));
    // NULL and zero leave a time as it is.
    FILETIME zero = FromTicks(0);
    ASSERT_TRUE(SetFileTime(h, nullptr, &zero, nullptr));
    ASSERT_TRUE(GetFileTime(h, nullptr, &accessed, &written));
    EXPECT_EQ(Ticks(written), Ticks(write));
    EXPECT_EQ(Ticks(accessed), Ticks(access));
    CloseHandle(h);
}

}  // namespace
