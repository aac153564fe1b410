// The FTP control connection and the socket helpers (see ftp_control.h).
#include "platform/linux/ftp_control.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include "platform/linux/kernel32.h"
#include "platform/linux/wininet.h"
#include "platform/linux/wininet_internal.h"
// After the Win32 types it is written in.
#include "platform/extensions.h"

namespace {

int64_t NowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits for events on fd for at most timeoutMs; false with
// ERROR_INTERNET_TIMEOUT when nothing happened.
bool WaitFor(int fd, short events, int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        struct pollfd p = {fd, events, 0};
        int64_t left = deadline - NowMs();
        int ready = poll(&p, 1, left > 0 ? int(left) : 0);
        if (ready > 0) return true;  // readiness or an error the next call reports
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            FtpSetSocketError(errno);
            return false;
        }
        SetLastError(ERROR_INTERNET_TIMEOUT);
        return false;
    }
}

bool IsCodeDigits(const std::string& line) {
    return line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && line[1] >= '0' &&
           line[1] <= '9' && line[2] >= '0' && line[2] <= '9';
}

}  // namespace

int InternetTimeoutMs() {
    static const int limit = [] {
        const char* text = PlatformSetting("KV_INTERNET_TIMEOUT_MS");
        if (text && *text) {
            char* end = nullptr;
            long value = std::strtol(text, &end, 10);
            if (*end == '\0' && value > 0 && value <= 24L * 3600 * 1000) return int(value);
        }
        return 60000;
    }();
    return limit;
}

FtpTransferLimits ftpTransferLimits;

FtpDataBound::FtpDataBound(uint64_t maximumBytes) : start_(NowMs()), maximum_(maximumBytes) {}

bool FtpDataBound::Wait(int fd, short events) {
    const uint64_t rate = std::max<uint64_t>(ftpTransferLimits.minimumBytesPerSecond, 1);
    const int limit = InternetTimeoutMs();
    // The time the bytes so far buy at the minimum rate, in milliseconds.
    const uint64_t earned = bytes_ / rate * 1000 + bytes_ % rate * 1000 / rate;
    const int64_t allowed = std::max<int64_t>(limit, int64_t(std::min<uint64_t>(earned, INT64_MAX / 2)));
    const int64_t left = allowed - (NowMs() - start_);
    if (left >= limit) return WaitFor(fd, events, limit);
    if (left > 0 && WaitFor(fd, events, int(left))) return true;
    if (left > 0 && GetLastError() != ERROR_INTERNET_TIMEOUT) return false;
    tripped_ = true;
    SetLastError(ERROR_INTERNET_TIMEOUT);
    return false;
}

ssize_t FtpDataBound::Receive(int fd, char* buffer, size_t size) {
    for (;;) {
        if (!Wait(fd, POLLIN)) return -1;
        ssize_t got = recv(fd, buffer, size, MSG_DONTWAIT);
        if (got >= 0) {
            bytes_ += uint64_t(got);
            if (bytes_ > maximum_) {
                tripped_ = true;
                SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
                return -1;
            }
            return got;
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        FtpSetSocketError(errno);
        return -1;
    }
}

bool FtpDataBound::Send(int fd, const char* data, size_t size) {
    while (size > 0) {
        if (!Wait(fd, POLLOUT)) return false;
        ssize_t sent = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            FtpSetSocketError(errno);
            return false;
        }
        bytes_ += uint64_t(sent);
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

void FtpSetSocketError(int err) {
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

DWORD FtpErrorFromReply(int code) {
    switch (code) {
    case 425: return ERROR_INTERNET_CANNOT_CONNECT;
    case 426: return ERROR_INTERNET_CONNECTION_ABORTED;
    case 530: return ERROR_INTERNET_LOGIN_FAILURE;
    default: return ERROR_INTERNET_EXTENDED_ERROR;
    }
}

FtpSocket& FtpSocket::operator=(FtpSocket&& other) noexcept {
    if (this != &other) {
        reset(other.fd_);
        other.fd_ = -1;
    }
    return *this;
}

void FtpSocket::reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
}

int FtpConnectAddress(const struct sockaddr* address, socklen_t length, int timeoutMs) {
    int fd = socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        FtpSetSocketError(errno);
        return -1;
    }
    int result;
    do {
        result = connect(fd, address, length);
    } while (result < 0 && errno == EINTR);
    if (result < 0 && errno != EINPROGRESS) {
        close(fd);
        SetLastError(ERROR_INTERNET_CANNOT_CONNECT);
        return -1;
    }
    if (result < 0) {
        if (!WaitFor(fd, POLLOUT, timeoutMs)) {
            close(fd);
            return -1;
        }
        int err = 0;
        socklen_t size = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) < 0) err = errno;
        if (err) {
            close(fd);
            SetLastError(err == ETIMEDOUT ? ERROR_INTERNET_TIMEOUT : ERROR_INTERNET_CANNOT_CONNECT);
            return -1;
        }
    }
    // Back to blocking: every later wait goes through poll with the limit.
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool FtpSendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        if (!WaitFor(fd, POLLOUT, InternetTimeoutMs())) return false;
        ssize_t sent = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            FtpSetSocketError(errno);
            return false;
        }
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

ssize_t FtpReceive(int fd, char* buffer, size_t size, int timeoutMs) {
    for (;;) {
        if (!WaitFor(fd, POLLIN, timeoutMs)) return -1;
        ssize_t got = recv(fd, buffer, size, MSG_DONTWAIT);
        if (got >= 0) return got;
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        FtpSetSocketError(errno);
        return -1;
    }
}

bool FtpControl::Connect(const char* host, uint16_t port) {
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;  // no AI_ADDRCONFIG: with loopback alone it finds nothing
    char service[8];
    std::snprintf(service, sizeof service, "%u", unsigned(port));
    struct addrinfo* found = nullptr;
    int status = getaddrinfo(host, service, &hints, &found);
    if (status != 0 || !found) {
        SetLastError(status == EAI_MEMORY ? ERROR_NOT_ENOUGH_MEMORY
                                          : ERROR_INTERNET_NAME_NOT_RESOLVED);
        return false;
    }
    // Each address in turn; the error of the last attempt is reported.
    int fd = -1;
    for (struct addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        if (a->ai_addrlen > sizeof peer_) continue;
        fd = FtpConnectAddress(a->ai_addr, a->ai_addrlen, InternetTimeoutMs());
        if (fd >= 0) {
            std::memcpy(&peer_, a->ai_addr, a->ai_addrlen);
            peerLength_ = a->ai_addrlen;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) return false;
    socket_.reset(fd);
    return true;
}

bool FtpControl::Send(const char* verb, const std::string& argument) {
    if (dead_) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    // A name with a line end would end the command and start another.
    if (argument.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string line = verb;
    if (!argument.empty()) line += ' ' + argument;
    line += "\r\n";
    if (!FtpSendAll(socket_.fd(), line.data(), line.size())) {
        dead_ = true;
        return false;
    }
    return true;
}

bool FtpControl::ReadLine(std::string& line, size_t& budget, int64_t deadline) {
    line.clear();
    char buffer[4096];
    for (;;) {
        size_t end = pending_.find('\n');
        size_t take = end == std::string::npos ? pending_.size() : end;
        if (line.size() < kFtpMaxLineKept)
            line.append(pending_, 0, std::min(take, kFtpMaxLineKept - line.size()));
        if (end != std::string::npos) {
            pending_.erase(0, end + 1);
            break;
        }
        pending_.clear();
        if (budget == 0) {  // a reply that does not end
            SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
            return false;
        }
        int64_t left = deadline - NowMs();
        if (left <= 0) {
            SetLastError(ERROR_INTERNET_TIMEOUT);
            return false;
        }
        ssize_t got = FtpReceive(socket_.fd(), buffer, std::min(sizeof buffer, budget), int(left));
        if (got < 0) return false;
        if (got == 0) {
            SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
            return false;
        }
        budget -= size_t(got);
        pending_.append(buffer, size_t(got));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool FtpControl::Read(FtpReply& reply) {
    if (dead_) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    const int64_t deadline = NowMs() + InternetTimeoutMs();
    size_t budget = kFtpMaxReplyBytes;
    std::string line, text;
    int code = -1;
    for (int lines = 0;; ++lines) {
        if (lines == kFtpMaxReplyLines || !ReadLine(line, budget, deadline)) {
            if (lines == kFtpMaxReplyLines) SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
            dead_ = true;
            return false;
        }
        text += line;
        text += "\r\n";
        if (code < 0) {
            if (!IsCodeDigits(line) || (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
                InternetSetLastResponse(0, text);
                SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
                dead_ = true;
                return false;
            }
            code = std::atoi(line.substr(0, 3).c_str());
            if (line.size() == 3 || line[3] == ' ') break;
        } else if (IsCodeDigits(line) && std::atoi(line.substr(0, 3).c_str()) == code &&
                   (line.size() == 3 || line[3] == ' ')) {
            break;
        }
    }
    reply.code = code;
    reply.text = std::move(text);
    InternetSetLastResponse(DWORD(code), reply.text);
    return true;
}

bool FtpControl::Exchange(const char* verb, const std::string& argument, FtpReply& reply) {
    return Send(verb, argument) && Read(reply);
}
