// Transfers in worker threads: FTP files both ways against a real server, and
// web pages with their time limits against a local web server. A worker that
// runs out of time is abandoned; its late end must harm nothing (the
// sanitizer builds run these too).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "core/site_record.h"
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
        ASSERT_EQ(ConnectSite(2), 1);
    }
    void TearDown() override
    {
        ConnectSite(3);
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

} // namespace
} // namespace net_test
