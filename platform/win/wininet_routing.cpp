// The dispatchers of platform/win/wininet_routing.h: a handle of the
// program's own client (listed in platform/ftp/internet_handles.h) goes to
// the client, any other to the system's WinINet, called here by its real
// name.
#include "platform/win32.h"

#include <mutex>

#include "platform/ftp/ftp_session.h"

#undef InternetConnectA
#undef FtpGetCurrentDirectoryA
#undef FtpSetCurrentDirectoryA
#undef FtpCreateDirectoryA
#undef FtpRemoveDirectoryA
#undef FtpDeleteFileA
#undef FtpRenameFileA
#undef FtpCommandA
#undef FtpFindFirstFileA
#undef InternetFindNextFileA
#undef FtpPutFileA
#undef FtpGetFileA
#undef InternetCloseHandle
#undef InternetGetLastResponseInfoA

namespace {

// Whether this thread's last routed call was the own client's, whose reply
// InternetGetLastResponseInfoA then gives.
thread_local bool t_ownLast = false;

bool Own(HINTERNET handle) {
    t_ownLast = InternetIsListed(handle);
    return t_ownLast;
}

// The own client's sockets are Windows Sockets, started once for the run.
bool StartSockets() {
    static std::once_flag once;
    static int result = 0;
    std::call_once(once, [] {
        WSADATA data;
        result = WSAStartup(MAKEWORD(2, 2), &data);
    });
    if (result == 0) return true;
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return false;
}

// An InternetOpenA session of the system's WinINet.
bool IsSystemSession(HINTERNET internet) {
    DWORD type = 0, size = sizeof type;
    if (internet && InternetQueryOptionA(internet, INTERNET_OPTION_HANDLE_TYPE, &type, &size) &&
        type == INTERNET_HANDLE_TYPE_INTERNET)
        return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

}  // namespace

HINTERNET PlatformInternetConnectA(HINTERNET internet, LPCSTR serverName,
                                   INTERNET_PORT serverPort, LPCSTR userName, LPCSTR password,
                                   DWORD service, DWORD flags, DWORD_PTR context) {
    // Never the system's, which would log in in clear text.
    t_ownLast = (flags & (INTERNET_FLAG_SECURE | PLATFORM_FLAG_IMPLICIT_TLS)) != 0;
    if (!t_ownLast)
        return InternetConnectA(internet, serverName, serverPort, userName, password, service, flags,
                                context);
    if (!IsSystemSession(internet)) return nullptr;
    if (!serverName || !*serverName || service != INTERNET_SERVICE_FTP ||
        !(flags & INTERNET_FLAG_PASSIVE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!StartSockets()) return nullptr;
    return FtpSessionConnect(internet, true, serverName, serverPort, userName, password, flags);
}

BOOL PlatformFtpGetCurrentDirectoryA(HINTERNET connect, LPSTR currentDirectory, LPDWORD length) {
    if (Own(connect)) return FtpSessionGetCurrentDirectory(connect, currentDirectory, length);
    return FtpGetCurrentDirectoryA(connect, currentDirectory, length);
}

BOOL PlatformFtpSetCurrentDirectoryA(HINTERNET connect, LPCSTR directory) {
    if (Own(connect)) return FtpSessionCommand(connect, "CWD", directory);
    return FtpSetCurrentDirectoryA(connect, directory);
}

BOOL PlatformFtpCreateDirectoryA(HINTERNET connect, LPCSTR directory) {
    if (Own(connect)) return FtpSessionCommand(connect, "MKD", directory);
    return FtpCreateDirectoryA(connect, directory);
}

BOOL PlatformFtpRemoveDirectoryA(HINTERNET connect, LPCSTR directory) {
    if (Own(connect)) return FtpSessionCommand(connect, "RMD", directory);
    return FtpRemoveDirectoryA(connect, directory);
}

BOOL PlatformFtpDeleteFileA(HINTERNET connect, LPCSTR fileName) {
    if (Own(connect)) return FtpSessionCommand(connect, "DELE", fileName);
    return FtpDeleteFileA(connect, fileName);
}

BOOL PlatformFtpRenameFileA(HINTERNET connect, LPCSTR existing, LPCSTR newName) {
    if (Own(connect)) return FtpSessionRename(connect, existing, newName);
    return FtpRenameFileA(connect, existing, newName);
}

BOOL PlatformFtpCommandA(HINTERNET connect, BOOL expectResponse, DWORD flags, LPCSTR command,
                         DWORD_PTR context, HINTERNET* ftpCommand) {
    if (Own(connect)) return FtpSessionRawCommand(connect, expectResponse, command, ftpCommand);
    return FtpCommandA(connect, expectResponse, flags, command, context, ftpCommand);
}

HINTERNET PlatformFtpFindFirstFileA(HINTERNET connect, LPCSTR searchFile,
                                    LPWIN32_FIND_DATAA findFileData, DWORD flags,
                                    DWORD_PTR context) {
    if (Own(connect)) return FtpSessionFindFirst(connect, searchFile, findFileData);
    return FtpFindFirstFileA(connect, searchFile, findFileData, flags, context);
}

BOOL PlatformInternetFindNextFileA(HINTERNET find, LPVOID findData) {
    if (Own(find)) return FtpSessionFindNext(find, findData);
    return InternetFindNextFileA(find, findData);
}

BOOL PlatformFtpPutFileA(HINTERNET connect, LPCSTR localFile, LPCSTR newRemoteFile, DWORD flags,
                         DWORD_PTR context) {
    if (Own(connect)) return FtpSessionPutFile(connect, localFile, newRemoteFile, flags);
    return FtpPutFileA(connect, localFile, newRemoteFile, flags, context);
}

BOOL PlatformFtpGetFileA(HINTERNET connect, LPCSTR remoteFile, LPCSTR newFile,
                         BOOL failIfExists, DWORD flagsAndAttributes, DWORD flags,
                         DWORD_PTR context) {
    if (Own(connect))
        return FtpSessionGetFile(connect, remoteFile, newFile, failIfExists, flagsAndAttributes,
                                 flags, -1);
    return FtpGetFileA(connect, remoteFile, newFile, failIfExists, flagsAndAttributes, flags,
                       context);
}

BOOL PlatformFtpGetFileOfSize(LPVOID connect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
                              DWORD flagsAndAttributes, DWORD flags, LONGLONG knownSize) {
    if (knownSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The system's FtpGetFileA never asks SIZE; the caller checks the size.
    if (Own(connect))
        return FtpSessionGetFile(connect, remoteFile, newFile, failIfExists, flagsAndAttributes,
                                 flags, knownSize);
    return FtpGetFileA(connect, remoteFile, newFile, failIfExists, flagsAndAttributes, flags, 0);
}

BOOL PlatformInternetCloseHandle(HINTERNET internet) {
    if (InternetIsListed(internet)) return InternetCloseListed(internet);
    // A session of the system's takes the own connections below it along,
    // as it takes its own.
    InternetCloseChildrenOf(internet);
    return InternetCloseHandle(internet);
}

BOOL PlatformInternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD length) {
    if (t_ownLast) return InternetLastResponseInfo(error, buffer, length);
    return InternetGetLastResponseInfoA(error, buffer, length);
}
