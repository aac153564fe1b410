// One TCP connection to a mail server, with every wait bounded, and the
// reading of whole SMTP replies.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

class MailConnection {
public:
    MailConnection() = default;
    ~MailConnection() { Close(); }
    MailConnection(const MailConnection&) = delete;
    MailConnection& operator=(const MailConnection&) = delete;

    // Makes the TCP socket. False when the system gives none.
    bool Create();
    // Connects to an IPv4 address (network order) and port within
    // `waitMs`. False when refused, unreachable or out of time.
    bool Connect(uint32_t address, uint16_t port, int waitMs);
    // Sends all of the bytes, as far as the server takes them; a connection
    // the server has closed is not an error here (the replies tell).
    void Send(const char* bytes, size_t length);
    void Send(const char* text);
    // Reads one whole reply, all lines of a multi-line one, however the
    // server splits it over packets, within `waitMs`. The first `keep`
    // bytes are kept in the reply buffer (NUL-terminated); the rest of an
    // overlong reply is read and dropped so the dialogue stays in step.
    // Returns the reply code, or 0 when no complete reply arrived; the
    // connection is then closed.
    int Receive(size_t keep, int waitMs);
    void Close();

    bool connected() const { return connected_; }
    const char* reply() const { return reply_; }

    static constexpr size_t kReplySize = 512;

private:
    // Waits for the socket to be readable until `deadline` (GetTickCount).
    bool WaitReadable(DWORD deadline);

    SOCKET socket_ = INVALID_SOCKET;
    bool connected_ = false;
    char reply_[kReplySize + 1] = {};
};
