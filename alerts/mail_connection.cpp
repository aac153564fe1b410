#include "alerts/mail_connection.h"

#include <cstdio>
#include <cstring>

#include "sites/data_files.h"

namespace {

// However a hostile server drips its lines, one reply ends here.
constexpr size_t kMaxReplyBytes = 64 * 1024;

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

// What the fourth character of a reply line says (RFC 5321, 4.2):
//
//   Reply-line = *( Reply-code "-" [ textstring ] CRLF )
//                Reply-code [ SP textstring ] CRLF
//   Reply-code = %x32-35 %x30-35 %x30-39
//   textstring = 1*(%d09 / %d32-126) ; HT, SP, Printable US-ASCII
//
// and, in prose: every line of a multi-line reply carries the same code.
// A bare LF is taken for CRLF; the text is kept as it came, unchecked.
enum class LineKind { Malformed, More, Last };

LineKind ReplyLine(const char head[4], size_t length, const char code[3])
{
    if (length < 3 || head[0] < '2' || head[0] > '5' || head[1] < '0' || head[1] > '5' || head[2] < '0' ||
        head[2] > '9' || (code[0] && std::memcmp(head, code, 3) != 0))
        return LineKind::Malformed;
    if (length == 3 || head[3] == ' ' || head[3] == '\r')
        return LineKind::Last;
    return head[3] == '-' ? LineKind::More : LineKind::Malformed;
}

} // namespace

bool MailConnection::Create(int waitMs, int attemptMs)
{
    Close();
    failure_ = PLATFORM_TLS_NO_FAILURE;
    failureText_[0] = '\0';
    waitMs_ = waitMs;
    attemptEnd_ = GetTickCount() + DWORD(attemptMs);
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return socket_ != INVALID_SOCKET;
}

DWORD MailConnection::WaitEnd() const
{
    DWORD end = GetTickCount() + DWORD(waitMs_);
    return int32_t(attemptEnd_ - end) < 0 ? attemptEnd_ : end;
}

bool MailConnection::WaitReady(bool writable, DWORD end)
{
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket_, &ready);
    timeval tv = Timeval(Remaining(end));
    return select(0, writable ? nullptr : &ready, writable ? &ready : nullptr, nullptr, &tv) > 0;
}

bool MailConnection::Connect(uint32_t address, uint16_t port)
{
    if (socket_ == INVALID_SOCKET)
        return false;
    sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;

    // Non-blocking for good: without a limit a connect to a host that drops
    // packets waits minutes, and a send to a server that has stopped reading
    // waits for ever.
    u_long nonBlocking = 1;
    ioctlsocket(socket_, FIONBIO, &nonBlocking);
    bool ok = ::connect(socket_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    if (!ok && WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket_, &writable);
        FD_SET(socket_, &failed);
        timeval tv = Timeval(Remaining(WaitEnd()));
        if (select(0, nullptr, &writable, &failed, &tv) > 0 && !FD_ISSET(socket_, &failed) &&
            FD_ISSET(socket_, &writable)) {
            int error = 0;
            int size = sizeof error;
            ok = getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
                 error == 0;
        }
    }
    connected_ = ok;
    return ok;
}

bool MailConnection::Send(const char* bytes, size_t length)
{
    while (connected_ && length > 0) {
        size_t n = sizeof out_ - queued_ < length ? sizeof out_ - queued_ : length;
        std::memcpy(out_ + queued_, bytes, n);
        queued_ += n;
        bytes += n;
        length -= n;
        if (queued_ == sizeof out_)
            Flush();
    }
    return connected_;
}

bool MailConnection::Send(const char* text) { return Send(text, std::strlen(text)); }

int MailConnection::SendSome(const char* bytes, size_t length, bool& writable)
{
    writable = true;
    if (!tls_) {
        int sent = ::send(socket_, bytes, int(length), 0);
        if (sent > 0)
            return sent;
        return sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK ? -1 : 0;
    }
    int sent = 0;
    switch (PlatformTlsWrite(tls_, bytes, int(length), &sent)) {
    case PLATFORM_TLS_OK: return sent;
    case PLATFORM_TLS_WANT_READ: writable = false; return -1;
    case PLATFORM_TLS_WANT_WRITE: return -1;
    default: return 0;
    }
}

int MailConnection::ReceiveSome(char* bytes, size_t size, bool& writable)
{
    writable = false;
    if (!tls_) {
        int got = ::recv(socket_, bytes, int(size), 0);
        if (got > 0)
            return got;
        return got == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK ? -1 : 0;
    }
    // Read before any wait: TLS may hold decrypted bytes that select cannot see.
    int got = 0;
    switch (PlatformTlsRead(tls_, bytes, int(size), &got)) {
    case PLATFORM_TLS_OK: return got;
    case PLATFORM_TLS_WANT_READ: return -1;
    case PLATFORM_TLS_WANT_WRITE: writable = true; return -1;
    default: return 0;
    }
}

bool MailConnection::Flush()
{
    const DWORD end = WaitEnd();
    size_t done = 0;
    while (connected_ && done < queued_) {
        bool writable = true;
        int sent = SendSome(out_ + done, queued_ - done, writable);
        if (sent > 0)
            done += size_t(sent);
        else if (sent == 0 || !WaitReady(writable, end))
            Close();
    }
    queued_ = 0;
    return connected_;
}

int MailConnection::Receive(size_t keep, ReplyLines* lines)
{
    std::memset(reply_, 0, sizeof reply_);
    if (!Flush())
        return 0;
    if (keep > kReplySize)
        keep = kReplySize;
    const DWORD end = WaitEnd();
    size_t kept = 0, total = 0;
    char code[3] = {};  // the code of the reply's first line
    char head[4] = {};  // the first four characters of the current line
    size_t column = 0;  // characters of the current line so far
    char text[ReplyLines::kLineSize + 1];  // the current line after its code
    size_t textLength = 0;
    int index = 0;
    while (total < kMaxReplyBytes) {
        if (inStart_ == inEnd_) {
            // A server that has gone quiet or away gets no more waits: the
            // rest of the dialogue then ends at once.
            bool writable = false;
            int got = ReceiveSome(in_, sizeof in_, writable);
            if (got < 0 && WaitReady(writable, end))
                continue;
            if (got <= 0)
                break;
            inStart_ = 0;
            inEnd_ = size_t(got);
        }
        char c = in_[inStart_++];
        ++total;
        if (kept < keep)
            reply_[kept++] = c;
        if (c != '\n') {
            if (column < sizeof head)
                head[column] = c;
            else if (textLength < ReplyLines::kLineSize && c != '\r')
                text[textLength++] = c;
            ++column;
            continue;
        }
        LineKind kind = ReplyLine(head, column, code);
        if (kind == LineKind::Malformed)
            break;
        if (lines) {
            text[textLength] = '\0';
            lines->Line(index++, text);
        }
        if (kind == LineKind::Last)
            return (head[0] - '0') * 100 + (head[1] - '0') * 10 + (head[2] - '0');
        std::memcpy(code, head, sizeof code);
        column = 0;
        textLength = 0;
    }
    Close();
    return 0;
}

bool MailConnection::StartTls(const char* host)
{
    if (!connected_)
        return false;
    inStart_ = inEnd_ = 0;
    PlatformTlsOptions options = {host, kTrustFile, nullptr};
    tls_ = PlatformTlsCreate(socket_, &options);
    const DWORD end = WaitEnd();
    int result = tls_ ? PlatformTlsHandshake(tls_) : PLATFORM_TLS_FAILED;
    while (result == PLATFORM_TLS_WANT_READ || result == PLATFORM_TLS_WANT_WRITE) {
        if (!WaitReady(result == PLATFORM_TLS_WANT_WRITE, end)) {
            failure_ = PLATFORM_TLS_CONNECTION;
            std::snprintf(failureText_, sizeof failureText_, "no TLS answer in time");
            Close();
            return false;
        }
        result = PlatformTlsHandshake(tls_);
    }
    if (result == PLATFORM_TLS_OK)
        return true;
    if (tls_)
        failure_ = PlatformTlsFailure(tls_, failureText_, int(sizeof failureText_));
    else
        std::snprintf(failureText_, sizeof failureText_, "TLS could not start");
    if (failure_ == PLATFORM_TLS_NO_FAILURE)
        failure_ = PLATFORM_TLS_PROTOCOL;
    Close();
    return false;
}

void MailConnection::Close()
{
    if (tls_) {
        PlatformTlsShutdown(tls_);
        PlatformTlsFree(tls_);
        tls_ = nullptr;
    }
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
    socket_ = INVALID_SOCKET;
    connected_ = false;
    queued_ = 0;
    inStart_ = inEnd_ = 0;
}
