// The FTP control connection: connecting with a time limit, sending
// commands, reading replies (RFC 959 section 4.2), and the bounds the data
// connections share.
//
// Replies are untrusted. A reply is "ddd text" or a multi-line
// "ddd-text" ... "ddd text" with the same code; lines end in CR LF (a bare LF
// is taken too) and may arrive split over any number of reads, or several in
// one. Each line keeps at most kFtpMaxLineKept bytes (the rest is read and
// dropped); a reply of more than kFtpMaxReplyBytes bytes or
// kFtpMaxReplyLines lines, a first line that does not start with a code, or
// a reply that takes longer than the time limit in all ends the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ftp/ftp_stream.h"

constexpr size_t kFtpMaxLineKept = 2048;
constexpr size_t kFtpMaxReplyBytes = 64 * 1024;
constexpr int kFtpMaxReplyLines = 500;

// The time limit, in milliseconds, of every connect, of every read of a data
// connection (time without progress) and of every reply as a whole:
// $KV_INTERNET_TIMEOUT_MS when it holds a positive number, else 60000. Read
// once, at first use.
int InternetTimeoutMs();

// The overall bounds of one data transfer (a listing, a download, an
// upload), beyond the time limit of each wait, so that a server that
// trickles or streams without end cannot hold a call, or fill a disk, for
// ever:
//  - rate: once the time limit (InternetTimeoutMs) has passed
//    since the data started, the bytes moved must average at least
//    minimumBytesPerSecond. A transfer of n bytes may therefore take
//    max(time limit, n / rate); one that falls behind fails at once with
//    ERROR_INTERNET_TIMEOUT.
//  - size: a listing holds at most listingBytes, a download at most the size
//    the server reported (SIZE) or, when it reported none,
//    unknownSizeBytes; one byte more fails with
//    ERROR_INTERNET_CONNECTION_ABORTED.
// A bound that trips leaves the connection dead, as a time-out does: the
// server is still sending and its next reply cannot be told apart.
struct FtpTransferLimits {
    uint64_t minimumBytesPerSecond = 4096;
    uint64_t listingBytes = uint64_t(64) << 20;
    uint64_t unknownSizeBytes = uint64_t(4) << 30;
};
// Read by every transfer; the tests lower them between calls.
extern FtpTransferLimits ftpTransferLimits;

// The bounds of FtpTransferLimits applied to one data
// connection: its sends and receives wait at most the time limit, or less
// when the average rate would fall behind sooner, and count the bytes moved.
class FtpDataBound {
public:
    // Starts the clock; maximumBytes is the size bound of a receiving
    // transfer.
    explicit FtpDataBound(uint64_t maximumBytes);

    // One receive: the byte count, 0 at the end of the stream, -1 with the
    // last error set.
    long long Receive(FtpStream& stream, char* buffer, size_t size);

    // Sends every byte. False with the last error set.
    bool Send(FtpStream& stream, const char* data, size_t size);

    // Whether the rate or the size bound ended the transfer.
    bool tripped() const { return tripped_; }

private:
    bool Wait(FtpStream& stream, FtpReady what);

    int64_t start_;
    uint64_t bytes_ = 0;
    uint64_t maximum_;
    bool tripped_ = false;
};

// The last-error value for a refusing reply: 425 CANNOT_CONNECT, 426
// CONNECTION_ABORTED, 530 LOGIN_FAILURE, anything else EXTENDED_ERROR.
uint32_t FtpErrorFromReply(int code);

// Records the last reply received by this thread (code and full text, lines
// ending in CR LF) for InternetGetLastResponseInfoA.
// Defined with the handle tree (internet_handles.cpp).
void InternetSetLastResponse(uint32_t code, const std::string& text);

struct FtpReply {
    int code = 0;
    std::string text;  // every line, each ending in CR LF
};

class FtpControl {
public:
    // Resolves host and connects to port. False with
    // ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_CANNOT_CONNECT or
    // ERROR_INTERNET_TIMEOUT.
    bool Connect(const char* host, uint16_t port);

    // Sends "verb argument" (just "verb" when argument is empty). An argument
    // holding CR, LF or NUL is refused with ERROR_INVALID_PARAMETER; nothing
    // is sent.
    bool Send(const char* verb, const std::string& argument = std::string());

    // Reads one reply and records it for InternetGetLastResponseInfoA.
    bool Read(FtpReply& reply);

    // Send, then Read.
    bool Exchange(const char* verb, const std::string& argument, FtpReply& reply);

    // A connection that failed (closed, reset, timed out, sent garbage) is
    // dead: every later call fails with ERROR_INTERNET_CONNECTION_ABORTED.
    bool dead() const { return dead_; }
    void MarkDead() { dead_ = true; }

    FtpStream& stream() { return stream_; }

private:
    bool ReadLine(std::string& line, size_t& budget, int64_t deadline);

    FtpStream stream_;
    std::string pending_;  // received, not yet taken as a line
    bool dead_ = false;
};
