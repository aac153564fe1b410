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
// The seam for TLS: a session (platform/tls.h) attached after Connect takes
// over SendSome and ReceiveSome (PlatformTlsWrite / PlatformTlsRead), whose
// WANT_READ / WANT_WRITE come back through `wait` below, and Wait returns at
// once for FtpReady::Read while PlatformTlsPending holds. Callers already
// loop on `wait`, so nothing above this header changes when it lands.
#pragma once

#include <cstddef>
#include <cstdint>

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

    // Ends sending (the peer reads the end of the stream), leaves receiving
    // open.
    void ShutdownSend();

    // Shuts both directions down so that a call blocked on the stream in
    // another thread returns at once. The stream stays open until Close.
    void Abort();

    void Close();
    bool open() const { return handle_ >= 0; }

    // The address connected to (the control connection's peer is where
    // passive data connections go).
    const FtpAddress& peer() const { return peer_; }

private:
    long long handle_ = -1;  // the system's socket
    FtpAddress peer_;
};
