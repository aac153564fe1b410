// Attacks on a watched site, made on the server's disk as an intruder with
// a shell would make them, and what the next visits of the web site check
// leave on the server, in the store and in the event log.
#include "engine_fixture.h"

#include "engine/remote_listing.h"

namespace engine_test {
namespace {

using Attacks = Monitor;
constexpr fs::perms kReadOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;

TEST_F(Attacks, AChangeMadeAgainRightAfterThePutBackIsCaughtNextVisit)
{
    MakeSite(kSite);
    PutWeb("index.html", "<html>defaced</html>\n");
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(WebBytes("index.html"), kSite[0].second);
    Sleep(500);
    PutWeb("index.html", "<html>defaced once more</html>\n");
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(WebBytes("index.html"), kSite[0].second);
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(Events(), (Strings{"1 1 1 index.html", "1 1 1 index.html"}));
    EXPECT_TRUE(PlainRecord("index.html"));
}

// Dot files are seen where a plain LIST hides them (vsftpd as it ships): a
// changed .htaccess is put back, a planted .user.ini reported, and the clean
// copy's .htaccess is not uploaded again and again.
TEST_F(Attacks, DotFilesAreWatchedWhereListHidesThem)
{
    MakeSite(kSite);
    PutWeb(".htaccess", "RewriteRule ^ http://elsewhere.example/ [R=302]\n");
    PutWeb(".user.ini", "auto_prepend_file=shell.php\n");
    EXPECT_EQ(WebCheck(), 2);
    EXPECT_EQ(Events(), (Strings{"1 0 2 .user.ini", "1 1 1 .htaccess"}));
    EXPECT_EQ(WebBytes(".htaccess"), kSite[2].second);
    EXPECT_EQ(SecureCheck(), 0);
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(Events().size(), 2u);
}

// Only the directory bit makes a folder: a read-only file is compared and
// put back like any other.
TEST_F(Attacks, AReadOnlyDefacementIsPutBack)
{
    MakeSite(kSite);
    WriteWholeFile(WebDisk("index.html"), "<html>defaced, read-only</html>\n");
    fs::permissions(WebDisk("index.html"), kReadOnly);
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(Events(), Strings{"1 1 1 index.html"});
    EXPECT_EQ(WebBytes("index.html"), kSite[0].second);
    EXPECT_EQ(WebCheck(), 0);
}

// Stores written before modes were kept, and before read-only files were
// compared (their size recorded as 0-0), read on: such records are brought
// up to date without an event.
TEST_F(Attacks, OlderRecordsAreRewrittenSilently)
{
    MakeSite(kSite);
    fs::permissions(WebDisk("index.html"), kReadOnly); // its time stays
    Baseline(kBaselineAnew);
    ASSERT_EQ(WebCheck(), 0);
    const Strings records = StoredRecords();
    for (const std::string& name : {std::string("index.html"), std::string("about.htm")}) {
        const std::string record = StoredRecord(name);
        std::string older = record.substr(0, record.find("-mode"));
        if (name == "index.html") // name*high-low-0-0
            older.erase(older.find('-', older.find('-', older.rfind('*')) + 1)).append("-0-0");
        ASSERT_EQ(PutFileRecord(older.c_str(), record.c_str()), 1);
    }
    CloseFileRecords();
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(StoredRecords(), records);
    EXPECT_EQ(Events(), Strings{});
}

// The server's clock (or time zone) moved, not the files.
TEST_F(Attacks, AnHourOnEveryFilesTimeIsOneClockShiftAndNothingPutBack)
{
    // Times three hours old, so that an hour later is still in the past,
    // which a LIST line shows to the minute.
    MakeSite(kSite);
    const Strings entries = {kSite[0].first, kSite[1].first, kSite[2].first, "images"};
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(3);
    for (const std::string& name : entries)
        fs::last_write_time(WebDisk(name), past);
    Baseline(kBaselineAnew);
    ASSERT_EQ(WebCheck(), 0);
    const int32_t offset = SiteOffsetHours(currentSite);
    for (const std::string& name : entries)
        fs::last_write_time(WebDisk(name), past + std::chrono::hours(1));
    const auto listing = WebListing();
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(Events(), Strings{"1 1 6 +60 MIN"});
    EXPECT_EQ(SiteOffsetHours(currentSite), offset + 1);
    EXPECT_EQ(WebListing(), listing);
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(Events().size(), 1u);
}

TEST_F(Attacks, ScratchFilesOfAStoppedRunAreRemovedUnreported)
{
    MakeSite(kSite);
    PutWeb(engine::kScratchUpload, "half an upload");
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(WebListing().count(engine::kScratchUpload), 0u);
    EXPECT_EQ(StoredRecord(engine::kScratchUpload), "");
    EXPECT_EQ(Events(), Strings{});
}

// The server's own user must be refused the put-back: vsftpd's is not root.
TEST_F(Attacks, APutBackTheServerDoesNotTakeIsReportedAndTriedAgain)
{
    if (!IsVsftpd())
        GTEST_SKIP() << "needs a server whose user the disk's permissions bind";
    MakeSite(kSite);
    PutWeb("index.html", "<html>defaced</html>\n");
    const std::string record = StoredRecord("index.html");
    const fs::perms fileMode = fs::status(WebDisk("index.html")).permissions();
    const fs::perms folderMode = fs::status(WebDisk("")).permissions();
    fs::permissions(WebDisk("index.html"), kReadOnly);
    fs::permissions(WebDisk(""), kReadOnly | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(Events(), Strings{"1 0 3 index.html"});
    EXPECT_EQ(StoredRecord("index.html"), record);
    EXPECT_EQ(WebBytes("index.html"), "<html>defaced</html>\n");

    fs::permissions(WebDisk(""), folderMode);
    fs::permissions(WebDisk("index.html"), fileMode);
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(NewEvents(1), Strings{"1 1 1 index.html"});
    EXPECT_EQ(WebBytes("index.html"), kSite[0].second);
}

// The server says it cut the listing short: what came is checked, and the
// cut is reported on every visit (it is never the whole folder).
class ScriptedTruncatedListing : public Monitor {
protected:
    void SetUp() override
    {
        Monitor::SetUp();
        UseServer("scripted_ftp", INTERNET_PORT(ServerPort("scripted_ftp", "truncated")));
        remote = "cut";
        CopyField(currentSite.remoteFolder, "cut");
        currentSite.syncWeb = 0;
        currentSite.offsetMeasured = 1;
        SiteFileNames(currentSite);
    }
};

TEST_F(ScriptedTruncatedListing, IsReportedAndWhatCameIsChecked)
{
    ASSERT_EQ(PutFileRecord("z.txt*30000000-5-0-3", nullptr), 1); // a baseline was made
    EXPECT_EQ(WebCheck(), 3);
    EXPECT_EQ(NewEvents(0), (Strings{"1 0 2 a.txt", "1 0 2 b.txt", "1 0 7 cut"}));
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(NewEvents(3), Strings{"1 0 7 cut"});
    EXPECT_EQ(StoredRecords().size(), 3u);
}

// ---- Against ProFTPD, whose listing shows links and modes -----------------------

using ServerLinks = Monitor;

TEST_F(ServerLinks, ALinkPutWhereAFileWasIsReplacedAndItsTargetKeepsItsBytes)
{
    MakeSite(kSite);
    const fs::path target = WebDisk("..") / (remote + "-target.txt");
    WriteWholeFile(target, "not the site's\n");
    fs::remove(WebDisk("index.html"));
    fs::create_symlink("../" + remote + "-target.txt", WebDisk("index.html"));
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(Events(), Strings{"1 1 4 index.html"});
    EXPECT_FALSE(fs::is_symlink(WebDisk("index.html")));
    EXPECT_EQ(ReadWholeFile(WebDisk("index.html")), kSite[0].second);
    EXPECT_EQ(ReadWholeFile(target), "not the site's\n");
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(Events().size(), 1u);
}

TEST_F(ServerLinks, AModeChangeIsReportedAndSetBack)
{
    MakeSite(kSite);
    const fs::perms mode = fs::status(WebDisk("index.html")).permissions();
    fs::permissions(WebDisk("index.html"), fs::perms::all);
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(Events(), Strings{"1 1 5 index.html"});
    EXPECT_EQ(fs::status(WebDisk("index.html")).permissions(), mode);
    EXPECT_EQ(WebCheck(), 0);
}

} // namespace
} // namespace engine_test
