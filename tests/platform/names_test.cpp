// Operations on names: attributes, delete, move, copy, folders and the
// current directory, with the last-error values Windows gives.
#include <cstring>
#include <string>

#include "scratch_folder.h"

namespace {

class Names : public ScratchFolder {};

ULONGLONG LastWriteTicks(const char* name) {
    HANDLE h = OpenFile(name, GENERIC_READ, OPEN_EXISTING);
    FILETIME written{};
    GetFileTime(h, nullptr, nullptr, &written);
    CloseHandle(h);
    return Ticks(written);
}

void SetLastWrite(const char* name, ULONGLONG ticks) {
    HANDLE h = OpenFile(name, GENERIC_WRITE, OPEN_EXISTING);
    FILETIME written = FromTicks(ticks);
    SetFileTime(h, nullptr, nullptr, &written);
    CloseHandle(h);
}

TEST_F(Names, AttributesAndTheReadOnlyFlag) {
    PutText("file.txt", "x");
    ASSERT_TRUE(CreateDirectoryA("folder", nullptr));
    EXPECT_EQ(GetFileAttributesA("file.txt") & ~FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesA("folder") & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA("missing.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesA("missing\\file.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));

    // A read-only file can be read but not deleted. (Opening it for writing
    // is refused too; Wine run as root cannot show it, see linux_only_test.)
    ASSERT_TRUE(SetFileAttributesA("file.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA("file.txt") & FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY);
    HANDLE h = OpenFile("file.txt", GENERIC_READ, OPEN_EXISTING);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_FALSE(DeleteFileA("file.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(GetText("file.txt"), "x");

    ASSERT_TRUE(SetFileAttributesA("file.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA("file.txt") & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(DeleteFileA("file.txt"));
    EXPECT_FALSE(SetFileAttributesA("file.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Names, DeleteFile) {
    PutText("doomed.txt", "x");
    EXPECT_TRUE(DeleteFileA("DOOMED.txt"));
    EXPECT_EQ(GetFileAttributesA("doomed.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(DeleteFileA("doomed.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA("nofolder\\doomed.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    ASSERT_TRUE(CreateDirectoryA("folder", nullptr));
    EXPECT_FALSE(DeleteFileA("folder"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST_F(Names, MoveFile) {
    PutText("a.txt", "first");
    PutText("b.txt", "second");
    ASSERT_TRUE(CreateDirectoryA("sub", nullptr));

    // The target must not exist unless replacing is asked for.
    EXPECT_FALSE(MoveFileA("a.txt", "b.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(MoveFileA("a.txt", "B.TXT"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(MoveFileExA("a.txt", "b.txt", 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetText("b.txt"), "second");
    EXPECT_TRUE(MoveFileExA("a.txt", "b.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetText("b.txt"), "first");
    EXPECT_EQ(GetFileAttributesA("a.txt"), INVALID_FILE_ATTRIBUTES);

    // Into a folder, and folders themselves.
    EXPECT_TRUE(MoveFileA("b.txt", "sub\\c.txt"));
    EXPECT_EQ(GetText("sub/c.txt"), "first");
    EXPECT_TRUE(MoveFileA("sub", "moved"));
    EXPECT_EQ(GetText("moved/c.txt"), "first");

    EXPECT_FALSE(MoveFileA("absent.txt", "x.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(MoveFileA("moved\\c.txt", "nofolder\\c.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetText("moved/c.txt"), "first");
}

TEST_F(Names, CopyFile) {
    PutText("source.txt", "original");
    SetLastWrite("source.txt", kY2kTicks);

    ASSERT_TRUE(CopyFileA("source.txt", "copy.txt", TRUE));
    EXPECT_EQ(GetText("copy.txt"), "original");
    EXPECT_EQ(LastWriteTicks("copy.txt"), kY2kTicks);

    // An existing target: refused when asked, replaced otherwise.
    PutText("target.txt", "older and longer contents");
    EXPECT_FALSE(CopyFileA("source.txt", "target.txt", TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
    EXPECT_EQ(GetText("target.txt"), "older and longer contents");
    ASSERT_TRUE(CopyFileA("source.txt", "TARGET.TXT", FALSE));
    EXPECT_EQ(GetText("target.txt"), "original");

    // The read-only flag travels with the copy.
    ASSERT_TRUE(SetFileAttributesA("source.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CopyFileA("source.txt", "ro-copy.txt", TRUE));
    EXPECT_NE(GetFileAttributesA("ro-copy.txt") & FILE_ATTRIBUTE_READONLY, 0u);

    EXPECT_FALSE(CopyFileA("absent.txt", "x.txt", FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(CopyFileA("nofolder\\absent.txt", "x.txt", FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(CopyFileA("copy.txt", "nofolder\\x.txt", FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST_F(Names, CreateAndRemoveDirectory) {
    EXPECT_TRUE(CreateDirectoryA("top", nullptr));
    EXPECT_FALSE(CreateDirectoryA("top", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("TOP", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    PutText("plain.txt", "x");
    EXPECT_FALSE(CreateDirectoryA("plain.txt", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("missing\\child", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(CreateDirectoryA("top\\child\\", nullptr));

    EXPECT_FALSE(RemoveDirectoryA("top"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_EMPTY));
    EXPECT_TRUE(RemoveDirectoryA("Top\\Child"));
    EXPECT_TRUE(RemoveDirectoryA("top"));
    EXPECT_FALSE(RemoveDirectoryA("top"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(RemoveDirectoryA("missing\\child"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(RemoveDirectoryA("plain.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
}

TEST_F(Names, CurrentDirectory) {
    char buffer[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, DWORD(sizeof buffer));
    EXPECT_EQ(std::strlen(buffer), length);
    std::string start = buffer;

    // Too small: the size needed, counting the terminating NUL.
    char tiny[2] = {'?', '?'};
    EXPECT_EQ(GetCurrentDirectoryA(sizeof tiny, tiny), length + 1);
    EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), length + 1);
    EXPECT_EQ(GetCurrentDirectoryA(length, buffer), length + 1);
    EXPECT_EQ(GetCurrentDirectoryA(length + 1, buffer), length);

    ASSERT_TRUE(CreateDirectoryA("Inner", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("Inner"));
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_EQ(std::string(buffer), start + "\\Inner");
    PutText("here.txt", "x");
    ASSERT_TRUE(SetCurrentDirectoryA(".."));
    EXPECT_EQ(GetText("Inner/here.txt"), "x");
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_EQ(std::string(buffer), start);

    EXPECT_FALSE(SetCurrentDirectoryA("absent"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(SetCurrentDirectoryA("absent\\deeper"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(SetCurrentDirectoryA("inner\\here.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
}

}  // namespace
