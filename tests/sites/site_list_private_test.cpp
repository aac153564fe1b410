// Linux only: the site list holds passwords, so it must not be readable by
// other users. (Windows keeps the folder's default security.)
#include <gtest/gtest.h>

#include <filesystem>

#include "sites/site_list.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

TEST(SiteListLinux, CreatedReadableByOwnerOnly) {
    TempFolder tmp;
    SiteRecord site{};
    CopyField(site.ftpHost, "ftp.example.com");
    CopyField(site.password, "secret");
    ASSERT_EQ(WriteSiteRecord("\\kestrovane\\sites.info", site, 1), -1);  // no data folder yet
    fs::create_directory(tmp.native("kestrovane"));
    ASSERT_EQ(WriteSiteRecord("\\Kestrovane\\sites.info", site, 1), kSiteRecordSize);
    fs::perms p = fs::status(tmp.native("kestrovane/sites.info")).permissions();
    EXPECT_EQ(p & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
    EXPECT_NE(p & fs::perms::owner_read, fs::perms::none);
    // A second write keeps it private and the record readable.
    ASSERT_EQ(WriteSiteRecord("c:\\KESTROVANE\\SITES.INFO", site, 2), kSiteRecordSize);
    EXPECT_EQ(CountSiteRecords("\\kestrovane\\sites.info"), 2);
    p = fs::status(tmp.native("kestrovane/sites.info")).permissions();
    EXPECT_EQ(p & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
}
