// The TLS layer against a real TLS server (tests/servers/tls_echo.py, with a
// test authority of its own): which certificates a handshake accepts and
// why it refuses the others, the trust file's anchors and pins, hostile
// trust files, servers that break the handshake, echo across record
// boundaries, and session resumption.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/tls.h"
#include "platform/win32.h"
#include "support/server_info.h"
#include "support/temp_folder.h"

namespace {

constexpr char kFixture[] = "tls_echo";
constexpr char kTrustFile[] = "trust.txt";  // relative: inside the test's TempFolder
constexpr long kWaitSeconds = 15;

std::string CertFile(const std::string& name) { return ReadWholeFile(ServerInfo(kFixture, "certs") + "/" + name); }

// The SHA-256 of a certificate of the test authority, as 64 hex digits.
std::string Fingerprint(const std::string& kind) {
    std::istringstream lines(CertFile("fingerprints.txt"));
    std::string name, value;
    while (lines >> name >> value)
        if (name == kind) return value;
    ADD_FAILURE() << "no fingerprint for " << kind;
    return {};
}

std::string ColonPairs(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (i) out.push_back(':');
        out.append(hex, i, 2);
    }
    for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// Waits as T2 says; false when the socket stays quiet too long.
bool Wait(SOCKET s, int want) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval limit = {kWaitSeconds, 0};
    int n = want == PLATFORM_TLS_WANT_READ ? select(0, &set, nullptr, nullptr, &limit)
                                           : select(0, nullptr, &set, nullptr, &limit);
    return n == 1;
}

bool Waiting(int result) { return result == PLATFORM_TLS_WANT_READ || result == PLATFORM_TLS_WANT_WRITE; }

// One client connection: a non-blocking socket and its session.
class Client {
public:
    Client(const char* kind, const char* host, const PlatformTls* resume = nullptr) {
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(ServerPort(kFixture, kind)));
        a.sin_addr.s_addr = inet_addr("127.0.0.1");
        EXPECT_EQ(connect(socket_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        unsigned long on = 1;
        EXPECT_EQ(ioctlsocket(socket_, FIONBIO, &on), 0);
        PlatformTlsOptions options = {host, kTrustFile, resume};
        tls_ = PlatformTlsCreate(socket_, &options);
        EXPECT_NE(tls_, nullptr);
    }
    ~Client() {
        PlatformTlsFree(tls_);
        closesocket(socket_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    PlatformTls* tls() const { return tls_; }

    int Handshake() {
        int r;
        while (Waiting(r = PlatformTlsHandshake(tls_)))
            if (!Wait(socket_, r)) return -1;
        return r;
    }

    bool Send(const std::string& bytes) {
        for (size_t done = 0; done < bytes.size();) {
            int sent = 0;
            int r = PlatformTlsWrite(tls_, bytes.data() + done, int(bytes.size() - done), &sent);
            if (Waiting(r)) {
                if (!Wait(socket_, r)) return false;
                continue;
            }
            if (r != PLATFORM_TLS_OK || sent <= 0) return false;
            done += size_t(sent);
        }
        return true;
    }

    // Reads until `size` bytes have come (or the stream ends), small reads
    // so that decrypted bytes stay pending inside the session (T3).
    std::string Receive(size_t size) {
        std::string got;
        char chunk[700];
        while (got.size() < size) {
            int n = 0;
            int r = PlatformTlsRead(tls_, chunk, sizeof chunk, &n);
            if (r == PLATFORM_TLS_OK) {
                got.append(chunk, size_t(n));
            } else if (!Waiting(r) || PlatformTlsPending(tls_) || !Wait(socket_, r)) {
                break;
            }
        }
        return got;
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
    PlatformTls* tls_ = nullptr;
};

class Tls : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
    void Trust(const std::string& text) { WriteWholeFile(folder_.path() / kTrustFile, text); }

    TempFolder folder_;
};

struct HandshakeCase {
    const char* name;
    const char* server;   // the listener of tls_echo.py
    const char* host;
    std::string (*trust)();
    int kind;             // PLATFORM_TLS_NO_FAILURE: the handshake succeeds
};

std::string TrustNothing() { return ""; }
std::string TrustCa() { return "# the test authority\n" + CertFile("ca.pem"); }
std::string TrustWildcardCa() { return CertFile("wild/ca.pem"); }
std::string TrustSelfSigned() { return CertFile("selfsigned.pem"); }
std::string PinSelfSigned() { return Fingerprint("selfsigned") + "\n"; }
std::string PinSelfSignedColons() { return "SHA256=" + ColonPairs(Fingerprint("selfsigned")) + "\r\n"; }
std::string PinExpired() { return "sha256 " + Fingerprint("expired") + "\n"; }
std::string Garbage() { return std::string("\x01\xff-----BEGIN CERTIFICATE-----\n%%%\n-----END CERTIFICATE-----\nzz:", 60) + std::string(5000, 'A'); }
std::string TruncatedCa() {
    std::string pem = CertFile("ca.pem");
    return pem.substr(0, pem.size() / 2) + "\n" + Fingerprint("good").substr(0, 63) + "\n";
}

const HandshakeCase kHandshakes[] = {
    {"AuthorityOfTheTrustFile", "good", "localhost", TrustCa, PLATFORM_TLS_NO_FAILURE},
    {"IpLiteralAgainstIpName", "good", "127.0.0.1", TrustCa, PLATFORM_TLS_NO_FAILURE},
    {"TestAuthorityIsNoSystemRoot", "good", "localhost", TrustNothing, PLATFORM_TLS_UNTRUSTED},
    {"Expired", "expired", "localhost", TrustCa, PLATFORM_TLS_EXPIRED},
    {"WrongName", "wrongname", "localhost", TrustCa, PLATFORM_TLS_WRONG_NAME},
    {"NameNotInCertificate", "good", "127.0.0.2", TrustCa, PLATFORM_TLS_WRONG_NAME},
    {"WildcardOneLabel", "wildcard", "www.kestrovane.test", TrustWildcardCa, PLATFORM_TLS_NO_FAILURE},
    {"WildcardNotTwoLabels", "wildcard", "a.www.kestrovane.test", TrustWildcardCa, PLATFORM_TLS_WRONG_NAME},
    {"WildcardNotBareDomain", "wildcard", "kestrovane.test", TrustWildcardCa, PLATFORM_TLS_WRONG_NAME},
    {"SelfSigned", "selfsigned", "localhost", TrustCa, PLATFORM_TLS_UNTRUSTED},
    {"SelfSignedAsAnchor", "selfsigned", "localhost", TrustSelfSigned, PLATFORM_TLS_NO_FAILURE},
    {"SelfSignedPinned", "selfsigned", "localhost", PinSelfSigned, PLATFORM_TLS_NO_FAILURE},
    {"SelfSignedPinnedColonPairs", "selfsigned", "127.0.0.1", PinSelfSignedColons, PLATFORM_TLS_NO_FAILURE},
    {"PinOverridesDates", "expired", "localhost", PinExpired, PLATFORM_TLS_NO_FAILURE},
    {"GarbageTrustFileTrustsNothing", "good", "localhost", Garbage, PLATFORM_TLS_UNTRUSTED},
    {"TruncatedTrustFileTrustsNothing", "good", "localhost", TruncatedCa, PLATFORM_TLS_UNTRUSTED},
};

class TlsHandshake : public Tls, public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(TlsHandshake, AcceptsOrRefusesWithTheReason) {
    const HandshakeCase& c = GetParam();
    Trust(c.trust());
    Client client(c.server, c.host);
    int r = client.Handshake();
    char text[200] = "";
    int kind = PlatformTlsFailure(client.tls(), text, sizeof text);
    if (c.kind == PLATFORM_TLS_NO_FAILURE) {
        ASSERT_EQ(r, PLATFORM_TLS_OK) << text;
        // Both ways through the session.
        ASSERT_TRUE(client.Send("ping\n"));
        EXPECT_EQ(client.Receive(5), "ping\n");
        return;
    }
    EXPECT_EQ(r, PLATFORM_TLS_FAILED);
    EXPECT_EQ(kind, c.kind) << text;
    EXPECT_NE(text[0], '\0');
    if (c.kind == PLATFORM_TLS_WRONG_NAME && std::string(c.server) == "wrongname") {
        EXPECT_NE(std::strstr(text, "other.example.invalid"), nullptr) << text;
    }
    // T6: the failure sticks.
    int n = 0;
    char byte;
    EXPECT_EQ(PlatformTlsRead(client.tls(), &byte, 1, &n), PLATFORM_TLS_FAILED);
    EXPECT_EQ(PlatformTlsHandshake(client.tls()), PLATFORM_TLS_FAILED);
}

INSTANTIATE_TEST_SUITE_P(Certificates, TlsHandshake, ::testing::ValuesIn(kHandshakes),
                         [](const ::testing::TestParamInfo<HandshakeCase>& one) { return std::string(one.param.name); });

// A server that closes during the handshake, or answers with no TLS at all.
TEST_F(Tls, BrokenHandshakeNeverSucceeds) {
    for (const char* server : {"drop", "garbage"}) {
        Client client(server, "localhost");
        EXPECT_EQ(client.Handshake(), PLATFORM_TLS_FAILED) << server;
        int kind = PlatformTlsFailure(client.tls(), nullptr, 0);
        EXPECT_TRUE(kind == PLATFORM_TLS_CONNECTION || kind == PLATFORM_TLS_PROTOCOL) << server << " " << kind;
    }
}

// 100 KB in one line: many records each way, read in pieces smaller than a
// record so that bytes wait inside the session.
TEST_F(Tls, LargeExchangeCrossesRecords) {
    Trust(TrustCa());
    Client client("good", "localhost");
    ASSERT_EQ(client.Handshake(), PLATFORM_TLS_OK);
    std::string line;
    for (int i = 0; line.size() < 100 * 1024; ++i) line += std::to_string(i) + ",";
    line += "\n";
    ASSERT_TRUE(client.Send(line));
    EXPECT_EQ(client.Receive(line.size()), line);
    EXPECT_FALSE(PlatformTlsPending(client.tls()));
    EXPECT_EQ(PlatformTlsShutdown(client.tls()), PLATFORM_TLS_OK);
}

// Each session resuming the first takes a ticket of its own (servers may
// refuse one used twice) and is resumed, and verified all the same.
TEST_F(Tls, ResumesTheFirstSession) {
    Trust(TrustCa());
    Client first("good", "localhost");
    ASSERT_EQ(first.Handshake(), PLATFORM_TLS_OK);
    ASSERT_TRUE(first.Send("SESSION?\n"));
    EXPECT_EQ(first.Receive(9), "reused 0\n");
    for (int i = 0; i < 3; ++i) {
        Client next("good", "localhost", first.tls());
        ASSERT_EQ(next.Handshake(), PLATFORM_TLS_OK);
        ASSERT_TRUE(next.Send("SESSION?\n"));
        EXPECT_EQ(next.Receive(9), "reused 1\n") << "session " << i + 2;
    }
    // A resumed session brings no certificate, yet its host is checked.
    Client other("good", "127.0.0.2", first.tls());
    EXPECT_EQ(other.Handshake(), PLATFORM_TLS_FAILED);
    EXPECT_EQ(PlatformTlsFailure(other.tls(), nullptr, 0), PLATFORM_TLS_WRONG_NAME);
}

}  // namespace
