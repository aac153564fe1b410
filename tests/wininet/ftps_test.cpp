// FTP over TLS through the program's own client, against pyftpdlib's TLS
// handler and vsftpd (which refuses a data connection that does not resume
// the control connection's TLS session), explicit and implicit. The servers'
// certificates come from a test authority that only the trust file vouches
// for.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "support/temp_folder.h"
#include "wininet/ftp_session.h"

namespace {

constexpr char kTrustFile[] = "trust.txt";  // relative: inside the test's TempFolder

struct Server {
    const char* fixture;
    DWORD flags;
};
const Server kServers[] = {
    {"ftps_explicit", 0},
    {"ftps_implicit", PLATFORM_FLAG_IMPLICIT_TLS},
    {"vsftpd_tls_explicit", 0},
    {"vsftpd_tls_implicit", PLATFORM_FLAG_IMPLICIT_TLS},
};

std::string LastResponse() {
    DWORD error = 0;
    char text[1024];
    DWORD length = sizeof text;
    if (!InternetGetLastResponseInfoA(&error, text, &length)) return "<none>";
    return std::string(text, length);
}

class Ftps : public ::testing::Test {
protected:
    void SetUp() override {
        internet_.reset(OpenInternet());
        ASSERT_TRUE(internet_);
    }
    void TearDown() override { PlatformSetFtpTrustFile(nullptr); }

    // Trusts the authority of the fixture's certificates, or nothing.
    void Trust(const char* fixture) {
        WriteWholeFile(folder_.path() / kTrustFile,
                       fixture ? ReadWholeFile(ServerInfo(fixture, "certs") + "/ca.pem") : "");
        PlatformSetFtpTrustFile(kTrustFile);
    }

    HINTERNET Connect(const Server& server, const char* portKey = "port") {
        const std::string user = ServerInfo(server.fixture, "user");
        const std::string password = ServerInfo(server.fixture, "password");
        return InternetConnectA(internet_.get(), "127.0.0.1",
                                INTERNET_PORT(ServerPort(server.fixture, portKey)), user.c_str(),
                                password.c_str(), INTERNET_SERVICE_FTP,
                                INTERNET_FLAG_PASSIVE | INTERNET_FLAG_SECURE | server.flags, 0);
    }

    TempFolder folder_;
    InternetHandle internet_;
};

TEST_F(Ftps, ListDownloadAndUploadOnEveryServer) {
    std::string upload(300000, '\0');
    for (size_t i = 0; i < upload.size(); ++i) upload[i] = char(i * 131 % 251);
    WriteWholeFile(folder_.native("up.bin"), upload);
    for (const Server& server : kServers) {
        SCOPED_TRACE(server.fixture);
        Trust(server.fixture);
        InternetHandle c(Connect(server));
        ASSERT_TRUE(c) << GetLastError() << ": " << LastResponse();
        const std::string home = ServerInfo(server.fixture, "home");
        // Every data connection resumes the control connection's session,
        // not only the first.
        for (int round = 0; round < 2; ++round) {
            std::vector<WIN32_FIND_DATAA> entries = ListAll(c.get(), "listing/*");
            ASSERT_EQ(entries.size(), 6u) << GetLastError() << ": " << LastResponse();
            EXPECT_EQ(FindEntry(entries, "index.html")->nFileSizeLow, 1234u);
        }
        ASSERT_TRUE(FtpGetFileA(c.get(), "listing/index.html", "index.html", FALSE,
                                FILE_ATTRIBUTE_NORMAL, FTP_TRANSFER_TYPE_BINARY, 0))
            << GetLastError() << ": " << LastResponse();
        EXPECT_EQ(ReadWholeFile(folder_.native("index.html")), ReadWholeFile(home + "/listing/index.html"));
        // The server holds the whole file once the call returns.
        ASSERT_TRUE(FtpPutFileA(c.get(), "up.bin", "up.bin", FTP_TRANSFER_TYPE_BINARY, 0))
            << GetLastError() << ": " << LastResponse();
        const std::string stored = ReadWholeFile(home + "/up.bin");
        EXPECT_EQ(stored.size(), upload.size());
        EXPECT_TRUE(stored == upload);
    }
}

// How many USER commands the pyftpdlib fixture's listener at `port` received.
int UsersSent(const char* fixture, int port) {
    const std::string log = ReadWholeFile(ServerInfo(fixture, "commands"));
    const std::string line = std::to_string(port) + " USER\n";
    int count = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
        if (at == 0 || log[at - 1] == '\n') ++count;
    return count;
}

TEST_F(Ftps, CertificatesThatDoNotVerifyEndTheConnectionBeforeTheLogin) {
    struct Case {
        const char* portKey;
        bool trustAuthority;  // the good certificate passes once trusted (above)
        DWORD error;
        const char* reason;
    };
    const Case cases[] = {
        {"expired_port", true, ERROR_INTERNET_SEC_CERT_DATE_INVALID, "certificate expired"},
        {"wrongname_port", true, ERROR_INTERNET_SEC_CERT_CN_INVALID, "certificate is for other.example.invalid"},
        {"selfsigned_port", true, ERROR_INTERNET_INVALID_CA, "certificate not trusted"},
        {"port", false, ERROR_INTERNET_INVALID_CA, "certificate not trusted"},
    };
    for (const Server& server : {kServers[0], kServers[1]}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(server.fixture) + " " + c.portKey);
            Trust(c.trustAuthority ? server.fixture : nullptr);
            const int port = ServerPort(server.fixture, c.portKey);
            const int usersBefore = UsersSent(server.fixture, port);
            InternetHandle connection(Connect(server, c.portKey));
            EXPECT_FALSE(connection);
            EXPECT_EQ(GetLastError(), c.error);
            EXPECT_NE(LastResponse().find(c.reason), std::string::npos) << LastResponse();
            EXPECT_EQ(UsersSent(server.fixture, port), usersBefore);
        }
    }
}

TEST_F(Ftps, ClosingEndsADownloadInAnotherThread) {
    Trust(kServers[0].fixture);
    HINTERNET c = Connect(kServers[0]);
    ASSERT_NE(c, nullptr) << GetLastError() << ": " << LastResponse();
    BOOL result = TRUE;
    std::chrono::steady_clock::duration took{};
    std::thread worker([&] {
        const auto start = std::chrono::steady_clock::now();
        result = FtpGetFileA(c, "large/huge.bin", "huge.bin", FALSE, FILE_ATTRIBUTE_NORMAL,
                             FTP_TRANSFER_TYPE_BINARY, 0);
        took = std::chrono::steady_clock::now() - start;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(InternetCloseHandle(c));
    worker.join();
    EXPECT_FALSE(result);  // 5 GB: far from done
    EXPECT_LT(took, std::chrono::seconds(2));
}

}  // namespace
