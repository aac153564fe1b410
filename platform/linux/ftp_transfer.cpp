// Passive data connections, one data transfer, FtpPutFileA and FtpGetFileA.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
bool OpenPassive(FtpConnection& connection, FtpStream& data) {
    FtpControl& control = connection.control;
    FtpReply reply;
    uint16_t port = 0;
    if (control.stream().peer().IsIpv4() && !connection.pasvRefused) {
        if (!control.Exchange("PASV", std::string(), reply)) return false;
        if (reply.code == 227) {
            if (!ParsePasv(reply.text, port)) {
                SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
                return false;
            }
        } else if (reply.code >= 500) {
            connection.pasvRefused = true;
        } else {
            SetLastError(FtpErrorFromReply(reply.code));
            return false;
        }
    }
    if (!port) {
        if (!control.Exchange("EPSV", std::string(), reply)) return false;
        if (reply.code != 229 || !ParseEpsv(reply.text, port)) {
            SetLastError(reply.code == 229 ? ERROR_INTERNET_EXTENDED_ERROR
                                           : FtpErrorFromReply(reply.code));
            return false;
        }
    }
    return data.Connect(control.stream().peer().WithPort(port), InternetTimeoutMs());
}

// The data connection of one call, visible to Abort once it is connected
// (Publish) and until it is closed.
class DataConnection {
public:
    explicit DataConnection(FtpConnection& connection) : connection_(connection) {}
    ~DataConnection() { Close(); }
    DataConnection(const DataConnection&) = delete;
    DataConnection& operator=(const DataConnection&) = delete;
    FtpStream& stream() { return stream_; }
    void Publish() {
        std::lock_guard<std::mutex> lock(connection_.dataLock);
        connection_.data = &stream_;
    }
    void Close() {
        std::lock_guard<std::mutex> lock(connection_.dataLock);
        connection_.data = nullptr;
        stream_.Close();
    }

private:
    FtpConnection& connection_;
    FtpStream stream_;
};

// A file descriptor that closes itself.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    // Gives the descriptor up without closing it.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
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

int OpenFile(const std::string& native, int flags) {
    int fd;
    do {
        fd = open(native.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// "SIZE name" (RFC 3659): the reply "213 1234" gives the size of the file as
// a binary transfer would move it. Any other answer leaves the size unknown
// (550: no plain file, or not in this type; 500/502: never asked again on
// this connection). False only when the connection failed.
bool AskSize(FtpConnection& connection, const std::string& name, bool& known, uint64_t& size) {
    known = false;
    if (connection.sizeRefused) return true;
    FtpReply reply;
    if (!connection.control.Exchange("SIZE", name, reply)) return false;
    if (reply.code == 500 || reply.code == 502) connection.sizeRefused = true;
    if (reply.code != 213) return true;
    const size_t end = reply.text.find("\r\n");
    if (end == std::string::npos || end <= 4) return true;
    const std::string digits = reply.text.substr(4, end - 4);
    if (digits.size() > 18 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return true;
    size = std::strtoull(digits.c_str(), nullptr, 10);
    known = true;
    return true;
}

}  // namespace

bool FtpTransfer(FtpConnection& connection, const char* verb, const std::string& argument,
                 const FtpDataSink& sink) {
    FtpControl& control = connection.control;
    connection.refusedCode = 0;
    DataConnection data(connection);
    if (!OpenPassive(connection, data.stream())) return false;
    data.Publish();
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
    FtpDataBound bound(sink.maximumBytes);
    while (moved) {
        if (sink.send) {
            const long long count = sink.send(buffer.get(), kBlock);
            if (count <= 0) {
                moved = count == 0;
                break;
            }
            moved = bound.Send(data.stream(), buffer.get(), size_t(count));
        } else {
            const long long count = bound.Receive(data.stream(), buffer.get(), kBlock);
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
    if (bound.tripped()) {
        control.MarkDead();
        return false;
    }
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
    FileDescriptor file(fd);  // closes the file on every path
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const char type = (flags & FTP_TRANSFER_TYPE_MASK) == FTP_TRANSFER_TYPE_ASCII ? 'A' : 'I';
    if (!FtpSetType(*call, type)) return FALSE;
    FtpDataSink sink;
    sink.send = [fd](char* buffer, size_t size) -> long long {
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

namespace {

// FtpGetFileA; `knownSize` >= 0 is the size a listing gave, which stands
// in for the SIZE question (one exchange less per file).
BOOL GetFile(HINTERNET connect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
             DWORD flagsAndAttributes, DWORD flags, int64_t knownSize) {
    if (!remoteFile || !*remoteFile || !newFile || !*newFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FtpCall call(connect);
    if (!call.ok()) return FALSE;
    std::string target;
    if (!PlatformTranslatePath(newFile, target)) return FALSE;
    // The target itself is written, as Windows writes it. An existing file
    // is opened without truncation, so that it keeps its bytes until the
    // first byte arrives; O_NONBLOCK keeps a FIFO from blocking the open.
    bool created = true;
    int fd = OpenFile(target, O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == EEXIST && !failIfExists) {
        created = false;
        fd = OpenFile(target, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0) {
        SetLastError(errno == EEXIST                      ? ERROR_FILE_EXISTS
                     : errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                     : errno == EISDIR || errno == ENXIO   ? ERROR_ACCESS_DENIED
                                                           : PlatformErrorFromErrno(errno));
        return FALSE;
    }
    FileDescriptor file(fd);  // closes the file on every path
    struct stat st;
    // Folders, devices and read-only files are not replaced (read-only is
    // enforced here, as for every file of this layer, so that it holds for
    // root).
    if (!created && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(st.st_mode & S_IWUSR))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const char type = (flags & FTP_TRANSFER_TYPE_MASK) == FTP_TRANSFER_TYPE_ASCII ? 'A' : 'I';
    uint64_t size = 0, written = 0;
    bool sizeKnown = false;
    bool ok = FtpSetType(*call, type);
    // SIZE counts the bytes as stored, which only a binary transfer moves.
    if (ok && type == 'I' && knownSize >= 0) {
        size = uint64_t(knownSize);
        sizeKnown = true;
    } else if (ok && type == 'I') {
        ok = AskSize(*call, remoteFile, sizeKnown, size);
    }
    if (ok) {
        FtpDataSink sink;
        sink.maximumBytes = sizeKnown ? size : ftpTransferLimits.unknownSizeBytes;
        sink.receive = [fd, &written](const char* data, size_t count) {
            if (!WriteAll(fd, data, count)) return false;
            written += count;
            return true;
        };
        ok = FtpTransfer(*call, "RETR", remoteFile, sink);
    }
    // A transfer that ended early with 226 is no copy of the file.
    if (ok && sizeKnown && written != size) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        ok = false;
    }
    if (ok && ftruncate(fd, off_t(written)) != 0) {
        PlatformSetLastErrno(errno);
        ok = false;
    }
    // A download is data, never a program: no execute bit survives.
    if (ok && fstat(fd, &st) == 0) {
        mode_t mode = st.st_mode & 0666;
        if (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) mode &= ~mode_t(0222);
        fchmod(fd, mode);
    }
    if (close(file.release()) != 0 && ok) {
        PlatformSetLastErrno(errno);
        ok = false;
    }
    // A failed download leaves no partial file: what this call created or
    // began to overwrite is removed; a file it never wrote to stays as it was.
    if (!ok && (created || written > 0)) {
        const DWORD error = GetLastError();
        unlink(target.c_str());
        SetLastError(error);
    }
    return ok ? TRUE : FALSE;
}

}  // namespace

BOOL FtpGetFileA(HINTERNET connect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
                 DWORD flagsAndAttributes, DWORD flags, DWORD_PTR) {
    return GetFile(connect, remoteFile, newFile, failIfExists, flagsAndAttributes, flags, -1);
}

BOOL PlatformFtpGetFileOfSize(LPVOID connect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
                              DWORD flagsAndAttributes, DWORD flags, LONGLONG knownSize) {
    if (knownSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return GetFile(connect, remoteFile, newFile, failIfExists, flagsAndAttributes, flags, knownSize);
}
