// FtpPutFileA and FtpGetFileA: the local files of a transfer (the transfer
// itself: platform/ftp/ftp_data.cpp).
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

}  // namespace

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
        ok = FtpAskSize(*call, remoteFile, sizeKnown, size);
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
