// The FTP connection and the outage probe, against a real FTP server and a
// local web page that stands for "the internet"; a closed port of this
// machine stands for a dead server or a dead line. What the probe learns is
// told to a listener; the program's own (app/) is tested with the driver.
#include "alerts_fixture.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "sites/site_list.h"
#include "net/connection.h"
#include "net/timed_transfers.h"
#include "support/server_info.h"
#include "tessil/input.h"
#include "tessil/prompts.h"

namespace net_test {
namespace {

namespace fs = std::filesystem;
using alerts_test::AlertsTest;
using tessil_test::hostLog;

std::string Url(int port, const char* path)
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

class ConnectionTest : public AlertsTest {
protected:
    void SetUp() override
    {
        AlertsTest::SetUp();
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
        lostConnection = 0;
        connectionFailed = 0;
        pauses = 0;
        liveProbe = Url(ServerPort("http"), "/empty");
        deadProbe = Url(ClosedLoopbackPort(), "/");
        SetProbe(liveProbe);
        tessil::screenHost.pause = [](int) { ++pauses; if (onPause) onPause(); };
        onPause = nullptr;
        CopyField(connectionHost, "127.0.0.1");
        CopyField(connectionUser, ServerInfo("ftp", "user").c_str());
        CopyField(connectionPassword, ServerInfo("ftp", "password").c_str());
        ftpPort = INTERNET_PORT(ServerPort("ftp"));
        news.clear();
        internetListener = [](InternetNews told) { news.push_back(told); };
    }
    void TearDown() override
    {
        ConnectSite(kCloseConnection);
        ftpPort = INTERNET_DEFAULT_FTP_PORT;
        onPause = nullptr;
        internetListener = nullptr;
        WSACleanup();
        AlertsTest::TearDown();
    }
    static void SetProbe(const std::string& url) { std::snprintf(probeUrl, sizeof probeUrl, "%s", url.c_str()); }
    void RefuseFtp() { ftpPort = INTERNET_PORT(ClosedLoopbackPort()); }

    static int pauses;
    static std::vector<InternetNews> news; // told to the listener, oldest first
    static void (*onPause)();
    static std::string liveProbe, deadProbe;
};
int ConnectionTest::pauses;
std::vector<InternetNews> ConnectionTest::news;
void (*ConnectionTest::onPause)();
std::string ConnectionTest::liveProbe, ConnectionTest::deadProbe;

TEST_F(ConnectionTest, CloseOnlyWithoutAConnection)
{
    EXPECT_EQ(ConnectSite(kCloseConnection), 1);
    EXPECT_EQ(ftpConnection, nullptr);
    EXPECT_TRUE(news.empty());
}

TEST_F(ConnectionTest, AGoodServerConnectsAtOnce)
{
    connectionFailed = 1;
    SetProbe(deadProbe); // never asked
    ASSERT_EQ(ConnectSite(kOpenConnection), 1);
    EXPECT_NE(ftpConnection, nullptr);
    EXPECT_EQ(connectionFailed, 0);
    EXPECT_EQ(pauses, 0);
    EXPECT_TRUE(news.empty());
    char folderName[MAX_PATH];
    DWORD length = sizeof folderName;
    EXPECT_TRUE(FtpGetCurrentDirectoryA(ftpConnection, folderName, &length));
    EXPECT_STREQ(folderName, "/");
    // Connecting again closes the first connection.
    ASSERT_EQ(ConnectSite(kOpenConnection), 1);
    EXPECT_EQ(ConnectSite(kCloseConnection), 1);
    EXPECT_EQ(ftpConnection, nullptr);
}

// A port written in the host text wins over the default port.
TEST_F(ConnectionTest, AHostWithItsPortConnectsThere)
{
    const std::string host = "127.0.0.1:" + std::to_string(ftpPort);
    CopyField(connectionHost, host.c_str());
    RefuseFtp();
    ASSERT_EQ(ConnectSite(kOpenConnection), 1);
    EXPECT_EQ(pauses, 0);
}

TEST(HostPort, TheHostTextNamesAServerAndItsPort)
{
    const struct {
        const char* text;
        bool ok;
        const char* host;
        INTERNET_PORT port;
    } cases[] = {
        {"ftp.example.com", true, "ftp.example.com", 21},
        {"ftp.example.com:2121", true, "ftp.example.com", 2121},
        {"10.0.0.5:65535", true, "10.0.0.5", 65535},
        {"[::1]:2121", true, "::1", 2121},
        {"[::1]", true, "::1", 21},
        {"::1", true, "::1", 21},
        {"fe80::1:21", true, "fe80::1:21", 21}, // bare IPv6: every ":" is the address's
        {"", false, "", 21},
        {":2121", false, "", 21},
        {"ftp.example.com:", false, "", 21},
        {"ftp.example.com:0", false, "", 21},
        {"ftp.example.com:65536", false, "", 21},
        {"ftp.example.com:21x", false, "", 21},
        {"ftp.example.com:-21", false, "", 21},
        {"ftp.example.com:000021", false, "", 21},
        {"[::1", false, "", 21},
        {"[::1]x", false, "", 21},
        {"[::1]:", false, "", 21},
        {"[]:21", false, "", 21},
    };
    for (const auto& k : cases) {
        std::string host;
        INTERNET_PORT port = 0;
        EXPECT_EQ(SplitHostPort(k.text, host, port, 21), k.ok) << k.text;
        if (k.ok) {
            EXPECT_EQ(host, k.host) << k.text;
            EXPECT_EQ(port, k.port) << k.text;
        }
    }
}

TEST(HostPort, TheSchemeChoosesTheTransportAndItsPort)
{
    const DWORD kExplicit = INTERNET_FLAG_SECURE;
    const DWORD kImplicit = INTERNET_FLAG_SECURE | PLATFORM_FLAG_IMPLICIT_TLS;
    const struct {
        const char* text;
        bool ok;
        const char* host;
        INTERNET_PORT port;
        DWORD flags;
    } cases[] = {
        {"ftp.example.com", true, "ftp.example.com", 2121, 0},
        {"user@ftp.example.com/", true, "user@ftp.example.com/", 2121, 0}, // no scheme: as SplitHostPort
        {"ftp://ftp.example.com", true, "ftp.example.com", 2121, 0},
        {"ftpes://ftp.example.com", true, "ftp.example.com", 2121, kExplicit},
        {"FTPES://ftp.example.com:21/", true, "ftp.example.com", 21, kExplicit},
        {"ftps://ftp.example.com", true, "ftp.example.com", 990, kImplicit},
        {"Ftps://[::1]:2990", true, "::1", 2990, kImplicit},
        {"ftps://10.0.0.5/", true, "10.0.0.5", 990, kImplicit},
        {"ftpes://", false, "", 2121, 0},
        {"ftpes://ftp.example.com//", false, "", 2121, 0},
        {"ftpes://ftp.example.com/public_html", false, "", 2121, 0},
        {"ftpes://user@ftp.example.com", false, "", 2121, 0},
        {"ftpes://ftp.example.com:0", false, "", 2121, 0},
        {"sftp://ftp.example.com", false, "", 2121, 0},
        {"https://ftp.example.com", false, "", 2121, 0},
        {"://ftp.example.com", false, "", 2121, 0},
    };
    for (const auto& k : cases) {
        std::string host;
        INTERNET_PORT port = 0;
        DWORD flags = 0xFFFF;
        EXPECT_EQ(SplitSiteHost(k.text, host, port, flags, 2121), k.ok) << k.text;
        EXPECT_EQ(host, k.host) << k.text;
        if (k.ok) {
            EXPECT_EQ(port, k.port) << k.text;
            EXPECT_EQ(flags, k.flags) << k.text;
        }
    }
}

TEST_F(ConnectionTest, ADeadServerWithTheInternetUpCostsFivePausesAndNoNews)
{
    RefuseFtp();
    EXPECT_EQ(ConnectSite(kOpenConnection), 0);
    EXPECT_EQ(connectionFailed, 1);
    EXPECT_EQ(pauses, 5);
    EXPECT_TRUE(news.empty());
}

// A server without TLS refuses AUTH TLS: the site is not logged into in
// clear text, and no attempt follows, no pause, no probe (a dead probe would
// log an outage).
TEST_F(ConnectionTest, ASecureSiteTheServerRefusesEndsAtOnceWithTheReason)
{
    const std::string host = "ftpes://127.0.0.1:" + std::to_string(ftpPort);
    CopyField(connectionHost, host.c_str());
    SetProbe(deadProbe);
    EXPECT_EQ(ConnectSite(kOpenConnection), 0);
    EXPECT_EQ(ftpConnection, nullptr);
    EXPECT_EQ(connectionFailed, 1);
    EXPECT_EQ(pauses, 0);
    EXPECT_TRUE(news.empty());
    EXPECT_NE(connectionFailureReason[0], '\0');
    // Plain again: the reason is gone.
    CopyField(connectionHost, "127.0.0.1");
    ASSERT_EQ(ConnectSite(kOpenConnection), 1);
    EXPECT_STREQ(connectionFailureReason, "");
}

using News = std::vector<InternetNews>;
constexpr InternetNews kLost = InternetNews::kLost;
constexpr InternetNews kBack = InternetNews::kBack;

TEST_F(ConnectionTest, TheInternetBackAfterThreeProbesIsToldOnce)
{
    RefuseFtp();
    SetProbe(deadProbe);
    onPause = [] {
        if (pauses == 3)
            SetProbe(liveProbe);
    };
    EXPECT_EQ(ConnectSite(kOpenConnection), 0);
    EXPECT_EQ(news, (News{kLost, kBack}));
    EXPECT_EQ(lostConnection, 0);
    EXPECT_EQ(connectionFailed, 1); // the server itself still refuses
    // Three waits while down, none after the recovery, then one after each
    // of the four attempts that follow.
    EXPECT_EQ(pauses, 3 + 4);
}

TEST_F(ConnectionTest, AnInternetDownThroughoutIsToldInEveryAttempt)
{
    RefuseFtp();
    SetProbe(deadProbe);
    EXPECT_EQ(ConnectSite(kOpenConnection), 0);
    EXPECT_EQ(news, News(5, kLost));
    EXPECT_EQ(lostConnection, 1);
    EXPECT_EQ(connectionFailed, 1);
    EXPECT_EQ(pauses, 5 * (5 + 1));
}

TEST_F(ConnectionTest, TheInternetBackInTheSecondAttempt)
{
    RefuseFtp();
    SetProbe(deadProbe);
    onPause = [] {
        if (pauses == 6 + 2) // two probe waits into the second attempt
            SetProbe(liveProbe);
    };
    EXPECT_EQ(ConnectSite(kOpenConnection), 0);
    EXPECT_EQ(news, (News{kLost, kLost, kBack}));
}

} // namespace
} // namespace net_test
