// The local file of an FTP transfer (FtpLocalFile, platform/ftp/
// ftp_session.h) on Windows: the file calls themselves.
#include "platform/ftp/ftp_session.h"

#include <climits>

namespace {

HANDLE Native(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Only a file on a disk is moved: a device (a console, a pipe) is not.
bool IsDiskFile(HANDLE file) {
    if (GetFileType(file) == FILE_TYPE_DISK) return true;
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

}  // namespace

FtpLocalFile::~FtpLocalFile() {
    if (Native(handle_) != INVALID_HANDLE_VALUE) CloseHandle(Native(handle_));
}

bool FtpLocalFile::OpenSource(LPCSTR path) {
    path_ = path;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(file);
    return IsDiskFile(file);
}

bool FtpLocalFile::OpenTarget(LPCSTR path, bool failIfExists) {
    path_ = path;
    created_ = true;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS && !failIfExists) {
        created_ = false;
        // Without truncation: the file keeps its bytes until the first
        // arrives. A read-only file refuses (ERROR_ACCESS_DENIED).
        file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
        created_ = false;
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    return IsDiskFile(file);
}

long long FtpLocalFile::Read(char* buffer, size_t size) {
    DWORD got = 0;
    const DWORD wanted = size > DWORD(INT_MAX) ? DWORD(INT_MAX) : DWORD(size);
    if (!ReadFile(Native(handle_), buffer, wanted, &got, nullptr)) return -1;
    return got;
}

bool FtpLocalFile::Write(const char* data, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD count = size > DWORD(INT_MAX) ? DWORD(INT_MAX) : DWORD(size);
        if (!WriteFile(Native(handle_), data, count, &written, nullptr)) return false;
        data += written;
        size -= written;
    }
    return true;
}

bool FtpLocalFile::Finish(uint64_t size, DWORD flagsAndAttributes) {
    HANDLE file = Native(handle_);
    handle_ = -1;
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(size);
    bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    const DWORD error = GetLastError();
    if (!CloseHandle(file) && ok) return false;
    if (!ok) {
        SetLastError(error);
        return false;
    }
    if (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) {
        const DWORD attributes = GetFileAttributesA(path_.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesA(path_.c_str(), attributes | FILE_ATTRIBUTE_READONLY);
    }
    return true;
}

void FtpLocalFile::Remove() {
    const DWORD error = GetLastError();
    if (Native(handle_) != INVALID_HANDLE_VALUE) CloseHandle(Native(handle_));
    handle_ = -1;
    DeleteFileA(path_.c_str());
    SetLastError(error);
}
