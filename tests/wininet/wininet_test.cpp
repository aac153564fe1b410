// WinINet FTP as the program uses it, against a real server: our layer on
// Linux, Windows' own WinINet (Wine's) in the MinGW build. The server is the
// fixture named by $KV_FTP_FIXTURE ("ftp": pyftpdlib, MLSD; "vsftpd": LIST
// only; "proftpd": MLSD, on Linux); all start with the folders of
// tests/servers/ftp_server.py's populate_home.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "support/temp_folder.h"
#include "wininet/ftp_session.h"

namespace {

const char* Fixture() {
    const char* name = std::getenv("KV_FTP_FIXTURE");
    return name && *name ? name : "ftp";
}

std::string Pwd(HINTERNET connection) {
    char buffer[200] = {};
    DWORD length = 100;
    if (!FtpGetCurrentDirectoryA(connection, buffer, &length)) return "<failed>";
    return buffer;
}

// A session logged in to the fixture's server, working in a fresh folder of
// its own (named after the test) below the login folder.
class Ftp : public ::testing::Test {
protected:
    void SetUp() override {
        internet_.reset(OpenInternet());
        ASSERT_TRUE(internet_) << GetLastError();
        connection_.reset(ConnectFtp(internet_.get(), Fixture()));
        ASSERT_TRUE(connection_) << "login to " << Fixture() << ": " << GetLastError();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::string("w-") + info->name();
        ASSERT_TRUE(FtpCreateDirectoryA(c(), folder_.c_str())) << GetLastError();
        ASSERT_TRUE(FtpSetCurrentDirectoryA(c(), folder_.c_str())) << GetLastError();
    }

    HINTERNET c() const { return connection_.get(); }

    void Put(const std::string& local, const std::string& bytes, const char* remote) {
        WriteWholeFile(local_.native(local), bytes);
        ASSERT_TRUE(FtpPutFileA(c(), local.c_str(), remote, FTP_TRANSFER_TYPE_BINARY, 0))
            << GetLastError();
    }

    BOOL Get(const char* remote, const std::string& local, BOOL failIfExists = FALSE) {
        return FtpGetFileA(c(), remote, local.c_str(), failIfExists, FILE_ATTRIBUTE_NORMAL,
                           INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                               INTERNET_FLAG_RESYNCHRONIZE,
                           0);
    }

    TempFolder local_;
    InternetHandle internet_;
    InternetHandle connection_;
    std::string folder_;
};

// Some bytes a text-mode transfer would change.
std::string BinaryBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 131 + i / 7) % 256);
    if (size > 4) bytes.replace(0, 4, "\r\n\n\r");
    return bytes;
}

TEST(FtpLogin, RefusedPasswordAndUnreachableServers) {
    InternetHandle internet(OpenInternet());
    ASSERT_TRUE(internet);
    EXPECT_EQ(ConnectFtp(internet.get(), Fixture(), "not-the-password"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_LOGIN_FAILURE));

    // Nobody listens on port 1 of this machine.
    EXPECT_EQ(InternetConnectA(internet.get(), "127.0.0.1", 1, "u", "p", INTERNET_SERVICE_FTP,
                               INTERNET_FLAG_PASSIVE, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_CANNOT_CONNECT));

    EXPECT_EQ(InternetConnectA(internet.get(), "no-such-host.invalid", 21, "u", "p",
                               INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_NAME_NOT_RESOLVED));

    // A good login after the failures; the login folder is the root.
    InternetHandle connection(ConnectFtp(internet.get(), Fixture()));
    ASSERT_TRUE(connection) << GetLastError();
    EXPECT_EQ(Pwd(connection.get()), "/");
}

TEST(FtpHandles, ClosedAndForeignHandles) {
    EXPECT_FALSE(InternetCloseHandle(nullptr));
    InternetHandle internet(OpenInternet());
    ASSERT_TRUE(internet);
    HINTERNET connection = ConnectFtp(internet.get(), Fixture());
    ASSERT_NE(connection, nullptr);
    WIN32_FIND_DATAA data;
    HINTERNET find = FtpFindFirstFileA(connection, "listing/*", &data, 0, 0);
    ASSERT_NE(find, nullptr) << GetLastError();
    // Closing the connection closes its listing too. (Calls on a closed
    // handle fail; Wine says ERROR_INTERNET_INCORRECT_HANDLE_TYPE where our
    // layer says ERROR_INVALID_HANDLE, so only closing is checked exactly.)
    EXPECT_TRUE(InternetCloseHandle(connection));
    EXPECT_FALSE(InternetFindNextFileA(find, &data));
    EXPECT_FALSE(InternetCloseHandle(find));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(InternetCloseHandle(connection));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FtpSetCurrentDirectoryA(connection, "listing"));
}

// Whether an entry is a file for the program: no folder bit, nothing but
// the read-only and normal bits (Windows and our layer give NORMAL for a
// plain file, Wine gives 0).
bool IsPlainFile(const WIN32_FIND_DATAA& e) {
    return (e.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_READONLY)) == 0;
}

TEST_F(Ftp, FoldersAreMadeEnteredAndRemoved) {
    EXPECT_EQ(Pwd(c()), "/" + folder_);
    ASSERT_TRUE(FtpCreateDirectoryA(c(), "sub"));
    EXPECT_FALSE(FtpCreateDirectoryA(c(), "sub"));  // exists
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    // The program's way: the current folder, "/", the folder's name.
    ASSERT_TRUE(FtpSetCurrentDirectoryA(c(), (Pwd(c()) + "/sub").c_str()));
    EXPECT_EQ(Pwd(c()), "/" + folder_ + "/sub");
    EXPECT_FALSE(FtpSetCurrentDirectoryA(c(), "missing"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    EXPECT_EQ(Pwd(c()), "/" + folder_ + "/sub");
    ASSERT_TRUE(FtpSetCurrentDirectoryA(c(), ".."));

    Put("f.txt", "x", "sub/f.txt");
    EXPECT_FALSE(FtpRemoveDirectoryA(c(), "sub"));  // not empty
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    EXPECT_TRUE(FtpDeleteFileA(c(), "sub/f.txt"));
    EXPECT_FALSE(FtpDeleteFileA(c(), "sub/f.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    EXPECT_TRUE(FtpRemoveDirectoryA(c(), "sub"));
    EXPECT_FALSE(FtpRemoveDirectoryA(c(), "sub"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));

    // The reply that refused is there to read.
    DWORD code = 0, length = 0;
    char text[512] = {};
    length = sizeof text;
    EXPECT_TRUE(InternetGetLastResponseInfoA(&code, text, &length));
    EXPECT_EQ(text[0], '5') << text;
}

TEST_F(Ftp, ListingGivesFoldersFilesAndHiddenFilesAsWindowsDoes) {
    ASSERT_TRUE(FtpSetCurrentDirectoryA(c(), "/listing"));
    DWORD end = 0;
    std::vector<WIN32_FIND_DATAA> entries = ListAll(c(), "*.*", &end);
    EXPECT_EQ(end, DWORD(ERROR_NO_MORE_FILES));
    std::vector<std::string> names = Names(entries);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{".htaccess", "about.htm", "images", "index.html",
                                     "readonly.txt", "recent.txt"}));
    EXPECT_EQ(names.size(), 6u);  // no "." and ".."

    const WIN32_FIND_DATAA* images = FindEntry(entries, "images");
    const WIN32_FIND_DATAA* index = FindEntry(entries, "index.html");
    const WIN32_FIND_DATAA* readOnly = FindEntry(entries, "readonly.txt");
    const WIN32_FIND_DATAA* hidden = FindEntry(entries, ".htaccess");
    const WIN32_FIND_DATAA* recent = FindEntry(entries, "recent.txt");
    ASSERT_TRUE(images && index && readOnly && hidden && recent);
    EXPECT_EQ(images->dwFileAttributes, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(IsPlainFile(*index)) << index->dwFileAttributes;
    EXPECT_TRUE(IsPlainFile(*hidden)) << hidden->dwFileAttributes;
    EXPECT_TRUE(IsPlainFile(*readOnly)) << readOnly->dwFileAttributes;
    EXPECT_EQ(images->nFileSizeLow, 0u);
    EXPECT_EQ(index->nFileSizeLow, 1234u);
    EXPECT_EQ(index->nFileSizeHigh, 0u);
    EXPECT_EQ(hidden->nFileSizeLow, 5u);
    EXPECT_EQ(readOnly->nFileSizeLow, 10u);

    // An old file's date (LIST shows no time for it: noon; MLSD shows it
    // all) and a recent one's minute, in UTC as these servers list.
    SYSTEMTIME st = Calendar(index->ftLastWriteTime);
    EXPECT_EQ(st.wYear, 2021);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 4);
    EXPECT_TRUE((st.wHour == 12 && st.wMinute == 0 && st.wSecond == 0) ||
                (st.wHour == 5 && st.wMinute == 6 && st.wSecond == 7))
        << st.wHour << ":" << st.wMinute << ":" << st.wSecond;
    // Windows gives every time of an FTP entry the listed one.
    EXPECT_EQ(Ticks(index->ftCreationTime), Ticks(index->ftLastWriteTime));
    EXPECT_EQ(Ticks(index->ftLastAccessTime), Ticks(index->ftLastWriteTime));
    const int64_t recentTime = std::atoll(ServerInfo(Fixture(), "recent").c_str());
    EXPECT_EQ(Ticks(recent->ftLastWriteTime), TicksOfUnixTime(recentTime));
    SYSTEMTIME folderTime = Calendar(images->ftLastWriteTime);
    EXPECT_EQ(folderTime.wYear, 2019);
    EXPECT_EQ(folderTime.wMonth, 6);
    EXPECT_EQ(folderTime.wDay, 7);
}

TEST_F(Ftp, MasksMatchAsWindowsMatches) {
    ASSERT_TRUE(FtpSetCurrentDirectoryA(c(), "/listing"));
    std::vector<std::string> htm = Names(ListAll(c(), "*.htm*"));
    EXPECT_EQ(std::set<std::string>(htm.begin(), htm.end()),
              (std::set<std::string>{"about.htm", "index.html"}));
    EXPECT_EQ(Names(ListAll(c(), "INDEX.HTML")), std::vector<std::string>{"index.html"});
    EXPECT_EQ(Names(ListAll(c(), "re?ent.txt")), std::vector<std::string>{"recent.txt"});
    EXPECT_EQ(ListAll(c(), nullptr).size(), 6u);  // no pattern: everything

    // Nothing matches: the first call fails (with ERROR_NO_MORE_FILES on
    // Windows and here; Wine leaves the last error 0, see
    // wininet_linux_tests).
    EXPECT_TRUE(ListAll(c(), "KSVHELP.TXT").empty());
}

TEST_F(Ftp, EmptyFolderAndTheEndOfAListing) {
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FtpFindFirstFileA(c(), "*", &data, INTERNET_FLAG_NO_CACHE_WRITE, 0), nullptr);

    Put("one.txt", "1", "one.txt");
    Put("two.txt", "22", "two.txt");
    HINTERNET find = FtpFindFirstFileA(c(), "*", &data, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    ASSERT_NE(find, nullptr) << GetLastError();
    std::set<std::string> seen{data.cFileName};
    // While the listing is open its entries can be acted on, as the web
    // site check does: a download, an upload, a deletion.
    ASSERT_TRUE(Get(data.cFileName, "copy.txt")) << GetLastError();
    Put("three.txt", "333", "three.txt");
    ASSERT_TRUE(FtpDeleteFileA(c(), "three.txt")) << GetLastError();
    ASSERT_TRUE(InternetFindNextFileA(find, &data)) << GetLastError();
    seen.insert(data.cFileName);
    EXPECT_EQ(seen, (std::set<std::string>{"one.txt", "two.txt"}));
    // The end, as often as asked.
    EXPECT_FALSE(InternetFindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    EXPECT_FALSE(InternetFindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(InternetCloseHandle(find));
    // Closed: the connection lists again.
    EXPECT_EQ(ListAll(c(), "*").size(), 2u);
}

TEST_F(Ftp, PutAndGetMoveBytesUnchangedAndReplaceLocalFiles) {
    const std::string bytes = BinaryBytes(70000);
    Put("up.bin", bytes, "up.bin");
    std::vector<WIN32_FIND_DATAA> entries = ListAll(c(), "up.bin");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].nFileSizeLow, 70000u);
    EXPECT_TRUE(IsPlainFile(entries[0]));
    // The time of a fresh upload is now, give or take the listing's minute.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const int64_t age = int64_t(Ticks(now)) - int64_t(Ticks(entries[0].ftLastWriteTime));
    EXPECT_GT(age, -60LL * 10000000);
    EXPECT_LT(age, 120LL * 10000000);

    ASSERT_TRUE(Get("up.bin", "down.bin")) << GetLastError();
    EXPECT_EQ(ReadWholeFile(local_.native("down.bin")), bytes);

    // An existing local file is replaced, unless the caller says not to.
    WriteWholeFile(local_.native("old.bin"), "older and longer contents than the new ones");
    Put("small.bin", "new", "small.bin");
    ASSERT_TRUE(Get("small.bin", "old.bin")) << GetLastError();
    EXPECT_EQ(ReadWholeFile(local_.native("old.bin")), "new");
    WriteWholeFile(local_.native("keep.bin"), "keep");
    EXPECT_FALSE(Get("small.bin", "keep.bin", TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadWholeFile(local_.native("keep.bin")), "keep");

    // A remote file replaced by an upload.
    Put("up2.bin", "second", "up.bin");
    ASSERT_TRUE(Get("up.bin", "down.bin"));
    EXPECT_EQ(ReadWholeFile(local_.native("down.bin")), "second");
}

TEST_F(Ftp, TransferFailures) {
    EXPECT_FALSE(FtpPutFileA(c(), "no-such-file.txt", "x.txt", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(Get("no-such-remote.txt", "got.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    // Into a remote folder that is not there.
    WriteWholeFile(local_.native("a.txt"), "a");
    EXPECT_FALSE(FtpPutFileA(c(), "a.txt", "missing/a.txt", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    // The connection goes on working after each refusal.
    EXPECT_EQ(Pwd(c()), "/" + folder_);
}

TEST_F(Ftp, FiftyMegabytesUpAndDown) {
    std::string bytes = BinaryBytes(50 * 1024 * 1024);
    const auto start = std::chrono::steady_clock::now();
    Put("big.bin", bytes, "big.bin");
    ASSERT_TRUE(Get("big.bin", "big-back.bin")) << GetLastError();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    EXPECT_LT(seconds, 60);
    EXPECT_TRUE(ReadWholeFile(local_.native("big-back.bin")) == bytes);
    std::vector<WIN32_FIND_DATAA> entries = ListAll(c(), "big.bin");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].nFileSizeLow, 50u * 1024 * 1024);
}

#ifndef _WIN32
// How the program puts a file back where an attacker left a link, and sets
// its mode: the rename replaces the link itself, never the file it points to.
// The served folder is looked at on disk, so this runs on Linux only.
TEST_F(Ftp, RenameOverALinkReplacesTheLinkAndSiteChmodSetsTheMode) {
    namespace fs = std::filesystem;
    const fs::path served = fs::path(ServerInfo(Fixture(), "home")) / folder_;
    Put("page.html", "original", "page.html");
    fs::create_symlink("page.html", served / "link.html");
    Put("scratch.tmp", "replacement", "scratch.tmp");
    ASSERT_TRUE(FtpRenameFileA(c(), "scratch.tmp", "link.html")) << GetLastError();
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(served / "link.html")));
    EXPECT_EQ(ReadWholeFile(served / "link.html"), "replacement");
    EXPECT_EQ(ReadWholeFile(served / "page.html"), "original");
    EXPECT_FALSE(fs::exists(served / "scratch.tmp"));

    HINTERNET command = reinterpret_cast<HINTERNET>(1);
    ASSERT_TRUE(FtpCommandA(c(), FALSE, FTP_TRANSFER_TYPE_ASCII, "SITE CHMOD 604 page.html", 0, &command))
        << GetLastError();
    EXPECT_EQ(command, nullptr);
    EXPECT_EQ(fs::status(served / "page.html").permissions(), fs::perms(0604));
    std::vector<WIN32_FIND_DATAA> entries = ListAll(c(), "page.html");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].dwReserved1, kFindDataModeKnown | 0604);

    // Refusals give the reply; what the client cannot do is refused unsent.
    EXPECT_FALSE(FtpRenameFileA(c(), "no-such-file", "other"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    DWORD error = 0, length = 200;
    char reply[200] = {};
    ASSERT_TRUE(InternetGetLastResponseInfoA(&error, reply, &length));
    EXPECT_EQ(reply[0], '5') << reply;
    EXPECT_FALSE(FtpCommandA(c(), FALSE, 0, "SITE CHMOD 604 no-such-file", 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    for (const char* line : {"NOOP\r\nDELE page.html", "DELE page.html\n"}) {
        EXPECT_FALSE(FtpCommandA(c(), FALSE, 0, line, 0, nullptr));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
    EXPECT_FALSE(FtpRenameFileA(c(), "page.html", "x\r\nDELE page.html"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(FtpCommandA(c(), TRUE, 0, "LIST", 0, &command));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(ReadWholeFile(served / "page.html"), "original");
}
#endif

}  // namespace
