// KERNEL32 file and folder functions on POSIX.
//
// Windows' read-only attribute is the owner's write bit. It is enforced here
// (not left to the kernel) so that it holds for root too, as it does for an
// administrator on Windows: a read-only file cannot be opened for writing,
// truncated, deleted or replaced.
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "platform/linux/errors.h"
#include "platform/linux/filetime.h"
#include "platform/linux/files.h"
#include "platform/linux/handles.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/paths.h"

namespace {

struct FileObject final : PlatformObject {
    static constexpr HandleKind kKind = HandleKind::File;
    FileObject(int f, bool r, bool w, bool regular)
        : PlatformObject(kKind), fd(f), canRead(r), canWrite(w), isRegular(regular) {}
    ~FileObject() override {
        if (fd >= 0) close(fd);
    }
    const int fd;
    const bool canRead;
    const bool canWrite;
    const bool isRegular;  // short transfers are retried only on regular files
    // Where a positional transfer left the file pointer (-1: nowhere). It is
    // applied when the pointer is next used, so that a run of positional
    // transfers costs no seek.
    mutable std::atomic<int64_t> deferredPointer{-1};
};

constexpr ULONG_PTR kStatusEndOfFile = 0xC0000011;  // Internal after a positional read at the end

// Applies a deferred file pointer; false with the last error set.
bool ApplyDeferredPointer(const FileObject& f) {
    const int64_t at = f.deferredPointer.exchange(-1);
    if (at >= 0 && lseek(f.fd, off_t(at), SEEK_SET) < 0) {
        PlatformSetLastErrno(errno);
        return false;
    }
    return true;
}

// The byte offset of a positional transfer, as Windows takes it for a handle
// opened without FILE_FLAG_OVERLAPPED: Offset and OffsetHigh, both halves
// 0xFFFFFFFF meaning the end of the file for a write. Regular files only, and
// no completion event, and the transfer must end below 2^63; false with the
// last error set.
bool PositionalOffset(const FileObject& f, const OVERLAPPED& o, bool writing, DWORD count,
                      int64_t& at) {
    if (o.hEvent || !f.isRegular) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const uint64_t offset = (uint64_t(o.OffsetHigh) << 32) | o.Offset;
    if (writing && offset == ~uint64_t(0)) {
        struct stat st;
        if (fstat(f.fd, &st) != 0) {
            PlatformSetLastErrno(errno);
            return false;
        }
        at = st.st_size;
        return true;
    }
    if (offset > uint64_t(INT64_MAX) - count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    at = int64_t(offset);
    return true;
}

bool IsReadOnly(const struct stat& st) { return S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR); }

int OpenNoIntr(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The folder a native path lies in.
std::string ParentOf(const std::string& native) {
    std::string path = native;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

void SyncFolder(const std::string& folder) {
    int fd = OpenNoIntr(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// rename() that fails with EEXIST instead of replacing an existing target.
// Falls back to a check and a rename where the file system cannot do it in
// one step (the gap between the two is the only race left).
int RenameNoReplace(const std::string& from, const std::string& to) {
#ifdef SYS_renameat2
    constexpr unsigned kNoReplace = 1;  // RENAME_NOREPLACE
    if (syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), kNoReplace) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return rename(from.c_str(), to.c_str());
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Copies the open regular file `in` (described by st) to a new temporary file
// beside finalName, then renames it into place, so that an existing target is
// replaced whole or not at all. Sets the last error on failure.
bool CopyIntoPlace(int in, const struct stat& st, const std::string& finalName, bool replacing,
                   bool failIfExists) {
    std::string folder = ParentOf(finalName);
    std::string temp = folder + "/.kvcopy-XXXXXX";
    std::vector<char> tempName(temp.begin(), temp.end());
    tempName.push_back('\0');
    int out = mkostemp(tempName.data(), O_CLOEXEC);
    if (out < 0) {
        int err = errno;
        if (err == ENOENT || err == ENOTDIR) SetLastError(ERROR_PATH_NOT_FOUND);
        else PlatformSetLastErrno(err, &finalName);
        return false;
    }
    temp = tempName.data();
    bool ok = true;
    std::vector<char> buffer(128 * 1024);
    for (;;) {
        ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || !WriteAll(out, buffer.data(), size_t(n))) {
            ok = false;
            break;
        }
        if (n == 0) break;
    }
    if (ok) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ok = fchmod(out, st.st_mode & 0777) == 0 && futimens(out, times) == 0 &&
             (!replacing || fsync(out) == 0);
    }
    int err = errno;
    if (close(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok) {
        int rc = failIfExists ? RenameNoReplace(temp, finalName) : rename(temp.c_str(), finalName.c_str());
        if (rc == 0) return true;
        err = errno;
        unlink(temp.c_str());
        if (err == EEXIST) SetLastError(ERROR_FILE_EXISTS);
        else PlatformSetLastErrno(err, &finalName);
        return false;
    }
    unlink(temp.c_str());
    PlatformSetLastErrno(err, &finalName);
    return false;
}

// A file's name cannot end in a separator: a trailing one on anything but a
// folder is ERROR_INVALID_NAME, as on Windows. Sets the last error when it refuses.
bool RefuseTrailingSeparator(const std::string& native) {
    if (native.size() < 2 || native.back() != '/') return false;
    struct stat st;
    if (stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
    SetLastError(ERROR_INVALID_NAME);
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::string PlatformLeafName(const std::string& native) {
    std::string path = native;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

DWORD PlatformAttributesFromStat(const struct stat& st, const std::string& name) {
    DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
    if (name.size() > 1 && name[0] == '.' && name != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes;
}

HANDLE PlatformOpenFile(LPCSTR fileName, DWORD desiredAccess, DWORD creationDisposition,
                        mode_t newFileMode, bool narrowExisting) {
    if (!PlatformCheckPathText(fileName)) return INVALID_HANDLE_VALUE;
    if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string native;
    if (!PlatformTranslatePath(fileName, native)) return INVALID_HANDLE_VALUE;
    if (RefuseTrailingSeparator(native)) return INVALID_HANDLE_VALUE;

    const bool wantRead = (desiredAccess & GENERIC_READ) != 0;
    const bool wantWrite = (desiredAccess & GENERIC_WRITE) != 0;
    const bool truncating =
        creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
    // Truncation needs a writable descriptor even when the caller asked for
    // less; what the handle may do afterwards is still what was asked.
    int accessMode = O_RDONLY;
    if (wantWrite || truncating) accessMode = wantRead ? O_RDWR : O_WRONLY;
    if (truncating && !wantRead && !wantWrite) accessMode = O_WRONLY;
    // O_NONBLOCK keeps a FIFO from blocking the open; it is cleared below.
    const int flags = accessMode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

    int fd = -1;
    bool existed = false;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        switch (creationDisposition) {
        case CREATE_NEW:
            fd = OpenNoIntr(native.c_str(), flags | O_CREAT | O_EXCL, newFileMode);
            existed = false;
            break;
        case OPEN_EXISTING:
        case TRUNCATE_EXISTING:
            fd = OpenNoIntr(native.c_str(), flags, 0);
            existed = true;
            break;
        default:  // CREATE_ALWAYS, OPEN_ALWAYS
            fd = OpenNoIntr(native.c_str(), flags, 0);
            existed = true;
            if (fd < 0 && errno == ENOENT) {
                fd = OpenNoIntr(native.c_str(), flags | O_CREAT | O_EXCL, newFileMode);
                existed = false;
                if (fd < 0 && errno == EEXIST) continue;  // created meanwhile: open it
            }
            break;
        }
        if (fd < 0) break;
    }
    if (fd < 0) {
        int err = errno;
        if (err == EEXIST) {
            SetLastError(ERROR_FILE_EXISTS);
        } else if (err == EACCES && !wantWrite && !truncating && desiredAccess == 0 &&
                   creationDisposition == OPEN_EXISTING) {
            // A handle without access rights still needs no read permission.
            fd = OpenNoIntr(native.c_str(), O_PATH | O_CLOEXEC, 0);
            if (fd < 0) PlatformSetLastErrno(errno, &native);
        } else {
            PlatformSetLastErrno(err, &native);
        }
        if (fd < 0) return INVALID_HANDLE_VALUE;
    }

    struct stat st;
    if (fstat(fd, &st) != 0) {
        PlatformSetLastErrno(errno, &native);
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    // Folders cannot be opened as files, and neither can FIFOs or sockets,
    // which have no Windows counterpart among plain files.
    if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (existed && (wantWrite || truncating) && IsReadOnly(st)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (narrowExisting && existed && S_ISREG(st.st_mode) &&
        (st.st_mode & 07777 & ~newFileMode) != 0) {
        if (fchmod(fd, st.st_mode & newFileMode & 07777) != 0) {
            PlatformSetLastErrno(errno, &native);
            close(fd);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (truncating && existed && S_ISREG(st.st_mode) && st.st_size != 0) {
        if (ftruncate(fd, 0) != 0) {
            PlatformSetLastErrno(errno, &native);
            close(fd);
            return INVALID_HANDLE_VALUE;
        }
    }
    int statusFlags = fcntl(fd, F_GETFL);
    if (statusFlags >= 0 && (statusFlags & O_NONBLOCK)) fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK);

    std::shared_ptr<FileObject> object;
    try {
        object = std::make_shared<FileObject>(fd, wantRead, wantWrite, S_ISREG(st.st_mode));
    } catch (const std::bad_alloc&) {
        close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = PlatformRegisterHandle(object);
    if (!handle) return INVALID_HANDLE_VALUE;  // the object closes fd
    bool reportExisting = existed && (creationDisposition == CREATE_ALWAYS ||
                                      creationDisposition == OPEN_ALWAYS);
    SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
    // Share modes have no POSIX counterpart and are accepted without effect.
    mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    return PlatformOpenFile(fileName, desiredAccess, creationDisposition, mode, false);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
    if (bytesRead) *bytesRead = 0;
    auto f = PlatformLookup<FileObject>(file);
    if (!f) return FALSE;
    if (!buffer && bytesToRead) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (!f->canRead) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    int64_t at = 0;
    const bool ready = overlapped ? PositionalOffset(*f, *overlapped, false, bytesToRead, at)
                                  : ApplyDeferredPointer(*f);
    if (!ready) return FALSE;
    char* out = static_cast<char*>(buffer);
    DWORD done = 0;
    while (done < bytesToRead) {
        ssize_t n = overlapped ? pread(f->fd, out + done, bytesToRead - done, off_t(at + done))
                               : read(f->fd, out + done, bytesToRead - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (bytesRead) *bytesRead = done;
            PlatformSetLastErrno(errno);
            return FALSE;
        }
        if (n == 0) break;  // end of file: success with what was read
        done += DWORD(n);
        if (!f->isRegular) break;
    }
    if (bytesRead) *bytesRead = done;
    if (overlapped) {
        // A positional read that starts at the end fails, as on Windows.
        const bool atEnd = done == 0 && bytesToRead > 0;
        overlapped->Internal = atEnd ? kStatusEndOfFile : 0;
        overlapped->InternalHigh = done;
        if (atEnd) {
            SetLastError(ERROR_HANDLE_EOF);
            return FALSE;
        }
        f->deferredPointer.store(at + done);
    }
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) {
    if (bytesWritten) *bytesWritten = 0;
    auto f = PlatformLookup<FileObject>(file);
    if (!f) return FALSE;
    if (!buffer && bytesToWrite) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (!f->canWrite) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    int64_t at = 0;
    const bool ready = overlapped ? PositionalOffset(*f, *overlapped, true, bytesToWrite, at)
                                  : ApplyDeferredPointer(*f);
    if (!ready) return FALSE;
    const char* in = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < bytesToWrite) {
        ssize_t n = overlapped ? pwrite(f->fd, in + done, bytesToWrite - done, off_t(at + done))
                               : write(f->fd, in + done, bytesToWrite - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (bytesWritten) *bytesWritten = done;
            PlatformSetLastErrno(n == 0 ? ENOSPC : errno);
            return FALSE;
        }
        done += DWORD(n);
    }
    if (bytesWritten) *bytesWritten = done;
    if (overlapped) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = done;
        f->deferredPointer.store(at + done);
    }
    return TRUE;
}

namespace {

// Where a move would put the file pointer; false with the last error set.
bool SeekTarget(const FileObject& f, int64_t distance, DWORD moveMethod, int64_t& target) {
    if (!ApplyDeferredPointer(f)) return false;
    int64_t base = 0;
    switch (moveMethod) {
    case FILE_BEGIN: break;
    case FILE_CURRENT: {
        off_t here = lseek(f.fd, 0, SEEK_CUR);
        if (here < 0) {
            PlatformSetLastErrno(errno);
            return false;
        }
        base = here;
        break;
    }
    case FILE_END: {
        struct stat st;
        if (fstat(f.fd, &st) != 0) {
            PlatformSetLastErrno(errno);
            return false;
        }
        base = st.st_size;
        break;
    }
    default: SetLastError(ERROR_INVALID_PARAMETER); return false;
    }
    if (__builtin_add_overflow(base, distance, &target)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return false;
    }
    return true;
}

bool SeekTo(const FileObject& f, int64_t target) {
    if (lseek(f.fd, off_t(target), SEEK_SET) < 0) {
        PlatformSetLastErrno(errno);
        return false;
    }
    return true;
}

}  // namespace

DWORD SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod) {
    auto f = PlatformLookup<FileObject>(file);
    if (!f) return INVALID_SET_FILE_POINTER;
    int64_t distance = distanceToMoveHigh
                           ? int64_t((uint64_t(uint32_t(*distanceToMoveHigh)) << 32) |
                                     uint32_t(distanceToMove))
                           : int64_t(distanceToMove);
    int64_t target;
    if (!SeekTarget(*f, distance, moveMethod, target)) return INVALID_SET_FILE_POINTER;
    // Without a high half the result must fit in the low one.
    if (!distanceToMoveHigh && target > int64_t(0xFFFFFFFFu)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (!SeekTo(*f, target)) return INVALID_SET_FILE_POINTER;
    if (distanceToMoveHigh) *distanceToMoveHigh = LONG(uint64_t(target) >> 32);
    DWORD low = DWORD(uint64_t(target) & 0xFFFFFFFFu);
    // A real position whose low half looks like the failure value.
    if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distanceToMove, PLARGE_INTEGER newFilePointer,
                      DWORD moveMethod) {
    auto f = PlatformLookup<FileObject>(file);
    if (!f) return FALSE;
    int64_t target;
    if (!SeekTarget(*f, distanceToMove.QuadPart, moveMethod, target) || !SeekTo(*f, target))
        return FALSE;
    if (newFilePointer) newFilePointer->QuadPart = target;
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER fileSize) {
    auto f = PlatformLookup<FileObject>(file);
    if (!f) return FALSE;
    struct stat st;
    if (fstat(f->fd, &st) != 0) {
        PlatformSetLastErrno(errno);
        return FALSE;
    }
    if (fileSize) fileSize->QuadPart = st.st_size;
    return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return INVALID_FILE_SIZE;
    if (fileSizeHigh) *fileSizeHigh = DWORD(uint64_t(size.QuadPart) >> 32);
    DWORD low = DWORD(uint64_t(size.QuadPart) & 0xFFFFFFFFu);
    if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL SetEndOfFile(HANDLE file) {
    auto f = PlatformLookup<FileObject>(file);
    if (!f) return FALSE;
    if (!f->canWrite) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!ApplyDeferredPointer(*f)) return FALSE;
    off_t here = lseek(f->fd, 0, SEEK_CUR);
    if (here < 0 || ftruncate(f->fd, here) != 0) {
        PlatformSetLastErrno(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
    auto f = PlatformLookup<FileObject>(file);
    if (!f) return FALSE;
    if (!f->canWrite) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (fsync(f->fd) != 0 && errno != EINVAL && errno != EROFS) {
        PlatformSetLastErrno(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL GetFileTime(HANDLE file, LPFILETIME creationTime, LPFILETIME lastAccessTime,
                 LPFILETIME lastWriteTime) {
    auto f = PlatformLookup<FileObject>(file);
    if (!f) return FALSE;
    struct stat st;
    if (fstat(f->fd, &st) != 0) {
        PlatformSetLastErrno(errno);
        return FALSE;
    }
    // Linux keeps no creation time that every file system fills; the status
    // change time stands in for it.
    if (creationTime) *creationTime = FileTimeFromTimespec(st.st_ctim);
    if (lastAccessTime) *lastAccessTime = FileTimeFromTimespec(st.st_atim);
    if (lastWriteTime) *lastWriteTime = FileTimeFromTimespec(st.st_mtim);
    return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME* creationTime, const FILETIME* lastAccessTime,
                 const FILETIME* lastWriteTime) {
    auto f = PlatformLookup<FileObject>(file);
    if (!f) return FALSE;
    if (!f->canWrite) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // NULL and 0 leave a time alone, as on Windows; so does the all-ones
    // value, whose "stop updating" meaning Linux cannot give. The creation
    // time cannot be set on Linux and is ignored.
    auto convert = [](const FILETIME* ft) {
        struct timespec ts;
        uint64_t ticks = ft ? FileTimeTicks(*ft) : 0;
        if (ticks == 0 || ticks == ~uint64_t(0)) {
            ts.tv_sec = 0;
            ts.tv_nsec = UTIME_OMIT;
        } else {
            ts = TimespecFromFileTime(*ft);
        }
        return ts;
    };
    struct timespec times[2] = {convert(lastAccessTime), convert(lastWriteTime)};
    if (futimens(f->fd, times) != 0) {
        PlatformSetLastErrno(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    // INVALID_HANDLE_VALUE is also the pseudo-handle of the current process,
    // which Windows lets one close without effect.
    if (object == INVALID_HANDLE_VALUE) return TRUE;
    return PlatformReleaseHandle(object, HandleKind::File) ? TRUE : FALSE;
}

DWORD GetFileAttributesA(LPCSTR fileName) {
    std::string native;
    if (!PlatformTranslatePath(fileName, native) || RefuseTrailingSeparator(native))
        return INVALID_FILE_ATTRIBUTES;
    struct stat st;
    if (stat(native.c_str(), &st) != 0) {
        PlatformSetLastErrno(errno, &native);
        return INVALID_FILE_ATTRIBUTES;
    }
    return PlatformAttributesFromStat(st, PlatformLeafName(native));
}

BOOL SetFileAttributesA(LPCSTR fileName, DWORD fileAttributes) {
    std::string native;
    if (!PlatformTranslatePath(fileName, native)) return FALSE;
    struct stat st;
    if (stat(native.c_str(), &st) != 0) {
        PlatformSetLastErrno(errno, &native);
        return FALSE;
    }
    // Only READONLY has a meaning, and only for files: on a Linux folder the
    // write bit would forbid creating entries, which Windows' flag does not.
    if (S_ISDIR(st.st_mode)) return TRUE;
    mode_t mode = st.st_mode & 07777;
    if (fileAttributes & FILE_ATTRIBUTE_READONLY) mode &= ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH);
    else mode |= S_IWUSR;
    if (mode != (st.st_mode & 07777) && chmod(native.c_str(), mode) != 0) {
        PlatformSetLastErrno(errno, &native);
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileA(LPCSTR fileName) {
    std::string native;
    if (!PlatformTranslatePath(fileName, native) || RefuseTrailingSeparator(native)) return FALSE;
    struct stat st;
    if (lstat(native.c_str(), &st) != 0) {
        PlatformSetLastErrno(errno, &native);
        return FALSE;
    }
    if (S_ISDIR(st.st_mode) || IsReadOnly(st)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(native.c_str()) != 0) {
        PlatformSetLastErrno(errno, &native);
        return FALSE;
    }
    return TRUE;
}

BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
    const DWORD known = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
    if (flags & ~known) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
    std::string from, to, toSpelled;
    if (!PlatformTranslatePath(existingFileName, from) || !PlatformTranslatePath(newFileName, to) ||
        !PlatformTranslatePath(newFileName, toSpelled, LeafMatch::AsSpelled))
        return FALSE;
    struct stat source;
    if (lstat(from.c_str(), &source) != 0) {
        PlatformSetLastErrno(errno, &from);
        return FALSE;
    }
    struct stat target;
    bool targetExists = lstat(to.c_str(), &target) == 0;
    int rc;
    if (targetExists && SameFile(source, target)) {
        // The same entry, perhaps spelled in another case: a rename that only
        // changes the case of the name.
        rc = (toSpelled == from) ? 0 : rename(from.c_str(), toSpelled.c_str());
    } else if (targetExists) {
        if (!replace) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        if (S_ISDIR(target.st_mode) || S_ISDIR(source.st_mode) || IsReadOnly(target)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        rc = rename(from.c_str(), to.c_str());
        // Windows gives the replaced entry the new spelling; the file is in
        // place under one name or the other at every moment.
        if (rc == 0 && to != toSpelled) rename(to.c_str(), toSpelled.c_str());
    } else {
        rc = replace ? rename(from.c_str(), toSpelled.c_str()) : RenameNoReplace(from, toSpelled);
    }
    if (rc != 0) {
        int err = errno;
        if (err == EXDEV && (flags & MOVEFILE_COPY_ALLOWED) && S_ISREG(source.st_mode)) {
            int in = OpenNoIntr(from.c_str(), O_RDONLY | O_CLOEXEC, 0);
            if (in < 0) {
                PlatformSetLastErrno(errno, &from);
                return FALSE;
            }
            bool copied = CopyIntoPlace(in, source, targetExists ? to : toSpelled, targetExists, !replace);
            close(in);
            if (!copied) {
                if (GetLastError() == ERROR_FILE_EXISTS) SetLastError(ERROR_ALREADY_EXISTS);
                return FALSE;
            }
            if (unlink(from.c_str()) != 0) {
                PlatformSetLastErrno(errno, &from);
                return FALSE;
            }
        } else if (err == EEXIST) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        } else if (err == ENOENT) {
            SetLastError(ERROR_PATH_NOT_FOUND);  // the source was there: the target's folder is not
            return FALSE;
        } else {
            PlatformSetLastErrno(err, &to);
            return FALSE;
        }
    }
    if (flags & MOVEFILE_WRITE_THROUGH) SyncFolder(ParentOf(toSpelled));
    return TRUE;
}

BOOL MoveFileA(LPCSTR existingFileName, LPCSTR newFileName) {
    return MoveFileExA(existingFileName, newFileName, MOVEFILE_COPY_ALLOWED);
}

BOOL CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
    std::string from, to, toSpelled;
    if (!PlatformTranslatePath(existingFileName, from) || !PlatformTranslatePath(newFileName, to) ||
        !PlatformTranslatePath(newFileName, toSpelled, LeafMatch::AsSpelled))
        return FALSE;
    int in = OpenNoIntr(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (in < 0) {
        PlatformSetLastErrno(errno, &from);
        return FALSE;
    }
    struct stat source;
    if (fstat(in, &source) != 0 || !S_ISREG(source.st_mode)) {
        close(in);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    fcntl(in, F_SETFL, fcntl(in, F_GETFL) & ~O_NONBLOCK);
    struct stat target;
    bool targetExists = lstat(to.c_str(), &target) == 0;
    DWORD refusal = ERROR_SUCCESS;
    if (targetExists) {
        if (failIfExists) refusal = ERROR_FILE_EXISTS;
        else if (SameFile(source, target)) refusal = ERROR_SHARING_VIOLATION;
        else if (S_ISDIR(target.st_mode) || IsReadOnly(target)) refusal = ERROR_ACCESS_DENIED;
    }
    if (refusal != ERROR_SUCCESS) {
        close(in);
        SetLastError(refusal);
        return FALSE;
    }
    // An existing target keeps its name as it is on disk, as Windows
    // overwrites it in place; a new one is created as spelled.
    bool ok = CopyIntoPlace(in, source, targetExists ? to : toSpelled, targetExists,
                            failIfExists != FALSE);
    close(in);
    return ok ? TRUE : FALSE;
}

BOOL CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security) {
    std::string native;
    if (!PlatformTranslatePath(pathName, native)) return FALSE;
    if (mkdir(native.c_str(), 0777) != 0) {
        int err = errno;
        if (err == EEXIST) SetLastError(ERROR_ALREADY_EXISTS);
        else if (err == ENOENT || err == ENOTDIR) SetLastError(ERROR_PATH_NOT_FOUND);
        else PlatformSetLastErrno(err, &native);
        return FALSE;
    }
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR pathName) {
    std::string native;
    if (!PlatformTranslatePath(pathName, native)) return FALSE;
    struct stat st;
    if (lstat(native.c_str(), &st) != 0) {
        PlatformSetLastErrno(errno, &native);
        return FALSE;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    // Windows holds the current directory open, so it cannot be removed.
    struct stat here;
    if (stat(".", &here) == 0 && SameFile(here, st)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (rmdir(native.c_str()) != 0) {
        int err = errno;
        PlatformSetLastErrno(err == EEXIST ? ENOTEMPTY : err, &native);
        return FALSE;
    }
    return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer) {
    std::vector<char> cwd(PATH_MAX);
    if (getcwd(cwd.data(), cwd.size()) == nullptr) {
        PlatformSetLastErrno(errno == ENOENT ? ENOENT : errno);
        return 0;
    }
    std::string text = PlatformNativeToWindows(cwd.data());
    // Too small (or no buffer): the size needed, counting the NUL.
    if (!buffer || bufferLength < text.size() + 1) return DWORD(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return DWORD(text.size());
}

BOOL SetCurrentDirectoryA(LPCSTR pathName) {
    std::string native;
    if (!PlatformTranslatePath(pathName, native)) return FALSE;
    if (chdir(native.c_str()) != 0) {
        int err = errno;
        struct stat st;
        if (err == ENOTDIR && stat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
            SetLastError(ERROR_DIRECTORY);
        else PlatformSetLastErrno(err, &native);
        return FALSE;
    }
    return TRUE;
}
