// The Internet handles of the program's own client: the handle tree, closing
// handles and the last reply of each thread. Linux's WinINet is built on it
// entirely; on Windows the handles of FTP over TLS live here while the
// system's WinINet keeps its own (platform/win/wininet_routing.cpp). (The
// reply record and the transfer bounds are the FTP client's:
// platform/ftp/ftp_control.h.)
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ftp/ftp_control.h"
#ifdef _WIN32
#include "platform/win32.h"
#else
// The types alone: Linux's URL requests include this beside libcurl's
// socket headers, which the front header's Winsock declarations exclude.
#include "platform/linux/win32_types.h"
#include "platform/linux/wininet.h"
#endif

enum class InternetKind : uint32_t {
    Session = 1,     // InternetOpenA
    FtpConnection,   // InternetConnectA
    FtpFind,         // FtpFindFirstFileA
    UrlRequest,      // InternetOpenUrlA
};

// One Internet handle. A HINTERNET is the object's address; it is listed in
// the registry of internet_handles.cpp while open, and objects are shared_ptr
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
// or NULL with ERROR_NOT_ENOUGH_MEMORY, or ERROR_INVALID_HANDLE when parent
// is no longer listed. A foreign parent (a handle of the system's WinINet) is
// only remembered: InternetCloseChildrenOf closes what was listed below it.
HINTERNET InternetRegister(std::shared_ptr<InternetObject> object, HINTERNET parent,
                           bool foreignParent = false);

// Whether handle is one of this tree's open handles (any kind).
bool InternetIsListed(HINTERNET handle);

// InternetCloseHandle of this tree: closes handle and everything below it;
// a call in progress on one of them in another thread returns at once.
// FALSE with ERROR_INVALID_HANDLE when it is not listed.
BOOL InternetCloseListed(HINTERNET handle);

// Closes every handle listed below the foreign parent (which is being
// closed itself).
void InternetCloseChildrenOf(HINTERNET foreignParent);

// InternetGetLastResponseInfoA over this thread's last reply of the client.
BOOL InternetLastResponseInfo(LPDWORD error, LPSTR buffer, LPDWORD length);

// The object behind handle when it is open and of the kind wanted; otherwise
// nullptr with ERROR_INVALID_HANDLE (not listed) or
// ERROR_INTERNET_INCORRECT_HANDLE_TYPE (another kind).
std::shared_ptr<InternetObject> InternetLookup(HINTERNET handle, InternetKind kind);

template <class T>
std::shared_ptr<T> InternetLookupAs(HINTERNET handle) {
    return std::static_pointer_cast<T>(InternetLookup(handle, T::kKind));
}

// The session's settings, for the URL requests made through it (Linux's
// InternetOpenA; on Windows sessions are the system's).
struct InternetSession final : InternetObject {
    static constexpr InternetKind kKind = InternetKind::Session;
    InternetSession() : InternetObject(kKind) {}
    std::string agent;
    DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string proxy;        // INTERNET_OPEN_TYPE_PROXY only
    std::string proxyBypass;  // likewise
};
