// What FtpStream builds on its system-specific attempts and waits (the
// systems' parts: platform/linux/ftp_stream.cpp,
// platform/ftp/ftp_stream_winsock.cpp): the TLS layer over them, the FTP
// client's trust file, and the loops that send everything or wait once.
// Addresses and name resolution are ftp_address.cpp's.
#include "platform/ftp/ftp_stream.h"

#include <chrono>
#include <climits>
#include <mutex>

#include "platform/tls.h"
#include "platform/win32.h"

namespace {

std::mutex g_trustLock;
std::string g_trustFile;  // empty: none

std::string TrustFile() {
    std::lock_guard<std::mutex> lock(g_trustLock);
    return g_trustFile;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int Clamp(size_t size) { return size > size_t(INT_MAX) ? INT_MAX : int(size); }

// How long Close waits to hand close_notify to the system.
constexpr int kCloseNotifyMs = 200;

}  // namespace

void PlatformSetFtpTrustFile(LPCSTR path) {
    std::lock_guard<std::mutex> lock(g_trustLock);
    g_trustFile = path ? path : "";
}

bool FtpStream::StartTls(const char* host, const FtpStream* resumeFrom, int timeoutMs) {
    tlsFailure_.clear();
    if (tls_ || !open()) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    tlsSocket_ = TlsSocket();
    if (tlsSocket_ == ~uintptr_t(0)) {
        tlsFailure_ = "no socket for TLS";
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    const std::string trust = TrustFile();
    PlatformTlsOptions options = {};
    options.host = host;
    options.trustFile = trust.empty() ? nullptr : trust.c_str();
    options.resume = resumeFrom ? resumeFrom->tls_ : nullptr;
    tls_ = PlatformTlsCreate(SOCKET(tlsSocket_), &options);
    if (!tls_) {
        const DWORD error = GetLastError();
        ReleaseTlsSocket(tlsSocket_);
        tlsSocket_ = ~uintptr_t(0);
        tlsFailure_ = "TLS could not be set up";
        SetLastError(error == ERROR_INVALID_PARAMETER ? ERROR_INTERNET_SECURITY_CHANNEL_ERROR : error);
        return false;
    }
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const int result = PlatformTlsHandshake(tls_);
        if (result == PLATFORM_TLS_OK) return true;
        if (result != PLATFORM_TLS_WANT_READ && result != PLATFORM_TLS_WANT_WRITE) {
            TlsFailed(true);
            return false;
        }
        const int64_t left = deadline - NowMs();
        if (left <= 0 ||
            !PlainWait(result == PLATFORM_TLS_WANT_READ ? FtpReady::Read : FtpReady::Write, int(left))) {
            if (GetLastError() == ERROR_INTERNET_TIMEOUT || left <= 0) {
                tlsFailure_ = "the TLS handshake timed out";
                SetLastError(ERROR_INTERNET_TIMEOUT);
            } else {
                tlsFailure_ = "the connection failed during the TLS handshake";
            }
            return false;
        }
    }
}

void FtpStream::TlsFailed(bool handshaking) {
    char text[256];
    const int kind = PlatformTlsFailure(tls_, text, sizeof text);
    tlsFailure_ = text;
    switch (kind) {
    case PLATFORM_TLS_UNTRUSTED: SetLastError(ERROR_INTERNET_INVALID_CA); break;
    case PLATFORM_TLS_EXPIRED: SetLastError(ERROR_INTERNET_SEC_CERT_DATE_INVALID); break;
    case PLATFORM_TLS_WRONG_NAME: SetLastError(ERROR_INTERNET_SEC_CERT_CN_INVALID); break;
    case PLATFORM_TLS_CONNECTION:
        // A socket that fails in mid-stream is a broken connection, as on
        // a plain stream; during the handshake it is the channel's failure.
        SetLastError(handshaking ? ERROR_INTERNET_SECURITY_CHANNEL_ERROR
                                 : ERROR_INTERNET_CONNECTION_ABORTED);
        break;
    default: SetLastError(ERROR_INTERNET_SECURITY_CHANNEL_ERROR); break;
    }
}

long long FtpStream::SendSome(const char* data, size_t size, FtpReady& wait) {
    if (!tls_) return PlainSendSome(data, size, wait);
    int sent = 0;
    switch (PlatformTlsWrite(tls_, data, Clamp(size), &sent)) {
    case PLATFORM_TLS_OK: return sent;
    case PLATFORM_TLS_WANT_READ: wait = FtpReady::Read; return kFtpWouldBlock;
    case PLATFORM_TLS_WANT_WRITE: wait = FtpReady::Write; return kFtpWouldBlock;
    case PLATFORM_TLS_CLOSED: SetLastError(ERROR_INTERNET_CONNECTION_ABORTED); return -1;
    default: TlsFailed(false); return -1;
    }
}

long long FtpStream::ReceiveSome(char* buffer, size_t size, FtpReady& wait) {
    if (!tls_) return PlainReceiveSome(buffer, size, wait);
    int got = 0;
    switch (PlatformTlsRead(tls_, buffer, Clamp(size), &got)) {
    case PLATFORM_TLS_OK: return got;
    case PLATFORM_TLS_WANT_READ: wait = FtpReady::Read; return kFtpWouldBlock;
    case PLATFORM_TLS_WANT_WRITE: wait = FtpReady::Write; return kFtpWouldBlock;
    case PLATFORM_TLS_CLOSED: return 0;
    default: TlsFailed(false); return -1;
    }
}

bool FtpStream::Wait(FtpReady what, int timeoutMs) {
    // Bytes the session already decrypted are invisible to the socket.
    if (what == FtpReady::Read && tls_ && PlatformTlsPending(tls_)) return true;
    return PlainWait(what, timeoutMs);
}

void FtpStream::FinishSending(int timeoutMs) {
    if (!open()) return;
    const DWORD error = GetLastError();
    const int64_t deadline = NowMs() + timeoutMs;
    for (int result; tls_ && (result = PlatformTlsShutdown(tls_)) != PLATFORM_TLS_OK;) {
        const int64_t left = deadline - NowMs();
        if (result != PLATFORM_TLS_WANT_WRITE || left <= 0 || !PlainWait(FtpReady::Write, int(left)))
            break;
    }
    ShutdownSend();
    char sink[4096];
    FtpReady wait = FtpReady::Read;
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left <= 0 || !Wait(wait, int(left))) break;
        const long long got = ReceiveSome(sink, sizeof sink, wait);
        if (got == kFtpWouldBlock) continue;
        if (got <= 0) break;
        wait = FtpReady::Read;
    }
    SetLastError(error);
}

void FtpStream::Close() {
    if (tls_) {
        // close_notify, best effort: the peer may be gone already.
        const DWORD error = GetLastError();
        if (PlatformTlsShutdown(tls_) == PLATFORM_TLS_WANT_WRITE &&
            PlainWait(FtpReady::Write, kCloseNotifyMs))
            PlatformTlsShutdown(tls_);
        PlatformTlsFree(tls_);
        tls_ = nullptr;
        SetLastError(error);
    }
    if (tlsSocket_ != ~uintptr_t(0)) ReleaseTlsSocket(tlsSocket_);
    tlsSocket_ = ~uintptr_t(0);
    PlainClose();
}

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
