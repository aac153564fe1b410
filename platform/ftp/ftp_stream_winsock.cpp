// FtpStream (ftp_stream.h) on Windows Sockets: non-blocking sockets, every
// wait a select with its limit. Built on Windows today; Linux keeps
// platform/linux/ftp_stream.cpp until its Winsock layer resolves names with
// getaddrinfo and carries IPv6, then uses this one too. Addresses and name
// resolution are ftp_address.cpp's, for both. The caller has started Windows
// Sockets (WSAStartup).
#include "platform/ftp/ftp_stream.h"

#include <chrono>
#include <climits>

#include "platform/win32.h"

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SetSocketError(int error) {
    switch (error) {
    case WSAECONNRESET: SetLastError(ERROR_INTERNET_CONNECTION_RESET); break;
    case WSAETIMEDOUT: SetLastError(ERROR_INTERNET_TIMEOUT); break;
    case WSAECONNREFUSED:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAEADDRNOTAVAIL:
    case WSAENETDOWN: SetLastError(ERROR_INTERNET_CANNOT_CONNECT); break;
    case WSAENOBUFS: SetLastError(ERROR_NOT_ENOUGH_MEMORY); break;
    default: SetLastError(ERROR_INTERNET_CONNECTION_ABORTED); break;
    }
}

// Waits for `socket` to become readable or writable (a failed connect shows
// in the exception set); false with the last error set.
bool WaitFor(SOCKET socket, bool write, int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(socket, &ready);
        FD_SET(socket, &failed);
        const int64_t left = deadline - NowMs();
        timeval limit;
        limit.tv_sec = long(left > 0 ? left / 1000 : 0);
        limit.tv_usec = long(left > 0 ? left % 1000 * 1000 : 0);
        const int count = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &limit);
        if (count > 0) return true;  // readiness or an error the next call reports
        if (count == SOCKET_ERROR && WSAGetLastError() == WSAEINTR) continue;
        if (count == SOCKET_ERROR) {
            SetSocketError(WSAGetLastError());
            return false;
        }
        SetLastError(ERROR_INTERNET_TIMEOUT);
        return false;
    }
}

const sockaddr* Native(const FtpAddress& address) {
    return reinterpret_cast<const sockaddr*>(address.bytes);
}

int Clamp(size_t size) { return size > size_t(INT_MAX) ? INT_MAX : int(size); }

}  // namespace

bool FtpStream::Connect(const FtpAddress& address, int timeoutMs) {
    Close();
    const SOCKET socket = ::socket(Native(address)->sa_family, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) {
        SetSocketError(WSAGetLastError());
        return false;
    }
    // Not inherited by programs the monitor starts.
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
        SetSocketError(WSAGetLastError());
        closesocket(socket);
        return false;
    }
    if (connect(socket, Native(address), address.length) == SOCKET_ERROR) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            closesocket(socket);
            SetLastError(ERROR_INTERNET_CANNOT_CONNECT);
            return false;
        }
        if (!WaitFor(socket, true, timeoutMs)) {
            closesocket(socket);
            return false;
        }
        int error = 0;
        int size = sizeof error;
        if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) ==
            SOCKET_ERROR)
            error = WSAGetLastError();
        if (error) {
            closesocket(socket);
            SetLastError(error == WSAETIMEDOUT ? ERROR_INTERNET_TIMEOUT
                                               : ERROR_INTERNET_CANNOT_CONNECT);
            return false;
        }
    }
    handle_ = static_cast<long long>(socket);
    peer_ = address;
    return true;
}

long long FtpStream::PlainSendSome(const char* data, size_t size, FtpReady& wait) {
    const int sent = send(SOCKET(handle_), data, Clamp(size), 0);
    if (sent != SOCKET_ERROR) return sent;
    if (WSAGetLastError() == WSAEWOULDBLOCK) {
        wait = FtpReady::Write;
        return kFtpWouldBlock;
    }
    SetSocketError(WSAGetLastError());
    return -1;
}

long long FtpStream::PlainReceiveSome(char* buffer, size_t size, FtpReady& wait) {
    const int got = recv(SOCKET(handle_), buffer, Clamp(size), 0);
    if (got != SOCKET_ERROR) return got;
    if (WSAGetLastError() == WSAEWOULDBLOCK) {
        wait = FtpReady::Read;
        return kFtpWouldBlock;
    }
    SetSocketError(WSAGetLastError());
    return -1;
}

bool FtpStream::PlainWait(FtpReady what, int timeoutMs) {
    return WaitFor(SOCKET(handle_), what == FtpReady::Write, timeoutMs);
}

void FtpStream::ShutdownSend() {
    if (handle_ >= 0) shutdown(SOCKET(handle_), SD_SEND);
}

void FtpStream::Abort() {
    const long long handle = handle_;
    if (handle >= 0) shutdown(SOCKET(handle), SD_BOTH);
}

void FtpStream::PlainClose() {
    if (handle_ >= 0) closesocket(SOCKET(handle_));
    handle_ = -1;
}

// The TLS session runs over the stream's own socket.
uintptr_t FtpStream::TlsSocket() { return uintptr_t(SOCKET(handle_)); }

void FtpStream::ReleaseTlsSocket(uintptr_t) {}
