#include "alerts/mail_connection.h"

#include <cstring>

namespace {

// However a hostile server drips its lines, one reply ends here.
constexpr size_t kMaxReplyBytes = 64 * 1024;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Milliseconds left until `deadline`, 0 when it has passed.
DWORD Remaining(DWORD deadline)
{
    DWORD now = GetTickCount();
    return int32_t(deadline - now) > 0 ? deadline - now : 0;
}

timeval Timeval(DWORD ms)
{
    timeval tv;
    tv.tv_sec = long(ms / 1000);
    tv.tv_usec = long(ms % 1000) * 1000;
    return tv;
}

} // namespace

bool MailConnection::Create()
{
    Close();
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return socket_ != INVALID_SOCKET;
}

bool MailConnection::Connect(uint32_t address, uint16_t port, int waitMs)
{
    if (socket_ == INVALID_SOCKET)
        return false;
    sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;

    // Without a limit a connect to a host that drops packets waits minutes.
    u_long nonBlocking = 1;
    ioctlsocket(socket_, FIONBIO, &nonBlocking);
    bool ok = ::connect(socket_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    if (!ok && WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket_, &writable);
        FD_SET(socket_, &failed);
        timeval tv = Timeval(DWORD(waitMs));
        if (select(0, nullptr, &writable, &failed, &tv) > 0 && !FD_ISSET(socket_, &failed) &&
            FD_ISSET(socket_, &writable)) {
            int error = 0;
            int size = sizeof error;
            ok = getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
                 error == 0;
        }
    }
    u_long blocking = 0;
    ioctlsocket(socket_, FIONBIO, &blocking);
    DWORD sendWait = DWORD(waitMs);
    setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendWait), sizeof sendWait);
    connected_ = ok;
    return ok;
}

void MailConnection::Send(const char* bytes, size_t length)
{
    while (connected_ && length > 0) {
        int sent = ::send(socket_, bytes, int(length), 0);
        if (sent <= 0)
            return;
        bytes += sent;
        length -= size_t(sent);
    }
}

void MailConnection::Send(const char* text) { Send(text, std::strlen(text)); }

bool MailConnection::WaitReadable(DWORD deadline)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval tv = Timeval(Remaining(deadline));
    return select(0, &readable, nullptr, nullptr, &tv) > 0;
}

int MailConnection::Receive(size_t keep, int waitMs)
{
    std::memset(reply_, 0, sizeof reply_);
    if (!connected_)
        return 0;
    if (keep > kReplySize)
        keep = kReplySize;
    DWORD deadline = GetTickCount() + DWORD(waitMs);
    size_t kept = 0, total = 0;
    char head[4];       // the first four characters of the current line
    size_t column = 0;  // characters of the current line so far
    char chunk[512];
    while (total < kMaxReplyBytes) {
        // A server that has gone quiet or away gets no more waits: the rest
        // of the dialogue then ends at once instead of one limit per command.
        if (!WaitReadable(deadline)) {
            Close();
            return 0;
        }
        int got = ::recv(socket_, chunk, sizeof chunk, 0);
        if (got <= 0) {
            Close();
            return 0;
        }
        for (int i = 0; i < got; ++i) {
            char c = chunk[i];
            if (kept < keep)
                reply_[kept++] = c;
            ++total;
            if (c != '\n') {
                if (column < sizeof head)
                    head[column] = c;
                ++column;
                continue;
            }
            bool coded = column >= 3 && IsDigit(head[0]) && IsDigit(head[1]) && IsDigit(head[2]);
            // "250-..." continues the reply; "250 ...", "250" or a line that
            // is no reply line at all ends it.
            if (!(coded && column >= 4 && head[3] == '-'))
                return coded ? (head[0] - '0') * 100 + (head[1] - '0') * 10 + (head[2] - '0') : 0;
            column = 0;
        }
    }
    Close();
    return 0;
}

void MailConnection::Close()
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
    socket_ = INVALID_SOCKET;
    connected_ = false;
}
