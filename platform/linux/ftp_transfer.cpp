// Passive data connections, one data transfer, FtpPutFileA and FtpGetFileA.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/errors.h"
#include "platform/linux/ftp_session.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/paths.h"

namespace {

constexpr size_t kBlock = 64 * 1024;

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)": the six numbers, found
// anywhere after the code (some servers leave out the parentheses). Only
// the port is used: the host part is never trusted (see OpenPassive).
bool ParsePasv(const std::string& text, uint16_t& port) {
    for (size_t at = 4; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') continue;
        int numbers[6];
        size_t i = at;
        int count = 0;
        for (; count < 6; ++count) {
            int value = 0, digits = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
                value = value * 10 + (text[i++] - '0');
                ++digits;
            }
            if (!digits || value > 255) break;
            numbers[count] = value;
            if (count < 5) {
                if (i >= text.size() || text[i] != ',') break;
                ++i;
            }
        }
        if (count == 6) {
            port = uint16_t(numbers[4] * 256 + numbers[5]);
            return port != 0;
        }
    }
    return false;
}

// "229 Entering Extended Passive Mode (|||port|)" (RFC 2428): the delimiter
// is whatever character follows the parenthesis.
bool ParseEpsv(const std::string& text, uint16_t& port) {
    size_t open = text.find('(');
    if (open == std::string::npos || open + 5 >= text.size()) return false;
    const char d = text[open + 1];
    if (text[open + 2] != d || text[open + 3] != d) return false;
    size_t i = open + 4;
    unsigned value = 0;
    int digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 6) {
        value = value * 10 + unsigned(text[i++] - '0');
        ++digits;
    }
    if (!digits || i >= text.size() || text[i] != d || value == 0 || value > 65535) return false;
    port = uint16_t(value);
    return true;
}

// A passive data connection, always to the control connection's own peer:
// a PASV reply naming another host (a hostile server aiming us at a third
// party, or a server behind NAT naming its private address) is not followed.
int OpenPassive(FtpConnection& connection) {
    FtpControl& control = connection.control;
    FtpReply reply;
    uint16_t port = 0;
    if (control.peer().ss_family == AF_INET && !connection.pasvRefused) {
        if (!control.Exchange("PASV", std::string(), reply)) return -1;
        if (reply.code == 227) {
            if (!ParsePasv(reply.text, port)) {
                SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
                return -1;
            }
        } else if (reply.code >= 500) {
            connection.pasvRefused = true;
        } else {
            SetLastError(FtpErrorFromReply(reply.code));
            return -1;
        }
    }
    if (!port) {
        if (!control.Exchange("EPSV", std::string(), reply)) return -1;
        if (reply.code != 229 || !ParseEpsv(reply.text, port)) {
            SetLastError(reply.code == 229 ? ERROR_INTERNET_EXTENDED_ERROR
                                           : FtpErrorFromReply(reply.code));
            return -1;
        }
    }
    struct sockaddr_storage target = control.peer();
    if (target.ss_family == AF_INET)
        reinterpret_cast<struct sockaddr_in*>(&target)->sin_port = htons(port);
    else
        reinterpret_cast<struct sockaddr_in6*>(&target)->sin6_port = htons(port);
    return FtpConnectAddress(reinterpret_cast<struct sockaddr*>(&target), control.peerLength(),
                             InternetTimeoutMs());
}

// The data connection of one call, visible to Abort while it is open.
class DataConnection {
public:
    DataConnection(FtpConnection& connection, int fd) : connection_(connection), socket_(fd) {
        std::lock_guard<std::mutex> lock(connection_.dataLock);
        connection_.dataFd = fd;
    }
    ~DataConnection() { Close(); }
    DataConnection(const DataConnection&) = delete;
    DataConnection& operator=(const DataConnection&) = delete;
    int fd() const { return socket_.fd(); }
    void Close() {
        std::lock_guard<std::mutex> lock(connection_.dataLock);
        connection_.dataFd = -1;
        socket_.reset();
    }

private:
    FtpConnection& connection_;
    FtpSocket socket_;
};

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            PlatformSetLastErrno(errno);
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

std::string ParentOf(const std::string& native) {
    size_t slash = native.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return native.substr(0, slash);
}

}  // namespace

bool FtpTransfer(FtpConnection& connection, const char* verb, const std::string& argument,
                 const FtpDataSink& sink) {
    FtpControl& control = connection.control;
    connection.refusedCode = 0;
    int fd = OpenPassive(connection);
    if (fd < 0) return false;
    DataConnection data(connection, fd);
    FtpReply reply;
    if (!control.Exchange(verb, argument, reply)) return false;
    if (reply.code / 100 != 1 && reply.code / 100 != 2) {
        connection.refusedCode = reply.code;
        SetLastError(FtpErrorFromReply(reply.code));
        return false;
    }
    bool finalSeen = reply.code / 100 == 2;  // some servers answer 226 at once
    bool moved = true;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBlock]);
    if (!buffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        moved = false;
    }
    while (moved) {
        if (sink.send) {
            ssize_t count = sink.send(buffer.get(), kBlock);
            if (count <= 0) {
                moved = count == 0;
                break;
            }
            moved = FtpSendAll(data.fd(), buffer.get(), size_t(count));
        } else {
            ssize_t count = FtpReceive(data.fd(), buffer.get(), kBlock, InternetTimeoutMs());
            if (count <= 0) {
                moved = count == 0;
                break;
            }
            moved = sink.receive(buffer.get(), size_t(count));
        }
    }
    // Closing the data connection ends an upload; it also tells the server
    // that we stopped reading a download.
    data.Close();
    const DWORD moveError = moved ? ERROR_SUCCESS : GetLastError();
    if (!finalSeen) {
        if (!control.Read(reply)) {
            // The control connection broke too: its error says more than
            // the data connection's.
            return false;
        }
    }
    if (!moved) {
        // A reply that gives a reason (426 aborted, 451 local error) names
        // the fault; otherwise the data connection's own error does.
        if (reply.code / 100 == 4 || reply.code / 100 == 5) {
            connection.refusedCode = reply.code;
            SetLastError(FtpErrorFromReply(reply.code));
        } else {
            SetLastError(moveError);
        }
        return false;
    }
    if (reply.code / 100 != 2) {
        connection.refusedCode = reply.code;
        SetLastError(FtpErrorFromReply(reply.code));
        return false;
    }
    return true;
}

BOOL FtpPutFileA(HINTERNET connect, LPCSTR localFile, LPCSTR newRemoteFile, DWORD flags,
                 DWORD_PTR context) {
    if (!localFile || !*localFile || !newRemoteFile || !*newRemoteFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FtpCall call(connect);
    if (!call.ok()) return FALSE;
    std::string native;
    if (!PlatformTranslatePath(localFile, native)) return FALSE;
    int fd;
    do {
        fd = open(native.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        PlatformSetLastErrno(errno, &native);
        return FALSE;
    }
    FtpSocket file(fd);  // closes the file on every path
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const char type = (flags & FTP_TRANSFER_TYPE_MASK) == FTP_TRANSFER_TYPE_ASCII ? 'A' : 'I';
    if (!FtpSetType(*call, type)) return FALSE;
    FtpDataSink sink;
    sink.send = [fd](char* buffer, size_t size) -> ssize_t {
        for (;;) {
            ssize_t got = read(fd, buffer, size);
            if (got >= 0) return got;
            if (errno == EINTR) continue;
            PlatformSetLastErrno(errno);
            return -1;
        }
    };
    return FtpTransfer(*call, "STOR", newRemoteFile, sink) ? TRUE : FALSE;
}

BOOL FtpGetFileA(HINTERNET connect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
                 DWORD flagsAndAttributes, DWORD flags, DWORD_PTR context) {
    if (!remoteFile || !*remoteFile || !newFile || !*newFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FtpCall call(connect);
    if (!call.ok()) return FALSE;
    std::string target;
    if (!PlatformTranslatePath(newFile, target)) return FALSE;
    struct stat st;
    const bool exists = stat(target.c_str(), &st) == 0;
    if (exists && failIfExists) {
        SetLastError(ERROR_FILE_EXISTS);
        return FALSE;
    }
    // Folders and read-only files are not replaced (read-only is enforced
    // here, as for every file of this layer, so that it holds for root).
    if (exists && (!S_ISREG(st.st_mode) || !(st.st_mode & S_IWUSR))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // The download goes to a hidden file beside the target, which replaces
    // the target only when the transfer is complete.
    static std::atomic<unsigned> counter{0};
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "/.kv-ftpget-%d-%u.part", int(getpid()), ++counter);
    const std::string scratch = ParentOf(target) + suffix;
    int fd;
    do {
        fd = open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                         : PlatformErrorFromErrno(errno));
        return FALSE;
    }
    bool ok = true;
    // A replaced file keeps its read and write permissions; a download is
    // data, never a program, so no execute bit survives.
    if (exists) fchmod(fd, st.st_mode & 0666);
    const char type = (flags & FTP_TRANSFER_TYPE_MASK) == FTP_TRANSFER_TYPE_ASCII ? 'A' : 'I';
    ok = FtpSetType(*call, type);
    if (ok) {
        FtpDataSink sink;
        sink.receive = [fd](const char* data, size_t size) { return WriteAll(fd, data, size); };
        ok = FtpTransfer(*call, "RETR", remoteFile, sink);
    }
    if (ok && (flagsAndAttributes & FILE_ATTRIBUTE_READONLY)) {
        struct stat now;
        if (fstat(fd, &now) == 0) fchmod(fd, now.st_mode & ~mode_t(0222));
    }
    if (close(fd) != 0 && ok) {
        PlatformSetLastErrno(errno);
        ok = false;
    }
    if (ok) {
        if (failIfExists) {
            // Atomically: a file that appeared meanwhile is not replaced.
            if (link(scratch.c_str(), target.c_str()) != 0) {
                SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : PlatformErrorFromErrno(errno));
                ok = false;
            }
        } else if (rename(scratch.c_str(), target.c_str()) != 0) {
            PlatformSetLastErrno(errno, &target);
            ok = false;
        }
    }
    if (!ok || failIfExists) {
        const DWORD error = GetLastError();
        unlink(scratch.c_str());
        SetLastError(error);
    }
    return ok ? TRUE : FALSE;
}
