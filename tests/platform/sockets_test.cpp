// Windows Sockets: start-up, loopback connections and their orderly end,
// time limits, non-blocking connects, sending to a peer that has gone,
// address texts, name lookup, options and values that are no sockets.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"

// The layouts the program may rely on, as Windows' headers have them.
static_assert(sizeof(in_addr) == 4 && sizeof(sockaddr) == 16 && sizeof(sockaddr_in) == 16);
static_assert(offsetof(sockaddr_in, sin_port) == 2 && offsetof(sockaddr_in, sin_addr) == 4);
static_assert(sizeof(hostent) == 32 && offsetof(hostent, h_addrtype) == 16 &&
              offsetof(hostent, h_length) == 18 && offsetof(hostent, h_addr_list) == 24);
static_assert(sizeof(WSADATA) == 408 && offsetof(WSADATA, szDescription) == 16);
static_assert(FD_SETSIZE == 64 && offsetof(fd_set, fd_array) == 8);

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

sockaddr_in Loopback(u_short port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

class Sockets : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    }

    void TearDown() override {
        for (SOCKET s : open_) closesocket(s);
        WSACleanup();
    }

    SOCKET NewSocket() {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_NE(s, INVALID_SOCKET);
        if (s != INVALID_SOCKET) open_.push_back(s);
        return s;
    }

    void Close(SOCKET s) {
        EXPECT_EQ(closesocket(s), 0);
        std::erase(open_, s);
    }

    // A socket listening on 127.0.0.1 at a port the system chose.
    SOCKET Listener(u_short* port) {
        SOCKET s = NewSocket();
        sockaddr_in at = Loopback(0);
        EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        EXPECT_EQ(listen(s, SOMAXCONN), 0);
        int size = sizeof at;
        EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&at), &size), 0);
        *port = ntohs(at.sin_port);
        EXPECT_NE(*port, 0);
        return s;
    }

    // A blocking connection over loopback: the client and the accepted end.
    void Pair(SOCKET* client, SOCKET* server) {
        u_short port;
        SOCKET listener = Listener(&port);
        *client = NewSocket();
        sockaddr_in to = Loopback(port);
        ASSERT_EQ(connect(*client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        *server = accept(listener, nullptr, nullptr);
        ASSERT_NE(*server, INVALID_SOCKET);
        open_.push_back(*server);
        Close(listener);
    }

    std::vector<SOCKET> open_;
};

TEST_F(Sockets, StartupReportsTheVersionsAndSharesTheLastError) {
    WSADATA data;
    std::memset(&data, 0x55, sizeof data);
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
    EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
    EXPECT_EQ(data.iMaxSockets, 32767);
    EXPECT_EQ(data.iMaxUdpDg, 65467);
    EXPECT_STREQ(data.szDescription, "WinSock 2.0");
    EXPECT_STREQ(data.szSystemStatus, "Running");
    WSACleanup();
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    EXPECT_EQ(data.iMaxSockets, 0);
    WSACleanup();
    EXPECT_EQ(WSAStartup(MAKEWORD(0, 1), &data), WSAVERNOTSUPPORTED);

    WSASetLastError(WSAECONNRESET);
    EXPECT_EQ(GetLastError(), DWORD(WSAECONNRESET));
    SetLastError(WSAETIMEDOUT);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
}

TEST_F(Sockets, LoopbackRoundTripEndsInAnOrderlyClose) {
    u_short port;
    SOCKET listener = Listener(&port);
    SOCKET client = NewSocket();
    sockaddr_in to = Loopback(port);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    sockaddr_in from;
    int fromSize = sizeof from;
    SOCKET server = accept(listener, reinterpret_cast<sockaddr*>(&from), &fromSize);
    ASSERT_NE(server, INVALID_SOCKET);
    open_.push_back(server);
    EXPECT_EQ(fromSize, int(sizeof from));
    EXPECT_EQ(from.sin_family, AF_INET);
    EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    sockaddr_in peer;
    int peerSize = sizeof peer;
    ASSERT_EQ(getpeername(client, reinterpret_cast<sockaddr*>(&peer), &peerSize), 0);
    EXPECT_EQ(ntohs(peer.sin_port), port);

    // More than the buffers hold, so that both ends go through partial
    // transfers; the writer then ends its side.
    std::string payload(1 << 20, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = char(i * 7 + i / 251);
    int sent = 0;
    std::thread writer([&] {
        sent = send(client, payload.data(), int(payload.size()), 0);
        shutdown(client, SD_SEND);
    });
    std::string received;
    char buffer[4096];
    int n;
    while ((n = recv(server, buffer, sizeof buffer, 0)) > 0) received.append(buffer, size_t(n));
    writer.join();
    EXPECT_EQ(sent, int(payload.size()));
    EXPECT_EQ(n, 0);  // the orderly close
    EXPECT_TRUE(received == payload);
    EXPECT_EQ(recv(server, buffer, sizeof buffer, 0), 0);  // and it stays closed
    EXPECT_EQ(send(client, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAESHUTDOWN);

    // The half still open carries a reply. select without a time limit
    // waits for it.
    ASSERT_EQ(send(server, "reply", 5, 0), 5);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client, &readable);
    EXPECT_EQ(select(0, &readable, nullptr, nullptr, nullptr), 1);
    EXPECT_TRUE(FD_ISSET(client, &readable));
    u_long pending = 0;
    EXPECT_EQ(ioctlsocket(client, FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 5u);
    EXPECT_EQ(recv(client, buffer, sizeof buffer, MSG_PEEK), 5);
    ASSERT_EQ(recv(client, buffer, sizeof buffer, 0), 5);
    EXPECT_EQ(std::string(buffer, 5), "reply");
    Close(server);
    EXPECT_EQ(recv(client, buffer, sizeof buffer, 0), 0);
}

TEST_F(Sockets, ReceiveTimeLimitOnASilentPeer) {
    SOCKET client, server;
    ASSERT_NO_FATAL_FAILURE(Pair(&client, &server));
    DWORD limit = 300;
    ASSERT_EQ(setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                         sizeof limit),
              0);
    DWORD got = 0;
    int size = sizeof got;
    EXPECT_EQ(getsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&got), &size), 0);
    EXPECT_EQ(got, limit);
    EXPECT_EQ(size, int(sizeof got));

    // Polled, the silent socket is not readable and leaves the set.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client, &readable);
    timeval now = {0, 0};
    EXPECT_EQ(select(0, &readable, nullptr, nullptr, &now), 0);
    EXPECT_EQ(readable.fd_count, 0u);

    char c;
    auto start = Clock::now();
    EXPECT_EQ(recv(client, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    long long waited = MsSince(start);
    EXPECT_GE(waited, 250);
    EXPECT_LT(waited, 3000);
}

TEST_F(Sockets, CloseFromAnotherThreadEndsABlockedReceive) {
    SOCKET client, server;
    ASSERT_NO_FATAL_FAILURE(Pair(&client, &server));
    DWORD safety = 10000;  // so that a failure cannot hang the run
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&safety), sizeof safety);
    std::thread closer([&] {
        Sleep(200);
        closesocket(client);
    });
    char c;
    auto start = Clock::now();
    int result = recv(client, &c, 1, 0);
    long long waited = MsSince(start);
    closer.join();
    std::erase(open_, client);
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_LT(waited, 5000);
}

TEST_F(Sockets, NonBlockingConnectToAListener) {
    u_short port;
    SOCKET listener = Listener(&port);
    SOCKET client = NewSocket();
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(client, FIONBIO, &on), 0);
    sockaddr_in to = Loopback(port);
    if (connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to) == SOCKET_ERROR) {
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);  // not WSAEINPROGRESS
    }
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(client, &writable);
    FD_SET(client, &failed);
    timeval wait = {5, 0};
    EXPECT_EQ(select(0, nullptr, &writable, &failed, &wait), 1);
    EXPECT_TRUE(FD_ISSET(client, &writable));
    EXPECT_FALSE(FD_ISSET(client, &failed));
    int error = -1, size = sizeof error;
    EXPECT_EQ(getsockopt(client, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size), 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEISCONN);

    // The waiting connection makes the listener readable; a non-blocking
    // listener's accept does not wait, and its sockets do not either.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    EXPECT_EQ(select(0, &readable, nullptr, nullptr, &wait), 1);
    ASSERT_EQ(ioctlsocket(listener, FIONBIO, &on), 0);
    SOCKET server = accept(listener, nullptr, nullptr);
    ASSERT_NE(server, INVALID_SOCKET);
    open_.push_back(server);
    EXPECT_EQ(accept(listener, nullptr, nullptr), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    char c;
    EXPECT_EQ(recv(server, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(recv(client, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(Sockets, ConnectToAClosedPortIsRefused) {
    u_short port;
    Close(Listener(&port));  // nobody listens there any more
    sockaddr_in to = Loopback(port);

    SOCKET client = NewSocket();
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(client, FIONBIO, &on), 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(client, &writable);
    FD_SET(client, &failed);
    timeval wait = {10, 0};
    EXPECT_GE(select(0, nullptr, &writable, &failed, &wait), 1);
    EXPECT_TRUE(FD_ISSET(client, &failed));
    EXPECT_FALSE(FD_ISSET(client, &writable));
    int error = 0, size = sizeof error;
    EXPECT_EQ(getsockopt(client, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size), 0);
    EXPECT_EQ(error, WSAECONNREFUSED);

    SOCKET blocking = NewSocket();
    EXPECT_EQ(connect(blocking, reinterpret_cast<sockaddr*>(&to), sizeof to), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
}

TEST_F(Sockets, SendToAPeerThatClosedFailsWithoutEndingTheProgram) {
    SOCKET client, server;
    ASSERT_NO_FATAL_FAILURE(Pair(&client, &server));
    Close(server);
    // The first sends may still be taken; the peer's reset ends that.
    int result = 0, error = 0;
    for (int i = 0; i < 100 && result != SOCKET_ERROR; ++i) {
        result = send(client, "data", 4, 0);
        if (result == SOCKET_ERROR) error = WSAGetLastError();
        else Sleep(20);
    }
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_TRUE(error == WSAECONNRESET || error == WSAECONNABORTED) << error;
    EXPECT_EQ(send(client, "data", 4, 0), SOCKET_ERROR);
}

TEST_F(Sockets, AddressTexts) {
    struct Good {
        const char* text;
        ULONG address;  // host order
    };
    for (const Good& good : {Good{"127.0.0.1", 0x7f000001}, Good{"192.168.1.2", 0xc0a80102},
                             Good{"0.0.0.0", 0}, Good{"255.255.255.254", 0xfffffffe},
                             Good{"10.1", 0x0a000001}, Good{"1.2.772", 0x01020304},
                             Good{"3232235778", 0xc0a80102}, Good{"0x7f.0.0.1", 0x7f000001},
                             Good{"0177.0.0.01", 0x7f000001}, Good{"1.0xff", 0x010000ff}})
        EXPECT_EQ(ntohl(inet_addr(good.text)), good.address) << good.text;
    for (const char* bad : {"", "abc", " 1.2.3.4", "256.1.1.1", "1.2.3.256", "1.2.3.4.5", "1..2.3",
                            "1.2.3.", "1.2.3.4x", "127.0.0.1:25", "08.1.1.1", "0x", "1.16777216",
                            "1.2.65536", "4294967296"})
        EXPECT_EQ(inet_addr(bad), INADDR_NONE) << '"' << bad << '"';

    in_addr address;
    address.s_addr = htonl(0xc0a80102);
    EXPECT_STREQ(inet_ntoa(address), "192.168.1.2");
    address.s_addr = INADDR_BROADCAST;
    EXPECT_STREQ(inet_ntoa(address), "255.255.255.255");
}

TEST_F(Sockets, HostNames) {
    hostent* host = gethostbyname("localhost");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->h_addrtype, AF_INET);
    EXPECT_EQ(host->h_length, 4);
    ASSERT_NE(host->h_addr_list[0], nullptr);
    in_addr first;
    std::memcpy(&first, host->h_addr, sizeof first);
    EXPECT_STREQ(inet_ntoa(first), "127.0.0.1");

    host = gethostbyname("127.0.0.1");
    ASSERT_NE(host, nullptr);
    EXPECT_STREQ(host->h_name, "127.0.0.1");
    std::memcpy(&first, host->h_addr, sizeof first);
    EXPECT_EQ(first.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(host->h_addr_list[1], nullptr);

    WSASetLastError(0);
    EXPECT_EQ(gethostbyname("kestrovane-no-such-host.invalid"), nullptr);
    int error = WSAGetLastError();
    // WSATRY_AGAIN where no name server answers at all.
    EXPECT_TRUE(error == WSAHOST_NOT_FOUND || error == WSANO_DATA || error == WSATRY_AGAIN) << error;
}

TEST_F(Sockets, Options) {
    SOCKET s = NewSocket();
    BOOL on = TRUE, got = FALSE;
    int size = sizeof got;
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on), 0);
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&got), &size), 0);
    EXPECT_NE(got, FALSE);
    EXPECT_EQ(setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on), 0);
    got = FALSE;
    size = sizeof got;
    EXPECT_EQ(getsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&got), &size), 0);
    EXPECT_NE(got, FALSE);

    EXPECT_EQ(setsockopt(s, SOL_SOCKET, 0x7777, reinterpret_cast<const char*>(&on), sizeof on),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
    DWORD limit = 100;
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), 2),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    int error = 0;
    size = 2;
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

TEST_F(Sockets, ValuesThatAreNoSockets) {
    for (SOCKET bogus : {SOCKET(0), SOCKET(1), SOCKET(2), SOCKET(0x12345678), INVALID_SOCKET}) {
        WSASetLastError(0);
        EXPECT_EQ(closesocket(bogus), SOCKET_ERROR) << bogus;
        EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK) << bogus;
    }
    SOCKET s = NewSocket();
    Close(s);
    EXPECT_EQ(send(s, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);

    fd_set readable;
    FD_ZERO(&readable);
    timeval now = {0, 0};
    EXPECT_EQ(select(0, &readable, nullptr, nullptr, &now), SOCKET_ERROR);  // nothing to wait for
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    FD_SET(s, &readable);
    EXPECT_EQ(select(0, &readable, nullptr, nullptr, &now), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);

    // FD_SET lists a socket once; FD_CLR keeps the order of the rest.
    FD_ZERO(&readable);
    FD_SET(SOCKET(8), &readable);
    FD_SET(SOCKET(12), &readable);
    FD_SET(SOCKET(8), &readable);
    FD_SET(SOCKET(16), &readable);
    FD_CLR(SOCKET(12), &readable);
    ASSERT_EQ(readable.fd_count, 2u);
    EXPECT_EQ(readable.fd_array[0], SOCKET(8));
    EXPECT_EQ(readable.fd_array[1], SOCKET(16));
}

}  // namespace
