// Internals shared by the WinINet files: the handle tree and the reply
// record of InternetGetLastResponseInfoA.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/win32_types.h"
#include "platform/linux/wininet.h"

enum class InternetKind : uint32_t {
    Session = 1,     // InternetOpenA
    FtpConnection,   // InternetConnectA
    FtpFind,         // FtpFindFirstFileA
    UrlRequest,      // InternetOpenUrlA
};

// One Internet handle. A HINTERNET is the object's address; it is listed in
// the registry of wininet_handles.cpp while open, and objects are shared_ptr
// owned, so a handle closed by one thread while another is inside a call on
// it stays alive until that call returns.
struct InternetObject {
    static constexpr uint32_t kMagic = 0x4B56494Eu;  // "KVIN"
    explicit InternetObject(InternetKind k) : kind(k) {}
    virtual ~InternetObject() { magic = 0; }
    InternetObject(const InternetObject&) = delete;
    InternetObject& operator=(const InternetObject&) = delete;

    // Called once when the handle is closed (directly or with its parent):
    // wakes a call blocked on it in another thread. Must not block.
    virtual void Abort() {}

    uint32_t magic = kMagic;
    const InternetKind kind;
};

// Lists object as a child of parent (NULL for a session). Returns the handle,
// or NULL with ERROR_NOT_ENOUGH_MEMORY.
HINTERNET InternetRegister(std::shared_ptr<InternetObject> object, HINTERNET parent);

// The object behind handle when it is open and of the kind wanted; otherwise
// nullptr with ERROR_INVALID_HANDLE (not listed) or
// ERROR_INTERNET_INCORRECT_HANDLE_TYPE (another kind).
std::shared_ptr<InternetObject> InternetLookup(HINTERNET handle, InternetKind kind);

template <class T>
std::shared_ptr<T> InternetLookupAs(HINTERNET handle) {
    return std::static_pointer_cast<T>(InternetLookup(handle, T::kKind));
}

// The session's settings, for the URL requests made through it.
struct InternetSession final : InternetObject {
    static constexpr InternetKind kKind = InternetKind::Session;
    InternetSession() : InternetObject(kKind) {}
    std::string agent;
    DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string proxy;        // INTERNET_OPEN_TYPE_PROXY only
    std::string proxyBypass;  // likewise
};

// The overall bounds of one data transfer (a listing, a download, an
// upload), beyond the time limit of each wait, so that a server that
// trickles or streams without end cannot hold a call, or fill a disk, for
// ever:
//  - rate: once the time limit (InternetTimeoutMs, ftp_control.h) has passed
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

// Records the last reply received by this thread (code and full text, lines
// ending in CR LF) for InternetGetLastResponseInfoA.
void InternetSetLastResponse(DWORD code, const std::string& text);
