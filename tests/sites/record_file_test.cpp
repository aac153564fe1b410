#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "records/record_file.h"
#include "sites/site_list.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

SiteRecord MakeSite(const char* host, bool active) {
    SiteRecord site{};
    CopyField(site.ftpHost, host);
    CopyField(site.fileMask, "*.htm");
    site.active = active ? 1 : 0;
    return site;
}

}  // namespace

TEST(RecordFile, ReadsWholeShortAndMissingRecords) {
    TempFolder tmp;
    char buf[10];
    EXPECT_EQ(ReadRecord("none.dat", buf, 1, 10), -1);

    WriteWholeFile(tmp.native("r.dat"), std::string("0123456789abcdefghijKLMNO"));
    EXPECT_EQ(ReadRecord("r.dat", buf, 1, 10), 10);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(ReadRecord("r.dat", buf, 2, 10), 10);
    EXPECT_EQ(std::string(buf, 10), "abcdefghij");
    EXPECT_EQ(ReadRecord("r.dat", buf, 3, 10), 5);
    EXPECT_EQ(ReadRecord("r.dat", buf, 4, 10), 0);
    EXPECT_EQ(ReadRecord("r.dat", buf, 0, 10), -1);
}

TEST(RecordFile, WritePastEndLeavesZeroGap) {
    TempFolder tmp;
    SiteRecord a = MakeSite("ftp.a.com", true), b = MakeSite("ftp.b.com", false);
    ASSERT_EQ(WriteSiteRecord("sites.info", a, 1), kSiteRecordSize);
    ASSERT_EQ(WriteSiteRecord("sites.info", b, 2), kSiteRecordSize);
    SiteRecord read{};
    EXPECT_EQ(ReadRecord("sites.info", &read, 3, kSiteRecordSize), 0);

    SiteRecord e = MakeSite("ftp.e.com", true);
    ASSERT_EQ(WriteSiteRecord("sites.info", e, 5), kSiteRecordSize);
    EXPECT_EQ(fs::file_size(tmp.native("sites.info")), 6260u);
    for (int n : {3, 4}) {
        ASSERT_TRUE(ReadSiteRecord("sites.info", read, n));
        SiteRecord zero{};
        EXPECT_EQ(memcmp(&read, &zero, sizeof zero), 0);
        EXPECT_TRUE(SiteIsDeleted(read));
    }
    ASSERT_TRUE(ReadSiteRecord("sites.info", read, 5));
    EXPECT_STREQ(read.ftpHost, "ftp.e.com");
    EXPECT_EQ(CountSiteRecords("sites.info"), 5);
    EXPECT_EQ(CountActiveSites("sites.info"), 2);
}

TEST(RecordFile, WriteIntoMissingFolderFails) {
    TempFolder tmp;
    SiteRecord a = MakeSite("ftp.a.com", true);
    EXPECT_EQ(WriteRecord("nofolder\\sites.info", &a, 1, kSiteRecordSize), -1);
    EXPECT_EQ(WriteSiteRecord("nofolder\\sites.info", a, 1), -1);
}

TEST(SiteList, ShortLastRecordIsNotPartOfTheList) {
    TempFolder tmp;
    SiteRecord a = MakeSite("ftp.a.com", true);
    std::string bytes((const char*)&a, sizeof a);
    WriteWholeFile(tmp.native("one.info"), bytes);
    WriteWholeFile(tmp.native("short.info"), bytes.substr(0, 1251));
    WriteWholeFile(tmp.native("oneandabit.info"), bytes + bytes.substr(0, 1251));
    EXPECT_EQ(CountSiteRecords("one.info"), 1);
    EXPECT_EQ(CountSiteRecords("short.info"), 0);
    EXPECT_EQ(CountActiveSites("short.info"), 0);
    EXPECT_EQ(CountSiteRecords("oneandabit.info"), 1);
    EXPECT_EQ(CountActiveSites("missing.info"), 0);
}

TEST(SiteList, RecordFieldsRoundTripByteForByte) {
    TempFolder tmp;
    SiteRecord s = MakeSite("ftp.example.com", true);
    SetSiteOffsetHours(s, -7);
    SetSiteMailPort(s, 587);
    CopyField(s.mailServer, "mail.example.com");
    ASSERT_EQ(WriteSiteRecord("sites.info", s, 1), kSiteRecordSize);
    std::string bytes = ReadWholeFile(tmp.native("sites.info"));
    ASSERT_EQ(bytes.size(), 1252u);
    // Offsets and byte order as stored on disk.
    EXPECT_EQ((unsigned char)bytes[752], 1);
    EXPECT_EQ(bytes.substr(754, 4), std::string("\xF9\xFF\xFF\xFF", 4));
    EXPECT_EQ(bytes.substr(1120, 2), std::string("\x4B\x02", 2));
    EXPECT_EQ(bytes.substr(940, 17), std::string("mail.example.com\0", 17));

    SiteRecord r{};
    ASSERT_TRUE(ReadSiteRecord("sites.info", r, 1));
    EXPECT_EQ(SiteOffsetHours(r), -7);
    EXPECT_EQ(SiteMailPort(r), 587);
}

TEST(SiteList, CopyFieldBoundsAndPads) {
    char field[8];
    memset(field, 'x', sizeof field);
    EXPECT_TRUE(CopyField(field, "abc"));
    EXPECT_EQ(std::string(field, 8), std::string("abc\0\0\0\0\0", 8));
    EXPECT_FALSE(CopyField(field, "abcdefghij"));
    EXPECT_EQ(std::string(field, 8), std::string("abcdefg\0", 8));
}
