// Windows: FTP over TLS is served by the program's own client, since the
// system's WinINet has none (it would log in in clear text, which the TLS
// servers refuse); plain connections stay the system's. Each answers
// InternetGetLastResponseInfoA for its own calls, and closing the system's
// session closes the own connections below it.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "support/temp_folder.h"
#include "wininet/ftp_session.h"

namespace {

std::string LastResponse() {
    DWORD error = 0;
    char text[1024];
    DWORD length = sizeof text;
    if (!InternetGetLastResponseInfoA(&error, text, &length)) return "<none>";
    return std::string(text, length);
}

HINTERNET ConnectSecure(HINTERNET internet, const char* fixture, DWORD flags) {
    const std::string user = ServerInfo(fixture, "user");
    const std::string password = ServerInfo(fixture, "password");
    return InternetConnectA(internet, "127.0.0.1", INTERNET_PORT(ServerPort(fixture)), user.c_str(),
                            password.c_str(), INTERNET_SERVICE_FTP,
                            INTERNET_FLAG_PASSIVE | INTERNET_FLAG_SECURE | flags, 0);
}

TEST(FtpsOnWindows, SecureSitesAreTheOwnClientsAndPlainSitesTheSystems) {
    struct Server {
        const char* fixture;
        DWORD flags;
    };
    const Server servers[] = {{"ftps_explicit", 0}, {"ftps_implicit", PLATFORM_FLAG_IMPLICIT_TLS}};
    TempFolder folder;
    const std::string upload(100000, 'k');
    WriteWholeFile(folder.native("up.bin"), upload);
    for (const Server& server : servers) {
        SCOPED_TRACE(server.fixture);
        InternetHandle internet(OpenInternet());
        ASSERT_TRUE(internet);
        // An authority nobody trusts: refused before the login.
        PlatformSetFtpTrustFile(nullptr);
        EXPECT_EQ(ConnectSecure(internet.get(), server.fixture, server.flags), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_INVALID_CA));
        EXPECT_NE(LastResponse().find("not trusted"), std::string::npos) << LastResponse();

        WriteWholeFile(folder.path() / "trust.txt",
                       ReadWholeFile(ServerInfo(server.fixture, "certs") + "/ca.pem"));
        PlatformSetFtpTrustFile("trust.txt");
        HINTERNET secure = ConnectSecure(internet.get(), server.fixture, server.flags);
        ASSERT_NE(secure, nullptr) << GetLastError() << ": " << LastResponse();
        InternetHandle plain(ConnectFtp(internet.get(), "ftp"));
        ASSERT_TRUE(plain) << GetLastError();

        EXPECT_EQ(ListAll(secure, "listing/*").size(), 6u) << GetLastError() << ": " << LastResponse();
        const std::string home = ServerInfo(server.fixture, "home");
        ASSERT_TRUE(FtpGetFileA(secure, "listing/index.html", "index.html", FALSE,
                                FILE_ATTRIBUTE_NORMAL, FTP_TRANSFER_TYPE_BINARY, 0))
            << GetLastError() << ": " << LastResponse();
        EXPECT_EQ(ReadWholeFile(folder.native("index.html")), ReadWholeFile(home + "/listing/index.html"));
        ASSERT_TRUE(FtpPutFileA(secure, "up.bin", "up.bin", FTP_TRANSFER_TYPE_BINARY, 0))
            << GetLastError() << ": " << LastResponse();
        EXPECT_TRUE(ReadWholeFile(home + "/up.bin") == upload);
        EXPECT_EQ(LastResponse().rfind("226", 0), 0u) << LastResponse();

        // The system's connection answers with its own last reply.
        char current[MAX_PATH];
        DWORD length = sizeof current;
        ASSERT_TRUE(FtpGetCurrentDirectoryA(plain.get(), current, &length));
        EXPECT_EQ(LastResponse().rfind("257", 0), 0u) << LastResponse();

        // Closing the session takes the secure connection along.
        plain.reset();
        internet.reset();
        length = sizeof current;
        EXPECT_FALSE(FtpGetCurrentDirectoryA(secure, current, &length));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    }
    PlatformSetFtpTrustFile(nullptr);
}

}  // namespace
