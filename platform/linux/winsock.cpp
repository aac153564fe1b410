// Windows Sockets on BSD sockets.
//
// Windows' and POSIX's socket names collide (sockaddr, in_addr, hostent,
// fd_set; connect, send, recv, socket...), with different layouts and types
// behind some of them. The program's files see only Windows' (winsock.h),
// where every function is an inline wrapper over an entry point of namespace
// kv_winsock that takes plain types. This file sees only POSIX's: it
// includes just the entry-point part of winsock.h, and reads and writes the
// Windows structures through the mirrors declared there (kv_winsock::
// SockaddrIn, kv_winsock::Hostent, WinsockFdSet, WSADATA), whose layouts
// winsock.h asserts equal to Windows'. No symbol of ours carries a C library
// name, so neither side can reach the other's function by accident.
//
// A SOCKET is a number from a registry of our own, never a descriptor, so
// closesocket of a value this layer did not hand out is WSAENOTSOCK and
// cannot close an unrelated descriptor (a file, the X connection). Sockets
// are shared_ptr-owned: one closed by a thread while another is inside recv
// keeps its descriptor until that call returns (no reuse under its feet), and
// the close shuts the connection down so that the blocked call ends, with
// WSAEINTR, as Windows' closesocket cancels blocking calls.
//
// The descriptor's blocking mode follows FIONBIO. send and recv never block
// in the kernel (MSG_DONTWAIT): a blocking call waits in poll() for the rest
// of its SO_SNDTIMEO / SO_RCVTIMEO limit, which is one limit for the whole
// call as on Windows (the kernel's would restart with every partial send and
// every signal), and reports WSAETIMEDOUT when it runs out. Interrupted calls
// are retried. send never raises SIGPIPE (MSG_NOSIGNAL); every descriptor is
// close-on-exec.
#define KV_WINSOCK_ENTRY_POINTS_ONLY
#include "platform/linux/winsock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/kernel32.h"

using kv_winsock::Hostent;
using kv_winsock::SockaddrIn;

namespace {

struct SocketObject {
    explicit SocketObject(int descriptor) : fd(descriptor) {}
    ~SocketObject() { ::close(fd); }
    SocketObject(const SocketObject&) = delete;
    SocketObject& operator=(const SocketObject&) = delete;

    const int fd;
    std::atomic<bool> closed{false};          // closesocket was called
    std::atomic<bool> nonBlocking{false};     // FIONBIO
    std::atomic<DWORD> receiveTimeout{0};     // SO_RCVTIMEO in ms, 0: none
    std::atomic<DWORD> sendTimeout{0};        // SO_SNDTIMEO
    std::atomic<bool> connectAsked{false};    // connect was called, or accept made it
    std::atomic<bool> connectStarted{false};  // non-blocking connect under way, by connect's account
    std::atomic<bool> connectPending{false};  // ... by select's: outcome not yet seen
    std::atomic<bool> connectFailed{false};   // select saw that connect fail
    std::atomic<bool> receiveShut{false};     // shutdown SD_RECEIVE or SD_BOTH
    std::atomic<bool> sendShut{false};        // shutdown SD_SEND or SD_BOTH
};

std::mutex g_mutex;
UINT_PTR g_nextValue = 0x100;  // values are never reused within a run

std::unordered_map<UINT_PTR, std::shared_ptr<SocketObject>>& Registry() {
    static auto* registry = new std::unordered_map<UINT_PTR, std::shared_ptr<SocketObject>>();
    return *registry;  // never destroyed: sockets may be closed during exit
}

int Fail(int error) {
    SetLastError(DWORD(error));
    return SOCKET_ERROR;
}

// The error Windows reports where POSIX reports err. EPIPE has a context of
// its own (see Send); EINPROGRESS is what Windows calls WSAEWOULDBLOCK.
int WsaError(int err) {
    switch (err) {
    case EINTR: return WSAEINTR;
    case EBADF:
    case ENOTSOCK: return WSAENOTSOCK;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN:
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case EPIPE:
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSASYSCALLFAILURE;
    }
}

// The error Windows' name lookup reports where getaddrinfo answered rc.
int WsaErrorFromLookup(int rc, int err) {
    switch (rc) {
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_NODATA:
    case EAI_ADDRFAMILY: return WSANO_DATA;  // the name exists, without an IPv4 address
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_SYSTEM: return WsaError(err);
    default: return WSANO_RECOVERY;
    }
}

std::shared_ptr<SocketObject> Lookup(UINT_PTR s) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = Registry().find(s);
        if (it != Registry().end()) return it->second;
    }
    SetLastError(WSAENOTSOCK);
    return nullptr;
}

// Lists a new socket for descriptor fd (closed if that fails) and returns its
// value; INVALID_SOCKET with WSAENOBUFS when memory runs out.
UINT_PTR Adopt(int fd, const SocketObject* settingsFrom) {
    bool made = false;
    try {
        auto sock = std::make_shared<SocketObject>(fd);
        made = true;
        if (settingsFrom) {
            sock->nonBlocking = settingsFrom->nonBlocking.load();
            sock->receiveTimeout = settingsFrom->receiveTimeout.load();
            sock->sendTimeout = settingsFrom->sendTimeout.load();
            sock->connectAsked = true;
        }
        std::lock_guard<std::mutex> lock(g_mutex);
        UINT_PTR value = g_nextValue;
        Registry().emplace(value, std::move(sock));
        g_nextValue += 4;
        return value;
    } catch (const std::bad_alloc&) {
        // Either the object was never made (the descriptor is still ours to
        // close) or it died with the failed emplace and closed it.
        if (!made) ::close(fd);
        SetLastError(WSAENOBUFS);
        return INVALID_SOCKET;
    }
}

// A Windows sockaddr_in of namelen bytes; false when it is missing or short.
bool ReadAddress(const void* name, int namelen, SockaddrIn* out) {
    if (!name || namelen < int(sizeof(SockaddrIn))) return false;
    std::memcpy(out, name, sizeof *out);
    return true;
}

sockaddr_in NativeAddress(const SockaddrIn& address) {
    sockaddr_in native{};
    native.sin_family = AF_INET;
    native.sin_port = address.port;
    native.sin_addr.s_addr = address.addr;
    return native;
}

// Stores a native address as Windows' sockaddr_in; false when the buffer is
// missing or too small (WSAEFAULT).
bool WriteAddress(const sockaddr_in& native, void* name, int* namelen) {
    if (!name || !namelen || *namelen < int(sizeof(SockaddrIn))) return false;
    SockaddrIn address{};
    address.family = kv_winsock::kAfInet;
    address.port = native.sin_port;
    address.addr = native.sin_addr.s_addr;
    std::memcpy(name, &address, sizeof address);
    *namelen = int(sizeof address);
    return true;
}

bool IsListening(int fd) {
    int on = 0;
    socklen_t len = sizeof on;
    return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &on, &len) == 0 && on;
}

bool IsConnected(int fd) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0;
}

// Waits for a connect under way in the kernel; its errno, 0 when connected.
int AwaitConnection(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    while (::poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
    return error;
}

// A BOOL option. Windows also takes it as a single byte.
int SetFlag(int fd, int level, int name, const char* optval, int optlen) {
    if (optlen < 1) return Fail(WSAEFAULT);
    int on = 0;
    if (optlen >= int(sizeof on)) std::memcpy(&on, optval, sizeof on);
    else on = optval[0];
    on = on != 0;
    if (::setsockopt(fd, level, name, &on, sizeof on) != 0) return Fail(WsaError(errno));
    return 0;
}

int GetFlag(int fd, int level, int name, bool* on) {
    int value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(fd, level, name, &value, &len) != 0) return Fail(WsaError(errno));
    *on = value != 0;
    return 0;
}

int PutOption(const void* value, int size, char* optval, int* optlen) {
    if (*optlen < size) return Fail(WSAEFAULT);
    std::memcpy(optval, value, size_t(size));
    *optlen = size;
    return 0;
}

// Milliseconds from now until deadline for poll, rounded up.
int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    auto left = deadline - std::chrono::steady_clock::now();
    if (left <= left.zero()) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : int(ms);
}

// The end of a blocking call's time limit (SO_RCVTIMEO / SO_SNDTIMEO in ms,
// 0 for none), fixed when the call begins.
struct Deadline {
    explicit Deadline(DWORD limitMs)
        : limited(limitMs != 0),
          at(std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs)) {}
    bool limited;
    std::chrono::steady_clock::time_point at;
};

// Waits until fd is ready for events; false when the deadline passed first.
bool WaitFor(int fd, short events, const Deadline& deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        int n = ::poll(&entry, 1, deadline.limited ? RemainingMs(deadline.at) : -1);
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno != EINTR) return true;  // the call that waited reports the trouble
    }
}

struct HostResult {
    Hostent entry{};
    std::string name;
    std::vector<uint32_t> addresses;  // network order
    std::vector<char*> addressList;   // into addresses, NULL-terminated
    char* aliases[1] = {nullptr};
};

thread_local HostResult t_host;
thread_local char t_addressText[16];

}  // namespace

int kv_winsock::Startup(WORD version, WSADATA* data) {
    BYTE major = LOBYTE(version), minor = HIBYTE(version);
    if (data) {
        std::memset(data, 0, sizeof *data);
        bool known = major == 1 || (major == 2 && minor <= 2);
        data->wVersion = known ? version : MAKEWORD(2, 2);
        data->wHighVersion = MAKEWORD(2, 2);
        // Limits were told to Windows Sockets 1.x programs only.
        data->iMaxSockets = major == 1 ? 32767 : 0;
        data->iMaxUdpDg = major == 1 ? 65467 : 0;
        std::strcpy(data->szDescription, "WinSock 2.0");
        std::strcpy(data->szSystemStatus, "Running");
    }
    if (major == 0) return WSAVERNOTSUPPORTED;
    if (!data) return WSAEFAULT;
    return 0;
}

int kv_winsock::Cleanup() { return 0; }

UINT_PTR kv_winsock::Socket(int af, int type, int protocol) {
    int error = 0;
    if (af != kAfInet) error = WSAEAFNOSUPPORT;
    else if (type != kSockStream) error = WSAESOCKTNOSUPPORT;
    else if (protocol != 0 && protocol != kIpprotoTcp) error = WSAEPROTONOSUPPORT;
    if (error) {
        SetLastError(DWORD(error));
        return INVALID_SOCKET;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        SetLastError(DWORD(WsaError(errno)));
        return INVALID_SOCKET;
    }
    return Adopt(fd, nullptr);
}

UINT_PTR kv_winsock::AdoptConnected(int fd) {
    const UINT_PTR value = Adopt(fd, nullptr);
    if (value == INVALID_SOCKET) return value;
    auto sock = Lookup(value);
    sock->nonBlocking = true;
    sock->connectAsked = true;
    return value;
}

int kv_winsock::CloseSocket(UINT_PTR s) {
    std::shared_ptr<SocketObject> doomed;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = Registry().find(s);
        if (it != Registry().end()) {
            doomed = std::move(it->second);
            Registry().erase(it);
        }
    }
    if (!doomed) return Fail(WSAENOTSOCK);
    doomed->closed = true;
    // Another thread inside a call on this socket holds it too: ending the
    // connection wakes that call. The descriptor closes with the last holder.
    if (doomed.use_count() > 1) ::shutdown(doomed->fd, SHUT_RDWR);
    return 0;
}

int kv_winsock::Connect(UINT_PTR s, const void* name, int namelen) {
    auto sock = Lookup(s);
    if (!sock) return SOCKET_ERROR;
    SockaddrIn to;
    if (!ReadAddress(name, namelen, &to)) return Fail(WSAEFAULT);
    if (to.family != kAfInet) return Fail(WSAEAFNOSUPPORT);
    // Linux takes 0.0.0.0 for this host; Windows refuses it.
    if (to.addr == 0) return Fail(WSAEADDRNOTAVAIL);
    sockaddr_in native = NativeAddress(to);
    sock->connectFailed = false;
    sock->connectAsked = true;
    if (::connect(sock->fd, reinterpret_cast<const sockaddr*>(&native), sizeof native) == 0) {
        sock->connectPending = false;
        // Linux reports a started connect that has since completed as a
        // success; Windows says it is connected already.
        return sock->connectStarted.exchange(false) ? Fail(WSAEISCONN) : 0;
    }
    int err = errno;
    if (err == EISCONN && IsListening(sock->fd)) err = EINVAL;  // as Windows reports it
    if (sock->nonBlocking) {
        if (err == EINPROGRESS) {
            sock->connectStarted = true;
            sock->connectPending = true;
        }
        return Fail(WsaError(err));
    }
    // A blocking connect cut short by a signal goes on in the kernel.
    if (err == EINTR) err = AwaitConnection(sock->fd);
    if (sock->closed) return Fail(WSAEINTR);
    return err == 0 ? 0 : Fail(WsaError(err));
}

int kv_winsock::Bind(UINT_PTR s, const void* name, int namelen) {
    auto sock = Lookup(s);
    if (!sock) return SOCKET_ERROR;
    SockaddrIn at;
    // Windows reports an address of another family as a bad address too.
    if (!ReadAddress(name, namelen, &at) || at.family != kAfInet) return Fail(WSAEFAULT);
    sockaddr_in native = NativeAddress(at);
    if (::bind(sock->fd, reinterpret_cast<const sockaddr*>(&native), sizeof native) != 0)
        return Fail(WsaError(errno));
    return 0;
}

int kv_winsock::Listen(UINT_PTR s, int backlog) {
    auto sock = Lookup(s);
    if (!sock) return SOCKET_ERROR;
    // Linux would bind an unbound socket to a port of its choosing.
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::getsockname(sock->fd, reinterpret_cast<sockaddr*>(&local), &len) == 0 && local.sin_port == 0)
        return Fail(WSAEINVAL);
    if (::listen(sock->fd, backlog) != 0) return Fail(WsaError(errno));
    return 0;
}

UINT_PTR kv_winsock::Accept(UINT_PTR s, void* addr, int* addrlen) {
    auto sock = Lookup(s);
    if (!sock) return INVALID_SOCKET;
    if (addr && (!addrlen || *addrlen < int(sizeof(SockaddrIn)))) {
        SetLastError(WSAEFAULT);
        return INVALID_SOCKET;
    }
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        // The new socket inherits non-blocking mode, as on Windows.
        int flags = SOCK_CLOEXEC | (sock->nonBlocking ? SOCK_NONBLOCK : 0);
        int fd = ::accept4(sock->fd, reinterpret_cast<sockaddr*>(&peer), &len, flags);
        if (fd >= 0) {
            UINT_PTR value = Adopt(fd, sock.get());
            if (value != INVALID_SOCKET && addr) WriteAddress(peer, addr, addrlen);
            return value;
        }
        int err = errno;
        if (sock->closed) err = EINTR;
        else if (err == EINTR) continue;
        SetLastError(DWORD(WsaError(err)));
        return INVALID_SOCKET;
    }
}

int kv_winsock::GetSockName(UINT_PTR s, void* name, int* namelen) {
    auto sock = Lookup(s);
    if (!sock) return SOCKET_ERROR;
    if (!name || !namelen || *namelen < int(sizeof(SockaddrIn))) return Fail(WSAEFAULT);
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::getsockname(sock->fd, reinterpret_cast<sockaddr*>(&local), &len) != 0)
        return Fail(WsaError(errno));
    // Windows has no address for a socket neither bound nor connected.
    if (local.sin_port == 0) return Fail(WSAEINVAL);
    WriteAddress(local, name, namelen);
    return 0;
}

int kv_winsock::GetPeerName(UINT_PTR s, void* name, int* namelen) {
    auto sock = Lookup(s);
    if (!sock) return SOCKET_ERROR;
    if (!name || !namelen || *namelen < int(sizeof(SockaddrIn))) return Fail(WSAEFAULT);
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    if (::getpeername(sock->fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0)
        return Fail(WsaError(errno));
    WriteAddress(peer, name, namelen);
    return 0;
}

int kv_winsock::Send(UINT_PTR s, const char* buf, int len, int flags) {
    auto sock = Lookup(s);
    if (!sock) return SOCKET_ERROR;
    if (len < 0) return Fail(WSAEFAULT);
    // Windows lets a provider ignore MSG_DONTROUTE; out-of-band data is not provided.
    if (flags & ~kMsgDontRoute) return Fail(WSAEOPNOTSUPP);
    if (sock->sendShut) return Fail(WSAESHUTDOWN);
    Deadline deadline(sock->sendTimeout);
    size_t done = 0, total = size_t(len);
    for (;;) {
        ssize_t n = ::send(sock->fd, buf + done, total - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            done += size_t(n);
            // A blocking send on Windows returns when all of it is taken.
            if (done == total || sock->nonBlocking) return int(done);
            continue;
        }
        int err = errno;
        if (sock->closed) return Fail(WSAEINTR);
        if (err == EINTR) continue;
        if (err == EAGAIN && !sock->nonBlocking) {
            if (!WaitFor(sock->fd, POLLOUT, deadline)) return Fail(WSAETIMEDOUT);
            continue;
        }
        // Linux says EPIPE for all three; Windows tells them apart.
        if (err == EPIPE)
            return Fail(sock->sendShut       ? WSAESHUTDOWN
                        : sock->connectAsked ? WSAECONNRESET
                                             : WSAENOTCONN);
        return Fail(WsaError(err));
    }
}

int kv_winsock::Recv(UINT_PTR s, char* buf, int len, int flags) {
    auto sock = Lookup(s);
    if (!sock) return SOCKET_ERROR;
    if (len < 0) return Fail(WSAEFAULT);
    if (flags & ~kMsgPeek) return Fail(WSAEOPNOTSUPP);
    if (sock->receiveShut) return Fail(WSAESHUTDOWN);
    int native = MSG_DONTWAIT | ((flags & kMsgPeek) ? MSG_PEEK : 0);
    Deadline deadline(sock->receiveTimeout);
    for (;;) {
        ssize_t n = ::recv(sock->fd, buf, size_t(len), native);
        if (sock->closed) return Fail(WSAEINTR);
        if (n >= 0) return int(n);
        int err = errno;
        if (err == EINTR) continue;
        if (err == EAGAIN && !sock->nonBlocking) {
            if (!WaitFor(sock->fd, POLLIN, deadline)) return Fail(WSAETIMEDOUT);
            continue;
        }
        return Fail(WsaError(err));
    }
}

int kv_winsock::Shutdown(UINT_PTR s, int how) {
    auto sock = Lookup(s);
    if (!sock) return SOCKET_ERROR;
    static const int kNative[] = {SHUT_RD, SHUT_WR, SHUT_RDWR};
    if (how < SD_RECEIVE || how > SD_BOTH) return Fail(WSAEINVAL);
    if (::shutdown(sock->fd, kNative[how]) != 0) return Fail(WsaError(errno));
    // Linux would go on giving 0 or EPIPE; Windows refuses with WSAESHUTDOWN.
    if (how != SD_SEND) sock->receiveShut = true;
    if (how != SD_RECEIVE) sock->sendShut = true;
    return 0;
}

int kv_winsock::SetSockOpt(UINT_PTR s, int level, int optname, const char* optval, int optlen) {
    auto sock = Lookup(s);
    if (!sock) return SOCKET_ERROR;
    if (!optval) return Fail(WSAEFAULT);
    if (level == kSolSocket) {
        switch (optname) {
        case kSoRcvTimeo:
        case kSoSndTimeo: {
            if (optlen < int(sizeof(DWORD))) return Fail(WSAEFAULT);
            // Kept here, not in the kernel: Send and Recv apply them.
            DWORD ms;
            std::memcpy(&ms, optval, sizeof ms);
            (optname == kSoRcvTimeo ? sock->receiveTimeout : sock->sendTimeout) = ms;
            return 0;
        }
        case kSoReuseAddr: return SetFlag(sock->fd, SOL_SOCKET, SO_REUSEADDR, optval, optlen);
        default: return Fail(WSAENOPROTOOPT);
        }
    }
    if (level == kIpprotoTcp) {
        if (optname == kTcpNoDelay) return SetFlag(sock->fd, IPPROTO_TCP, TCP_NODELAY, optval, optlen);
        return Fail(WSAENOPROTOOPT);
    }
    return Fail(WSAEINVAL);
}

int kv_winsock::GetSockOpt(UINT_PTR s, int level, int optname, char* optval, int* optlen) {
    auto sock = Lookup(s);
    if (!sock) return SOCKET_ERROR;
    if (!optval || !optlen) return Fail(WSAEFAULT);
    if (level == kSolSocket) {
        switch (optname) {
        case kSoRcvTimeo:
        case kSoSndTimeo: {
            DWORD ms = optname == kSoRcvTimeo ? sock->receiveTimeout.load() : sock->sendTimeout.load();
            return PutOption(&ms, sizeof ms, optval, optlen);
        }
        case kSoReuseAddr: {
            bool on;
            if (GetFlag(sock->fd, SOL_SOCKET, SO_REUSEADDR, &on) != 0) return SOCKET_ERROR;
            BOOL value = on;
            return PutOption(&value, sizeof value, optval, optlen);
        }
        case kSoError: {
            // Reading the kernel's error clears it: check the buffer first.
            if (*optlen < int(sizeof(int))) return Fail(WSAEFAULT);
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(sock->fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
                return Fail(WsaError(errno));
            int value = error ? WsaError(error) : 0;
            return PutOption(&value, sizeof value, optval, optlen);
        }
        default: return Fail(WSAENOPROTOOPT);
        }
    }
    if (level == kIpprotoTcp) {
        if (optname != kTcpNoDelay) return Fail(WSAENOPROTOOPT);
        bool on;
        if (GetFlag(sock->fd, IPPROTO_TCP, TCP_NODELAY, &on) != 0) return SOCKET_ERROR;
        char value = on;  // Windows answers this one in a single byte
        return PutOption(&value, 1, optval, optlen);
    }
    return Fail(WSAEINVAL);
}

int kv_winsock::IoctlSocket(UINT_PTR s, LONG cmd, unsigned long* argp) {
    auto sock = Lookup(s);
    if (!sock) return SOCKET_ERROR;
    if (!argp) return Fail(WSAEFAULT);
    if (cmd == kFionbio) {
        int flags = ::fcntl(sock->fd, F_GETFL);
        if (flags < 0) return Fail(WsaError(errno));
        flags = *argp ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
        if (::fcntl(sock->fd, F_SETFL, flags) != 0) return Fail(WsaError(errno));
        sock->nonBlocking = *argp != 0;
        return 0;
    }
    if (cmd == kFionread) {
        int pending = 0;
        if (::ioctl(sock->fd, FIONREAD, &pending) != 0) return Fail(WsaError(errno));
        *argp = (unsigned long)pending;
        return 0;
    }
    return Fail(WSAEINVAL);
}

// poll() over the sockets of the three sets, reported as Windows' select
// reports them: readable (data, a connection to accept, the peer closed or
// reset), writable (a non-blocking connect succeeded, or room to send),
// exceptional (a non-blocking connect failed; out-of-band data). Conditions
// that none of a socket's sets report (a hang-up seen only by the exception
// set) leave that socket out of later polls instead of waking poll at once
// for ever.
int kv_winsock::Select(WinsockFdSet* readfds, WinsockFdSet* writefds, WinsockFdSet* exceptfds,
                       const timeval* timeout) {
    constexpr int kMaxEntries = 3 * KV_WINSOCK_FD_SETSIZE;
    struct Entry {
        UINT_PTR value;
        std::shared_ptr<SocketObject> sock;
        bool wanted[3];
        bool ready[3];
        bool muted;
    };
    WinsockFdSet* sets[3] = {readfds, writefds, exceptfds};
    Entry entries[kMaxEntries];
    int index[3][KV_WINSOCK_FD_SETSIZE];  // set position -> entry
    int count = 0;
    unsigned int listed = 0;
    for (int k = 0; k < 3; ++k) {
        if (!sets[k]) continue;
        if (sets[k]->fd_count > KV_WINSOCK_FD_SETSIZE) return Fail(WSAEINVAL);
        listed += sets[k]->fd_count;
        for (unsigned int i = 0; i < sets[k]->fd_count; ++i) {
            UINT_PTR value = sets[k]->fd_array[i];
            int e = 0;
            while (e < count && entries[e].value != value) ++e;
            if (e == count) {
                auto sock = Lookup(value);
                if (!sock) return SOCKET_ERROR;
                entries[count++] = Entry{value, std::move(sock), {}, {}, false};
            }
            entries[e].wanted[k] = true;
            index[k][i] = e;
        }
    }
    if (listed == 0) return Fail(WSAEINVAL);  // Windows refuses to select nothing

    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline{};
    if (timeout) {
        // Negative parts count as 0 (select returns at once, as on Windows);
        // Windows' seconds are 32-bit, more is as good as endless.
        long long seconds = std::clamp<long long>(timeout->tv_sec, 0, INT32_MAX);
        long long us = std::clamp<long long>(timeout->tv_usec, 0, INT32_MAX);
        deadline = Clock::now() + std::chrono::microseconds(seconds * 1000000 + us);
    }
    pollfd fds[kMaxEntries];
    int found = 0;
    for (;;) {
        bool readyNow = false;
        for (int e = 0; e < count; ++e) {
            Entry& entry = entries[e];
            short events = 0;
            if (entry.wanted[0]) events |= POLLIN;
            if (entry.wanted[1] || entry.sock->connectPending) events |= POLLOUT;
            if (entry.wanted[2]) events |= POLLPRI;
            if (entry.wanted[2] && entry.sock->connectFailed) readyNow = true;
            fds[e] = pollfd{entry.muted ? -1 : entry.sock->fd, events, 0};
        }
        int wait = readyNow ? 0 : timeout ? RemainingMs(deadline) : -1;
        if (::poll(fds, nfds_t(count), wait) < 0) {
            if (errno == EINTR) continue;
            return Fail(WsaError(errno));
        }
        for (int e = 0; e < count; ++e) {
            Entry& entry = entries[e];
            SocketObject& sock = *entry.sock;
            short got = fds[e].revents;
            bool resolved = false;
            if (sock.connectPending && (got & (POLLOUT | POLLERR | POLLHUP))) {
                sock.connectPending = false;
                sock.connectFailed = !IsConnected(sock.fd);
                resolved = true;
            }
            bool usable = !sock.connectPending && !sock.connectFailed;
            entry.ready[0] = entry.wanted[0] && usable && (got & (POLLIN | POLLHUP | POLLERR));
            entry.ready[1] = entry.wanted[1] && usable && (got & (POLLOUT | POLLHUP | POLLERR));
            entry.ready[2] = entry.wanted[2] && (sock.connectFailed || (got & POLLPRI));
            // Closed by another thread meanwhile: reported ready, as Windows
            // does; the next call on it says WSAENOTSOCK.
            if (sock.closed) {
                entry.ready[0] = entry.wanted[0];
                entry.ready[1] = entry.wanted[1];
            }
            bool any = entry.ready[0] || entry.ready[1] || entry.ready[2];
            if (any) ++found;
            else if (got && !resolved) entry.muted = true;
        }
        if (found || (timeout && Clock::now() >= deadline)) break;
    }
    int total = 0;
    for (int k = 0; k < 3; ++k) {
        if (!sets[k]) continue;
        unsigned int kept = 0;
        for (unsigned int i = 0; i < sets[k]->fd_count; ++i)
            if (entries[index[k][i]].ready[k]) sets[k]->fd_array[kept++] = sets[k]->fd_array[i];
        sets[k]->fd_count = kept;
        total += int(kept);
    }
    return total;
}

Hostent* kv_winsock::GetHostByName(const char* name) {
    char localName[256];
    if (!name || !*name) {  // Windows answers for this host
        if (::gethostname(localName, sizeof localName) != 0) {
            SetLastError(DWORD(WsaError(errno)));
            return nullptr;
        }
        localName[sizeof localName - 1] = '\0';
        name = localName;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(name, nullptr, &hints, &found);
    if (rc != 0) {
        SetLastError(DWORD(WsaErrorFromLookup(rc, errno)));
        return nullptr;
    }
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, ::freeaddrinfo);
    HostResult& result = t_host;
    try {
        result.name = found->ai_canonname ? found->ai_canonname : name;
        result.addresses.clear();
        for (const addrinfo* a = found; a; a = a->ai_next) {
            if (a->ai_family != AF_INET) continue;
            uint32_t address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
            if (std::find(result.addresses.begin(), result.addresses.end(), address) ==
                result.addresses.end())
                result.addresses.push_back(address);
        }
        result.addressList.clear();
        for (uint32_t& address : result.addresses)
            result.addressList.push_back(reinterpret_cast<char*>(&address));
        result.addressList.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        SetLastError(WSAENOBUFS);
        return nullptr;
    }
    if (result.addresses.empty()) {
        SetLastError(WSANO_DATA);
        return nullptr;
    }
    result.entry.h_name = result.name.data();
    result.entry.h_aliases = result.aliases;
    result.entry.h_addrtype = int16_t(kAfInet);
    result.entry.h_length = 4;
    result.entry.h_addr_list = result.addressList.data();
    return &result.entry;
}

// Windows' inet_addr: "a.b.c.d", "a.b.c" (c 16 bits), "a.b" (b 24 bits) or
// "a" (32 bits); each part decimal, octal with a leading 0 or hexadecimal
// with 0x. The text ends at its end or at a white-space character (what
// follows that is ignored, as Windows ignores it).
ULONG kv_winsock::InetAddr(const char* cp) {
    constexpr ULONG kNone = 0xffffffff;
    if (!cp) return kNone;
    uint32_t parts[4];
    int n = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(cp);
    for (;;) {
        if (!std::isdigit(*p)) return kNone;
        unsigned base = 10;
        if (*p == '0') {
            base = 8;
            ++p;
            if (*p == 'x' || *p == 'X') {
                base = 16;
                ++p;
                if (!std::isxdigit(*p)) return kNone;
            }
        }
        uint64_t value = 0;
        for (;; ++p) {
            unsigned digit;
            if (*p >= '0' && *p <= '9') digit = unsigned(*p - '0');
            else if (base == 16 && std::isxdigit(*p)) digit = unsigned(std::tolower(*p) - 'a' + 10);
            else break;
            if (digit >= base) return kNone;  // 8 or 9 in an octal part
            value = value * base + digit;
            if (value > 0xffffffffu) return kNone;
        }
        parts[n++] = uint32_t(value);
        if (*p != '.') break;
        if (n == 4) return kNone;
        ++p;
    }
    if (*p != '\0' && !std::isspace(*p)) return kNone;
    uint32_t host;
    switch (n) {
    case 1: host = parts[0]; break;
    case 2:
        if (parts[0] > 0xff || parts[1] > 0xffffff) return kNone;
        host = parts[0] << 24 | parts[1];
        break;
    case 3:
        if (parts[0] > 0xff || parts[1] > 0xff || parts[2] > 0xffff) return kNone;
        host = parts[0] << 24 | parts[1] << 16 | parts[2];
        break;
    default:
        if (parts[0] > 0xff || parts[1] > 0xff || parts[2] > 0xff || parts[3] > 0xff) return kNone;
        host = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
        break;
    }
    return htonl(host);
}

char* kv_winsock::InetNtoa(ULONG addr) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&addr);
    std::snprintf(t_addressText, sizeof t_addressText, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return t_addressText;
}
