// Transfers in worker threads: FTP files both ways against a real server, and
// web pages with their time limits against a local web server. A worker that
// runs out of time is abandoned; its late end must harm nothing (the
// sanitizer builds run these too).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "sites/site_record.h"
#include "net/connection.h"
#include "net/timed_transfers.h"
#include "support/server_info.h"
#include "support/temp_folder.h"

namespace net_test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int32_t Fetch(const std::string& path, char* buffer, int32_t size, uint16_t body)
{
    std::string url = "http://127.0.0.1:" + std::to_string(ServerPort("http")) + path;
    std::snprintf(buffer, size_t(size), "%s", url.c_str());
    return FetchUrl(buffer, size, body);
}

class TimedTransfers : public ::testing::Test {
protected:
    void TearDown() override
    {
        openUrlRounds = 301;
        readUrlRounds = 101;
        transferFloorRounds = 1200;
        transferBytesPerRound = 410;
    }
    TempFolder folder;
};

TEST_F(TimedTransfers, APageIsCutAtTheBuffer)
{
    char buffer[1000];
    EXPECT_EQ(Fetch("/bytes?n=3000", buffer, sizeof buffer, 1), 1000);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(uint8_t(buffer[i]), i % 251) << i;
    std::vector<char> big(4000);
    EXPECT_EQ(Fetch("/bytes?n=3000", big.data(), int32_t(big.size()), 1), 3000);
    EXPECT_EQ(Fetch("/bytes?n=3000", buffer, sizeof buffer, 0), 1);
}

TEST_F(TimedTransfers, NothingToFetchIsZero)
{
    char buffer[300] = "";
    EXPECT_EQ(FetchUrl(buffer, sizeof buffer, 1), 0);
    EXPECT_EQ(Fetch("/empty", buffer, sizeof buffer, 1), 0);
    std::snprintf(buffer, sizeof buffer, "http://127.0.0.1:1/");
    EXPECT_EQ(FetchUrl(buffer, sizeof buffer, 0), 0);
}

// The late answer arrives after the fetch gave up: the worker must release
// what it got without touching the caller's buffer, which is gone by then.
TEST_F(TimedTransfers, ASlowPageIsGivenUpAfterFifteenSeconds)
{
    auto start = Clock::now();
    {
        std::vector<char> buffer(300);
        EXPECT_EQ(Fetch("/delay?seconds=20", buffer.data(), int32_t(buffer.size()), 1), 0);
    }
    double seconds = SecondsSince(start);
    EXPECT_GT(seconds, 14.0);
    EXPECT_LT(seconds, 18.0);
    std::this_thread::sleep_for(std::chrono::seconds(7));
}

TEST_F(TimedTransfers, ASlowBodyIsGivenUpAndItsLateBytesGoNowhere)
{
    readUrlRounds = 20; // a second
    auto start = Clock::now();
    {
        std::vector<char> buffer(300, 'x');
        EXPECT_EQ(Fetch("/slowbody?seconds=3", buffer.data(), int32_t(buffer.size()), 1), 0);
        EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0), 300); // cleared, and nothing came
    }
    EXPECT_LT(SecondsSince(start), 2.5);
    std::this_thread::sleep_for(std::chrono::seconds(3));
}

class FtpTransfers : public TimedTransfers {
protected:
    void SetUp() override
    {
        CopyField(connectionHost, "127.0.0.1");
        CopyField(connectionUser, ServerInfo("ftp", "user").c_str());
        CopyField(connectionPassword, ServerInfo("ftp", "password").c_str());
        ftpPort = INTERNET_PORT(ServerPort("ftp"));
        ASSERT_EQ(ConnectSite(kOpenConnection), 1);
    }
    // The names in the test's folder (or a folder in it), scratch files included.
    std::vector<std::string> LocalNames(const char* sub = "") const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder.path() / sub))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    void Reconnect()
    {
        if (!ftpConnection) {
            ASSERT_EQ(ConnectSite(kOpenConnection), 1);
        }
    }
    const fs::path home = ServerInfo("ftp", "home");
    void TearDown() override
    {
        ConnectSite(kCloseConnection);
        ftpPort = INTERNET_DEFAULT_FTP_PORT;
        TimedTransfers::TearDown();
    }
};

TEST_F(FtpTransfers, FiftyMegabytesUpAndDown)
{
    std::string data(50u << 20, '\0');
    std::mt19937 random(7);
    for (char& c : data)
        c = char(random());
    WriteWholeFile(folder.path() / "up.bin", data);
    std::string remote = "net-" + std::to_string(std::random_device{}()) + ".bin";
    EXPECT_NE(UploadFile(nullptr, "up.bin", remote.c_str()), 0);
    EXPECT_EQ(fs::file_size(fs::path(ServerInfo("ftp", "home")) / remote), data.size());

    WriteWholeFile(folder.path() / "down.bin", "an older copy");
    EXPECT_NE(DownloadFile(nullptr, remote.c_str(), "down.bin"), 0);
    EXPECT_TRUE(ReadWholeFile(folder.path() / "down.bin") == data);
    EXPECT_TRUE(FtpDeleteFileA(ftpConnection, remote.c_str()));
}

TEST_F(FtpTransfers, FailuresAreReported)
{
    EXPECT_EQ(UploadFile(nullptr, "no-such-file.bin", "x.bin"), 0);
    EXPECT_EQ(DownloadFile(nullptr, "no-such-remote.bin", "y.bin"), 0);
    EXPECT_FALSE(fs::exists(folder.path() / "y.bin"));
}

// A planted name that the system would resolve to the clean "index.html"
// is never fetched over it.
TEST_F(FtpTransfers, ADownloadNeverLandsOnAFileOfAnotherSpelling)
{
    WriteWholeFile(folder.path() / "index.html", "clean");
    for (const char* name : {"INDEX.HTML", "index.html.", "index.html "}) {
        WriteWholeFile(home / name, "planted");
        EXPECT_EQ(DownloadFile(nullptr, name, name, 7), 0) << name;
        fs::remove(home / name);
    }
    EXPECT_EQ(ReadWholeFile(folder.path() / "index.html"), "clean");
    EXPECT_EQ(LocalNames(), std::vector<std::string>{"index.html"});
}

// Bytes that disagree with the reported size, or no remote file at all: the
// old file stays as it was and no scratch file is left (nor the one a killed
// run left in the folder before the first download there).
TEST_F(FtpTransfers, AFailedDownloadLeavesTheOldFileAlone)
{
    const std::string served(100000, 's');
    WriteWholeFile(home / "page.html", served);
    // A folder of its own: its first download in this run looks for leftovers.
    const fs::path site = folder.path() / "site";
    fs::create_directory(site);
    WriteWholeFile(site / ".kv-part-99-1.part", "a killed run's");
    const struct {
        const char* remote;
        int64_t size;
    } cases[] = {{"page.html", 99999}, {"page.html", 100001}, {"missing.html", kSizeNotReported}};
    for (const auto& c : cases) {
        Reconnect(); // a download that grew past its size ends the connection
        WriteWholeFile(site / "page.html", "old bytes");
        EXPECT_EQ(DownloadFile(nullptr, c.remote, "site\\page.html", c.size), 0) << c.remote << " " << c.size;
        EXPECT_EQ(ReadWholeFile(site / "page.html"), "old bytes");
        EXPECT_EQ(LocalNames("site"), std::vector<std::string>{"page.html"});
    }
    Reconnect();
    EXPECT_NE(DownloadFile(nullptr, "page.html", "site\\page.html", int64_t(served.size())), 0);
    EXPECT_TRUE(ReadWholeFile(site / "page.html") == served);
    fs::remove(home / "page.html");
}

// With no time to spare, both directions give up at once: the connection is
// closed (the caller reconnects), nothing local changes.
TEST_F(FtpTransfers, ATransferThatCannotMeetItsBoundIsEnded)
{
    transferFloorRounds = 0;
    transferBytesPerRound = int64_t(1) << 40;
    const size_t size = 64u << 20;
    WriteWholeFile(folder.path() / "up.bin", std::string(size, 'u'));
    {
        std::ofstream remote(home / "down.bin", std::ios::binary);
    }
    fs::resize_file(home / "down.bin", size);
    WriteWholeFile(folder.path() / "down.bin", "old bytes");

    auto start = Clock::now();
    EXPECT_EQ(UploadFile(nullptr, "up.bin", "up.bin"), 0);
    EXPECT_EQ(ftpConnection, nullptr);
    ASSERT_EQ(ConnectSite(kOpenConnection), 1);
    EXPECT_EQ(DownloadFile(nullptr, "down.bin", "down.bin", int64_t(size)), 0);
    EXPECT_EQ(ftpConnection, nullptr);
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_EQ(ReadWholeFile(folder.path() / "down.bin"), "old bytes");
    // The abandoned calls end soon after (the closed connection wakes them)
    // and their scratch files go with them.
    const std::vector<std::string> expected{"down.bin", "up.bin"};
    for (int i = 0; i < 100 && LocalNames() != expected; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(LocalNames(), expected);
    fs::remove(home / "down.bin");
    fs::remove(home / "up.bin");
}

} // namespace
} // namespace net_test
