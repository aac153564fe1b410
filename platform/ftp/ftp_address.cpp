// FtpAddress and FtpStream::ConnectHost (ftp_stream.h), one source for both
// systems: name resolution and the socket address structures are alike in
// Windows Sockets and Linux's sockets. The connect itself, the waits and the
// error codes are each system's part (platform/ftp/ftp_stream_winsock.cpp,
// platform/linux/ftp_stream.cpp).
#include "platform/ftp/ftp_stream.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include "platform/win32.h"
// After the Windows headers, which it extends.
#include <ws2tcpip.h>
#else
// The system's own socket headers: the Winsock layer's names clash with them
// and its sockets are IPv4 only.
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/linux/kernel32.h"
#include "platform/linux/wininet.h"
#endif

static_assert(sizeof(FtpAddress::bytes) >= sizeof(sockaddr_storage));
static_assert(alignof(FtpAddress) >= alignof(sockaddr_storage));

bool FtpAddress::IsIpv4() const {
    return length > 0 && reinterpret_cast<const sockaddr*>(bytes)->sa_family == AF_INET;
}

FtpAddress FtpAddress::WithPort(uint16_t port) const {
    FtpAddress result = *this;
    if (IsIpv4())
        reinterpret_cast<sockaddr_in*>(result.bytes)->sin_port = htons(port);
    else if (length > 0)
        reinterpret_cast<sockaddr_in6*>(result.bytes)->sin6_port = htons(port);
    return result;
}

bool FtpStream::ConnectHost(const char* host, uint16_t port, int timeoutMs) {
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;  // no AI_ADDRCONFIG: with loopback alone it finds nothing
    char service[8];
    std::snprintf(service, sizeof service, "%u", unsigned(port));
    addrinfo* found = nullptr;
    const int status = getaddrinfo(host, service, &hints, &found);
    if (status != 0 || !found) {
        SetLastError(status == EAI_MEMORY ? ERROR_NOT_ENOUGH_MEMORY
                                          : ERROR_INTERNET_NAME_NOT_RESOLVED);
        return false;
    }
    // Each address in turn; the error of the last attempt is reported.
    bool connected = false;
    for (addrinfo* a = found; a && !connected; a = a->ai_next) {
        if (a->ai_addrlen > sizeof peer_.bytes) continue;
        FtpAddress address;
        std::memcpy(address.bytes, a->ai_addr, a->ai_addrlen);
        address.length = int(a->ai_addrlen);
        connected = Connect(address, timeoutMs);
    }
    freeaddrinfo(found);
    return connected;
}
