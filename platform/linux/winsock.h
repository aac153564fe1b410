// Windows Sockets subset on Linux: blocking and non-blocking IPv4 TCP with
// Windows' names, types, values and last-error codes (Winsock 1.1 plus the
// few Winsock 2 names the program uses). See platform/linux/MANIFEST.md.
//
// Windows' sockaddr, in_addr, hostent, fd_set and the functions connect,
// send, recv, select... share their names with POSIX's but not always their
// layout or types. The file is therefore in two parts:
//
// - The entry points (namespace kv_winsock) and the structures whose names
//   POSIX does not use. They take only plain types, so winsock.cpp, which
//   must see the POSIX socket headers, includes this part alone (it defines
//   KV_WINSOCK_ENTRY_POINTS_ONLY first).
// - The Windows names, for the program's files only: the structures with
//   Windows' layouts (asserted against the mirrors of the first part), the
//   constants, and the functions as inline wrappers over the entry points. No
//   function of ours carries a C library name as its symbol, so neither side
//   can bind to the other's function by accident.
//
// The C++ library includes <sys/select.h> almost everywhere (through
// <cstdlib>), which brings glibc's fd_set, FD_* macros, select and struct
// timeval. This header takes them in first and replaces fd_set and the FD_*
// macros with Windows' (fd_set is a macro naming WinsockFdSet); struct
// timeval stays glibc's, whose members are long as on Windows. glibc's own
// select cannot be called with a Windows fd_set.
#pragma once

#include <cstdint>

#include "platform/linux/win32_types.h"

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)

// Last-error values (WSAGetLastError), as Windows gives them.
#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEPFNOSUPPORT 10046
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAELOOP 10062
#define WSAENAMETOOLONG 10063
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSASYSCALLFAILURE 10107
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

// shutdown
#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

// WSADATA of 64-bit Windows (the field order differs in 32-bit Windows).
typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;

static_assert(sizeof(WSADATA) == 408);
static_assert(offsetof(WSADATA, iMaxSockets) == 4);
static_assert(offsetof(WSADATA, lpVendorInfo) == 8);
static_assert(offsetof(WSADATA, szDescription) == 16);
static_assert(offsetof(WSADATA, szSystemStatus) == 273);

// Windows' fd_set: a count and the sockets themselves (not a bitmap).
#define KV_WINSOCK_FD_SETSIZE 64
struct WinsockFdSet {
    unsigned int fd_count;
    SOCKET fd_array[KV_WINSOCK_FD_SETSIZE];
};
static_assert(sizeof(WinsockFdSet) == 520);
static_assert(offsetof(WinsockFdSet, fd_array) == 8);

struct timeval;  // glibc's, whose members are long as Windows'

namespace kv_winsock {

// Windows' values of what the entry points interpret.
inline constexpr int kAfInet = 2;
inline constexpr int kSockStream = 1;
inline constexpr int kIpprotoTcp = 6;
inline constexpr int kSolSocket = 0xffff;
inline constexpr int kSoReuseAddr = 0x0004;
inline constexpr int kSoSndTimeo = 0x1005;
inline constexpr int kSoRcvTimeo = 0x1006;
inline constexpr int kSoError = 0x1007;
inline constexpr int kTcpNoDelay = 0x0001;
inline constexpr int kMsgOob = 0x1;
inline constexpr int kMsgPeek = 0x2;
inline constexpr int kMsgDontRoute = 0x4;
inline constexpr int kMsgWaitAll = 0x8;
inline constexpr LONG kFionbio = LONG(0x8004667Eu);
inline constexpr LONG kFionread = LONG(0x4004667Fu);

// The layouts of Windows' sockaddr_in and hostent, under names of our own.
struct SockaddrIn {
    int16_t family;
    uint16_t port;  // network order
    uint32_t addr;  // network order
    char zero[8];
};
struct Hostent {
    char* h_name;
    char** h_aliases;
    int16_t h_addrtype;
    int16_t h_length;
    char** h_addr_list;
};
static_assert(sizeof(SockaddrIn) == 16);
static_assert(offsetof(SockaddrIn, addr) == 4);
static_assert(sizeof(Hostent) == 32);
static_assert(offsetof(Hostent, h_addrtype) == 16);
static_assert(offsetof(Hostent, h_length) == 18);
static_assert(offsetof(Hostent, h_addr_list) == 24);

// The entry points, one for each Windows function of the same name
// (WSAStartup -> Startup, closesocket -> CloseSocket, ...). Addresses are
// Windows sockaddr structures of `namelen` bytes.
int Startup(WORD version, WSADATA* data);
int Cleanup();
UINT_PTR Socket(int af, int type, int protocol);
int CloseSocket(UINT_PTR s);
int Connect(UINT_PTR s, const void* name, int namelen);
int Bind(UINT_PTR s, const void* name, int namelen);
int Listen(UINT_PTR s, int backlog);
UINT_PTR Accept(UINT_PTR s, void* addr, int* addrlen);
int GetSockName(UINT_PTR s, void* name, int* namelen);
int GetPeerName(UINT_PTR s, void* name, int* namelen);
int Send(UINT_PTR s, const char* buf, int len, int flags);
int Recv(UINT_PTR s, char* buf, int len, int flags);
int Shutdown(UINT_PTR s, int how);
int SetSockOpt(UINT_PTR s, int level, int optname, const char* optval, int optlen);
int GetSockOpt(UINT_PTR s, int level, int optname, char* optval, int* optlen);
int IoctlSocket(UINT_PTR s, LONG cmd, unsigned long* argp);
int Select(WinsockFdSet* readfds, WinsockFdSet* writefds, WinsockFdSet* exceptfds,
           const timeval* timeout);
Hostent* GetHostByName(const char* name);
ULONG InetAddr(const char* cp);
char* InetNtoa(ULONG addr);

// Linux only, for the platform's own code: lists a connected, non-blocking
// descriptor as a socket of this layer (it then owns the descriptor and
// closes it with closesocket), so that code speaking Windows Sockets, such
// as the TLS layer, can run over a connection made with the system's calls.
// INVALID_SOCKET with the last error set when that fails (the descriptor is
// closed then).
UINT_PTR AdoptConnected(int fd);

}  // namespace kv_winsock

#ifndef KV_WINSOCK_ENTRY_POINTS_ONLY

#if defined(_SYS_SOCKET_H) || defined(_NETINET_IN_H) || defined(_NETDB_H) || defined(_ARPA_INET_H)
#error "platform/win32.h cannot share a file with the POSIX socket headers"
#endif

#include <bit>
#include <type_traits>
#include <sys/select.h>  // settles glibc's fd_set and timeval before the Windows names

#include "platform/linux/kernel32.h"

static_assert(std::is_same_v<decltype(timeval::tv_sec), long> &&
              std::is_same_v<decltype(timeval::tv_usec), long>);

// The same types as glibc's <sys/types.h> gives these names, so the two
// declarations agree. u_long is the C type unsigned long as on Windows
// (64 bits here); 32-bit quantities are ULONG.
typedef unsigned char u_char;
typedef unsigned short u_short;
typedef unsigned int u_int;
typedef unsigned long u_long;

#define AF_UNSPEC 0
#define AF_INET 2
#define PF_INET AF_INET
#define SOCK_STREAM 1
#define IPPROTO_IP 0
#define IPPROTO_TCP 6

#define INADDR_ANY ((ULONG)0x00000000)
#define INADDR_LOOPBACK ((ULONG)0x7f000001)
#define INADDR_BROADCAST ((ULONG)0xffffffff)
#define INADDR_NONE 0xffffffff

#define SOL_SOCKET 0xffff
#define SO_REUSEADDR 0x0004
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define SO_ERROR 0x1007
#define TCP_NODELAY 0x0001
#define SOMAXCONN 0x7fffffff

#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define MSG_DONTROUTE 0x4
#define MSG_WAITALL 0x8

#define FIONBIO ((LONG)0x8004667Eu)
#define FIONREAD ((LONG)0x4004667Fu)

static_assert(AF_INET == kv_winsock::kAfInet && SOCK_STREAM == kv_winsock::kSockStream &&
              IPPROTO_TCP == kv_winsock::kIpprotoTcp);
static_assert(SOL_SOCKET == kv_winsock::kSolSocket && SO_REUSEADDR == kv_winsock::kSoReuseAddr &&
              SO_SNDTIMEO == kv_winsock::kSoSndTimeo && SO_RCVTIMEO == kv_winsock::kSoRcvTimeo &&
              SO_ERROR == kv_winsock::kSoError && TCP_NODELAY == kv_winsock::kTcpNoDelay);
static_assert(MSG_OOB == kv_winsock::kMsgOob && MSG_PEEK == kv_winsock::kMsgPeek &&
              MSG_DONTROUTE == kv_winsock::kMsgDontRoute && MSG_WAITALL == kv_winsock::kMsgWaitAll);
static_assert(FIONBIO == kv_winsock::kFionbio && FIONREAD == kv_winsock::kFionread);

typedef struct in_addr {
    union {
        struct {
            u_char s_b1, s_b2, s_b3, s_b4;
        } S_un_b;
        struct {
            u_short s_w1, s_w2;
        } S_un_w;
        ULONG S_addr;
    } S_un;
} IN_ADDR, *PIN_ADDR, *LPIN_ADDR;
#define s_addr S_un.S_addr
#define s_host S_un.S_un_b.s_b2
#define s_net S_un.S_un_b.s_b1
#define s_imp S_un.S_un_w.s_w2
#define s_impno S_un.S_un_b.s_b4
#define s_lh S_un.S_un_b.s_b3

typedef struct sockaddr {
    USHORT sa_family;
    char sa_data[14];
} SOCKADDR, *PSOCKADDR, *LPSOCKADDR;

typedef struct sockaddr_in {
    short sin_family;
    USHORT sin_port;
    struct in_addr sin_addr;
    char sin_zero[8];
} SOCKADDR_IN, *PSOCKADDR_IN, *LPSOCKADDR_IN;

typedef struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
} HOSTENT, *PHOSTENT, *LPHOSTENT;
#define h_addr h_addr_list[0]

typedef struct timeval TIMEVAL, *PTIMEVAL, *LPTIMEVAL;

static_assert(sizeof(in_addr) == 4);
static_assert(sizeof(sockaddr) == 16);
static_assert(sizeof(sockaddr_in) == sizeof(kv_winsock::SockaddrIn));
static_assert(offsetof(sockaddr_in, sin_port) == offsetof(kv_winsock::SockaddrIn, port));
static_assert(offsetof(sockaddr_in, sin_addr) == offsetof(kv_winsock::SockaddrIn, addr));
static_assert(offsetof(sockaddr_in, sin_zero) == offsetof(kv_winsock::SockaddrIn, zero));
static_assert(sizeof(hostent) == sizeof(kv_winsock::Hostent));
static_assert(offsetof(hostent, h_aliases) == offsetof(kv_winsock::Hostent, h_aliases));
static_assert(offsetof(hostent, h_addrtype) == offsetof(kv_winsock::Hostent, h_addrtype));
static_assert(offsetof(hostent, h_length) == offsetof(kv_winsock::Hostent, h_length));
static_assert(offsetof(hostent, h_addr_list) == offsetof(kv_winsock::Hostent, h_addr_list));

// fd_set as winsock2.h has it: FD_SET adds a socket once (and nothing
// beyond FD_SETSIZE), FD_CLR removes it keeping the order of the rest.
#undef FD_SETSIZE
#undef FD_ZERO
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#define FD_SETSIZE KV_WINSOCK_FD_SETSIZE
#define fd_set WinsockFdSet

namespace kv_winsock {

inline void FdSet(SOCKET s, WinsockFdSet* set) {
    for (unsigned int i = 0; i < set->fd_count; ++i)
        if (set->fd_array[i] == s) return;
    if (set->fd_count < FD_SETSIZE) set->fd_array[set->fd_count++] = s;
}

inline void FdClr(SOCKET s, WinsockFdSet* set) {
    for (unsigned int i = 0; i < set->fd_count; ++i) {
        if (set->fd_array[i] != s) continue;
        for (; i + 1 < set->fd_count; ++i) set->fd_array[i] = set->fd_array[i + 1];
        --set->fd_count;
        return;
    }
}

inline int FdIsSet(SOCKET s, const WinsockFdSet* set) {
    for (unsigned int i = 0; i < set->fd_count; ++i)
        if (set->fd_array[i] == s) return 1;
    return 0;
}

}  // namespace kv_winsock

#define FD_ZERO(set) (((fd_set*)(set))->fd_count = 0)
#define FD_SET(fd, set) kv_winsock::FdSet((SOCKET)(fd), (fd_set*)(set))
#define FD_CLR(fd, set) kv_winsock::FdClr((SOCKET)(fd), (fd_set*)(set))
#define FD_ISSET(fd, set) kv_winsock::FdIsSet((SOCKET)(fd), (fd_set*)(set))

// Version MAKEWORD(1, x) and (2, x) succeed and fill the data as Windows
// does; nothing needs starting. The result is the error (not last error).
inline int WSAStartup(WORD versionRequested, LPWSADATA data) {
    return kv_winsock::Startup(versionRequested, data);
}
// Returns 0. Sockets stay open (Windows closes them at the last cleanup).
inline int WSACleanup(void) { return kv_winsock::Cleanup(); }
// One per-thread value with GetLastError, as on Windows.
inline int WSAGetLastError(void) { return int(GetLastError()); }
inline void WSASetLastError(int error) { SetLastError(DWORD(error)); }

// AF_INET, SOCK_STREAM, protocol 0 or IPPROTO_TCP. Close-on-exec.
inline SOCKET socket(int af, int type, int protocol) {
    return kv_winsock::Socket(af, type, protocol);
}
// Only values this layer handed out are sockets: anything else is
// WSAENOTSOCK and nothing is closed.
inline int closesocket(SOCKET s) { return kv_winsock::CloseSocket(s); }
// Blocking: waits for the outcome (SO_SNDTIMEO does not apply, as on
// Windows). Non-blocking: WSAEWOULDBLOCK, then select tells the outcome.
inline int connect(SOCKET s, const struct sockaddr* name, int namelen) {
    return kv_winsock::Connect(s, name, namelen);
}
inline int bind(SOCKET s, const struct sockaddr* name, int namelen) {
    return kv_winsock::Bind(s, name, namelen);
}
inline int listen(SOCKET s, int backlog) { return kv_winsock::Listen(s, backlog); }
inline SOCKET accept(SOCKET s, struct sockaddr* addr, int* addrlen) {
    return kv_winsock::Accept(s, addr, addrlen);
}
inline int getsockname(SOCKET s, struct sockaddr* name, int* namelen) {
    return kv_winsock::GetSockName(s, name, namelen);
}
inline int getpeername(SOCKET s, struct sockaddr* name, int* namelen) {
    return kv_winsock::GetPeerName(s, name, namelen);
}
// Never raises SIGPIPE. A blocking send returns when all of buf is taken.
inline int send(SOCKET s, const char* buf, int len, int flags) {
    return kv_winsock::Send(s, buf, len, flags);
}
// 0 at an orderly close; WSAETIMEDOUT when SO_RCVTIMEO runs out.
inline int recv(SOCKET s, char* buf, int len, int flags) {
    return kv_winsock::Recv(s, buf, len, flags);
}
inline int shutdown(SOCKET s, int how) { return kv_winsock::Shutdown(s, how); }
inline int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    return kv_winsock::SetSockOpt(s, level, optname, optval, optlen);
}
inline int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    return kv_winsock::GetSockOpt(s, level, optname, optval, optlen);
}
inline int ioctlsocket(SOCKET s, LONG cmd, u_long* argp) {
    return kv_winsock::IoctlSocket(s, cmd, argp);
}
// nfds is ignored as on Windows; a NULL timeout waits without limit.
inline int select(int /*nfds*/, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                  const struct timeval* timeout) {
    return kv_winsock::Select(readfds, writefds, exceptfds, timeout);
}
// IPv4 addresses only. The result is per thread and lasts until the
// thread's next call.
inline struct hostent* gethostbyname(const char* name) {
    return reinterpret_cast<struct hostent*>(kv_winsock::GetHostByName(name));
}
inline ULONG inet_addr(const char* cp) { return kv_winsock::InetAddr(cp); }
inline char* inet_ntoa(struct in_addr in) { return kv_winsock::InetNtoa(in.S_un.S_addr); }

inline u_short htons(u_short v) {
    return std::endian::native == std::endian::little ? __builtin_bswap16(v) : v;
}
inline u_short ntohs(u_short v) { return htons(v); }
inline ULONG htonl(ULONG v) {
    return std::endian::native == std::endian::little ? __builtin_bswap32(v) : v;
}
inline ULONG ntohl(ULONG v) { return htonl(v); }

#endif  // KV_WINSOCK_ENTRY_POINTS_ONLY
