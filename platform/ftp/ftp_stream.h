// One TCP stream of the FTP client (the control connection or a data
// connection): connect within a time limit, send, receive, wait with a time
// limit, shut down from another thread, close. The protocol code (replies,
// passive connections, transfers) speaks only this, so it carries no system
// socket calls.
//
// Every failure sets the last error to the WinINet code the FTP calls report:
// ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_CANNOT_CONNECT,
// ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_CONNECTION_RESET,
// ERROR_INTERNET_CONNECTION_ABORTED (an end of the stream, a broken pipe, a
// stream shut down by Abort), ERROR_NOT_ENOUGH_MEMORY. Sends never raise
// SIGPIPE. Bytes from the peer are untrusted: the callers bound them.
//
// TLS (StartTls): a session of platform/tls.h over the connected stream
// takes over SendSome and ReceiveSome (PlatformTlsWrite / PlatformTlsRead);
// its WANT_READ / WANT_WRITE come back through `wait` below, and Wait returns
// at once for FtpReady::Read while decrypted bytes wait inside the session.
// Callers loop on `wait` alike for both kinds of stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct PlatformTls;

// What a caller waits for before its next attempt.
enum class FtpReady { Read, Write };

// A peer's address (IPv4 or IPv6) with its port, as the system keeps it.
struct FtpAddress {
    alignas(8) unsigned char bytes[128] = {};
    int length = 0;  // 0: no address

    bool IsIpv4() const;
    // The same host at another port (for a passive data connection).
    FtpAddress WithPort(uint16_t port) const;
};

// SendSome / ReceiveSome: nothing could move now; wait for `wait`, then call
// again.
constexpr long long kFtpWouldBlock = -2;

class FtpStream {
public:
    FtpStream() = default;
    ~FtpStream() { Close(); }
    FtpStream(const FtpStream&) = delete;
    FtpStream& operator=(const FtpStream&) = delete;

    // Resolves host (no time limit of its own) and connects to each of its
    // addresses in turn, each within timeoutMs, until one answers. False with
    // ERROR_INTERNET_NAME_NOT_RESOLVED, or the error of the last attempt.
    bool ConnectHost(const char* host, uint16_t port, int timeoutMs);

    // Connects to address within timeoutMs. False with the last error set.
    bool Connect(const FtpAddress& address, int timeoutMs);

    // One attempt that never blocks: the bytes moved (> 0), 0 at the end of
    // the stream (receive only), kFtpWouldBlock with `wait` set, or -1 with
    // the last error set.
    long long SendSome(const char* data, size_t size, FtpReady& wait);
    long long ReceiveSome(char* buffer, size_t size, FtpReady& wait);

    // Waits at most timeoutMs until `what` is possible (or an error the next
    // call reports). False with ERROR_INTERNET_TIMEOUT when nothing happened.
    bool Wait(FtpReady what, int timeoutMs);

    // Sends every byte; each wait lasts at most timeoutMs. False with the
    // last error set.
    bool SendAll(const char* data, size_t size, int timeoutMs);

    // One receive that waits at most timeoutMs: the byte count, 0 at the end
    // of the stream, -1 with the last error set.
    long long Receive(char* buffer, size_t size, int timeoutMs);

    // Starts TLS as a client of `host` (the name the user gave: verified
    // against the certificate, platform/tls.h T4) over the connected stream,
    // resuming resumeFrom's TLS session when it is given (a data connection
    // resumes its control connection's); the handshake ends within
    // timeoutMs. False with the last error set: ERROR_INTERNET_INVALID_CA,
    // ERROR_INTERNET_SEC_CERT_DATE_INVALID, ERROR_INTERNET_SEC_CERT_CN_INVALID,
    // ERROR_INTERNET_SECURITY_CHANNEL_ERROR (any other TLS failure),
    // ERROR_INTERNET_TIMEOUT or ERROR_NOT_ENOUGH_MEMORY; tlsFailure() then
    // says why in a line of text. The stream is unusable after a failure.
    // The trust file is the one PlatformSetFtpTrustFile named last.
    bool StartTls(const char* host, const FtpStream* resumeFrom, int timeoutMs);
    bool secure() const { return tls_ != nullptr; }
    const std::string& tlsFailure() const { return tlsFailure_; }

    // Ends what this side sends for good, then reads and drops whatever the
    // peer still sends until it closes, for at most timeoutMs: a TLS stream
    // sends close_notify first. The peer then holds every byte (closing a
    // socket with unread bytes, such as TLS session tickets, resets the
    // connection, and a reset may throw away what the peer had not read).
    void FinishSending(int timeoutMs);

    // Ends sending (the peer reads the end of the stream), leaves receiving
    // open.
    void ShutdownSend();

    // Shuts both directions down so that a call blocked on the stream in
    // another thread returns at once. The stream stays open until Close.
    void Abort();

    // A TLS stream sends close_notify first, waiting briefly at most.
    void Close();
    bool open() const { return handle_ >= 0; }

    // The address connected to (the control connection's peer is where
    // passive data connections go).
    const FtpAddress& peer() const { return peer_; }

private:
    // Each system's part (Linux: platform/linux/ftp_stream.cpp): the plain
    // attempts and waits on the socket, its close, and the socket that a
    // TLS session runs over (a platform/tls.h SOCKET, ~0 when none can be
    // made) and its release.
    long long PlainSendSome(const char* data, size_t size, FtpReady& wait);
    long long PlainReceiveSome(char* buffer, size_t size, FtpReady& wait);
    bool PlainWait(FtpReady what, int timeoutMs);
    void PlainClose();
    uintptr_t TlsSocket();
    void ReleaseTlsSocket(uintptr_t socket);
    // The last error for a failed session (tlsFailure_ gets its text).
    void TlsFailed(bool handshaking);

    long long handle_ = -1;  // the system's socket
    FtpAddress peer_;
    PlatformTls* tls_ = nullptr;
    uintptr_t tlsSocket_ = ~uintptr_t(0);
    std::string tlsFailure_;
};
