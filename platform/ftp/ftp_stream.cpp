// What FtpStream builds on its system-specific attempts and waits (the
// systems' parts: platform/linux/ftp_stream.cpp).
#include "platform/ftp/ftp_stream.h"

bool FtpStream::SendAll(const char* data, size_t size, int timeoutMs) {
    FtpReady wait = FtpReady::Write;
    while (size > 0) {
        if (!Wait(wait, timeoutMs)) return false;
        const long long sent = SendSome(data, size, wait);
        if (sent == kFtpWouldBlock) continue;
        if (sent < 0) return false;
        wait = FtpReady::Write;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

long long FtpStream::Receive(char* buffer, size_t size, int timeoutMs) {
    FtpReady wait = FtpReady::Read;
    for (;;) {
        if (!Wait(wait, timeoutMs)) return -1;
        const long long got = ReceiveSome(buffer, size, wait);
        if (got != kFtpWouldBlock) return got;
    }
}
