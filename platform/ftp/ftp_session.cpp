// Connecting (and logging in) and the FTP calls that are commands on the
// control connection: PWD, CWD, MKD, RMD, DELE, RNFR/RNTO and a caller's own
// command (see ftp_session.h).
#include "platform/ftp/ftp_session.h"

#include <cstring>
#include <new>

FtpCall::FtpCall(HINTERNET handle) {
    std::shared_ptr<FtpConnection> connection = InternetLookupAs<FtpConnection>(handle);
    if (!connection) return;
    std::unique_lock<std::mutex> lock(connection->busy);
    if (connection->closed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return;
    }
    if (connection->control.dead()) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return;
    }
    connection_ = std::move(connection);
    lock_ = std::move(lock);
}

BOOL FtpSessionCommand(HINTERNET connect, const char* verb, LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FtpCall call(connect);
    if (!call.ok()) return FALSE;
    return FtpSimpleCommand(*call, verb, name) ? TRUE : FALSE;
}

BOOL FtpSessionRename(HINTERNET connect, LPCSTR existing, LPCSTR newName) {
    if (!existing || !*existing || !newName || !*newName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FtpCall call(connect);
    if (!call.ok()) return FALSE;
    // The new name is checked before anything is sent: an RNFR left
    // pending would pair with whatever command came next.
    if (std::strpbrk(newName, "\r\n")) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FtpReply reply;
    if (!FtpSimpleCommand(*call, "RNFR", existing, 350, &reply)) return FALSE;
    if (reply.code != 350) {  // RFC 959: only 350 asks for RNTO
        SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return FALSE;
    }
    return FtpSimpleCommand(*call, "RNTO", newName) ? TRUE : FALSE;
}

BOOL FtpSessionRawCommand(HINTERNET connect, BOOL expectResponse, LPCSTR command,
                          HINTERNET* ftpCommand) {
    if (ftpCommand) *ftpCommand = nullptr;
    if (expectResponse || !command || !*command || std::strpbrk(command, "\r\n")) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FtpCall call(connect);
    if (!call.ok()) return FALSE;
    // "VERB rest": the control connection sends them joined by one blank.
    const char* blank = std::strchr(command, ' ');
    const std::string verb = blank ? std::string(command, size_t(blank - command)) : command;
    const std::string argument = blank ? std::string(blank + 1) : std::string();
    return FtpSimpleCommand(*call, verb.c_str(), argument) ? TRUE : FALSE;
}

HINTERNET FtpSessionConnect(HINTERNET parent, bool foreignParent, LPCSTR serverName,
                            INTERNET_PORT serverPort, LPCSTR userName, LPCSTR password,
                            DWORD flags) {
    std::shared_ptr<FtpConnection> connection;
    try {
        connection = std::make_shared<FtpConnection>();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!FtpConnectAndLogin(*connection, serverName, serverPort, flags, userName, password)) return nullptr;
    return InternetRegister(std::move(connection), parent, foreignParent);
}

BOOL FtpSessionGetCurrentDirectory(HINTERNET connect, LPSTR currentDirectory, LPDWORD length) {
    if (!currentDirectory || !length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FtpCall call(connect);
    if (!call.ok()) return FALSE;
    FtpReply reply;
    if (!FtpSimpleCommand(*call, "PWD", std::string(), 0, &reply)) return FALSE;
    if (reply.code != 257) {
        SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return FALSE;
    }
    const std::string folder = FtpFolderOf257(reply.text);
    if (*length <= folder.size()) {
        *length = DWORD(folder.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(currentDirectory, folder.c_str(), folder.size() + 1);
    *length = DWORD(folder.size());
    return TRUE;
}
