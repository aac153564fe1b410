// The driver's rate rules, the Email Alert command and the start-up clean-up,
// without a window.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "alerts_fixture.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "alerts/event_log.h"
#include "app/app.h"
#include "app/monitor.h"
#include "app/resources.h"
#include "net/connection.h"
#include "sites/site_list.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

// Relative: in the test's folder on both systems.
constexpr const char* kList = "sites.info";

SiteRecord Site(const char* host, uint8_t active)
{
    SiteRecord site{};
    CopyField(site.ftpHost, host);
    CopyField(site.fileMask, "*.htm");
    site.active = active;
    return site;
}

class Driver : public ::testing::Test {
protected:
    void SetUp() override { CopyField(siteListPath, kList); }
    TempFolder tmp;
};

TEST_F(Driver, TheRateCountsActiveSitesAndBoundsTheMinutes)
{
    // Active, inactive, deleted but flagged active, active, active.
    const SiteRecord sites[] = {Site("a.example.com", 1), Site("b.example.com", 0), Site("", 1),
                                Site("c.example.com", 1), Site("d.example.com", 1)};
    for (int n = 0; n < 5; ++n)
        ASSERT_EQ(WriteSiteRecord(kList, sites[n], n + 1), kSiteRecordSize);
    struct {
        int32_t minutes, period, interval;
    } cases[] = {{7, 420, 140}, {60, 3600, 1200}, {0, 60, 20}, {-5, 60, 20}, {1 << 30, 35791 * 60, 35791 * 20}};
    for (const auto& c : cases) {
        EXPECT_EQ(SetUpdateRate(c.minutes), 3) << c.minutes;
        EXPECT_EQ(updatePeriodSeconds, c.period) << c.minutes;
        EXPECT_EQ(siteIntervalSeconds, c.interval) << c.minutes;
        EXPECT_LE(TimerMilliseconds(updatePeriodSeconds), 0x7FFFFFFFu);
    }
    EXPECT_EQ(TimerMilliseconds(60), 60000u);
    EXPECT_EQ(TimerMilliseconds(0), 1u);
}

TEST_F(Driver, EmailAlertRewritesOnlyTheAlertsFlagOfTheSiteLastVisited)
{
    ASSERT_EQ(WriteSiteRecord(kList, Site("a.example.com", 1), 1), kSiteRecordSize);
    ASSERT_EQ(WriteSiteRecord(kList, Site("b.example.com", 1), 2), kSiteRecordSize);
    eventPage = 1;
    visitedRecordNumber = 0;
    menuCommand = IDM_EMAIL_ALERT; // before any visit: nothing to switch
    MenuPoll();
    SiteRecord read{};
    ASSERT_TRUE(ReadSiteRecord(kList, read, 1));
    EXPECT_EQ(read.emailAlerts, 0);

    currentSite = Site("b.example.com", 1);
    visitedRecordNumber = 2;
    SiteRecord edited = currentSite; // the setup changed the record since the visit
    CopyField(edited.userName, "new-user");
    ASSERT_EQ(WriteSiteRecord(kList, edited, 2), kSiteRecordSize);
    menuCommand = IDM_EMAIL_ALERT;
    MenuPoll();
    ASSERT_TRUE(ReadSiteRecord(kList, read, 2));
    EXPECT_EQ(read.emailAlerts, 1);
    EXPECT_STREQ(read.userName, "new-user");
    EXPECT_EQ(CountSiteRecords(kList), 2);

    // The record now holds another site: it is left alone.
    ASSERT_EQ(WriteSiteRecord(kList, Site("other.example.com", 1), 2), kSiteRecordSize);
    menuCommand = IDM_EMAIL_ALERT;
    MenuPoll();
    ASSERT_TRUE(ReadSiteRecord(kList, read, 2));
    EXPECT_EQ(read.emailAlerts, 0);
    EXPECT_EQ(menuCommand, 0);
}

// Downloads a killed run left half done go at start; the site's own files,
// look-alikes included, stay.
TEST(Startup, LeftoverScratchFilesGoAtStart)
{
    TempFolder folder;
    SiteRecord site{};
    CopyField(site.ftpHost, "ftp.example.com");
    CopyField(site.secureFolder, "secure");
    ASSERT_EQ(WriteSiteRecord("sites.info", site, 1), kSiteRecordSize);
    fs::create_directory(folder.path() / "secure");
    const char* kept[] = {"index.html", ".kv-part-1-2.php.part", ".kv-part-x.part"};
    for (const char* name : kept)
        WriteWholeFile(folder.path() / "secure" / name, "web");
    for (const char* name : {".kv-part-4242-7.part", ".kv-ftpget-4242-7.part"})
        WriteWholeFile(folder.path() / "secure" / name, "half a download");
    RemoveScratchFilesOfAllSites("sites.info");
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder.path() / "secure"))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, std::set<std::string>(std::begin(kept), std::end(kept)));
}

// The connection layer's news as the program acts on it: each is an event
// mailed at once and a title; the recovery runs the user's batch.
class InternetNewsTest : public alerts_test::AlertsTest {
protected:
    void SetUp() override
    {
        AlertsTest::SetUp();
        // A batch both cmd and sh can run; it writes into the current folder.
        HANDLE batch = CreateFileA("\\kestrovane\\monitor.bat", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        const char line[] = "echo started>>started.txt\n";
        DWORD written = 0;
        WriteFile(batch, line, sizeof line - 1, &written, nullptr);
        CloseHandle(batch);
    }
    void TearDown() override
    {
        DeleteFileA("\\kestrovane\\monitor.bat");
        AlertsTest::TearDown();
    }
    // Types of the events logged so far, oldest first.
    std::vector<int> EventTypes() const
    {
        std::string log = ReadWholeFile(folder.path() / "site.msg");
        std::vector<int> types;
        for (size_t at = 0; at + kEventRecordSize <= log.size(); at += kEventRecordSize)
            types.push_back(log[at + 8]);
        return types;
    }
    int BatchStarts() const
    {
        // The batch runs on its own: give it time to write its whole line
        // (a command interpreter under Wine on a busy machine takes seconds;
        // the file may exist before its line is in it).
        std::string lines;
        for (int i = 0; i < 160; ++i) {
            if (fs::exists(folder.path() / "started.txt"))
                lines = ReadWholeFile(folder.path() / "started.txt");
            if (!lines.empty() && lines.back() == '\n')
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return int(std::count(lines.begin(), lines.end(), '\n'));
    }
};

TEST_F(InternetNewsTest, TheOutageAndTheRecoveryAreLoggedAndShownAndTheRecoveryRunsTheBatch)
{
    ActOnInternetNews(InternetNews::kLost);
    EXPECT_EQ(EventTypes(), (std::vector<int>{kEventInternetLost}));
    EXPECT_EQ(Line(1), "KESTROVANE MONITOR - PAGE 1 STATUS: 0 LOST INTERNET CONNECTION");
    ActOnInternetNews(InternetNews::kBack);
    EXPECT_EQ(EventTypes(), (std::vector<int>{kEventInternetLost, kEventInternetBack}));
    EXPECT_EQ(Line(1), "KESTROVANE MONITOR - PAGE 1 STATUS: INTERNET CONNECTION RE-ESTABLISHED");
    EXPECT_EQ(BatchStarts(), 1); // once: the outage ran nothing
    EXPECT_EQ(pendingEvents, 0); // each was alerted (alerts are off) at once
}

} // namespace
