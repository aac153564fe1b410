// InternetOpenUrlA / InternetReadFile (libcurl) against tests/servers/
// http_server.py, with the 3 s limit of wininet_linux_tests.
#include <chrono>
#include <string>
#include <thread>

#include "wininet/ftp_session.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The program's flags for a web request.
const DWORD kFlags = INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_CACHE_WRITE |
                     INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_HYPERLINK | INTERNET_FLAG_NO_UI;

std::string Url(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(ServerPort("http")) + path;
}

class Urls : public ::testing::Test {
protected:
    void SetUp() override {
        internet_.reset(OpenInternet());
        ASSERT_TRUE(internet_);
    }
    HINTERNET Open(const std::string& url) {
        return InternetOpenUrlA(internet_.get(), url.c_str(), nullptr, 0, kFlags, 0);
    }
    // The whole body in reads of `step` bytes; the counts of the reads.
    std::string ReadAll(HINTERNET request, DWORD step, std::vector<DWORD>* counts = nullptr) {
        std::string body;
        std::vector<char> buffer(step);
        for (;;) {
            DWORD got = 0;
            if (!InternetReadFile(request, buffer.data(), step, &got)) {
                ADD_FAILURE() << "read: " << GetLastError();
                break;
            }
            if (counts) counts->push_back(got);
            if (got == 0) break;
            body.append(buffer.data(), got);
        }
        return body;
    }
    InternetHandle internet_;
};

TEST_F(Urls, APageReadInPiecesOfTheSizeAsked) {
    InternetHandle request(Open(Url("/bytes?n=3000")));
    ASSERT_TRUE(request) << GetLastError();
    std::vector<DWORD> counts;
    std::string body = ReadAll(request.get(), 1000, &counts);
    EXPECT_EQ(counts, (std::vector<DWORD>{1000, 1000, 1000, 0}));
    ASSERT_EQ(body.size(), 3000u);
    for (size_t i = 0; i < body.size(); ++i)
        ASSERT_EQ((unsigned char)body[i], i % 251) << i;
    // After the end, the end again.
    DWORD got = 7;
    char c;
    EXPECT_TRUE(InternetReadFile(request.get(), &c, 1, &got));
    EXPECT_EQ(got, 0u);
}

TEST_F(Urls, ABodyLargerThanTheBufferIsCutByTheCaller) {
    // The program's fetch: a 1,000-byte buffer, reads until it is full.
    InternetHandle request(Open(Url("/bytes?n=3000")));
    ASSERT_TRUE(request);
    char buffer[1000];
    DWORD total = 0, got = 0;
    do {
        ASSERT_TRUE(InternetReadFile(request.get(), buffer + total, 1000 - total, &got));
        total += got;
    } while (got != 0);
    EXPECT_EQ(total, 1000u);
}

TEST_F(Urls, StatusesRedirectsEmptyBodiesAndTheAgent) {
    InternetHandle notFound(Open(Url("/status?code=404")));
    ASSERT_TRUE(notFound) << "any HTTP answer opens: " << GetLastError();
    EXPECT_EQ(ReadAll(notFound.get(), 100), "status 404");
    InternetHandle redirected(Open(Url("/redirect")));
    ASSERT_TRUE(redirected) << GetLastError();
    EXPECT_EQ(ReadAll(redirected.get(), 100).size(), 10u);
    InternetHandle empty(Open(Url("/empty")));
    ASSERT_TRUE(empty) << GetLastError();
    EXPECT_EQ(ReadAll(empty.get(), 100), "");
    InternetHandle agent(Open(Url("/agent")));
    ASSERT_TRUE(agent);
    EXPECT_EQ(ReadAll(agent.get(), 100), "Kestrovane");
}

TEST_F(Urls, FailuresAndTimeLimits) {
    EXPECT_EQ(Open("ftp://127.0.0.1/x"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_UNRECOGNIZED_SCHEME));
    EXPECT_EQ(Open("http://127.0.0.1:1/"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_CANNOT_CONNECT));
    EXPECT_EQ(Open("http://no-such-host.invalid/"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_NAME_NOT_RESOLVED));

    // A page later than the limit, and one just in time.
    auto start = Clock::now();
    EXPECT_EQ(Open(Url("/delay?seconds=20")), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_TIMEOUT));
    EXPECT_GT(SecondsSince(start), 2.5);
    EXPECT_LT(SecondsSince(start), 6.0);
    InternetHandle late(Open(Url("/delay?seconds=1")));
    ASSERT_TRUE(late) << GetLastError();
    EXPECT_EQ(ReadAll(late.get(), 100), "late");

    // Headers at once, a body that does not come.
    InternetHandle slow(Open(Url("/slowbody?seconds=20")));
    ASSERT_TRUE(slow) << GetLastError();
    char buffer[10];
    DWORD got = 0;
    start = Clock::now();
    EXPECT_FALSE(InternetReadFile(slow.get(), buffer, sizeof buffer, &got));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_TIMEOUT));
    EXPECT_LT(SecondsSince(start), 6.0);
}

TEST_F(Urls, ThroughAProxyNamedByTheSession) {
    // The test server answers a proxy request for any host itself.
    const std::string proxy = "127.0.0.1:" + std::to_string(ServerPort("http"));
    InternetHandle viaProxy(
        InternetOpenA("Kestrovane", INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), nullptr, 0));
    ASSERT_TRUE(viaProxy);
    InternetHandle request(InternetOpenUrlA(viaProxy.get(), "http://far-away.invalid/bytes?n=5",
                                            nullptr, 0, kFlags, 0));
    ASSERT_TRUE(request) << GetLastError();
    EXPECT_EQ(ReadAll(request.get(), 100).size(), 5u);
}

TEST_F(Urls, ClosingTheSessionFreesARequestWaitingInAnotherThread) {
    HINTERNET result = reinterpret_cast<HINTERNET>(1);
    double waited = 0;
    std::thread worker([&] {
        auto start = Clock::now();
        result = Open(Url("/delay?seconds=20"));
        waited = SecondsSince(start);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(InternetCloseHandle(internet_.release()));
    worker.join();
    EXPECT_EQ(result, nullptr);
    EXPECT_LT(waited, 1.5);
}

}  // namespace
