// The web synchronisation and the remote folder deletion against real FTP
// servers: what the web, the store, the event log and the data folder hold
// afterwards.
#include "engine_fixture.h"

namespace engine_test {
namespace {

class Sync : public Monitor {
protected:
    void TearDown() override
    {
        syncRestarts = 4;
        deleteFolderDepth = 32;
        Monitor::TearDown();
    }

    // kSite on both sides, the web's "images" folder in the clean copy too.
    void MakeSyncedSite()
    {
        MakeSite(kSite);
        fs::create_directory(folder.path() / kClean / "images");
    }
    int SyncWeb()
    {
        const SiteRecord& s = currentSite;
        return SyncWebWithServer(s.secureFolder, s.ftpHost, s.userName, s.password, s.remoteFolder, s.fileMask);
    }
    // The attribute word the server lists for a web entry, as an event's
    // changed byte carries it.
    std::string ListedAttributes(const std::string& name)
    {
        const auto entries = ListAll(Session(), (remote + "/*").c_str());
        const WIN32_FIND_DATAA* entry = FindEntry(entries, name);
        return entry ? std::to_string(entry->dwFileAttributes & 0xff) : "<not listed>";
    }
    // The deletion's list files left in the data folder.
    Strings ListFiles() const
    {
        Strings names;
        for (const auto& entry : fs::directory_iterator(folder.path()))
            if (entry.path().filename().string().rfind("deleteresults", 0) == 0)
                names.push_back(entry.path().filename().string());
        return names;
    }
};

TEST_F(Sync, WhatTheCleanCopyLacksIsDeletedWithItsRecordsAndLogged)
{
    MakeSyncedSite();
    PutWeb("images/logo.png", "only on the web, in a folder both sides hold\n");
    PutWeb("old.html", "withdrawn\n");
    // Three levels deep, a hidden file among them; and an empty folder,
    // which lists nothing at all on most servers.
    for (const char* path : {"old", "old/a", "old/a/b", "vacant"})
        ASSERT_TRUE(FtpCreateDirectoryA(Session(), RemotePath(path).c_str()));
    for (const char* path : {"old/top.txt", "old/a/.htaccess", "old/a/b/deep.txt"})
        PutWeb(path, "tree\n");
    // A clean file the pass cannot open is still the clean copy's.
    PutWeb("open-in-editor.html", "web\n");
    PutClean("open-in-editor.html", "being edited\n");
    fs::permissions(folder.path() / kClean / "open-in-editor.html", fs::perms::none);
    Baseline(1);
    ASSERT_NE(StoredRecord("old.html"), "");
    PutWeb("unrecorded.php", "planted after the baseline\n");
    const std::string fileAttributes = ListedAttributes("old.html");
    const std::string folderAttributes = ListedAttributes("old");

    EXPECT_EQ(SyncWeb(), 0);
    fs::permissions(folder.path() / kClean / "open-in-editor.html", fs::perms::owner_all);
    Strings names;
    for (const auto& [name, stamp] : WebListing())
        names.push_back(name);
    EXPECT_EQ(names, (Strings{".htaccess", "about.htm", "images", "index.html", "open-in-editor.html"}));
    EXPECT_EQ(WebBytes("images/logo.png"), "only on the web, in a folder both sides hold\n");
    EXPECT_EQ(StoredRecord("old.html"), "");
    EXPECT_NE(StoredRecord("index.html"), "");
    const std::string folderEvent = "17 " + folderAttributes + " 0 ", fileEvent = "9 " + fileAttributes + " 0 ";
    EXPECT_EQ(NewEvents(0), (Strings{folderEvent + "old", folderEvent + "vacant", fileEvent + "old.html",
                                     fileEvent + "unrecorded.php"}));
    EXPECT_EQ(ListFiles(), Strings{});
    // The page shows them (it is drawn once, after the deletions).
    std::string page;
    for (int line = 2; line <= 26; ++line)
        page += Line(line) + "\n";
    EXPECT_NE(page.find("unrecorded.php"), std::string::npos) << page;

    // Nothing more to do.
    EXPECT_EQ(SyncWeb(), 0);
    EXPECT_EQ(Events().size(), 4u);
}

// ---- Told once, against pyftpdlib ------------------------------------------------

using SyncFaults = Sync;

TEST_F(SyncFaults, NoCleanCopyToCompareWithDeletesNothing)
{
    MakeSite(kSite);
    const Strings records = StoredRecords();
    const auto listing = WebListing();
    const fs::path clean = folder.path() / kClean;
    constexpr const char* kMissing = "SECURE SERVER FOLDER MISSING - NOTHING DELETED";
    const struct {
        const char* name;
        void (*make)(const fs::path&);
        const char* status;
    } cases[] = {
        {"missing", [](const fs::path&) {}, kMissing},
        {"a file", [](const fs::path& path) { WriteWholeFile(path, "not a folder"); }, kMissing},
        {"empty", [](const fs::path& path) { fs::create_directory(path); },
         "SECURE SERVER FOLDER EMPTY - NOTHING DELETED"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(clean);
        c.make(clean);
        EXPECT_EQ(SyncWeb(), 0);
        EXPECT_NE(Line(1).find(c.status), std::string::npos) << Line(1);
        EXPECT_EQ(WebListing(), listing);
        EXPECT_EQ(StoredRecords(), records);
        EXPECT_EQ(Events(), Strings{});
    }
}

TEST_F(SyncFaults, AnOutageIsLoggedOnceAndTheNextCallDoesTheWork)
{
    MakeSyncedSite();
    PutWeb("old.html", "withdrawn\n");
    ftpPort = INTERNET_PORT(ClosedLoopbackPort());
    onReconnectWait = [] {
        if (reconnectWaits == 3)
            ftpPort = serverPort;
    };
    EXPECT_EQ(SyncWeb(), kPassCallAgain);
    EXPECT_EQ(reconnectWaits, 3);
    EXPECT_EQ(Events(), (Strings{"7 0 0 ", "8 0 0 "}));
    EXPECT_EQ(lostConnection, 0);
    EXPECT_EQ(WebBytes("old.html"), "withdrawn\n");
    EXPECT_EQ(SyncWeb(), 0);
    EXPECT_EQ(WebBytes("old.html"), "<missing>");

    // A folder deletion that cannot connect logs its own outage once and
    // touches nothing; the synchronisation after it logs the recovery.
    ASSERT_TRUE(FtpCreateDirectoryA(Session(), RemotePath("old").c_str()));
    reconnectRounds = 2;
    ftpPort = INTERNET_PORT(ClosedLoopbackPort());
    onReconnectWait = nullptr;
    DeleteRemoteFolder(RemotePath("old").c_str(), 1);
    EXPECT_EQ(lostConnection, 2);
    ftpPort = serverPort;
    EXPECT_EQ(SyncWeb(), kPassCallAgain);
    EXPECT_EQ(WebListing().count("old"), 1u);
    EXPECT_EQ(NewEvents(3), (Strings{"5 0 0 ", "8 0 0 "}));
}

TEST_F(SyncFaults, AFolderDeletionStopsAtTheDepthBound)
{
    deleteFolderDepth = 2;
    ASSERT_TRUE(FtpCreateDirectoryA(Session(), remote.c_str()));
    for (const char* path : {"deep", "deep/1", "deep/1/2"})
        ASSERT_TRUE(FtpCreateDirectoryA(Session(), RemotePath(path).c_str()));
    for (const char* path : {"deep/top.txt", "deep/1/one.txt", "deep/1/2/two.txt"})
        PutWeb(path, "web\n");
    DeleteRemoteFolder(RemotePath("deep").c_str(), 1);
    EXPECT_EQ(WebBytes("deep/top.txt"), "<missing>");
    EXPECT_EQ(WebBytes("deep/1/one.txt"), "<missing>");
    EXPECT_EQ(WebBytes("deep/1/2/two.txt"), "web\n");
    EXPECT_EQ(ListFiles(), Strings{});
}

// ---- Linux only: the scripted server ---------------------------------------------

class ScriptedSync : public Sync {
protected:
    void SetUp() override
    {
        Sync::SetUp();
        currentSite.offsetMeasured = 1;
        PutClean("index.html", "clean\n");
    }
    // Switches to a scenario (its server outlives the story).
    void UseScenario(const char* scenario)
    {
        UseServer("scripted_ftp", INTERNET_PORT(ServerPort("scripted_ftp", scenario)));
        session.reset();
        scenario_ = scenario;
        seen_ = ScriptedCommands(scenario).size();
    }
    // The commands the scenario received since UseScenario, each after a line feed.
    std::string Commands() const { return "\n" + ScriptedCommands(scenario_).substr(seen_); }

private:
    const char* scenario_ = nullptr;
    size_t seen_ = 0;
};

TEST_F(ScriptedSync, ARefusedDeletionRestartsWithinTheBound)
{
    UseScenario("guarded");
    for (const char* name : {"index.html", "old-a.html", "old-b.html", "stuck.html"})
        PutWeb(name, "web\n");
    Baseline();
    EXPECT_EQ(SyncWeb(), 0);
    EXPECT_NE(Line(1).find("SYNCH INCOMPLETE"), std::string::npos) << Line(1);
    const std::string commands = Commands();
    EXPECT_EQ(CountCommands(commands, "DELE stuck.html"), 1 + syncRestarts) << commands;
    EXPECT_EQ(CountCommands(commands, "DELE"), 3 + syncRestarts) << commands;
    EXPECT_EQ(WebBytes("old-a.html"), "<missing>");
    EXPECT_EQ(WebBytes("stuck.html"), "web\n");
    EXPECT_EQ(WebBytes("index.html"), "web\n");
    EXPECT_EQ(StoredRecord("old-a.html"), "");
    EXPECT_NE(StoredRecord("stuck.html"), "");
    EXPECT_EQ(NewEvents(0).size(), 2u);
}

TEST_F(ScriptedSync, AFolderThatCannotBeEnteredDeletesNothingThere)
{
    UseScenario("guarded");
    const std::string canary = remote + "-canary.txt";
    ASSERT_TRUE(FtpCreateDirectoryA(Session(), remote.c_str()));
    for (const char* path : {"old", "old/locked-inner", "locked-top"})
        ASSERT_TRUE(FtpCreateDirectoryA(Session(), RemotePath(path).c_str()));
    for (const char* path : {"index.html", "old/gone.txt", "old/locked-inner/inner.txt", "locked-top/top.txt"})
        PutWeb(path, "web\n");
    WriteWholeFile(folder.path() / "put.tmp", "canary\n");
    ASSERT_TRUE(FtpPutFileA(Session(), "put.tmp", canary.c_str(), FTP_TRANSFER_TYPE_BINARY, 0));

    EXPECT_EQ(SyncWeb(), 0);
    const std::string commands = Commands();
    EXPECT_EQ(CountCommands(commands, "DELE"), 1) << commands;
    EXPECT_EQ(WebBytes("old/gone.txt"), "<missing>");
    EXPECT_EQ(WebBytes("old/locked-inner/inner.txt"), "web\n");
    EXPECT_EQ(WebBytes("locked-top/top.txt"), "web\n");
    EXPECT_EQ(WebBytes("index.html"), "web\n");
    EXPECT_EQ(WebBytes("../" + canary), "canary\n");
    EXPECT_EQ(NewEvents(0), (Strings{"17 16 0 locked-top", "17 16 0 old"}));
    EXPECT_EQ(ListFiles(), Strings{});
}

TEST_F(ScriptedSync, ABrokenListingDeletesNothing)
{
    // The server lists www/file0000.txt .. file1999.txt and breaks off halfway.
    UseScenario("drop_data");
    remote = "www";
    CopyField(currentSite.remoteFolder, "www");
    SiteFileNames(currentSite);
    EXPECT_EQ(SyncWeb(), 0);
    DeleteRemoteFolder("www", 1);
    const std::string commands = Commands();
    EXPECT_EQ(CountCommands(commands, "LIST") - CountCommands(commands, "LIST -a"), 1 + syncRestarts + 1) << commands;
    EXPECT_EQ(CountCommands(commands, "DELE"), 0) << commands;
    EXPECT_EQ(CountCommands(commands, "RMD"), 0) << commands;
    EXPECT_EQ(Events(), Strings{});
}

} // namespace
} // namespace engine_test
