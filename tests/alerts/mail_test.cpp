// The alert mail against real servers: aiosmtpd with AUTH LOGIN (in clear,
// after STARTTLS and on implicit TLS), and our scripted server for the
// replies a real one cannot be made to give.
#include "alerts_fixture.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "alerts/mail_connection.h"
#include "alerts/show_events.h"
#include "alerts/smtp_client.h"
#include "sites/data_files.h"
#include "sites/site_list.h"
#include "support/server_info.h"

namespace alerts_test {
namespace {

namespace fs = std::filesystem;
using tessil_test::hostLog;

constexpr const char* kMessage = "\\kestrovane\\message.txt";
constexpr const char* kTlsMemory = "\\kestrovane\\mailtls.txt";

void WriteProgramFile(const char* path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
}

class MailTest : public AlertsTest {
protected:
    void SetUp() override
    {
        AlertsTest::SetUp();
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
        currentSite.emailAlerts = 1;
        CopyField(currentSite.remoteFolder, "public_html");
        mailWaitMilliseconds = 5000;
        DeleteFileA(kTrustFile);
        DeleteFileA(kTlsMemory);
    }
    void TearDown() override
    {
        DeleteFileA(kTrustFile);
        DeleteFileA(kTlsMemory);
        mailWaitMilliseconds = 30000;
        mailAttemptMilliseconds = 120000;
        mailMinimumBytesPerSecond = 16384;
        WSACleanup();
        AlertsTest::TearDown();
    }

    void UseRealServer(const char* password = nullptr)
    {
        CopyField(currentSite.mailServer, "localhost");
        SetSiteMailPort(currentSite, int16_t(ServerPort("smtp")));
        CopyField(currentSite.mailUserName, ServerInfo("smtp", "user").c_str());
        CopyField(currentSite.mailPassword, password ? password : ServerInfo("smtp", "password").c_str());
    }
    void UseScenario(const char* scenario)
    {
        scenario_ = scenario;
        CopyField(currentSite.mailServer, "127.0.0.1");
        SetSiteMailPort(currentSite, int16_t(ServerPort("scripted_smtp", scenario)));
        CopyField(currentSite.mailUserName, "u");
        CopyField(currentSite.mailPassword, "p");
        transcripts_ = Transcripts();
    }

    // The trust file holds the certificate authority of `fixture`'s server.
    static void TrustAuthorityOf(const char* fixture, const std::string& more = "")
    {
        WriteProgramFile(kTrustFile, "# the test authority\n" +
                                         ReadWholeFile(fs::path(ServerInfo(fixture, "ca")) / "ca.pem") + more);
    }
    // test_ca.py's SHA-256 fingerprint of a certificate of `fixture`'s authority.
    static std::string Fingerprint(const char* fixture, const std::string& name)
    {
        std::string prints = ReadWholeFile(fs::path(ServerInfo(fixture, "ca")) / "fingerprints.txt");
        size_t at = prints.find(name + " ");
        return at == std::string::npos ? "" : prints.substr(at + name.size() + 1, 64);
    }

    // The mail the real server saved for `recipient`; empty when none.
    std::string MailTo(const std::string& recipient) const
    {
        std::string found;
        for (const auto& entry : fs::directory_iterator(ServerInfo("smtp", "mailbox"))) {
            if (entry.path().extension() != ".env")
                continue;
            if (ReadWholeFile(entry.path()).find("to " + recipient + "\n") == std::string::npos)
                continue;
            EXPECT_TRUE(found.empty()) << "two mails to " << recipient;
            fs::path eml = entry.path();
            found = ReadWholeFile(eml.replace_extension(".eml"));
        }
        return found;
    }

    int Transcripts() const
    {
        int n = 0;
        for (const auto& entry : fs::directory_iterator(ServerInfo("scripted_smtp", "transcripts")))
            n += entry.path().filename().string().rfind(scenario_ + "-", 0) == 0 &&
                 entry.path().extension() == ".log";
        return n;
    }
    // What the client sent on its connection to the scenario.
    std::string Transcript() const
    {
        fs::path file = fs::path(ServerInfo("scripted_smtp", "transcripts")) /
                        (scenario_ + "-" + std::to_string(transcripts_ + 1) + ".log");
        for (int i = 0; i < 100 && !fs::exists(file); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(fs::exists(file)) << file.string();
        return ReadWholeFile(file);
    }

private:
    std::string scenario_;
    int transcripts_ = 0;
};

TEST_F(MailTest, AnAlertReachesTheServerNewestFirst)
{
    UseRealServer();
    CopyField(currentSite.alertRecipient, "three@example.com");
    Log(15, "", 0, 0, 0, 3, 7, 9, 1);
    Log(1, "index.html", 0x20, 1, 0, 3, 7, 9, 2);
    Log(1, "shell.php", 0x20, 0, 0, 3, 7, 9, 3);
    ShowEvents(kMailEvents);

    EXPECT_EQ(MailTo("three@example.com"),
              "From: alerts@kestrovane.com \r\n"
              "To: three@example.com \r\n"
              "Subject: Kestrovane Alert \r\n"
              "\r\n"
              "ftp.example.com/public_html/*.* \r\n"
              "03-07 09:03 FILE XFND (SW  ) shell.php\r\n"
              "03-07 09:02 FILE RELO (SW  ) index.html\r\n"
              "03-07 09:01 COMM STAT (OPEN) UNABLE TO CONNECT TO INTERNET\r\n"
              "\r\n"
              "This Email was generated by Kestrovane \r\n"
              "\r\n");
    EXPECT_FALSE(ProgramFileExists(kMessage));
    EXPECT_EQ(pendingEvents, 0);
    EXPECT_EQ(alertedEvents, 3);
    EXPECT_EQ(hostLog.waitedTicks, 1); // only the second before sending
    EXPECT_EQ(Line(2), "03-07 09:03 FILE XFND (SW  ) shell.php");
}

TEST_F(MailTest, AWrongPasswordSendsNothing)
{
    UseRealServer("not-the-password");
    WriteWholeFile(folder.path() / "empty.txt", "");
    EXPECT_EQ(SendAlertMail("wrong@example.com", "empty.txt"), 0);
    EXPECT_EQ(Line(27), "Returning to Calling Code - 0");
    EXPECT_EQ(MailTo("wrong@example.com"), "");
}

TEST_F(MailTest, AnEmptyMessageStillCarriesTheFrame)
{
    UseRealServer();
    CopyField(currentSite.remoteFolder, "");
    WriteWholeFile(folder.path() / "empty.txt", "");
    EXPECT_EQ(SendAlertMail("empty@example.com", "empty.txt"), 1);
    EXPECT_EQ(Line(27), "Returning to Calling Code - 1");
    std::string mail = MailTo("empty@example.com");
    EXPECT_NE(mail.find("\r\n\r\nftp.example.com/*.* \r\n\r\nThis Email was generated by Kestrovane \r\n"),
              std::string::npos)
        << mail;
}

// A file name from a web server is data: it cannot end the message, start a
// command or add a header, neither through the event line nor through a
// message file that holds it raw.
TEST_F(MailTest, AHostileFileNameStaysInsideItsLine)
{
    UseRealServer();
    CopyField(currentSite.alertRecipient, "owner@example.com");
    const char* hostile = "x\r\n.\r\nMAIL FROM:<evil@example.com>\r\nRCPT TO:<victim@example.com>\r\nDATA\r\n"
                          "Subject: forged\r\n";
    Log(9, hostile);
    ShowEvents(kMailEvents);
    std::string mail = MailTo("owner@example.com");
    EXPECT_NE(mail.find("FILE DEL  (STAT) x??.??MAIL FROM:<evil@example.com>??RCPT TO:"), std::string::npos)
        << mail;
    EXPECT_EQ(MailTo("victim@example.com"), "");

    WriteWholeFile(folder.path() / "raw.txt", std::string(".\n..\nline\rwith CR\n") + hostile);
    EXPECT_EQ(SendAlertMail("raw@example.com", "raw.txt"), 1);
    mail = MailTo("raw@example.com");
    // Dot-unstuffed by the server: the lines arrive as written, CR made harmless.
    EXPECT_NE(mail.find("\r\n.\r\n..\r\nline?with CR\r\nx\r\n.\r\nMAIL FROM:<evil@example.com>\r\n"),
              std::string::npos)
        << mail;
    EXPECT_EQ(MailTo("victim@example.com"), "");
}

TEST_F(MailTest, LongLinesArriveWhole)
{
    UseRealServer();
    std::string lines;
    for (int i = 0; i < 80; ++i)
        lines += "03-07 09:05 FILE DEL  (STAT) " + std::string(250, char('a' + i % 26)) + "\n";
    WriteWholeFile(folder.path() / "long.txt", lines);
    EXPECT_EQ(SendAlertMail("long@example.com", "long.txt"), 1);
    std::string mail = MailTo("long@example.com");
    EXPECT_NE(mail.find("(STAT) " + std::string(250, 'z') + "\r\n"), std::string::npos);
}

TEST_F(MailTest, AGreetingOf554IsFinalAndNothingIsSent)
{
    UseScenario("greet554");
    EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 2);
    EXPECT_EQ(Line(27), "Unable to Write to Mail Server - Error 554");
    EXPECT_EQ(hostLog.waitedTicks, 5);
    EXPECT_EQ(Transcript(), "");
}

TEST_F(MailTest, ARefusedRecipientQuitsWithoutData)
{
    UseScenario("rcpt550");
    EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 0);
    std::string sent = Transcript();
    EXPECT_NE(sent.find("RCPT TO:<owner@example.com>\r\n"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("DATA"), std::string::npos) << sent;
    EXPECT_NE(sent.find("QUIT\r\n"), std::string::npos) << sent;
}

TEST_F(MailTest, ASilentServerCostsOneWait)
{
    UseScenario("silent");
    mailWaitMilliseconds = 1500;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 0);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 1.3);
    EXPECT_LT(seconds, 4.0);
}

// Replies torn over many reads, or joined with the next one in one write
// (the bytes after a reply wait for the next read).
TEST_F(MailTest, RepliesSplitOrJoinedKeepTheDialogueInStep)
{
    WriteWholeFile(folder.path() / "one.txt", "03-07 09:05 FILE DEL  (STAT) a\n");
    for (const char* scenario : {"split", "pipelined"}) {
        SCOPED_TRACE(scenario);
        UseScenario(scenario);
        EXPECT_EQ(SendAlertMail("owner@example.com", "one.txt"), 1);
        std::string sent = Transcript();
        EXPECT_NE(sent.find("EHLO kestrovane.com\r\nAUTH LOGIN\r\ndQ==\r\ncA==\r\nMAIL FROM:<alerts@kestrovane.com>\r\n"
                            "RCPT TO:<owner@example.com>\r\nDATA\r\n"),
                  std::string::npos)
            << sent;
        EXPECT_NE(sent.find("03-07 09:05 FILE DEL  (STAT) a\r\n\r\nThis Email was generated by Kestrovane \r\n"
                            "\r\n.\r\nQUIT\r\n"),
                  std::string::npos)
            << sent;
    }
}

TEST_F(MailTest, AServerWithoutEhloIsGreetedWithHelo)
{
    UseScenario("helo_only");
    EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 1);
    std::string sent = Transcript();
    EXPECT_EQ(sent.rfind("EHLO kestrovane.com\r\nHELO kestrovane.com\r\nAUTH LOGIN\r\n", 0), 0u) << sent;
}

// An 8 MB alert to a server that stops reading after DATA: the blocked send
// ends the attempt after one wait, or at the attempt's end when that comes
// first.
TEST_F(MailTest, AServerThatStopsReadingCostsOneBoundedWait)
{
    std::string lines;
    for (int i = 0; i < 100000; ++i)
        lines += "03-07 09:05 FILE DEL  (STAT) " + std::string(50, char('a' + i % 26)) + "\n";
    WriteWholeFile(folder.path() / "big.txt", lines);
    struct Bound {
        int waitMs, attemptMs, bytesPerSecond;
    };
    for (Bound bound : {Bound{1000, 120000, 16384}, Bound{5000, 1000, 1 << 30}}) {
        SCOPED_TRACE(bound.waitMs);
        UseScenario("stall_after_data");
        mailWaitMilliseconds = bound.waitMs;
        mailAttemptMilliseconds = bound.attemptMs;
        mailMinimumBytesPerSecond = bound.bytesPerSecond;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(SendAlertMail("owner@example.com", "big.txt"), 0);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(seconds, 0.8);
        EXPECT_LT(seconds, 3.5);
        EXPECT_EQ(Line(27), "Returning to Calling Code - 0");
    }
}

// An address that could leave "RCPT TO:<...>" or the "To:" header is refused
// before any connection; the first connection afterwards is the good one.
// The site's field need not end in NUL: its 80 bytes are the address.
TEST_F(MailTest, AnAddressThatCouldBreakOutIsRefusedBeforeAnythingIsSent)
{
    UseScenario("accept");
    for (const char* address : {"", "owner@example.com>\r\nRCPT TO:<victim@example.com", "<owner@example.com",
                                "owner>@example.com", "two words@example.com", "tab\t@example.com",
                                "del\x7f@example.com", "\xc3\xa9t\xc3\xa9@example.com"}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(SendAlertMail(address, kMessage), 0);
        EXPECT_EQ(Line(27), "Invalid Recipient Address - Nothing Sent");
    }
    std::string full = std::string(68, 'a') + "@example.com";
    auto field = std::make_unique<char[]>(full.size());
    std::memcpy(field.get(), full.data(), full.size());
    EXPECT_EQ(SendAlertMail(field.get(), kMessage), 1);
    std::string sent = Transcript();
    EXPECT_NE(sent.find("RCPT TO:<" + full + ">\r\nDATA\r\n"), std::string::npos) << sent;
}

TEST_F(MailTest, AServerThatHangsUpGivesZero)
{
    UseScenario("close_after_greeting");
    EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 0);
    EXPECT_EQ(Line(27), "Returning to Calling Code - 0");
}

// aiosmtpd with STARTTLS takes AUTH only inside TLS, so a delivered message
// proves the login was encrypted; the server is remembered as one that
// offers it, in a full memory in place of its oldest line (an overlong line
// is not kept). Implicit TLS is asked for by the text; a refused login there
// still sends nothing.
TEST_F(MailTest, TlsToARealServerDelivers)
{
    TrustAuthorityOf("smtp");
    std::string remembered;
    for (int i = 1; i <= 64; ++i)
        remembered += "old" + std::to_string(i) + ".example 25\r\n";
    WriteProgramFile(kTlsMemory, std::string(200, 'x') + "\n" + remembered);
    std::string starttls = std::to_string(ServerPort("smtp", "starttls_port"));
    std::string implicit = "smtps://127.0.0.1:" + std::to_string(ServerPort("smtp", "implicit_port"));
    struct Case {
        std::string server;
        int portField;
        const char* password;
        uint8_t result;
        const char* recipient;
    };
    for (const Case& t : {Case{"localhost", std::stoi(starttls), nullptr, 1, "starttls@example.com"},
                          Case{implicit, 25, nullptr, 1, "implicit@example.com"},
                          Case{implicit, 25, "not-the-password", 0, "refused@example.com"}}) {
        SCOPED_TRACE(t.server);
        UseRealServer(t.password);
        CopyField(currentSite.mailServer, t.server.c_str());
        SetSiteMailPort(currentSite, int16_t(t.portField));
        WriteWholeFile(folder.path() / "one.txt", "03-07 09:05 FILE DEL  (STAT) a\n");
        EXPECT_EQ(SendAlertMail(t.recipient, "one.txt"), t.result);
        std::string mail = MailTo(t.recipient);
        EXPECT_EQ(mail.find("(STAT) a\r\n") != std::string::npos, t.result == 1) << mail;
    }
    EXPECT_EQ(ReadProgramFile(kTlsMemory),
              remembered.substr(remembered.find('\n') + 1) + "localhost " + starttls + "\r\n");
}

// A certificate that does not verify ends the attempt in the handshake: the
// login never leaves in clear, and the status says why. The self-signed one
// is accepted once its fingerprint is in the trust file.
TEST_F(MailTest, TlsCertificateThatDoesNotVerifyStopsBeforeTheLogin)
{
    TrustAuthorityOf("scripted_smtp");
    struct Case {
        const char* scenario;
        const char* status;
    };
    for (Case t : {Case{"starttls_expired", "Mail Server Certificate Expired - Nothing Sent"},
                   Case{"starttls_wrongname", "Mail Server Certificate for Another Name - Nothing Sent"},
                   Case{"starttls_selfsigned", "Mail Server Certificate Not Trusted - Nothing Sent"}}) {
        SCOPED_TRACE(t.scenario);
        UseScenario(t.scenario);
        EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 0);
        EXPECT_EQ(Line(27), t.status);
        EXPECT_EQ(Transcript(), "EHLO kestrovane.com\r\nSTARTTLS\r\n<TLS>");
    }

    TrustAuthorityOf("scripted_smtp", "sha256 " + Fingerprint("scripted_smtp", "selfsigned") + "\n");
    UseScenario("starttls_selfsigned");
    EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 1);
    std::string sent = Transcript();
    EXPECT_EQ(sent.rfind("EHLO kestrovane.com\r\nSTARTTLS\r\n<TLS>EHLO kestrovane.com\r\nAUTH LOGIN\r\ndQ==\r\n"
                         "cA==\r\nMAIL FROM:",
                         0),
              0u)
        << sent;
}

// Once a server has offered STARTTLS, no login goes in clear: not when it
// refuses TLS, nor when a later EHLO lacks it (stripped on the way). A
// forged reply sent in clear behind the 220 is never read as one given
// inside TLS: the dialogue stays in step.
TEST_F(MailTest, TlsRefusedStrippedOrInjectedSendsNoLoginInClear)
{
    TrustAuthorityOf("scripted_smtp");
    UseScenario("starttls_454");
    EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 0);
    EXPECT_EQ(Line(27), "Mail Server Refused STARTTLS - Nothing Sent");
    EXPECT_EQ(Transcript(), "EHLO kestrovane.com\r\nSTARTTLS\r\nQUIT\r\n");

    UseScenario("downgrade");
    EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 1);
    EXPECT_NE(Transcript().find("<TLS>EHLO kestrovane.com\r\nAUTH LOGIN\r\n"), std::string::npos);
    UseScenario("downgrade");
    EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 0);
    EXPECT_EQ(Line(27), "Mail Server Dropped STARTTLS - Nothing Sent");
    EXPECT_EQ(Transcript(), "EHLO kestrovane.com\r\nQUIT\r\n");

    UseScenario("starttls_inject");
    EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 1);
    std::string sent = Transcript();
    EXPECT_NE(sent.find("<TLS>EHLO kestrovane.com\r\nAUTH LOGIN\r\ndQ==\r\ncA==\r\nMAIL FROM:"), std::string::npos)
        << sent;
}

// The server text's forms: "smtp://" and "smtps://" with an optional port
// (else the port field's); anything odd is refused before any connection.
TEST_F(MailTest, TheMailServerTextIsReadStrictly)
{
    for (const char* text : {"smtps://", "smtp://127.0.0.1:", "smtp://127.0.0.1:0", "smtp://127.0.0.1:65536",
                             "smtp://127.0.0.1:000025", "smtp://127.0.0.1:2a", "smtp://user@127.0.0.1",
                             "smtp://127.0.0.1/", "smtp://[::1]:25", "http://127.0.0.1"}) {
        SCOPED_TRACE(text);
        CopyField(currentSite.mailServer, text);
        EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 0);
        EXPECT_EQ(Line(27), "Invalid Mail Server - Nothing Sent");
    }
    UseScenario("accept");
    const int16_t port = SiteMailPort(currentSite);
    struct Case {
        std::string text;
        int16_t portField;
    };
    for (const Case& t : {Case{"SMTP://127.0.0.1", port}, Case{"smtp://127.0.0.1:" + std::to_string(uint16_t(port)), 25}}) {
        SCOPED_TRACE(t.text);
        CopyField(currentSite.mailServer, t.text.c_str());
        SetSiteMailPort(currentSite, t.portField);
        EXPECT_EQ(SendAlertMail("owner@example.com", kMessage), 1);
    }
}

} // namespace
} // namespace alerts_test
