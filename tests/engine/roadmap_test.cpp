// The roadmap and the site command's clean-ups of old files, against a real
// FTP server: what the server and the clean copy hold afterwards.
#include "engine_fixture.h"

namespace engine_test {
namespace {

using namespace std::chrono_literals;

class Roadmap : public Monitor {
protected:
    void Run(const char* command)
    {
        CopyField(currentSite.optionText, command);
        const SiteRecord& s = currentSite;
        CreateRoadmap(s.ftpHost, s.secureFolder, s.userName, s.password, s.remoteFolder, s.fileMask);
    }
    // Sets a web file's time on the served folder itself: `age` before now.
    void AgeWeb(const std::string& name, std::chrono::hours age)
    {
        const fs::path file = fs::path(ServerInfo(Fixture(), "home")) / remote / name;
        fs::last_write_time(file, fs::file_time_type::clock::now() - age);
    }
    Strings WebNames()
    {
        Strings names;
        for (const auto& [name, entry] : WebListing())
            names.push_back(name);
        return names;
    }
    bool LocalRoadmap() const { return fs::exists(folder.path() / "roadmap.txt"); }
};

// Far enough back that every listing gives the year.
constexpr auto kLongAgo = 24h * 400;

TEST_F(Roadmap, ListsLongNamesOfFilesLargerThan200Bytes)
{
    PutWeb("index.html", std::string(5000, 'i'));
    PutWeb("products-2011.htm", std::string(201, 'p'));
    PutWeb("products-2012.htm", std::string(200, 'p'));
    PutWeb("downloads-page.htm", std::string(3000, 'd'));
    ASSERT_TRUE(FtpCreateDirectoryA(Session(), RemotePath("images-of-products").c_str()));
    Run("CREATE_ROADMAP");
    std::string roadmap = WebBytes("roadmap.txt");
    EXPECT_TRUE(roadmap == "products-2011.htm\ndownloads-page.htm\n" ||
                roadmap == "downloads-page.htm\nproducts-2011.htm\n")
        << roadmap;
    EXPECT_EQ(ReadWholeFile(folder.path() / "roadmap.txt"), roadmap);
    EXPECT_EQ(Events(), Strings{});

    // Nothing matching the mask: no roadmap is made or uploaded.
    ASSERT_TRUE(FtpDeleteFileA(Session(), RemotePath("roadmap.txt").c_str()));
    fs::remove(folder.path() / "roadmap.txt");
    CopyField(currentSite.fileMask, "*.pdf");
    Run("CREATE_ROADMAP");
    EXPECT_EQ(WebBytes("roadmap.txt"), "<missing>");
    EXPECT_FALSE(LocalRoadmap());
}

TEST_F(Roadmap, DeleteOldFilesKeepsNewerFilesAndExemptNames)
{
    const Strings names = {"old-page.htm", "today.htm", "newer.htm", "index.htaccess.bak", "my-roadmap.txt"};
    for (const std::string& name : names)
        PutWeb(name, "bytes of " + name + "\n");
    for (const char* name : {"old-page.htm", "index.htaccess.bak", "my-roadmap.txt"})
        AgeWeb(name, kLongAgo);
    AgeWeb("newer.htm", -24h * 3);
    // Dated today (a folder's time cannot be set under Wine), never deleted.
    ASSERT_TRUE(FtpCreateDirectoryA(Session(), RemotePath("old-folder").c_str()));
    Run("CREATE_ROADMAP DELETE_OLD_FILES_0");
    EXPECT_EQ(WebNames(), (Strings{"index.htaccess.bak", "my-roadmap.txt", "newer.htm", "old-folder", "roadmap.txt"}));

    // Thirty days back, then no roadmap; CLEANUP is not looked at.
    ASSERT_TRUE(FtpDeleteFileA(Session(), RemotePath("roadmap.txt").c_str()));
    fs::remove(folder.path() / "roadmap.txt");
    PutWeb("ab20000101.htm", "dated in its name\n");
    PutClean("ab20000101.htm", "dated in its name\n");
    PutWeb("twenty-days.htm", "recent\n");
    AgeWeb("twenty-days.htm", 24h * 20);
    AgeWeb("newer.htm", kLongAgo);
    Run("CREATE_ROADMAP DELETE_OLD_FILES_-30_THEN_EXIT CLEANUP_-7");
    EXPECT_EQ(WebNames(), (Strings{"ab20000101.htm", "index.htaccess.bak", "my-roadmap.txt", "old-folder",
                                   "twenty-days.htm"}));
    EXPECT_TRUE(fs::exists(folder.path() / kClean / "ab20000101.htm"));
    EXPECT_FALSE(LocalRoadmap());
    EXPECT_EQ(Line(1), "DELETING OLD FILE - newer.htm");
    EXPECT_EQ(Events(), Strings{});
}

TEST_F(Roadmap, CleanUpDeletesDatedNamesOnTheWebAndTheirCleanCopies)
{
    const Strings web = {"ab20000101.htm", "abc20000102.htm", "ab20000103.htm", "ab20000104.htm",
                         "FAQ-2011.htm",   "ab29991231.htm",  "index.html"};
    for (const std::string& name : web)
        PutWeb(name, "web " + name);
    for (const char* name : {"ab20000101.htm", "abc20000102.htm", "FAQ-2011.htm", "ab29991231.htm"})
        PutClean(name, "clean copy");
    // A clean file of another spelling and a folder are never reached.
    PutClean("AB20000103.htm", "clean copy");
    fs::create_directory(folder.path() / kClean / "ab20000104.htm");
    Run("CREATE_ROADMAP CLEANUP_-7");
    EXPECT_EQ(WebNames(), (Strings{"FAQ-2011.htm", "ab29991231.htm", "index.html", "roadmap.txt"}));
    Strings local;
    for (const auto& entry : fs::directory_iterator(folder.path() / kClean))
        local.push_back(entry.path().filename().string());
    std::sort(local.begin(), local.end());
    EXPECT_EQ(local, (Strings{"AB20000103.htm", "FAQ-2011.htm", "ab20000104.htm", "ab29991231.htm"}));
}

// ---- Told once, against pyftpdlib ---------------------------------------------------

using RoadmapFaults = Roadmap;

TEST_F(RoadmapFaults, AnOutageIsLoggedOnceAndTheRoadmapStillMade)
{
    PutWeb("products-2011.htm", std::string(300, 'p'));
    ftpPort = INTERNET_PORT(ClosedLoopbackPort());
    onReconnectWait = [] {
        if (reconnectWaits == 2)
            ftpPort = serverPort;
    };
    Run("CREATE_ROADMAP");
    EXPECT_EQ(reconnectWaits, 2);
    EXPECT_EQ(Events(), (Strings{"11 0 0 ", "12 0 0 "}));
    EXPECT_EQ(lostConnection, 0);
    EXPECT_EQ(WebBytes("roadmap.txt"), "products-2011.htm\n");

    // A pass that gives up makes nothing and keeps the outage for the next.
    reconnectRounds = 2;
    onReconnectWait = nullptr;
    ftpPort = INTERNET_PORT(ClosedLoopbackPort());
    ASSERT_TRUE(FtpDeleteFileA(Session(), RemotePath("roadmap.txt").c_str()));
    Run("CREATE_ROADMAP DELETE_OLD_FILES_0");
    EXPECT_NE(lostConnection, 0);
    EXPECT_EQ(Events().size(), 3u);
    ftpPort = serverPort;
    EXPECT_EQ(WebBytes("products-2011.htm"), std::string(300, 'p'));
    EXPECT_EQ(WebBytes("roadmap.txt"), "<missing>");
}

TEST_F(RoadmapFaults, NothingIsDeletedOrUploadedWhereTheRemoteFolderCannotBeEntered)
{
    // The remote folder is missing; the login folder holds a dated file.
    const std::string name = "ab20000101-" + remote + ".htm";
    WriteWholeFile(folder.path() / "put.tmp", "in the login folder\n");
    ASSERT_TRUE(FtpPutFileA(Session(), "put.tmp", name.c_str(), FTP_TRANSFER_TYPE_BINARY, 0));
    Run("CREATE_ROADMAP DELETE_OLD_FILES_1");
    Run("CREATE_ROADMAP CLEANUP_1");
    EXPECT_EQ(ListAll(Session(), name.c_str()).size(), 1u);
    EXPECT_EQ(ListAll(Session(), "roadmap.txt").size(), 0u);
    EXPECT_TRUE(FtpDeleteFileA(Session(), name.c_str()));
}

} // namespace
} // namespace engine_test
