// The web synchronisation and the remote folder deletion against real FTP
// servers: what the web, the store, the event log and the data folder hold
// afterwards.
#include "engine_fixture.h"

#include "engine/own_acts.h"

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

// A read-only folder is a folder: recorded without a size, deleted whole
// where the server lets it go (pyftpdlib runs as root here), otherwise
// reported once and passed over (vsftpd: the user cannot empty it). It
// holds back nothing that sorts after it.
TEST_F(Sync, AReadOnlyFolderIsAFolderAndHoldsBackNothing)
{
    MakeSyncedSite();
    ASSERT_TRUE(FtpCreateDirectoryA(Session(), RemotePath("0").c_str()));
    PutWeb("0/inside.txt", "kept where the server enforces modes\n");
    const fs::path readOnly = fs::path(ServerInfo(Fixture(), "home")) / remote / "0";
    fs::permissions(readOnly, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    PutWeb("shell.php", "<?php system($_GET['c']); ?>\n");
    Baseline(1);
    ASSERT_EQ(ListedAttributes("0"), "17");
    EXPECT_NE(StoredRecord("0").find("-0-0-file init"), std::string::npos) << StoredRecord("0");
    const std::string fileEvent = "9 " + ListedAttributes("shell.php") + " 0 shell.php";

    for (int visit = 0; visit < 2; ++visit)
        EXPECT_EQ(SyncWeb(), 0);
    EXPECT_EQ(WebBytes("shell.php"), "<missing>");
    const bool kept = WebListing().count("0") == 1;
    EXPECT_EQ(kept, IsVsftpd());
    // Reported once a visit while it stays.
    const Strings expected = kept ? Strings{"17 17 1 0", "17 17 1 0", fileEvent} : Strings{"17 17 0 0", fileEvent};
    EXPECT_EQ(NewEvents(0), expected);
    EXPECT_EQ(StoredRecord("0").empty(), !kept);
    if (kept)
        fs::permissions(readOnly, fs::perms::owner_all, fs::perm_options::add);
}

// A sub-folder that is a site of its own: what the program does there (a
// deletion of the synchronisation) is no change the parent site reports,
// while a change of anyone else's is.
TEST_F(Sync, TheProgramsOwnActInASubFolderSiteIsNoChangeOfTheParent)
{
    MakeSite(kSite);
    PutWeb("images/logo.png", "logo\n");
    PutWeb("images/planted.php", "planted\n");
    const fs::path images = fs::path(ServerInfo(Fixture(), "home")) / remote / "images";
    fs::last_write_time(images, fs::file_time_type::clock::now() - std::chrono::hours(2));
    // Listed times of vsftpd are whole minutes: the folder's must move by more.
    ASSERT_EQ(WebCheck(), 1);
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(Events()[0].substr(Events()[0].size() - 7), " images");
    ASSERT_EQ(WebCheck(), 0); // the record after a report takes the next listing once

    const SiteRecord parent = currentSite;
    CopyField(currentSite.remoteFolder, RemotePath("images").c_str());
    CopyField(currentSite.secureFolder, "clean-images");
    fs::create_directory(folder.path() / "clean-images");
    WriteWholeFile(folder.path() / "clean-images" / "logo.png", "logo\n");
    SiteFileNames(currentSite);
    Baseline();
    EXPECT_EQ(SyncWeb(), 0);
    EXPECT_EQ(WebBytes("images/planted.php"), "<missing>");
    ASSERT_EQ(Events().size(), 1u); // the sub-folder site's own log

    currentSite = parent;
    SiteFileNames(currentSite);
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(Events().size(), 1u);
    EXPECT_FALSE(engine::TakeOwnAct(currentSite.ftpHost, RemotePath("images").c_str())); // the check took it
    fs::last_write_time(images, fs::file_time_type::clock::now() - std::chrono::hours(5));
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(Events().size(), 2u);
}

// ---- Told once, against pyftpdlib ------------------------------------------------

using SyncFaults = Sync;

// A web file named as another and a "*" sorts between that name and its
// record: the other file stays known (no put-back, no event, no second
// record every pass), and the synchronisation deletes only the planted file
// and only its record.
TEST_F(SyncFaults, ANameThatBeginsWithAnotherAndAStarShadowsNothing)
{
    MakeSite({{"index.php", "<?php echo 'clean'; ?>\n"}});
    fs::create_directory(folder.path() / kClean / "images");
    PutWeb("index.php*0", "planted\n");
    EXPECT_EQ(WebCheck(), 1);
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(Events()[0].substr(Events()[0].size() - 12), " index.php*0");
    const std::string record = StoredRecord("index.php");
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(Events().size(), 1u);
    EXPECT_EQ(StoredRecords().size(), 3u); // index.php, index.php*0, images
    EXPECT_EQ(StoredRecord("index.php"), record);

    EXPECT_EQ(SyncWeb(), 0);
    EXPECT_EQ(WebBytes("index.php*0"), "<missing>");
    EXPECT_EQ(NewEvents(1), Strings{"9 " + ListedAttributes("index.php") + " 0 index.php*0"});
    EXPECT_EQ(StoredRecord("index.php*0"), "");
    EXPECT_EQ(StoredRecord("index.php"), record);
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(Events().size(), 2u);
}

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

TEST_F(ScriptedSync, ARefusedDeletionIsReportedOnceAndHoldsBackNothing)
{
    UseScenario("guarded");
    for (const char* name : {"index.html", "old-a.html", "stuck.html", "zz-old.html"})
        PutWeb(name, "web\n");
    Baseline();
    const std::string attributes = std::to_string(FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(SyncWeb(), 0);
    EXPECT_NE(Line(1).find("SYNCH INCOMPLETE"), std::string::npos) << Line(1);
    const std::string commands = Commands();
    EXPECT_EQ(CountCommands(commands, "DELE stuck.html"), 1) << commands;
    EXPECT_EQ(CountCommands(commands, "DELE"), 3) << commands;
    EXPECT_EQ(WebBytes("zz-old.html"), "<missing>");
    EXPECT_EQ(WebBytes("stuck.html"), "web\n");
    EXPECT_EQ(WebBytes("index.html"), "web\n");
    EXPECT_EQ(StoredRecord("zz-old.html"), "");
    EXPECT_NE(StoredRecord("stuck.html"), "");
    EXPECT_EQ(NewEvents(0), (Strings{"9 " + attributes + " 0 old-a.html", "9 " + attributes + " 0 zz-old.html",
                                     "9 " + attributes + " 1 stuck.html"}));
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
    EXPECT_EQ(NewEvents(0), (Strings{"17 16 1 locked-top", "17 16 1 old"}));
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
    EXPECT_EQ(CountListings(commands), 1 + syncRestarts + 1) << commands;
    EXPECT_EQ(CountCommands(commands, "DELE"), 0) << commands;
    EXPECT_EQ(CountCommands(commands, "RMD"), 0) << commands;
    EXPECT_EQ(Events(), Strings{});
}

// The server says it cut the listing short: the baseline records what came
// and the mirror downloads it, but nothing is deleted on its word.
TEST_F(ScriptedSync, ATruncatedListingDeletesNothing)
{
    // The server lists cut/a.txt and cut/b.txt and says the listing is cut short.
    UseScenario("truncated");
    remote = "cut";
    CopyField(currentSite.remoteFolder, "cut");
    SiteFileNames(currentSite);
    Baseline();
    EXPECT_NE(StoredRecord("a.txt"), "");
    EXPECT_NE(StoredRecord("b.txt"), "");
    EXPECT_EQ(SyncWeb(), 0);
    EXPECT_NE(Line(1).find("LISTING CUT SHORT - NOTHING DELETED"), std::string::npos) << Line(1);
    EXPECT_FALSE(DeleteRemoteFolder("cut", 1));
    const std::string commands = Commands();
    EXPECT_EQ(CountCommands(commands, "DELE"), 0) << commands;
    EXPECT_EQ(CountCommands(commands, "RMD"), 0) << commands;
    EXPECT_EQ(Events(), Strings{});

    const SiteRecord& s = currentSite;
    EXPECT_EQ(MirrorWebToServer(s.secureFolder, s.ftpHost, s.userName, s.password, s.remoteFolder, s.fileMask), 0);
    EXPECT_EQ(ReadWholeFile(folder.path() / kClean / "b.txt"), "bb");
}

} // namespace
} // namespace engine_test
