// What only our FTP client decides: the exact entries it makes, and how it
// stands up to a server that misbehaves (tests/servers/scripted_ftp.py,
// one port per scenario). Runs with KV_INTERNET_TIMEOUT_MS=3000.
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "platform/ftp/internet_handles.h"
#include "support/temp_folder.h"
#include "wininet/ftp_session.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A login to one scenario of the scripted server.
class Scripted : public ::testing::Test {
protected:
    void SetUp() override {
        internet_.reset(OpenInternet());
        ASSERT_TRUE(internet_);
    }

    HINTERNET Connect(const char* scenario) {
        return InternetConnectA(internet_.get(), "127.0.0.1",
                                INTERNET_PORT(ServerPort("scripted_ftp", scenario)), "scripted",
                                "faulty", INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    }

    // Every command line the scenario's server received so far.
    static std::string Transcript(const char* scenario) {
        return ReadWholeFile(ServerInfo("scripted_ftp", "log") + "/" + scenario + ".log");
    }

    InternetHandle internet_;
};

std::string Pwd(HINTERNET connection) {
    char buffer[200] = {};
    DWORD length = 100;
    if (!FtpGetCurrentDirectoryA(connection, buffer, &length)) return "<failed>";
    return buffer;
}

// Lower transfer bounds for one test, put back at its end.
class SmallTransferLimits {
public:
    SmallTransferLimits() : saved_(ftpTransferLimits) {
        ftpTransferLimits.listingBytes = 1 << 20;
        ftpTransferLimits.unknownSizeBytes = 1 << 20;
    }
    ~SmallTransferLimits() { ftpTransferLimits = saved_; }

private:
    const FtpTransferLimits saved_;
};

std::set<std::string> NameSet(const std::vector<WIN32_FIND_DATAA>& entries) {
    std::vector<std::string> names = Names(entries);
    return std::set<std::string>(names.begin(), names.end());
}

TEST_F(Scripted, UnixListingThroughListWhenMlsdIsNotOffered) {
    InternetHandle c(Connect("unix_list"));
    ASSERT_TRUE(c) << GetLastError();
    EXPECT_EQ(Pwd(c.get()), "/a \"quoted\" folder");  // doubled quotes undone
    std::vector<WIN32_FIND_DATAA> entries = ListAll(c.get(), "*");
    EXPECT_EQ(NameSet(entries),
              (std::set<std::string>{"www", "locked", "index.html", "readonly.txt", "nogroup.htm",
                                     "huge.bin", "link.htm", "name with  spaces.txt",
                                     "feb30.txt", "y10000.txt"}));
    EXPECT_EQ(Ticks(FindEntry(entries, "feb30.txt")->ftLastWriteTime), 0u);  // no such day
    EXPECT_EQ(FindEntry(entries, "www")->dwFileAttributes, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(FindEntry(entries, "locked")->dwFileAttributes,
              DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(FindEntry(entries, "readonly.txt")->dwFileAttributes, DWORD(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(FindEntry(entries, "index.html")->dwFileAttributes, DWORD(FILE_ATTRIBUTE_NORMAL));
    const WIN32_FIND_DATAA* huge = FindEntry(entries, "huge.bin");
    EXPECT_EQ(huge->nFileSizeHigh, 1u);
    EXPECT_EQ(huge->nFileSizeLow, 705032704u);
    const std::string transcript = Transcript("unix_list");
    EXPECT_NE(transcript.find("LIST"), std::string::npos);
    EXPECT_EQ(transcript.find("MLSD"), std::string::npos);
}

TEST_F(Scripted, DosListing) {
    InternetHandle c(Connect("dos_list"));
    ASSERT_TRUE(c) << GetLastError();
    std::vector<WIN32_FIND_DATAA> entries = ListAll(c.get(), "*.*");
    EXPECT_EQ(NameSet(entries),
              (std::set<std::string>{"www", "index.html", "old.htm", "clock24.txt"}));
    EXPECT_EQ(FindEntry(entries, "www")->dwFileAttributes, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    const WIN32_FIND_DATAA* index = FindEntry(entries, "index.html");
    EXPECT_EQ(index->dwFileAttributes, DWORD(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(index->nFileSizeLow, 1234u);
    SYSTEMTIME st = Calendar(index->ftLastWriteTime);
    EXPECT_EQ(st.wYear, 2021);
    EXPECT_EQ(st.wHour, 5);
    EXPECT_EQ(st.wMinute, 6);
}

// Names unsafe as local names are listed as they are, so that the program
// sees them; only names no entry can hold are dropped, and a name never
// carries a command to the server.
TEST_F(Scripted, HostileNamesAreListedAsTheyAre) {
    for (const char* scenario : {"hostile_mlsd", "hostile_list"}) {
        InternetHandle c(Connect(scenario));
        ASSERT_TRUE(c) << scenario << ": " << GetLastError();
        DWORD end = 0;
        std::vector<WIN32_FIND_DATAA> entries = ListAll(c.get(), "*", &end);
        EXPECT_EQ(end, DWORD(ERROR_NO_MORE_FILES));
        // "x" CR LF "DELE y" splits into the line of "x" and a line that is
        // no entry.
        std::set<std::string> expected{"x", "c:d", "a\\b", "shell:.php", "index.html.",
                                       "index.html ", "INDEX.HTML", "safe.txt"};
        if (std::string(scenario) == "hostile_mlsd") expected.insert("thirteen.txt");
        EXPECT_EQ(NameSet(entries), expected) << scenario;
        c.reset();
        EXPECT_EQ(Transcript(scenario).find("DELE"), std::string::npos) << scenario;
    }
}

TEST_F(Scripted, NamesWithLineEndsAreNeverSent) {
    InternetHandle c(Connect("plain"));
    ASSERT_TRUE(c) << GetLastError();
    EXPECT_FALSE(FtpDeleteFileA(c.get(), "a\r\nRMD www"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(FtpSetCurrentDirectoryA(c.get(), "www\nDELE x"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Pwd(c.get()), "/");  // the connection is still good
    EXPECT_EQ(Transcript("plain").find("RMD"), std::string::npos);
}

TEST_F(Scripted, ListingsThatBreakOffAreNotTakenForTheEnd) {
    {
        InternetHandle c(Connect("drop_control"));
        ASSERT_TRUE(c) << GetLastError();
        WIN32_FIND_DATAA data;
        EXPECT_EQ(FtpFindFirstFileA(c.get(), "*", &data, 0, 0), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_CONNECTION_ABORTED));
        // The connection is gone for good.
        EXPECT_FALSE(FtpSetCurrentDirectoryA(c.get(), "www"));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_CONNECTION_ABORTED));
    }
    {
        InternetHandle c(Connect("drop_data"));
        ASSERT_TRUE(c) << GetLastError();
        WIN32_FIND_DATAA data;
        EXPECT_EQ(FtpFindFirstFileA(c.get(), "*", &data, 0, 0), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_CONNECTION_ABORTED));  // the 426
        EXPECT_EQ(Pwd(c.get()), "/");  // the control connection goes on
    }
}

TEST_F(Scripted, RefusedUploadAndDeletion) {
    TempFolder local;
    WriteWholeFile(local.native("up.txt"), "contents");
    InternetHandle c(Connect("refuse"));
    ASSERT_TRUE(c) << GetLastError();
    EXPECT_FALSE(FtpPutFileA(c.get(), "up.txt", "up.txt", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    DWORD code = 0;
    char text[256] = {};
    DWORD length = sizeof text;
    ASSERT_TRUE(InternetGetLastResponseInfoA(&code, text, &length));
    EXPECT_EQ(std::string(text), "553 Could not create file.");
    EXPECT_EQ(length, 26u);
    EXPECT_EQ(code, DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    EXPECT_FALSE(FtpDeleteFileA(c.get(), "up.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    length = 4;
    EXPECT_FALSE(InternetGetLastResponseInfoA(&code, text, &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, 22u);  // "550 Permission denied."
}

// Sending into a connection the server has closed must not end the program
// (SIGPIPE); the upload fails and the session goes on.
TEST_F(Scripted, UploadIntoAClosedDataConnection) {
    TempFolder local;
    WriteWholeFile(local.native("big.bin"), std::string(8 * 1024 * 1024, 'u'));
    InternetHandle c(Connect("drop_upload"));
    ASSERT_TRUE(c) << GetLastError();
    EXPECT_FALSE(FtpPutFileA(c.get(), "big.bin", "big.bin", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_CONNECTION_ABORTED));
    EXPECT_EQ(Pwd(c.get()), "/");
}

TEST_F(Scripted, SecureConnectionsNeverGoOnInClear) {
    InternetHandle c(InternetConnectA(internet_.get(), "127.0.0.1",
                                      INTERNET_PORT(ServerPort("scripted_ftp", "plain")), "scripted",
                                      "faulty", INTERNET_SERVICE_FTP,
                                      INTERNET_FLAG_PASSIVE | INTERNET_FLAG_SECURE, 0));
    EXPECT_FALSE(c);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_SECURITY_CHANNEL_ERROR));
    DWORD error = 0;
    char text[200];
    DWORD length = sizeof text;
    ASSERT_TRUE(InternetGetLastResponseInfoA(&error, text, &length));
    EXPECT_EQ(std::string(text, length), "the server refused AUTH TLS (reply 530)");
    const std::string transcript = Transcript("plain");
    EXPECT_TRUE(transcript.ends_with("AUTH TLS\n")) << transcript;
}

TEST_F(Scripted, PassiveReplyNamingAnotherHostIsNotFollowed) {
    InternetHandle c(Connect("pasv_other"));
    ASSERT_TRUE(c) << GetLastError();
    const auto start = Clock::now();
    DWORD end = 0;
    ListAll(c.get(), "*", &end);
    // Connecting to 10.255.255.1 would have waited out the 3 s limit.
    EXPECT_EQ(end, DWORD(ERROR_NO_MORE_FILES));
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_NE(Transcript("pasv_other").find("PASV"), std::string::npos);
}

TEST_F(Scripted, SilentServersAreGivenUpWithinTheLimit) {
    auto start = Clock::now();
    EXPECT_EQ(Connect("silent_banner"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_TIMEOUT));
    EXPECT_GT(SecondsSince(start), 2.5);
    EXPECT_LT(SecondsSince(start), 6.0);

    InternetHandle c(Connect("slow_reply"));
    ASSERT_TRUE(c) << GetLastError();
    start = Clock::now();
    EXPECT_EQ(Pwd(c.get()), "<failed>");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_TIMEOUT));
    EXPECT_LT(SecondsSince(start), 6.0);
    EXPECT_FALSE(FtpSetCurrentDirectoryA(c.get(), "www"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_CONNECTION_ABORTED));
}

// The program abandons a worker that hangs; closing its handle must free
// the worker at once rather than after the time limit.
TEST_F(Scripted, ClosingFreesACallBlockedInAnotherThread) {
    HINTERNET c = Connect("slow_reply");
    ASSERT_NE(c, nullptr) << GetLastError();
    double blocked = 0;
    BOOL result = TRUE;
    std::thread worker([&] {
        auto start = Clock::now();
        char buffer[200];
        DWORD length = 100;
        result = FtpGetCurrentDirectoryA(c, buffer, &length);
        blocked = SecondsSince(start);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(InternetCloseHandle(c));
    worker.join();
    EXPECT_FALSE(result);
    EXPECT_LT(blocked, 1.5);
}

TEST_F(Scripted, OverlongAndMultiLineReplies) {
    {
        // A 20,000-byte greeting is cut, not fatal.
        InternetHandle c(Connect("overlong"));
        ASSERT_TRUE(c) << GetLastError();
        // A reply line that never ends ends the connection, long before the
        // server would stop sending it.
        auto start = Clock::now();
        EXPECT_EQ(Pwd(c.get()), "<failed>");
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
        EXPECT_LT(SecondsSince(start), 2.0);
        EXPECT_FALSE(FtpSetCurrentDirectoryA(c.get(), "www"));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_CONNECTION_ABORTED));
    }
    {
        InternetHandle c(Connect("multiline"));
        ASSERT_TRUE(c) << GetLastError();
        EXPECT_EQ(Pwd(c.get()), "/");
        char text[256] = {};
        DWORD code = 0, length = sizeof text;
        ASSERT_TRUE(InternetGetLastResponseInfoA(&code, text, &length));
        EXPECT_EQ(std::string(text), "257-\"/\" is current\r\n257 and this is the end");
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(ListAll(c.get(), "*").size(), 1u);  // www
    }
}

TEST_F(Scripted, RepliesSplitIntoSingleBytes) {
    TempFolder local;
    const std::string bytes(100000, '\x5a');
    WriteWholeFile(local.native("up.bin"), bytes);
    InternetHandle c(Connect("split"));
    ASSERT_TRUE(c) << GetLastError();
    EXPECT_EQ(Pwd(c.get()), "/");
    ASSERT_TRUE(FtpPutFileA(c.get(), "up.bin", "up.bin", FTP_TRANSFER_TYPE_BINARY, 0))
        << GetLastError();
    ASSERT_TRUE(FtpGetFileA(c.get(), "up.bin", "down.bin", FALSE, FILE_ATTRIBUTE_NORMAL, 0, 0))
        << GetLastError();
    EXPECT_TRUE(ReadWholeFile(local.native("down.bin")) == bytes);
    EXPECT_EQ(NameSet(ListAll(c.get(), "*")), (std::set<std::string>{"www", "up.bin"}));
}

TEST_F(Scripted, OneListingAtATimeAndHandlesOfClosedParents) {
    HINTERNET c = Connect("plain");
    ASSERT_NE(c, nullptr) << GetLastError();
    WIN32_FIND_DATAA data;
    HINTERNET find = FtpFindFirstFileA(c, "*", &data, 0, 0);
    ASSERT_NE(find, nullptr) << GetLastError();
    EXPECT_EQ(FtpFindFirstFileA(c, "*", &data, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FTP_TRANSFER_IN_PROGRESS));
    // Nothing matching: ERROR_NO_MORE_FILES (Wine leaves 0).
    ASSERT_TRUE(InternetCloseHandle(find));
    EXPECT_EQ(FtpFindFirstFileA(c, "KSVHELP.TXT", &data, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));

    find = FtpFindFirstFileA(c, "*", &data, 0, 0);
    ASSERT_NE(find, nullptr);
    // Closing the session closes the connection and its listing.
    ASSERT_TRUE(InternetCloseHandle(internet_.release()));
    EXPECT_FALSE(InternetFindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FtpSetCurrentDirectoryA(c, "www"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    // A handle of another kind.
    InternetHandle other(OpenInternet());
    EXPECT_FALSE(FtpSetCurrentDirectoryA(other.get(), "www"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_INCORRECT_HANDLE_TYPE));

    // The current folder into a buffer too small: the size needed.
    InternetHandle again(OpenInternet());
    InternetHandle d(InternetConnectA(again.get(), "127.0.0.1",
                                      INTERNET_PORT(ServerPort("scripted_ftp", "plain")), "scripted",
                                      "faulty", INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0));
    ASSERT_TRUE(d);
    char small[1];
    DWORD length = 1;
    EXPECT_FALSE(FtpGetCurrentDirectoryA(d.get(), small, &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, 2u);
}

// The target is written in place; a failed download leaves no partial
// file behind, and a file it never wrote to as it was.
TEST_F(Scripted, DownloadsWriteTheTargetOrNothing) {
    namespace fs = std::filesystem;
    TempFolder local;
    WriteWholeFile(local.native("kept.txt"), "old contents");
    InternetHandle c(Connect("plain"));
    ASSERT_TRUE(c);
    EXPECT_FALSE(FtpGetFileA(c.get(), "missing.txt", "kept.txt", FALSE, FILE_ATTRIBUTE_NORMAL, 0, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_EXTENDED_ERROR));
    EXPECT_EQ(ReadWholeFile(local.native("kept.txt")), "old contents");
    EXPECT_FALSE(FtpGetFileA(c.get(), "missing.txt", "new.txt", FALSE, FILE_ATTRIBUTE_NORMAL, 0, 0));
    EXPECT_EQ(std::distance(fs::directory_iterator(local.path()), fs::directory_iterator()), 1);

    // A download over an executable file is data, not a program.
    WriteWholeFile(local.native("up.txt"), "fresh");
    ASSERT_TRUE(FtpPutFileA(c.get(), "up.txt", "up.txt", FTP_TRANSFER_TYPE_BINARY, 0));
    fs::permissions(local.native("kept.txt"), fs::perms::owner_exec | fs::perms::group_exec,
                    fs::perm_options::add);
    ASSERT_TRUE(FtpGetFileA(c.get(), "up.txt", "kept.txt", FALSE, FILE_ATTRIBUTE_NORMAL, 0, 0))
        << GetLastError();
    EXPECT_EQ(ReadWholeFile(local.native("kept.txt")), "fresh");
    const fs::perms mode = fs::status(local.native("kept.txt")).permissions();
    EXPECT_EQ(mode & (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec),
              fs::perms::none);
    EXPECT_NE(mode & fs::perms::owner_write, fs::perms::none);
    EXPECT_NE(Transcript("plain").find("SIZE up.txt"), std::string::npos);
}

// A download is the file only when its bytes agree with SIZE (or with the
// size the caller knows), and no transfer outlasts its bounds. A failure removes the partly written target;
// where the server may still be sending, the connection is dead.
TEST_F(Scripted, DownloadsAgreeWithTheSizeAndEndWithinTheirBounds) {
    namespace fs = std::filesystem;
    SmallTransferLimits limits;
    const struct {
        const char* scenario;
        const char* remote;
        DWORD error;     // ERROR_SUCCESS: the download succeeds
        size_t bytes;    // of a download that succeeds
        bool dead;       // the connection afterwards
        double seconds;  // at least (a paced transfer) or at most
        int64_t known = -1;  // >= 0: PlatformFtpGetFileOfSize with this size
    } cases[] = {
        {"transfers", "exact.bin", ERROR_SUCCESS, 1000, false, 2},
        {"transfers", "exact.bin", ERROR_SUCCESS, 1000, false, 2, 1000},
        {"transfers", "exact.bin", ERROR_INTERNET_CONNECTION_ABORTED, 0, false, 2, 1001},
        {"transfers", "long.bin", ERROR_INTERNET_CONNECTION_ABORTED, 0, true, 2, 1000},
        {"transfers", "short.bin", ERROR_INTERNET_CONNECTION_ABORTED, 0, false, 2},
        {"transfers", "long.bin", ERROR_INTERNET_CONNECTION_ABORTED, 0, true, 2},
        {"endless", "any.bin", ERROR_INTERNET_CONNECTION_ABORTED, 0, true, 3},
        // The average falls below the minimum rate once the 3 s limit is up.
        {"transfers", "trickle.bin", ERROR_INTERNET_TIMEOUT, 0, true, 5},
        // Longer than the time limit, but never slower than the minimum.
        {"transfers", "steady.bin", ERROR_SUCCESS, 9 * 16384, false, -3.5},
    };
    TempFolder local;
    for (const auto& k : cases) {
        const std::string what = std::string(k.scenario) + " " + k.remote + " " + std::to_string(k.known);
        WriteWholeFile(local.native("target.bin"), "old contents");
        InternetHandle c(Connect(k.scenario));
        ASSERT_TRUE(c) << what << ": " << GetLastError();
        const auto start = Clock::now();
        const BOOL ok = k.known < 0 ? FtpGetFileA(c.get(), k.remote, "target.bin", FALSE, FILE_ATTRIBUTE_NORMAL,
                                                  FTP_TRANSFER_TYPE_BINARY, 0)
                                    : PlatformFtpGetFileOfSize(c.get(), k.remote, "target.bin", FALSE,
                                                               FILE_ATTRIBUTE_NORMAL, FTP_TRANSFER_TYPE_BINARY,
                                                               k.known);
        const double seconds = SecondsSince(start);
        const DWORD error = GetLastError();
        if (k.error == ERROR_SUCCESS) {
            EXPECT_TRUE(ok) << what << ": " << error;
            EXPECT_EQ(ReadWholeFile(local.native("target.bin")).size(), k.bytes) << what;
        } else {
            EXPECT_FALSE(ok) << what;
            EXPECT_EQ(error, k.error) << what;
            EXPECT_FALSE(fs::exists(local.native("target.bin"))) << what;
        }
        if (k.seconds > 0) EXPECT_LT(seconds, k.seconds) << what;
        else EXPECT_GT(seconds, -k.seconds) << what;
        EXPECT_EQ(Pwd(c.get()) == "<failed>", k.dead) << what;
    }
}

// A listing the client cannot read fails; folders whose names LIST would
// mangle are listed from inside; a listing without end stops at its bound.
TEST_F(Scripted, ListingsAreReadWholeOrFail) {
    InternetHandle c(Connect("ls_style"));
    ASSERT_TRUE(c) << GetLastError();
    const struct {
        const char* search;
        std::vector<std::string> names;
        DWORD end;
    } cases[] = {
        {"my folder/*", {"inside.txt"}, ERROR_NO_MORE_FILES},
        {"/my folder/*.TXT", {"inside.txt"}, ERROR_NO_MORE_FILES},
        {"empty/*", {}, ERROR_NO_MORE_FILES},  // "total 0" alone
        {"garbage/*", {}, ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {"missing/*", {}, ERROR_INTERNET_EXTENDED_ERROR},
    };
    for (const auto& k : cases) {
        DWORD end = 0;
        EXPECT_EQ(Names(ListAll(c.get(), k.search, &end)), k.names) << k.search;
        EXPECT_EQ(end, k.end) << k.search;
        EXPECT_EQ(Pwd(c.get()), "/") << k.search;  // back where it was
    }
    const std::string transcript = Transcript("ls_style");
    EXPECT_NE(transcript.find("CWD my folder\n"), std::string::npos);
    // Never a name as LIST's argument: only the option for hidden entries.
    for (size_t at = transcript.find("LIST "); at != std::string::npos;
         at = transcript.find("LIST ", at + 1))
        EXPECT_EQ(transcript.compare(at, 8, "LIST -a\n"), 0) << transcript.substr(at, 40);

    SmallTransferLimits limits;
    InternetHandle endless(Connect("endless"));
    ASSERT_TRUE(endless) << GetLastError();
    DWORD end = 0;
    EXPECT_TRUE(ListAll(endless.get(), "*", &end).empty());
    EXPECT_EQ(end, DWORD(ERROR_INTERNET_CONNECTION_ABORTED));
    EXPECT_EQ(Pwd(endless.get()), "<failed>");
}

// A listing whose closing reply says the server cut it short hands out what
// came and ends in ERROR_MORE_DATA, never the clean end of a whole folder.
TEST_F(Scripted, TruncatedListingsEndInMoreData) {
    InternetHandle c(Connect("truncated"));
    ASSERT_TRUE(c) << GetLastError();
    const struct {
        const char* search;
        std::vector<std::string> names;
        DWORD end;
    } cases[] = {
        {"cut/*", {"a.txt", "b.txt"}, ERROR_MORE_DATA},  // "truncated" in the last of two lines
        {"none/*", {}, ERROR_MORE_DATA},                  // no entry: FtpFindFirstFileA fails
        {"*", {"cut", "none", "www"}, ERROR_NO_MORE_FILES},
    };
    for (const auto& k : cases) {
        DWORD end = 0;
        EXPECT_EQ(Names(ListAll(c.get(), k.search, &end)), k.names) << k.search;
        EXPECT_EQ(end, k.end) << k.search;
    }
}

// What listings show beyond Windows' fields (platform/extensions.h): dot
// files that a plain LIST hides, links, permission bits.
TEST(RealServers, HiddenEntriesLinksAndModes) {
    InternetHandle internet(OpenInternet());
    InternetHandle hidden(ConnectFtp(internet.get(), "vsftpd_hidden"));
    ASSERT_TRUE(hidden) << GetLastError();
    std::vector<WIN32_FIND_DATAA> entries = ListAll(hidden.get(), "listing/*");
    EXPECT_EQ(NameSet(entries), (std::set<std::string>{".htaccess", "about.htm", "images", "index.html",
                                                       "readonly.txt", "recent.txt"}));
    ASSERT_NE(FindEntry(entries, "readonly.txt"), nullptr);
    EXPECT_EQ(FindEntry(entries, "readonly.txt")->dwReserved1, kFindDataModeKnown | 0444);

    // ProFTPD's MLSD: a link is typed as one and shares its target's
    // "unique"; two hard links share one without a type.
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(ServerInfo("proftpd", "root")) / "links";
    fs::remove_all(folder);
    fs::create_directory(folder);
    WriteWholeFile(folder / "index.html", "page");
    WriteWholeFile(folder / "twin-a.php", "twin");
    WriteWholeFile(folder / "readonly.txt", "ro");
    fs::create_symlink("index.html", folder / "link.html");
    fs::create_hard_link(folder / "twin-a.php", folder / "twin-b.php");
    fs::permissions(folder / "readonly.txt", fs::perms(0444));
    InternetHandle pro(ConnectFtp(internet.get(), "proftpd"));
    ASSERT_TRUE(pro) << GetLastError();
    entries = ListAll(pro.get(), "links/*");
    const struct {
        const char* name;
        DWORD attributes;
        DWORD reparseTag;
        DWORD mode;
    } cases[] = {
        {"index.html", FILE_ATTRIBUTE_NORMAL, 0, 0644},
        {"link.html", FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK, 0777},
        {"twin-a.php", FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK, 0644},
        {"twin-b.php", FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK, 0644},
        {"readonly.txt", FILE_ATTRIBUTE_READONLY, 0, 0444},
    };
    ASSERT_EQ(entries.size(), std::size(cases));
    for (const auto& k : cases) {
        const WIN32_FIND_DATAA* e = FindEntry(entries, k.name);
        ASSERT_NE(e, nullptr) << k.name;
        EXPECT_EQ(e->dwFileAttributes, k.attributes) << k.name;
        EXPECT_EQ(e->dwReserved0, k.reparseTag) << k.name;
        EXPECT_EQ(e->dwReserved1, kFindDataModeKnown | k.mode) << k.name;
    }
}

// The exact entries of real servers' listings (Wine fills these otherwise).
TEST(RealServers, AttributesSizesAndTimes) {
    for (const char* fixture : {"ftp", "vsftpd"}) {
        InternetHandle internet(OpenInternet());
        InternetHandle c(ConnectFtp(internet.get(), fixture));
        ASSERT_TRUE(c) << fixture << ": " << GetLastError();
        std::vector<WIN32_FIND_DATAA> entries = ListAll(c.get(), "listing/*");
        ASSERT_EQ(entries.size(), 6u) << fixture;
        EXPECT_EQ(FindEntry(entries, "readonly.txt")->dwFileAttributes,
                  DWORD(FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ(FindEntry(entries, "index.html")->dwFileAttributes, DWORD(FILE_ATTRIBUTE_NORMAL));
        EXPECT_EQ(FindEntry(entries, ".htaccess")->dwFileAttributes, DWORD(FILE_ATTRIBUTE_NORMAL));
        SYSTEMTIME st = Calendar(FindEntry(entries, "index.html")->ftLastWriteTime);
        if (std::string(fixture) == "ftp") {  // MLSD: to the second
            EXPECT_EQ(st.wHour, 5);
            EXPECT_EQ(st.wMinute, 6);
            EXPECT_EQ(st.wSecond, 7);
        } else {  // LIST: the date alone
            EXPECT_EQ(st.wHour, 12);
            EXPECT_EQ(st.wMinute, 0);
        }
        std::vector<WIN32_FIND_DATAA> large = ListAll(c.get(), "large/*");
        ASSERT_EQ(large.size(), 1u) << fixture;
        EXPECT_EQ(large[0].nFileSizeHigh, 1u);
        EXPECT_EQ(large[0].nFileSizeLow, 705032704u);
        // Nothing matching.
        WIN32_FIND_DATAA data;
        EXPECT_EQ(FtpFindFirstFileA(c.get(), "listing/KSVHELP.TXT", &data, 0, 0), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
        // A folder whose name holds a blank.
        TempFolder local;
        WriteWholeFile(local.native("in.txt"), "in");
        FtpCreateDirectoryA(c.get(), "-l blank folder");  // there from an earlier run, perhaps
        ASSERT_TRUE(FtpPutFileA(c.get(), "in.txt", "-l blank folder/in.txt", FTP_TRANSFER_TYPE_BINARY, 0))
            << fixture << ": " << GetLastError();
        EXPECT_EQ(Names(ListAll(c.get(), "-l blank folder/*")), std::vector<std::string>{"in.txt"})
            << fixture;
    }
}

}  // namespace
