// The monitoring checks against a real FTP server: the baseline, the web
// site check and the secure server check.
#include "engine_fixture.h"

namespace engine_test {
namespace {

TEST_F(Monitor, AQuietSiteStaysQuiet)
{
    MakeSite(kSite);
    const auto listing = WebListing();
    ASSERT_EQ(listing.size(), kSite.size() + 1);
    Strings records;
    for (int pass = 1; pass <= 3; ++pass) {
        SCOPED_TRACE(pass);
        EXPECT_EQ(WebCheck(), 0);
        EXPECT_EQ(SecureCheck(), 0);
        if (pass == 1)
            records = StoredRecords();
        EXPECT_EQ(StoredRecords(), records);
    }
    EXPECT_EQ(Events(), Strings{});
    EXPECT_EQ(WebListing(), listing);
    EXPECT_FALSE(alerts_test::ProgramFileExists((std::string(kQuarantine) + "index.html").c_str()));
}

TEST_F(Monitor, AnAlteredWebFileIsQuarantinedPutBackAndLoggedOnce)
{
    MakeSite(kSite);
    PutWeb("index.html", "<html>defaced by someone</html>\n");
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(alerts_test::ReadProgramFile((std::string(kQuarantine) + "index.html").c_str()),
              "<html>defaced by someone</html>\n");
    EXPECT_EQ(WebBytes("index.html"), kSite[0].second);
    EXPECT_EQ(Events(), Strings{"1 1 1 index.html"});
    EXPECT_TRUE(PlainRecord("index.html"));
    for (int pass = 1; pass <= 2; ++pass) {
        EXPECT_EQ(WebCheck(), 0);
        EXPECT_EQ(SecureCheck(), 0);
    }
    EXPECT_EQ(Events().size(), 1u);
    EXPECT_EQ(WebBytes("index.html"), kSite[0].second);
}

TEST_F(Monitor, UnknownWebFilesAreReportedOnceWhereverTheySort)
{
    MakeSite(kSite);
    PutClean("contact.htm", "clean contact\n");
    PutClean("zz-menu.htm", "clean menu\n");
    // In the middle of the records, and after every one of them.
    PutWeb("contact.htm", "planted\n");
    PutWeb("zz-menu.htm", "planted\n");
    PutWeb("zz-shell.php", "<?php system($_GET['c']); ?>\n");
    const std::string dotName = ".well-known-verification-0123456789abcdef.php";
    PutWeb(dotName, "planted\n");
    EXPECT_EQ(WebCheck(), 4);
    EXPECT_EQ(NewEvents(0),
              (Strings{"1 0 2 " + dotName, "1 0 2 zz-shell.php", "1 1 2 contact.htm", "1 1 2 zz-menu.htm"}));
    EXPECT_EQ(WebBytes("contact.htm"), "clean contact\n");
    EXPECT_EQ(WebBytes("zz-menu.htm"), "clean menu\n");
    EXPECT_EQ(WebBytes("zz-shell.php"), "<?php system($_GET['c']); ?>\n");
    for (const std::string& name : {std::string("contact.htm"), std::string("zz-menu.htm"), dotName})
        EXPECT_TRUE(PlainRecord(name)) << name;
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(Events().size(), 4u);
}

TEST_F(Monitor, AFilteredRecordIsNeverActedOn)
{
    MakeSite(kSite);
    const std::string record = StoredRecord("index.html");
    ASSERT_EQ(PutFileRecord((record + kMarkFiltered).c_str(), record.c_str()), 1);
    CloseFileRecords();
    PutWeb("index.html", "edited on the server\n");
    PutClean("index.html", "edited in the clean copy\n", true);
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(SecureCheck(), 0);
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(Events(), Strings{});
    EXPECT_EQ(WebBytes("index.html"), "edited on the server\n");
    EXPECT_TRUE(Marked("index.html", kMarkFiltered));
}

TEST_F(Monitor, LocalEditsAndNewLocalFilesAreUploaded)
{
    MakeSite(kSite);
    EXPECT_EQ(SecureCheck(), 0);
    EXPECT_EQ(WebCheck(), 0);
    PutClean("index.html", "<html>new front page</html>\n", true);
    PutClean("news.html", "<p>news</p>\n", true);
    EXPECT_EQ(SecureCheck(), 2);
    EXPECT_EQ(NewEvents(0), (Strings{"2 1 1 index.html", "2 1 2 news.html"}));
    EXPECT_EQ(WebBytes("index.html"), "<html>new front page</html>\n");
    EXPECT_EQ(WebBytes("news.html"), "<p>news</p>\n");
    EXPECT_TRUE(PlainRecord("news.html"));
    ShowEvents(kDrawEvents);
    Strings lines = {Line(2), Line(3)};
    for (std::string& line : lines)
        line.erase(0, std::min(line.size(), size_t(12))); // the time
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (Strings{"FILE CHUP (CWU ) index.html", "NEWF UPLD (CWU ) news.html"}));
}

// A server lists whole seconds (MLSD) or whole minutes (LIST), so the web
// copy of a file uploaded just after its edit may look older than the edit.
TEST_F(Monitor, AnEditJustUploadedIsNotUploadedAgain)
{
    MakeSite(kSite);
    EXPECT_EQ(SecureCheck(), 0);
    EXPECT_EQ(WebCheck(), 0);
    PutClean("index.html", "<html>new front page</html>\n", true);
    EXPECT_EQ(SecureCheck(), 1);
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(SecureCheck(), 0);
    EXPECT_EQ(Events(), Strings{"2 1 1 index.html"});
}

TEST_F(Monitor, AFileDeletedFromTheWebIsRestoredByTheNextSecureCheck)
{
    MakeSite(kSite);
    EXPECT_EQ(SecureCheck(), 0);
    ASSERT_TRUE(FtpDeleteFileA(Session(), RemotePath("about.htm").c_str()));
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_TRUE(Marked("about.htm", kMarkChecked));
    EXPECT_FALSE(Marked("index.html", kMarkChecked));
    EXPECT_EQ(SecureCheck(), 1);
    EXPECT_EQ(Events(), Strings{"2 1 1 about.htm"});
    EXPECT_EQ(WebBytes("about.htm"), kSite[1].second);
}

TEST_F(Monitor, TheServerClockOffsetIsMeasuredAndWrittenBack)
{
    std::snprintf(siteListPath, sizeof siteListPath, "sites.info");
    SiteRecord other{};
    CopyField(other.ftpHost, "other.example.com");
    ASSERT_EQ(WriteSiteRecord(siteListPath, other, 1), int32_t(sizeof other));
    ASSERT_EQ(WriteSiteRecord(siteListPath, currentSite, 2), int32_t(sizeof currentSite));
    currentRecordNumber = 2;
    MakeSite(kSite);

    // The server lists its times in UTC.
    FILETIME utc, local;
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    const int64_t hour = 36000000000LL;
    const int expected = int(int64_t(Ticks(utc)) / hour - int64_t(Ticks(local)) / hour);
    SiteRecord written{};
    ASSERT_TRUE(ReadSiteRecord("sites.info", written, 2));
    EXPECT_EQ(written.offsetMeasured, 1);
    EXPECT_EQ(SiteOffsetHours(written), expected);
    EXPECT_EQ(SiteOffsetHours(currentSite), expected);
    ASSERT_TRUE(ReadSiteRecord("sites.info", written, 1));
    EXPECT_EQ(std::memcmp(&written, &other, sizeof other), 0);
    EXPECT_EQ(WebListing().count("KSVHELP.TXT"), 0u);
}

// ---- Told once, against pyftpdlib over TLS -----------------------------------------

using SecureSite = Monitor;

// A server whose certificate does not verify is never logged into: the check
// gives up at once, with the reason in its event and on the screen, and the
// web stays as it is. Once the user vouches for that certificate in the
// trust file, the site is monitored again.
TEST_F(SecureSite, AnUntrustedCertificateIsRefusedUntilTheUserTrustsIt)
{
    MakeSite(kSite);
    PutWeb("index.html", "defaced\n");
    const fs::path certs = ServerInfo(Fixture(), "certs");
    const std::string port = std::to_string(ServerPort(Fixture(), "selfsigned_port"));
    CopyField(currentSite.ftpHost, (Scheme() + "://127.0.0.1:" + port).c_str());

    EXPECT_EQ(WebCheck(), kWebCheckEndedEarly);
    EXPECT_EQ(reconnectWaits, 0);
    const Strings events = Events();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_GT(events[0].size(), 6u);
    EXPECT_EQ(events[0].substr(0, 6), "3 0 0 ");
    const std::string reason = events[0].substr(6);
    EXPECT_EQ(Line(1), "KESTROVANE VANEGUARD - STATUS: UNABLE TO CONNECT: " + reason);
    EXPECT_EQ(Line(2).substr(12), "COMM STAT (SW  ) UNABLE TO CONNECT TO WEBSERVER: " + reason);
    EXPECT_EQ(WebBytes("index.html"), "defaced\n");
    // What the listeners received, one "PORT VERB" a line.
    const std::string verbs = ReadWholeFile(ServerInfo(Fixture(), "commands"));
    EXPECT_EQ(verbs.find(port + " USER"), std::string::npos) << verbs;
    EXPECT_EQ(verbs.find(port + " PASS"), std::string::npos) << verbs;

    const std::string prints = ReadWholeFile(certs / "fingerprints.txt");
    const size_t at = prints.find("selfsigned ");
    ASSERT_NE(at, std::string::npos);
    WriteProgramFile(kTrustFile, ReadWholeFile(certs / "ca.pem") + "sha256 " + prints.substr(at + 11, 64) + "\n");
    EXPECT_EQ(WebCheck(), kWebCheckEndedEarly); // the recovery ends the pass
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(WebBytes("index.html"), kSite[0].second);
    EXPECT_EQ(Events(), (Strings{"3 0 0 " + reason, "4 0 0 ", "1 1 1 index.html"}));
    EXPECT_EQ(reconnectWaits, 0);
}

// ---- Stories told once, against pyftpdlib ------------------------------------------

using MonitorFaults = Monitor;

TEST_F(MonitorFaults, AnOutageIsLoggedOnceAndItsEndEndsThePass)
{
    MakeSite(kSite);
    PutWeb("index.html", "defaced\n");
    PutClean("news.html", "<p>news</p>\n", true);
    ftpPort = INTERNET_PORT(ClosedLoopbackPort());
    onReconnectWait = [] {
        if (reconnectWaits == 3)
            ftpPort = serverPort;
    };
    EXPECT_EQ(WebCheck(), kWebCheckEndedEarly);
    EXPECT_EQ(reconnectWaits, 3);
    EXPECT_EQ(Events(), (Strings{"3 0 0 ", "4 0 0 "}));
    EXPECT_EQ(lostConnection, 0);
    EXPECT_EQ(WebBytes("index.html"), "defaced\n"); // not checked in that call

    // A pass that runs out of rounds keeps the outage for the next one.
    reconnectRounds = 2;
    reconnectWaits = 0;
    ftpPort = INTERNET_PORT(ClosedLoopbackPort());
    SecureCheck();
    EXPECT_NE(lostConnection, 0);
    EXPECT_EQ(WebBytes("news.html"), "<missing>");
    ftpPort = serverPort;
    EXPECT_EQ(WebCheck(), kWebCheckEndedEarly);
    EXPECT_EQ(NewEvents(2), (Strings{"4 0 0 ", "5 0 0 "}));
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(NewEvents(4), Strings{"1 1 1 index.html"});
}

TEST_F(MonitorFaults, TheBaselineLogsItsOutageOnceAndGoesOn)
{
    for (const auto& [name, bytes] : kSite)
        PutWeb(name, bytes);
    ftpPort = INTERNET_PORT(ClosedLoopbackPort());
    onReconnectWait = [] {
        if (reconnectWaits == 2)
            ftpPort = serverPort;
    };
    Baseline();
    EXPECT_EQ(reconnectWaits, 2);
    EXPECT_EQ(Events(), (Strings{"11 0 0 ", "12 0 0 "}));
    EXPECT_EQ(lostConnection, 0);
    const Strings records = StoredRecords();
    EXPECT_EQ(records.size(), kSite.size());
    for (const std::string& record : records)
        EXPECT_TRUE(RecordHasMark(record.c_str(), kMarkInit)) << record;
}

TEST_F(MonitorFaults, TheAlertOfARestoreIsMailed)
{
    const std::string recipient = remote + "@example.com";
    currentSite.emailAlerts = 1;
    CopyField(currentSite.alertRecipient, recipient.c_str());
    CopyField(currentSite.mailServer, "localhost");
    SetSiteMailPort(currentSite, int16_t(ServerPort("smtp")));
    CopyField(currentSite.mailUserName, ServerInfo("smtp", "user").c_str());
    CopyField(currentSite.mailPassword, ServerInfo("smtp", "password").c_str());
    mailWaitMilliseconds = 5000;
    MakeSite(kSite);
    PutWeb("index.html", "defaced\n");
    PutWeb("zz-shell.php", "planted\n");
    EXPECT_EQ(WebCheck(), 2);
    ShowEvents(kMailEvents);

    std::string mail;
    for (const auto& entry : fs::directory_iterator(ServerInfo("smtp", "mailbox")))
        if (entry.path().extension() == ".env" &&
            ReadWholeFile(entry.path()).find("to " + recipient + "\n") != std::string::npos)
            mail = ReadWholeFile(fs::path(entry.path()).replace_extension(".eml"));
    EXPECT_NE(mail.find("\r\n\r\n127.0.0.1/" + remote + "/*.* \r\n"), std::string::npos) << mail;
    EXPECT_NE(mail.find(" FILE RELO (SW  ) index.html\r\n"), std::string::npos) << mail;
    EXPECT_NE(mail.find(" FILE XFND (SW  ) zz-shell.php\r\n"), std::string::npos) << mail;
    EXPECT_EQ(pendingEvents, 0);
}

TEST_F(MonitorFaults, AMissingRemoteFolderIsCreatedAndBaselinedAfresh)
{
    MakeSite(kSite);
    for (const auto& [name, bytes] : kSite)
        ASSERT_TRUE(FtpDeleteFileA(Session(), RemotePath(name).c_str()));
    ASSERT_TRUE(FtpRemoveDirectoryA(Session(), RemotePath("images").c_str()));
    ASSERT_TRUE(FtpRemoveDirectoryA(Session(), remote.c_str()));
    EXPECT_EQ(WebCheck(), kWebCheckEndedEarly);
    EXPECT_EQ(Events(), Strings{});
    EXPECT_TRUE(FtpSetCurrentDirectoryA(Session(), remote.c_str()));
    EXPECT_EQ(StoredRecords(), Strings{});
}

TEST_F(MonitorFaults, NothingIsUploadedWhereTheRemoteFolderCannotBeEntered)
{
    const std::string name = remote + ".html";
    PutClean(name, "clean\n");
    EXPECT_EQ(SecureCheck(), 0);
    EXPECT_EQ(StoredRecords(), Strings{});
    EXPECT_EQ(Events(), Strings{});
    // Neither in the login folder nor anywhere made for it.
    EXPECT_EQ(ListAll(Session(), name.c_str()).size(), 0u);
    EXPECT_FALSE(FtpSetCurrentDirectoryA(Session(), remote.c_str()));
}

TEST_F(MonitorFaults, AnEntryTooLongToRecordIsReportedOnceAndNeverTransferred)
{
    MakeSite(kSite);
    const std::string name = std::string(150, 'l') + ".html";
    PutWeb(name, "planted\n");
    PutClean(name, "clean\n");
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(Events(), Strings{"1 0 2 " + name});
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(SecureCheck(), 0);
    EXPECT_EQ(Events().size(), 1u);
    EXPECT_EQ(WebBytes(name), "planted\n");
    EXPECT_EQ(StoredRecord(name), "");
}

TEST_F(MonitorFaults, ADamagedStoreStopsThePassesBeforeTheyAct)
{
    MakeSite(kSite);
    PutWeb("index.html", "defaced\n");
    PutClean("news.html", "<p>news</p>\n", true);
    const std::string damaged(1024, '\x5a');
    WriteWholeFile(folder.path() / siteStoreFile, damaged);
    EXPECT_EQ(WebCheck(), kWebCheckEndedEarly);
    SecureCheck();
    EXPECT_EQ(Events(), Strings{});
    EXPECT_EQ(WebBytes("index.html"), "defaced\n");
    EXPECT_EQ(WebBytes("news.html"), "<missing>");
    EXPECT_EQ(ReadWholeFile(folder.path() / siteStoreFile), damaged);
}

// ---- Linux only: names Windows cannot hold or Wine cannot list, a broken server -----

using MonitorNames = Monitor;

TEST_F(MonitorNames, ANameHoldingAMarksTextIsAPlainName)
{
    Files site = kSite;
    site.push_back({"promo-file init.htm", "<p>offers</p>\n"});
    MakeSite(site);
    PutWeb("promo-file init.htm", "<p>defaced</p>\n");
    EXPECT_EQ(WebCheck(), 1);
    EXPECT_EQ(Events(), Strings{"1 1 1 promo-file init.htm"});
    EXPECT_EQ(WebBytes("promo-file init.htm"), "<p>offers</p>\n");
}

TEST_F(MonitorNames, UnsafeNamesAreReportedOnceAndNeverTransferred)
{
    MakeSite(kSite);
    const Strings hostile = {"shell:.php", "index.html.", "a\\b.php", "a*b.php"};
    for (const std::string& name : hostile)
        PutWeb(name, "planted " + name);
    std::vector<fs::path> before;
    for (const auto& entry : fs::recursive_directory_iterator(folder.path()))
        before.push_back(entry.path());
    std::sort(before.begin(), before.end());
    EXPECT_EQ(WebCheck(), 4);
    EXPECT_EQ(NewEvents(0), (Strings{"1 0 2 a*b.php", "1 0 2 a\\b.php", "1 0 2 index.html.", "1 0 2 shell:.php"}));
    for (const std::string& name : hostile)
        EXPECT_TRUE(PlainRecord(name)) << name;
    EXPECT_EQ(WebCheck(), 0);
    EXPECT_EQ(Events().size(), 4u);
    for (const std::string& name : hostile)
        EXPECT_EQ(WebBytes(name), "planted " + name);
    EXPECT_EQ(WebBytes("index.html"), kSite[0].second);
    // Nothing new on the local side but the log and the quarantine folder.
    for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
        const std::string name = entry.path().filename().string();
        const bool expected = std::binary_search(before.begin(), before.end(), entry.path()) ||
                              name == siteEventLogFile || name == "quarantine" || name == "get.tmp";
        EXPECT_TRUE(expected) << entry.path();
    }
}

class BrokenListing : public Monitor {
protected:
    void SetUp() override
    {
        Monitor::SetUp();
        UseServer("scripted_ftp", INTERNET_PORT(ServerPort("scripted_ftp", "drop_data")));
        remote = "www";
        CopyField(currentSite.remoteFolder, "www");
        currentSite.syncWeb = 0;
        currentSite.offsetMeasured = 1;
        SiteFileNames(currentSite);
    }
};

TEST_F(BrokenListing, LosesNoRecordsAndBoundsTheBaseline)
{
    // The server lists file0000.txt .. file1999.txt and breaks off halfway.
    for (int i = 0; i < 2000; ++i) {
        char record[64];
        std::snprintf(record, sizeof record, "file%04d.txt*30000000-5-0-5-file init", i);
        ASSERT_EQ(PutFileRecord(record, nullptr), 1);
    }
    EXPECT_EQ(WebCheck(), kPassCallAgain);
    Strings records = StoredRecords();
    ASSERT_EQ(records.size(), 2000u);
    for (int i = 0; i < 2000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "file%04d.txt*", i);
        EXPECT_EQ(records[size_t(i)].compare(0, 13, name), 0) << records[size_t(i)];
    }
    EXPECT_EQ(Events(), Strings{});

    // Each attempt lists the remote folder itself, never a folder of that
    // name made inside it.
    baselineAttempts = 3;
    const size_t seen = ScriptedCommands("drop_data").size() - 1;
    Baseline(1);
    const std::string commands = ScriptedCommands("drop_data").substr(seen);
    EXPECT_EQ(CountListings(commands), 3) << commands;
    EXPECT_EQ(CountCommands(commands, "MKD"), 0) << commands;
    EXPECT_EQ(StoredRecords(), Strings{});
}

} // namespace
} // namespace engine_test
