// The driver's rate rules and the Email Alert command, without a window.
#include <gtest/gtest.h>

#include "alerts/event_log.h"
#include "core/app.h"
#include "core/monitor.h"
#include "core/resources.h"
#include "core/site_list.h"
#include "support/temp_folder.h"

namespace {

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

} // namespace
