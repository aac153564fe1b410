// The mirror against a real FTP server: what the clean copy holds afterwards,
// byte for byte and with its times, and what the event log says.
#include "engine_fixture.h"

#include "engine/own_acts.h"
#include "engine/remote_listing.h"

namespace engine_test {
namespace {

constexpr ULONGLONG kHour = 36000000000ull;
constexpr ULONGLONG kYear2000 = 125911584000000000ull;

class Mirror : public Monitor {
protected:
    int32_t MirrorPass()
    {
        const SiteRecord& s = currentSite;
        return MirrorWebToServer(s.secureFolder, s.ftpHost, s.userName, s.password, s.remoteFolder, s.fileMask);
    }
    static std::string CleanPath(const std::string& name) { return std::string(kClean) + "\\" + name; }
    // The clean copy's names as the folder spells them, sorted.
    Strings CleanNames() const
    {
        Strings names;
        for (const auto& entry : fs::directory_iterator(folder.path() / kClean))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string CleanBytes(const std::string& name) const { return ReadWholeFile(folder.path() / kClean / name); }
    // The web's entry of `name`, listed once per story (the mirror never
    // changes the web).
    const WIN32_FIND_DATAA& WebEntry(const std::string& name)
    {
        if (web.empty())
            for (const WIN32_FIND_DATAA& entry : ListAll(Session(), (remote + "/*").c_str()))
                web[entry.cFileName] = entry;
        EXPECT_EQ(web.count(name), 1u) << name;
        return web[name];
    }
    // The web time as the mirror compares it (after the server's offset),
    // as a file time.
    ULONGLONG WebTime(const std::string& name)
    {
        WIN32_FIND_DATAA entry = WebEntry(name);
        ServerTimeToLocal(entry);
        FILETIME utc;
        EXPECT_TRUE(LocalFileTimeToFileTime(&entry.ftLastWriteTime, &utc));
        return Ticks(utc);
    }
    static void SetCleanTime(const std::string& name, ULONGLONG ticks)
    {
        const FILETIME time{DWORD(ticks), DWORD(ticks >> 32)};
        HANDLE file = CreateFileA(CleanPath(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << name;
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
        CloseHandle(file);
    }
    // The event of a download of `name`: its attribute word as the changed byte.
    std::string Downloaded(const std::string& name)
    {
        return "10 " + std::to_string(WebEntry(name).dwFileAttributes & 0xFF) + " 0 " + name;
    }

    std::map<std::string, WIN32_FIND_DATAA> web;
};

TEST_F(Mirror, MissingAndNewerWebFilesAreDownloadedOnce)
{
    const Files files = {{"equal.html", "web equal\n"},
                         {"missing.html", "web missing\n"},
                         {"newer.html", "web newer\n"},
                         {"older.html", "web older\n"},
                         {"about.htm", "web about\n"}};
    for (const auto& [name, bytes] : files)
        PutWeb(name, bytes);
    ASSERT_TRUE(FtpCreateDirectoryA(Session(), RemotePath("images").c_str()));
    // A local file of another spelling is never written through.
    PutClean("ABOUT.HTM", "local about\n");

    EXPECT_EQ(MirrorPass(), 0);
    EXPECT_EQ(CleanNames(), (Strings{"ABOUT.HTM", "equal.html", "missing.html", "newer.html", "older.html"}));
    Strings expected;
    for (const auto& [name, bytes] : files)
        if (name != "about.htm") {
            EXPECT_EQ(CleanBytes(name), bytes);
            expected.push_back(Downloaded(name));
        }
    EXPECT_EQ(NewEvents(0), expected);
    EXPECT_EQ(CleanBytes("ABOUT.HTM"), "local about\n");

    // Only a strictly later web time counts; the local times are compared
    // in local time, as the web's are.
    fs::remove(folder.path() / kClean / "missing.html");
    const std::pair<const char*, ULONGLONG> local[] = {
        {"newer.html", WebTime("newer.html") - kHour},
        {"equal.html", WebTime("equal.html")},
        {"older.html", WebTime("older.html") + kHour},
    };
    for (const auto& [name, time] : local) {
        PutClean(name, std::string("local ") + name);
        SetCleanTime(name, time);
    }
    EXPECT_EQ(MirrorPass(), 0);
    EXPECT_EQ(NewEvents(4), (Strings{Downloaded("missing.html"), Downloaded("newer.html")}));
    EXPECT_EQ(CleanBytes("missing.html"), "web missing\n");
    EXPECT_EQ(CleanBytes("newer.html"), "web newer\n");
    EXPECT_EQ(CleanBytes("equal.html"), "local equal.html");
    EXPECT_EQ(CleanBytes("older.html"), "local older.html");

    // What was just downloaded is not newer on the web.
    EXPECT_EQ(MirrorPass(), 0);
    EXPECT_EQ(Events().size(), 6u);
}

TEST_F(Mirror, TheSiteCommandsMinimumSizeKeepsSmallerFilesOut)
{
    PutWeb("large.html", std::string(100, 'L'));
    PutWeb("small.html", std::string(99, 's'));
    PutWeb("small-newer.html", std::string(10, 'n'));
    const struct {
        const char* command;
        Strings downloaded;
    } cases[] = {
        {"NOMAIL MINSIZE_=_100 X", {"large.html"}},
        {"MINSIZE_=_99999999999999999999", {}}, // the largest size, never a wrapped one
        {"MINSIZE_=_", {"large.html", "small-newer.html", "small.html"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        fs::remove_all(folder.path() / kClean);
        fs::create_directory(folder.path() / kClean);
        PutClean("small-newer.html", "old\n"); // a month old
        CopyField(currentSite.optionText, c.command);
        const size_t before = Events().size();
        EXPECT_EQ(MirrorPass(), 0);
        Strings expected;
        for (const std::string& name : c.downloaded)
            expected.push_back(Downloaded(name));
        EXPECT_EQ(NewEvents(before), expected);
    }
}

// ---- Told once, against pyftpdlib --------------------------------------------------

// The clock probe goes by the program's scratch name: a site's own
// KSVHELP.TXT is neither written over nor deleted, nothing is left behind,
// a probe left by a stopped run is never mirrored, and the probe is noted
// as the program's own act in the remote folder.
TEST_F(Mirror, TheClockProbeLeavesTheSiteAsItWas)
{
    PutWeb("KSVHELP.TXT", "the site's own help\n");
    PutWeb(engine::kScratchProbe, "left by a stopped run\n");
    currentSite.offsetMeasured = 1;
    EXPECT_EQ(MirrorPass(), 0);
    EXPECT_EQ(CleanNames(), Strings{"KSVHELP.TXT"});

    currentSite.offsetMeasured = 0;
    engine::TakeOwnAct(currentSite.ftpHost, remote.c_str());
    EXPECT_EQ(MirrorPass(), 0);
    EXPECT_EQ(currentSite.offsetMeasured, 1);
    EXPECT_TRUE(engine::TakeOwnAct(currentSite.ftpHost, remote.c_str()));
    Strings names;
    for (const auto& [name, stamp] : WebListing())
        names.push_back(name);
    EXPECT_EQ(names, Strings{"KSVHELP.TXT"});
    EXPECT_EQ(WebBytes("KSVHELP.TXT"), "the site's own help\n");
    EXPECT_EQ(CleanBytes("KSVHELP.TXT"), "the site's own help\n");
}

using MirrorFaults = Mirror;

TEST_F(MirrorFaults, AnOutageIsLoggedOnceAndTheNextCallDownloads)
{
    PutWeb("index.html", "web index\n");
    ftpPort = INTERNET_PORT(ClosedLoopbackPort());
    onReconnectWait = [] {
        if (reconnectWaits == 3)
            ftpPort = serverPort;
    };
    EXPECT_EQ(MirrorPass(), kPassCallAgain);
    EXPECT_EQ(reconnectWaits, 3);
    EXPECT_EQ(Events(), (Strings{"13 0 0 ", "14 0 0 "}));
    EXPECT_EQ(lostConnection, 0);
    EXPECT_EQ(CleanNames(), Strings{});
    EXPECT_EQ(MirrorPass(), 0);
    EXPECT_EQ(NewEvents(2), Strings{Downloaded("index.html")});
    EXPECT_EQ(CleanBytes("index.html"), "web index\n");
}

TEST_F(MirrorFaults, NothingIsDownloadedWithoutTheSecureServerFolder)
{
    PutWeb("index.html", "web index\n");
    WriteWholeFile(folder.path() / "a-file", "not a folder\n");
    for (const char* secure : {"unplugged", "a-file"}) {
        SCOPED_TRACE(secure);
        CopyField(currentSite.secureFolder, secure);
        EXPECT_EQ(MirrorPass(), 0);
        EXPECT_NE(Line(1).find("STATUS: SECURE SERVER FOLDER MISSING"), std::string::npos) << Line(1);
        EXPECT_EQ(Events(), Strings{});
    }
    EXPECT_FALSE(fs::exists(folder.path() / "unplugged"));
    EXPECT_EQ(ReadWholeFile(folder.path() / "a-file"), "not a folder\n");
}

TEST_F(MirrorFaults, AFileOpenInAnotherProgramIsLeftAloneUntilItIsClosed)
{
    PutWeb("index.html", "web index\n");
    PutClean("index.html", "local index\n"); // a month old: the web's is newer
    const std::string path = CleanPath("index.html");
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HANDLE probe = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        CloseHandle(held);
        GTEST_SKIP() << "no file here can be held unshared";
    }
    // Neither written over nor counted, so no caller repeats for it.
    EXPECT_EQ(MirrorPass(), 0);
    CloseHandle(held);
    EXPECT_EQ(Events(), Strings{});
    EXPECT_EQ(CleanBytes("index.html"), "local index\n");
    EXPECT_EQ(MirrorPass(), 0);
    EXPECT_EQ(Events(), Strings{Downloaded("index.html")});
    EXPECT_EQ(CleanBytes("index.html"), "web index\n");
}

// ---- Linux only: the scripted server --------------------------------------------

class ScriptedMirror : public Mirror {
protected:
    void SetUp() override
    {
        Mirror::SetUp();
        UseServer("scripted_ftp", INTERNET_PORT(ServerPort("scripted_ftp", "guarded")));
        remote = "www/" + remote;
        CopyField(currentSite.remoteFolder, remote.c_str());
        currentSite.offsetMeasured = 1;
        SiteFileNames(currentSite);
    }
};

TEST_F(ScriptedMirror, ABrokenDownloadKeepsTheOldFileAndTheRepeatsAreBounded)
{
    // The server lists every file as of 2024-01-02; the local copies are older.
    PutWeb("broken-page.html", std::string(4000, 'w'));
    PutWeb("next.html", "web next\n");
    PutClean("broken-page.html", "local page\n");
    SetCleanTime("broken-page.html", kYear2000);

    const size_t seen = ScriptedCommands("guarded").size();
    EXPECT_EQ(RepeatPass([&] { return MirrorPass(); }), 2); // both files still to do
    const std::string commands = ScriptedCommands("guarded").substr(seen);
    EXPECT_EQ(CountCommands(commands, "RETR"), passRepeats) << commands;
    EXPECT_EQ(CleanNames(), Strings{"broken-page.html"}); // no scratch file left
    EXPECT_EQ(CleanBytes("broken-page.html"), "local page\n");
    EXPECT_EQ(Events(), Strings{});
}

} // namespace
} // namespace engine_test
