// One TCP connection to a mail server: every wait bounded twice, by a limit
// per wait and by the end of the whole attempt; commands queued and sent
// before the next reply is read; whole SMTP replies read in one place, and
// bytes that arrive after a reply kept for the next read. After StartTls
// every byte goes through TLS, waited for in the same bounded waits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/tls.h"
#include "platform/win32.h"

// Receives the lines of a reply, as Receive reads them: the text after the
// code and its separator, cut to kLineSize bytes, CR LF removed. Untrusted.
class ReplyLines {
public:
    static constexpr size_t kLineSize = 64;
    virtual void Line(int index, const char* text) = 0;

protected:
    ~ReplyLines() = default;
};

class MailConnection {
public:
    MailConnection() = default;
    ~MailConnection() { Close(); }
    MailConnection(const MailConnection&) = delete;
    MailConnection& operator=(const MailConnection&) = delete;

    // Makes the TCP socket. Every later wait ends after `waitMs`, and all of
    // them end `attemptMs` from now. False when the system gives no socket.
    bool Create(int waitMs, int attemptMs);
    // Connects to an IPv4 address (network order) and port within one wait.
    // False when refused, unreachable or out of time.
    bool Connect(uint32_t address, uint16_t port);
    // Queues bytes to send; a full queue goes out at once, the rest before
    // the next reply is read. False when the connection is gone: the server
    // closed it, or a send made no progress within its wait, which closes
    // it, so that the rest of the attempt ends at once.
    bool Send(const char* bytes, size_t length);
    bool Send(const char* text);
    // Sends what is queued, then reads one whole reply, all lines of a
    // multi-line one, however the server splits or joins its replies, within
    // one wait. The reply's first `keep` bytes (at most kReplySize) are kept
    // in reply() (NUL-terminated); the rest of an overlong reply is read and
    // dropped, and bytes after its last line stay for the next call. Returns
    // the reply code; 0 when no whole, well-formed reply arrived in time, and
    // the connection is then closed. The server's bytes are untrusted: one
    // reply is at most 64 KiB.
    // `lines`, when given, is shown each line of the reply (index 0 first).
    int Receive(size_t keep, ReplyLines* lines = nullptr);
    // Starts TLS on the connection as a client of `host` (verified against
    // the system's trust and kTrustFile) and waits for the handshake within
    // one wait. Whatever the server sent before is dropped unread: bytes
    // pipelined behind the reply that asked for TLS could otherwise be taken
    // for replies given inside it. False when the handshake or the
    // certificate fails (failure() says why) or the connection is gone; the
    // connection is then closed.
    bool StartTls(const char* host);
    // Ends the TLS session (close_notify, not waited for) and the connection.
    void Close();

    bool connected() const { return connected_; }
    bool secure() const { return tls_ != nullptr; }
    // Why the last StartTls failed: a PlatformTlsFailureKind, and its text.
    int failure() const { return failure_; }
    const char* failureText() const { return failureText_; }
    const char* reply() const { return reply_; }

    static constexpr size_t kReplySize = 512;

private:
    // The end of a wait that starts now: `waitMs_` from now, or the end of
    // the attempt when that comes first.
    DWORD WaitEnd() const;
    // Waits until the socket can be written (or read) or `end` (GetTickCount).
    bool WaitReady(bool writable, DWORD end);
    bool Flush();
    // One send or receive on the socket or through TLS: the bytes moved
    // (> 0); 0 when the connection ended or failed; -1 when it must wait
    // (`writable`: for which readiness).
    int SendSome(const char* bytes, size_t length, bool& writable);
    int ReceiveSome(char* bytes, size_t size, bool& writable);

    SOCKET socket_ = INVALID_SOCKET;
    bool connected_ = false;
    int waitMs_ = 0;
    DWORD attemptEnd_ = 0;
    char out_[4096] = {};
    size_t queued_ = 0;
    char in_[4096] = {};
    size_t inStart_ = 0;  // in_[inStart_, inEnd_) arrived but is not read yet
    size_t inEnd_ = 0;
    char reply_[kReplySize + 1] = {};
    PlatformTls* tls_ = nullptr;
    int failure_ = PLATFORM_TLS_NO_FAILURE;
    char failureText_[128] = {};
};
