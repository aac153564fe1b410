// FtpStream (platform/ftp/ftp_stream.h) on Linux sockets. They are the
// system's own rather than the Winsock layer's, whose sockets are IPv4 only:
// FTP servers are reached over IPv6 too. A TLS session (platform/tls.h)
// speaks the Winsock layer's sockets, so it gets one over a duplicate of the
// descriptor: the same connection, the same non-blocking mode, and Abort's
// shutdown reaches it too.
#include "platform/ftp/ftp_stream.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#define KV_WINSOCK_ENTRY_POINTS_ONLY
#include "platform/linux/winsock.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/wininet.h"

namespace {

int64_t NowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SetSocketError(int err) {
    switch (err) {
    case ECONNRESET: SetLastError(ERROR_INTERNET_CONNECTION_RESET); break;
    case ETIMEDOUT: SetLastError(ERROR_INTERNET_TIMEOUT); break;
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EADDRNOTAVAIL:
    case ENETDOWN: SetLastError(ERROR_INTERNET_CANNOT_CONNECT); break;
    case ENOMEM:
    case ENOBUFS: SetLastError(ERROR_NOT_ENOUGH_MEMORY); break;
    default: SetLastError(ERROR_INTERNET_CONNECTION_ABORTED); break;
    }
}

bool WaitFor(int fd, short events, int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        struct pollfd p = {fd, events, 0};
        int64_t left = deadline - NowMs();
        int ready = poll(&p, 1, left > 0 ? int(left) : 0);
        if (ready > 0) return true;  // readiness or an error the next call reports
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            SetSocketError(errno);
            return false;
        }
        SetLastError(ERROR_INTERNET_TIMEOUT);
        return false;
    }
}

const sockaddr* Native(const FtpAddress& address) {
    return reinterpret_cast<const sockaddr*>(address.bytes);
}

}  // namespace

bool FtpStream::Connect(const FtpAddress& address, int timeoutMs) {
    Close();
    int fd = socket(Native(address)->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        SetSocketError(errno);
        return false;
    }
    int result;
    do {
        result = connect(fd, Native(address), socklen_t(address.length));
    } while (result < 0 && errno == EINTR);
    if (result < 0 && errno != EINPROGRESS) {
        close(fd);
        SetLastError(ERROR_INTERNET_CANNOT_CONNECT);
        return false;
    }
    if (result < 0) {
        if (!WaitFor(fd, POLLOUT, timeoutMs)) {
            close(fd);
            return false;
        }
        int err = 0;
        socklen_t size = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) < 0) err = errno;
        if (err) {
            close(fd);
            SetLastError(err == ETIMEDOUT ? ERROR_INTERNET_TIMEOUT : ERROR_INTERNET_CANNOT_CONNECT);
            return false;
        }
    }
    // The descriptor stays non-blocking: every send and receive is one
    // attempt, and every wait goes through poll with its limit.
    handle_ = fd;
    peer_ = address;
    return true;
}

long long FtpStream::PlainSendSome(const char* data, size_t size, FtpReady& wait) {
    for (;;) {
        ssize_t sent = send(int(handle_), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return sent;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            wait = FtpReady::Write;
            return kFtpWouldBlock;
        }
        SetSocketError(errno);
        return -1;
    }
}

long long FtpStream::PlainReceiveSome(char* buffer, size_t size, FtpReady& wait) {
    for (;;) {
        ssize_t got = recv(int(handle_), buffer, size, MSG_DONTWAIT);
        if (got >= 0) return got;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            wait = FtpReady::Read;
            return kFtpWouldBlock;
        }
        SetSocketError(errno);
        return -1;
    }
}

bool FtpStream::PlainWait(FtpReady what, int timeoutMs) {
    return WaitFor(int(handle_), what == FtpReady::Read ? POLLIN : POLLOUT, timeoutMs);
}

void FtpStream::ShutdownSend() {
    if (handle_ >= 0) shutdown(int(handle_), SHUT_WR);
}

void FtpStream::Abort() {
    const long long handle = handle_;
    if (handle >= 0) shutdown(int(handle), SHUT_RDWR);
}

void FtpStream::PlainClose() {
    if (handle_ >= 0) close(int(handle_));
    handle_ = -1;
}

uintptr_t FtpStream::TlsSocket() {
    const int copy = fcntl(int(handle_), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return ~uintptr_t(0);
    return kv_winsock::AdoptConnected(copy);
}

void FtpStream::ReleaseTlsSocket(uintptr_t socket) { kv_winsock::CloseSocket(socket); }
