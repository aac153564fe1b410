// The local file of an FTP transfer (FtpLocalFile, platform/ftp/
// ftp_session.h) on Linux: names through the path translation, descriptors
// rather than handles, so that devices, FIFOs and execute bits can be seen.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ftp/ftp_session.h"
#include "platform/linux/errors.h"
#include "platform/linux/paths.h"

namespace {

int OpenFile(const std::string& native, int flags) {
    int fd;
    do {
        fd = open(native.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

FtpLocalFile::~FtpLocalFile() {
    if (handle_ >= 0) close(int(handle_));
}

bool FtpLocalFile::OpenSource(LPCSTR path) {
    if (!PlatformTranslatePath(path, path_)) return false;
    const int fd = OpenFile(path_, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        PlatformSetLastErrno(errno, &path_);
        return false;
    }
    handle_ = fd;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

bool FtpLocalFile::OpenTarget(LPCSTR path, bool failIfExists) {
    if (!PlatformTranslatePath(path, path_)) return false;
    // O_NONBLOCK keeps a FIFO from blocking the open.
    created_ = true;
    int fd = OpenFile(path_, O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == EEXIST && !failIfExists) {
        created_ = false;
        fd = OpenFile(path_, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0) {
        created_ = false;
        SetLastError(errno == EEXIST                      ? ERROR_FILE_EXISTS
                     : errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                     : errno == EISDIR || errno == ENXIO   ? ERROR_ACCESS_DENIED
                                                           : PlatformErrorFromErrno(errno));
        return false;
    }
    handle_ = fd;
    struct stat st;
    // Folders, devices and read-only files are not replaced (read-only is
    // enforced here, as for every file of this layer, so that it holds for
    // root).
    if (!created_ && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(st.st_mode & S_IWUSR))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

long long FtpLocalFile::Read(char* buffer, size_t size) {
    for (;;) {
        const ssize_t got = read(int(handle_), buffer, size);
        if (got >= 0) return got;
        if (errno == EINTR) continue;
        PlatformSetLastErrno(errno);
        return -1;
    }
}

bool FtpLocalFile::Write(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(int(handle_), data, size);
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

bool FtpLocalFile::Finish(uint64_t size, DWORD flagsAndAttributes) {
    const int fd = int(handle_);
    handle_ = -1;
    bool ok = true;
    if (ftruncate(fd, off_t(size)) != 0) {
        PlatformSetLastErrno(errno);
        ok = false;
    }
    // A download is data, never a program: no execute bit survives.
    struct stat st;
    if (ok && fstat(fd, &st) == 0) {
        mode_t mode = st.st_mode & 0666;
        if (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) mode &= ~mode_t(0222);
        fchmod(fd, mode);
    }
    if (close(fd) != 0 && ok) {
        PlatformSetLastErrno(errno);
        ok = false;
    }
    return ok;
}

void FtpLocalFile::Remove() {
    const DWORD error = GetLastError();
    if (handle_ >= 0) close(int(handle_));
    handle_ = -1;
    unlink(path_.c_str());
    SetLastError(error);
}
