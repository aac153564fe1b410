// Linux only: how Windows paths reach native files. The scratch folder is the
// drive root; the current directory is its sub-folder "cwd".
#include <cstdlib>
#include <filesystem>
#include <string>

#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace {

class DriveRoot : public ScratchFolder {
protected:
    std::string Native(const std::string& relative) const { return (folder_ / relative).string(); }
    bool Exists(const std::string& relative) const { return fs::exists(folder_ / relative); }
};

std::string ReadThrough(const char* path) {
    HANDLE h = OpenFile(path, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return "<error " + std::to_string(GetLastError()) + ">";
    char buffer[256];
    DWORD got = 0;
    ReadFile(h, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(h);
    return std::string(buffer, got);
}

bool CreateThrough(const char* path, const std::string& text) {
    HANDLE h = OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD done;
    BOOL ok = WriteFile(h, text.data(), DWORD(text.size()), &done, nullptr);
    CloseHandle(h);
    return ok != FALSE;
}

TEST_F(DriveRoot, EverySpellingReachesTheSameFile) {
    ASSERT_TRUE(CreateDirectoryA("\\Kestrovane", nullptr));
    ASSERT_TRUE(CreateThrough("\\Kestrovane\\sites.info", "sites"));
    EXPECT_EQ(GetText(Native("Kestrovane/sites.info")), "sites");
    for (const char* spelling :
         {"c:\\kestrovane\\SITES.INFO", "C:/KESTROVANE/Sites.Info", "D:\\Kestrovane\\sites.info",
          "C:kestrovane\\sites.info", "\\\\Kestrovane//\\sites.info",
          "\\cwd\\..\\..\\..\\Kestrovane\\.\\sites.info", "..\\kestrovane\\sites.info",
          "\\kestrovane\\sites.info. .", "\\kestrovane.\\sites.info"}) {
        EXPECT_EQ(ReadThrough(spelling), "sites") << spelling;
    }
    EXPECT_EQ(GetFileAttributesA("C:"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA("\\"), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(DriveRoot, NewNamesAreCreatedAsSpelled) {
    fs::create_directory(folder_ / "Kestrovane");
    ASSERT_TRUE(CreateThrough("\\KESTROVANE\\NewFile.TXT", "n"));
    EXPECT_TRUE(Exists("Kestrovane/NewFile.TXT"));
    ASSERT_TRUE(CreateDirectoryA("c:\\kestrovane\\Sub.Folder", nullptr));
    EXPECT_TRUE(fs::is_directory(folder_ / "Kestrovane/Sub.Folder"));
    // Trailing dots and blanks are not part of a new name.
    ASSERT_TRUE(CreateThrough("\\kestrovane\\Dotted. . ", "d"));
    EXPECT_TRUE(Exists("Kestrovane/Dotted"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "Kestrovane"), fs::directory_iterator()), 3);
}

TEST_F(DriveRoot, ExactSpellingWinsAndAmbiguityIsResolvedAlike) {
    PutText(Native("Foo"), "mixed");
    PutText(Native("FOO"), "upper");
    PutText(Native("odd."), "dot");  // a name Windows could not make
    EXPECT_EQ(ReadThrough("\\Foo"), "mixed");
    EXPECT_EQ(ReadThrough("\\FOO"), "upper");
    EXPECT_EQ(ReadThrough("\\foo"), "upper");  // the smallest byte spelling
    EXPECT_EQ(ReadThrough("\\odd."), "dot");
}

TEST_F(DriveRoot, NativeAbsolutePathsStayNative) {
    PutText(Native("native.txt"), "native");
    std::string path = Native("native.txt");
    EXPECT_EQ(ReadThrough(path.c_str()), "native");
    // A native folder with Windows names appended, as the program builds them.
    fs::create_directory(folder_ / "Site");
    PutText(Native("Site/index.html"), "page");
    std::string joined = folder_.string() + "\\site\\INDEX.HTML";
    EXPECT_EQ(ReadThrough(joined.c_str()), "page");
}

TEST_F(DriveRoot, DotDotStopsAtTheRoot) {
    ASSERT_TRUE(CreateThrough("\\..\\..\\escape.txt", "kept inside"));
    EXPECT_EQ(GetText(Native("escape.txt")), "kept inside");
    ASSERT_TRUE(CreateThrough("C:..\\..\\escape2.txt", "kept inside"));
    EXPECT_TRUE(Exists("escape2.txt"));
}

TEST_F(DriveRoot, BadNamesAndLengths) {
    for (const char* bad : {"\\a?b", "\\a*b", "\\a<b", "\\a>b", "\\a|b", "\\a\"b", "\\a:b", "\\a\x01" "b"}) {
        EXPECT_FALSE(CreateThrough(bad, "x")) << bad;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME)) << bad;
    }
    std::string component(256, 'n');
    EXPECT_FALSE(CreateThrough(("\\" + component).c_str(), "x"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
    // 259 characters are allowed (here a missing folder), 260 are not.
    std::string longest = "\\" + std::string(100, 'a') + "\\" + std::string(100, 'b') + "\\" +
                          std::string(56, 'c');
    ASSERT_EQ(longest.size(), 259u);
    EXPECT_FALSE(CreateThrough(longest.c_str(), "x"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    longest += "d";
    EXPECT_FALSE(CreateThrough(longest.c_str(), "x"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(GetFileAttributesA(nullptr), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST_F(DriveRoot, CurrentDirectoryInWindowsForm) {
    char buffer[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof buffer, buffer), 0u);
    EXPECT_STREQ(buffer, "C:\\cwd");
    ASSERT_TRUE(CreateDirectoryA("\\Kestrovane", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\KESTROVANE"));
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, "C:\\Kestrovane");
    EXPECT_EQ(fs::current_path(), fs::canonical(folder_ / "Kestrovane"));
    ASSERT_TRUE(SetCurrentDirectoryA("\\"));
    EXPECT_EQ(GetCurrentDirectoryA(sizeof buffer, buffer), 3u);
    EXPECT_STREQ(buffer, "C:\\");
    // Outside the drive root the native path is reported.
    ASSERT_TRUE(SetCurrentDirectoryA("/"));
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, "/");
}

TEST_F(DriveRoot, PrivateFilesAreForTheOwnerOnly) {
    const auto group_other = fs::perms::group_all | fs::perms::others_all;
    HANDLE h = PlatformCreatePrivateFile("\\sites.info", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(fs::status(Native("sites.info")).permissions() & group_other, fs::perms::none);
    EXPECT_NE(fs::status(Native("sites.info")).permissions() & fs::perms::owner_write, fs::perms::none);

    // An older file that others could read is narrowed when opened.
    PutText(Native("old.info"), "secret");
    fs::permissions(Native("old.info"), fs::perms::owner_read | fs::perms::owner_write |
                                            fs::perms::group_read | fs::perms::others_read);
    h = PlatformCreatePrivateFile("\\OLD.INFO", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(fs::status(Native("old.info")).permissions() & group_other, fs::perms::none);
    EXPECT_EQ(GetText(Native("old.info")), "secret");
}

TEST_F(DriveRoot, SettingTheRootChecksTheFolder) {
    EXPECT_FALSE(PlatformSetDriveRoot(Native("absent").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    PutText(Native("plain"), "x");
    EXPECT_FALSE(PlatformSetDriveRoot(Native("plain").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
    // The earlier root is still in force.
    EXPECT_EQ(GetFileAttributesA("\\plain"), FILE_ATTRIBUTE_ARCHIVE);
}

// Run by ctest with KV_TEST_DEFAULT_DRIVE set, once with KESTROVANE_DRIVE and
// once with only HOME: without PlatformSetDriveRoot the root comes from them.
TEST(DefaultDriveRoot, ComesFromTheEnvironment) {
    if (!std::getenv("KV_TEST_DEFAULT_DRIVE")) GTEST_SKIP() << "run through ctest";
    const char* drive = std::getenv("KESTROVANE_DRIVE");
    const char* home = std::getenv("HOME");
    fs::path root = (drive && *drive) ? drive : home;
    ASSERT_FALSE(root.empty());
    PlatformSetDriveRoot(nullptr);
    std::string name = "kv-drive-probe-" + std::to_string(GetTickCount()) + ".txt";
    ASSERT_TRUE(CreateThrough(("\\" + name).c_str(), "probe"));
    EXPECT_EQ(GetText((root / name).string()), "probe");
    EXPECT_TRUE(DeleteFileA(("C:\\" + name).c_str()));
    EXPECT_FALSE(fs::exists(root / name));
}

}  // namespace
