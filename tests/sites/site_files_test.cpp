#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "sites/site_files.h"
#include "sites/site_list.h"
#include "records/record_file.h"
#include "support/temp_folder.h"

namespace {

struct Names {
    std::string store, log, work;
};

Names NamesFor(const char* host, const char* folder, const char* mask) {
    SiteFileNames(host, folder, mask);
    return {siteStoreFile, siteEventLogFile, siteWorkListFile};
}

bool IsSafe(const std::string& name) {
    for (unsigned char c : name) {
        if (c < 32 || std::string("/\\:*?\"<>|").find((char)c) != std::string::npos) return false;
    }
    return true;
}

}  // namespace

TEST(SiteFileNames, FolderAndMaskForms) {
    Names n = NamesFor("ftp.example.com", "public_html/news", "*.htm");
    EXPECT_EQ(n.store, "example_public_html-news_JNhtm.dbf");
    EXPECT_EQ(n.log, "example_public_html-news_JNhtm.msg");
    EXPECT_EQ(n.work, "example_public_html-news_JNhtm.txt");

    n = NamesFor("ftp.example.com", "", "*.htm");
    EXPECT_EQ(n.store, "example_JNhtm.dbf");
    EXPECT_EQ(n.log, "example_JNhtm.msg");
    EXPECT_EQ(n.work, "example_JNhtm.fil");

    // Every byte below "A" is raised by 32: digits, "-" and a blank.
    n = NamesFor("www.site.org", "", "a-1 9*");
    EXPECT_EQ(n.store, std::string("site_aMQ") + '@' + "YJ.dbf");
}

TEST(SiteFileNames, DomainLabelIsBounded) {
    std::string host = "ftp." + std::string(80, 'd') + ".com";
    Names n = NamesFor(host.c_str(), "", "*");
    EXPECT_EQ(n.store, std::string(50, 'd') + "_J.dbf");
}

TEST(SiteFileNames, HostsWithFewerThanTwoDotsGiveDistinctNames) {
    Names single = NamesFor("localhost", "", "*.htm");
    Names one = NamesFor("example.com", "", "*.htm");
    Names two = NamesFor("ftp.localhost.net", "", "*.htm");
    Names address = NamesFor("10.0.0.7", "", "*.htm");
    EXPECT_EQ(single.store, "localhost._JNhtm.dbf");
    EXPECT_EQ(one.store, "example.com._JNhtm.dbf");
    EXPECT_EQ(two.store, "localhost_JNhtm.dbf");
    EXPECT_EQ(address.store, "0_JNhtm.dbf");
    EXPECT_NE(single.store, two.store);
}

TEST(SiteFileNames, NothingFromTheRecordReachesOutsideTheDataFolder) {
    const char* hosts[] = {"ftp.ev\\il.com", "ftp.c:.com", "ftp.a/..\\b.com", "..", "",
                           "ftpes://localhost:21/", "ftps://[::1]:990"};
    const char* folders[] = {"..\\..\\windows", "a\\b:c", "../../etc", "x\r\ny", "dir|<>"};
    const char* masks[] = {"*.htm", "<..>", "\x0F..\x1A", "\\*", "?\"|"};
    for (const char* h : hosts) {
        for (const char* f : folders) {
            for (const char* m : masks) {
                Names n = NamesFor(h, f, m);
                EXPECT_TRUE(IsSafe(n.store)) << n.store;
                EXPECT_TRUE(IsSafe(n.log)) << n.log;
                EXPECT_TRUE(IsSafe(n.work)) << n.work;
                EXPECT_NE(n.store.find('_'), std::string::npos);
            }
        }
    }
    EXPECT_EQ(NamesFor("ftp.example.com", "..\\up", "*").store, "example_..-up_J.dbf");
}

// A site list written by another program, or damaged, may fill a text field
// to its width with no NUL. Each field's text ends at its width: the names
// take nothing from the neighbouring field or from past the record, which
// lies alone on the heap so that the sanitizer build catches a read past it.
TEST(SiteFileNames, FieldsWithoutNulEndAtTheirWidth) {
    struct Case {
        std::string host, folder, mask;  // the stored bytes, padded with zeros
        std::string store;
    };
    const std::string host = "ftp.site." + std::string(91, 'h');
    const Case cases[] = {
        {host, std::string(200, 'f'), std::string(50, 'm'), "site_" + std::string(200, 'f') + "_" + std::string(50, 'm') + ".dbf"},
        {std::string(100, 'h'), "", std::string(50, 'm'), std::string(50, 'h') + "._" + std::string(50, 'm') + ".dbf"},
        {"ftp.example.com", std::string(200, 'f'), "*.htm", "example_" + std::string(200, 'f') + "_JNhtm.dbf"},
    };
    TempFolder tmp;
    for (const Case& c : cases) {
        SiteRecord written;
        std::memset(&written, 'z', sizeof written);  // no NUL anywhere but in the padding below
        CopyField(written.ftpHost, sizeof written.ftpHost, "");
        CopyField(written.remoteFolder, sizeof written.remoteFolder, "");
        CopyField(written.fileMask, sizeof written.fileMask, "");
        std::memcpy(written.ftpHost, c.host.data(), c.host.size());
        std::memcpy(written.remoteFolder, c.folder.data(), c.folder.size());
        std::memcpy(written.fileMask, c.mask.data(), c.mask.size());
        ASSERT_EQ(WriteSiteRecord("sites.info", written, 1), kSiteRecordSize);

        auto read = std::make_unique<SiteRecord>();
        ASSERT_TRUE(ReadSiteRecord("sites.info", *read, 1));
        EXPECT_EQ(FieldText(read->ftpHost), c.host);
        EXPECT_EQ(FieldText(read->fileMask), c.mask);
        SiteFileNames(*read);
        EXPECT_EQ(siteStoreFile, c.store);
        EXPECT_EQ(std::string(siteEventLogFile), c.store.substr(0, c.store.size() - 3) + "msg");
    }
}
