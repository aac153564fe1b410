// GetLastError / SetLastError and the one mapping from errno to Windows codes.
#include "platform/linux/errors.h"

#include <cerrno>
#include <sys/stat.h>

#include "platform/linux/kernel32.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

// True when the folder that would hold native exists.
bool ParentFolderExists(const std::string& native) {
    std::string path = native;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    std::string parent;
    if (slash == std::string::npos) parent = ".";
    else if (slash == 0) parent = "/";
    else parent = path.substr(0, slash);
    struct stat st;
    return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

DWORD GetLastError(void) { return t_lastError; }

void SetLastError(DWORD errorCode) { t_lastError = errorCode; }

DWORD PlatformErrorFromErrno(int err, const std::string* native) {
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT:
        if (native && !ParentFolderExists(*native)) return ERROR_PATH_NOT_FOUND;
        return native ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EIO: return ERROR_IO_DEVICE;
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EFAULT: return ERROR_NOACCESS;
    default: return ERROR_GEN_FAILURE;
    }
}

void PlatformSetLastErrno(int err, const std::string* native) {
    SetLastError(PlatformErrorFromErrno(err, native));
}
