// The fixture of the engine's stories against a real FTP server: the server
// named by $KV_FTP_FIXTURE ("ftp": pyftpdlib, MLSD; "vsftpd": LIST only;
// "proftpd": MLSD with modes and links),
// over FTP with TLS when $KV_FTP_SCHEME names it ("ftpes", "ftps": the
// site's host text then carries the scheme, and the trust file holds the
// server's test authority).
// Every story starts with a fresh remote folder, clean copy and data folder,
// and checks what the server, the store and the event log hold afterwards.
#pragma once

#include "alerts_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "alerts/show_events.h"
#include "alerts/smtp_client.h"
#include "sites/data_files.h"
#include "sites/site_list.h"
#include "net/connection.h"
#include "store_keys.h"
#include "wininet/ftp_session.h"

namespace engine_test {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Files = std::vector<std::pair<std::string, std::string>>;

// The engine's wait between connection attempts, told apart from the
// connection layer's own waits by its length.
inline constexpr int kReconnectPause = 4321;
inline constexpr const char* kClean = "clean";
inline constexpr const char* kQuarantine = "\\kestrovane\\quarantine\\";

inline const char* Fixture()
{
    const char* name = std::getenv("KV_FTP_FIXTURE");
    return name && *name ? name : "ftp";
}

// vsftpd in any of its fixtures: a server whose user is not root, so the
// disk's permissions bind it.
inline bool IsVsftpd()
{
    return std::string(Fixture()).rfind("vsftpd", 0) == 0;
}

// The scheme of the site's host text, or "" for plain FTP.
inline std::string Scheme()
{
    const char* scheme = std::getenv("KV_FTP_SCHEME");
    return scheme ? scheme : "";
}

inline void WriteProgramFile(const char* path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
}

class Monitor : public alerts_test::AlertsTest {
protected:
    void SetUp() override
    {
        AlertsTest::SetUp();
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
        ASSERT_EQ(KfStart(0, 0), 1);
        // The clock probe's file; on Windows "\kestrovane" lies in the real drive root.
        HANDLE probe = CreateFileA("\\kestrovane\\KSVHELP.TXT", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(probe, "clock probe\r\n", 13, &written, nullptr);
        CloseHandle(probe);
        fs::create_directory(folder.path() / kClean);
        // On Windows the quarantine folder outlives the test.
        DeleteFileA((std::string(kQuarantine) + "index.html").c_str());

        reconnectWaits = 0;
        onReconnectWait = nullptr;
        tessil::screenHost.pause = [](int milliseconds) {
            if (milliseconds != kReconnectPause)
                return;
            ++reconnectWaits;
            if (onReconnectWait)
                onReconnectWait();
        };
        connectionPauseMilliseconds = 1;
        reconnectPauseMilliseconds = kReconnectPause;
        storeRetryMilliseconds = 1;
        std::snprintf(probeUrl, sizeof probeUrl, "http://127.0.0.1:%d/empty", ServerPort("http"));
        lostConnection = 0;

        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        remote = std::string("e-") + info->name() + "-" + std::to_string(GetTickCount() % 100000);
        UseServer(Fixture(), INTERNET_PORT(ServerPort(Fixture())));
        CopyField(currentSite.remoteFolder, remote.c_str());
        CopyField(currentSite.secureFolder, kClean);
        currentSite.syncWeb = 1;
        currentRecordNumber = 0;
        SiteFileNames(currentSite);
        savedSiteList = siteListPath;

        internet.reset(OpenInternet());
        ASSERT_TRUE(internet);
    }
    void TearDown() override
    {
        ConnectSite(3);
        CloseFileRecords();
        KfStop();
        session.reset();
        internet.reset();
        onReconnectWait = nullptr;
        ftpPort = INTERNET_DEFAULT_FTP_PORT;
        connectionPauseMilliseconds = 10000;
        reconnectPauseMilliseconds = 5000;
        reconnectRounds = 12;
        if (secureServer) {
            PlatformSetFtpTrustFile(nullptr);
            DeleteFileA(kTrustFile);
        }
        baselineAttempts = 5;
        storeRetryMilliseconds = 1000;
        mailWaitMilliseconds = 30000;
        lostConnection = 0;
        std::snprintf(siteListPath, sizeof siteListPath, "%s", savedSiteList.c_str());
        WSACleanup();
        AlertsTest::TearDown();
    }

    void UseServer(const char* fixture, INTERNET_PORT port)
    {
        ftpPort = serverPort = port;
        secureServer = fixture == std::string(Fixture()) && !Scheme().empty();
        const std::string host = secureServer ? Scheme() + "://127.0.0.1:" + std::to_string(port) : "127.0.0.1";
        CopyField(currentSite.ftpHost, host.c_str());
        if (secureServer) {
            WriteProgramFile(kTrustFile, ReadWholeFile(fs::path(ServerInfo(fixture, "certs")) / "ca.pem"));
            PlatformSetFtpTrustFile(kTrustFile);
        }
        CopyField(currentSite.userName, ServerInfo(fixture, "user").c_str());
        CopyField(currentSite.password, ServerInfo(fixture, "password").c_str());
    }

    // The test's own connection to the server, apart from the engine's.
    HINTERNET Session()
    {
        const DWORD security = !secureServer      ? 0
                               : Scheme() == "ftps" ? INTERNET_FLAG_SECURE | PLATFORM_FLAG_IMPLICIT_TLS
                                                    : INTERNET_FLAG_SECURE;
        if (!session)
            session.reset(InternetConnectA(internet.get(), "127.0.0.1", serverPort, currentSite.userName,
                                           currentSite.password, INTERNET_SERVICE_FTP,
                                           INTERNET_FLAG_PASSIVE | security, 0));
        EXPECT_TRUE(session) << GetLastError();
        return session.get();
    }
    std::string RemotePath(const std::string& name) const { return remote + "/" + name; }
    // Where the server keeps the web entry `name` on its disk: an attacker
    // with a shell there changes what FTP cannot (links, modes, times).
    fs::path WebDisk(const std::string& name) const
    {
        return fs::path(ServerInfo(Fixture(), "home")) / remote / name;
    }

    // Puts bytes on the web under `name` (the remote folder is made first).
    void PutWeb(const std::string& name, const std::string& bytes)
    {
        FtpCreateDirectoryA(Session(), remote.c_str());
        WriteWholeFile(folder.path() / "put.tmp", bytes);
        ASSERT_TRUE(FtpPutFileA(Session(), "put.tmp", RemotePath(name).c_str(), FTP_TRANSFER_TYPE_BINARY, 0))
            << name << ": " << GetLastError();
    }
    // The bytes the web holds for `name`; "<missing>" when it cannot be read.
    std::string WebBytes(const std::string& name)
    {
        DeleteFileA("get.tmp");
        if (!FtpGetFileA(Session(), RemotePath(name).c_str(), "get.tmp", FALSE, FILE_ATTRIBUTE_NORMAL,
                         FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, 0))
            return "<missing>";
        return ReadWholeFile(folder.path() / "get.tmp");
    }
    // Each web entry with its listed time and size.
    std::map<std::string, std::string> WebListing()
    {
        std::map<std::string, std::string> listing;
        for (const auto& e : ListAll(Session(), (remote + "/*").c_str()))
            listing[e.cFileName] = std::to_string(Ticks(e.ftLastWriteTime)) + "/" + std::to_string(e.nFileSizeLow);
        return listing;
    }

    // A file of the clean copy, last written a month ago unless `recent`.
    void PutClean(const std::string& name, const std::string& bytes, bool recent = false)
    {
        fs::path file = folder.path() / kClean / name;
        WriteWholeFile(file, bytes);
        if (!recent)
            fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(24 * 30));
    }
    // The same files on the web and in the clean copy, and a sub-folder
    // "images" on the web (a folder's time cannot be set back under Wine);
    // then the baseline and a first web check, after which the store holds
    // the live values.
    void MakeSite(const Files& files)
    {
        for (const auto& [name, bytes] : files) {
            PutWeb(name, bytes);
            PutClean(name, bytes);
        }
        ASSERT_TRUE(FtpCreateDirectoryA(Session(), RemotePath("images").c_str()));
        Baseline();
        ASSERT_EQ(StoredRecords().size(), files.size() + 1);
        ASSERT_EQ(WebCheck(), 0);
        ASSERT_EQ(Events(), Strings{});
    }

    void Baseline(int16_t mode = 0)
    {
        const SiteRecord& s = currentSite;
        CreateBaseline(s.ftpHost, s.userName, s.password, s.remoteFolder, s.fileMask, "", mode);
        ConnectSite(3);
    }
    int WebCheck()
    {
        const SiteRecord& s = currentSite;
        return CheckWebSite(s.secureFolder, s.ftpHost, s.userName, s.password, s.remoteFolder, s.fileMask, 0);
    }
    int SecureCheck()
    {
        const SiteRecord& s = currentSite;
        return CheckSecureServer(s.secureFolder, s.ftpHost, s.userName, s.password, s.remoteFolder, s.fileMask, 0);
    }

    // The site's events, oldest first, as "type changed detail name".
    Strings Events() const
    {
        std::string log = ReadWholeFile(folder.path() / siteEventLogFile);
        Strings events;
        for (size_t at = 0; at + kEventRecordSize <= log.size(); at += kEventRecordSize) {
            EventRecord record;
            std::memcpy(&record, log.data() + at, kEventRecordSize);
            char name[MAX_PATH];
            record.fileName(name, sizeof name);
            events.push_back(std::to_string(record.type) + " " + std::to_string(record.changed) + " " +
                             std::to_string(record.detail) + " " + name);
        }
        return events;
    }
    // The events logged after the first `skip`, in name order (a listing's
    // order is the server's).
    Strings NewEvents(size_t skip) const
    {
        Strings events = Events();
        events.erase(events.begin(), events.begin() + long(std::min(skip, events.size())));
        std::sort(events.begin(), events.end());
        return events;
    }
    bool Marked(const std::string& name, const char* mark) const
    {
        std::string record = StoredRecord(name);
        return !record.empty() && RecordHasMark(record.c_str(), mark);
    }
    // A record without an accepting mark: what a listing showed, so that
    // any later change is reported.
    bool PlainRecord(const std::string& name) const
    {
        std::string record = StoredRecord(name);
        return !record.empty() && !RecordHasMark(record.c_str(), "-file");
    }

    inline static int reconnectWaits;
    inline static void (*onReconnectWait)();
    inline static INTERNET_PORT serverPort;
    inline static bool secureServer;
    std::string remote, savedSiteList;
    InternetHandle internet, session;
};

inline const Files kSite = {{"index.html", "<html>clean index</html>\n"},
                            {"about.htm", "<p>about us</p>\n"},
                            {".htaccess", "Deny from all\n"}};

// The commands the scripted server's `scenario` received so far, one a line.
inline std::string ScriptedCommands(const char* scenario)
{
    return ReadWholeFile(fs::path(ServerInfo("scripted_ftp", "log")) / (std::string(scenario) + ".log"));
}
// How many of `commands` begin with `verb`.
inline int CountCommands(const std::string& commands, const char* verb)
{
    int n = 0;
    for (size_t at = 0; (at = commands.find(std::string("\n") + verb, at)) != std::string::npos; ++at)
        ++n;
    return n;
}

// The listings asked: each MLSD and "LIST -a", and each plain LIST that is
// not the client asking a "LIST -a" again without the option.
inline int CountListings(const std::string& commands)
{
    int n = 0;
    bool afterListA = false;
    for (size_t at = 0; at < commands.size();) {
        size_t end = commands.find('\n', at);
        if (end == std::string::npos)
            end = commands.size();
        const std::string line = commands.substr(at, end - at);
        at = end + 1;
        if (line == "MLSD" || line.rfind("MLSD ", 0) == 0 || line.rfind("LIST -a", 0) == 0) {
            ++n;
            afterListA = line.rfind("LIST -a", 0) == 0;
        } else if (line == "LIST" || line.rfind("LIST ", 0) == 0) {
            n += afterListA ? 0 : 1;
            afterListA = false;
        } else if (line.rfind("USER", 0) == 0) {
            afterListA = false;
        }
    }
    return n;
}

} // namespace engine_test
