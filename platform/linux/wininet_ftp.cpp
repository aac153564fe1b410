// Linux's WinINet entry points for sessions and FTP: each is the portable
// call of platform/ftp/ (ftp_session.h, internet_handles.h), which Windows'
// dispatchers call too for FTP over TLS.
#include <new>

#include "platform/ftp/ftp_session.h"
#include "platform/linux/kernel32.h"

HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass,
                        DWORD flags) {
    if (flags & INTERNET_FLAG_ASYNC) {  // status callbacks are not provided
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
        accessType != INTERNET_OPEN_TYPE_PROXY &&
        accessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<InternetSession> session;
    try {
        session = std::make_shared<InternetSession>();
        session->agent = agent ? agent : "";
        session->accessType = accessType;
        if (accessType == INTERNET_OPEN_TYPE_PROXY) {
            session->proxy = proxy ? proxy : "";
            session->proxyBypass = proxyBypass ? proxyBypass : "";
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return InternetRegister(std::move(session), nullptr);
}

HINTERNET InternetConnectA(HINTERNET internet, LPCSTR serverName, INTERNET_PORT serverPort,
                           LPCSTR userName, LPCSTR password, DWORD service, DWORD flags,
                           DWORD_PTR context) {
    if (!InternetLookupAs<InternetSession>(internet)) return nullptr;
    if (!serverName || !*serverName || service != INTERNET_SERVICE_FTP ||
        !(flags & INTERNET_FLAG_PASSIVE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return FtpSessionConnect(internet, false, serverName, serverPort, userName, password, flags);
}

BOOL FtpGetCurrentDirectoryA(HINTERNET connect, LPSTR currentDirectory, LPDWORD length) {
    return FtpSessionGetCurrentDirectory(connect, currentDirectory, length);
}

BOOL FtpSetCurrentDirectoryA(HINTERNET connect, LPCSTR directory) {
    return FtpSessionCommand(connect, "CWD", directory);
}

BOOL FtpCreateDirectoryA(HINTERNET connect, LPCSTR directory) {
    return FtpSessionCommand(connect, "MKD", directory);
}

BOOL FtpRemoveDirectoryA(HINTERNET connect, LPCSTR directory) {
    return FtpSessionCommand(connect, "RMD", directory);
}

BOOL FtpDeleteFileA(HINTERNET connect, LPCSTR fileName) {
    return FtpSessionCommand(connect, "DELE", fileName);
}

BOOL FtpRenameFileA(HINTERNET connect, LPCSTR existing, LPCSTR newName) {
    return FtpSessionRename(connect, existing, newName);
}

BOOL FtpCommandA(HINTERNET connect, BOOL expectResponse, DWORD, LPCSTR command, DWORD_PTR,
                 HINTERNET* ftpCommand) {
    return FtpSessionRawCommand(connect, expectResponse, command, ftpCommand);
}

HINTERNET FtpFindFirstFileA(HINTERNET connect, LPCSTR searchFile,
                            LPWIN32_FIND_DATAA findFileData, DWORD, DWORD_PTR) {
    return FtpSessionFindFirst(connect, searchFile, findFileData);
}

BOOL InternetFindNextFileA(HINTERNET find, LPVOID findData) {
    return FtpSessionFindNext(find, findData);
}

BOOL FtpPutFileA(HINTERNET connect, LPCSTR localFile, LPCSTR newRemoteFile, DWORD flags,
                 DWORD_PTR) {
    return FtpSessionPutFile(connect, localFile, newRemoteFile, flags);
}

BOOL FtpGetFileA(HINTERNET connect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
                 DWORD flagsAndAttributes, DWORD flags, DWORD_PTR) {
    return FtpSessionGetFile(connect, remoteFile, newFile, failIfExists, flagsAndAttributes, flags,
                             -1);
}

BOOL PlatformFtpGetFileOfSize(LPVOID connect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
                              DWORD flagsAndAttributes, DWORD flags, LONGLONG knownSize) {
    if (knownSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return FtpSessionGetFile(connect, remoteFile, newFile, failIfExists, flagsAndAttributes, flags,
                             knownSize);
}

BOOL InternetCloseHandle(HINTERNET internet) { return InternetCloseListed(internet); }

BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD length) {
    return InternetLastResponseInfo(error, buffer, length);
}
