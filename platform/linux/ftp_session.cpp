// InternetConnectA (connect and log in) and the FTP calls that are one
// command on the control connection: PWD, CWD, MKD, RMD, DELE.
#include "platform/linux/ftp_session.h"

#include <cstring>
#include <new>

#include "platform/linux/kernel32.h"

FtpConnection::~FtpConnection() {
    FtpStream& stream = control.stream();
    if (control.dead() || !stream.open()) return;
    const DWORD error = GetLastError();
    static const char kQuit[] = "QUIT\r\n";
    FtpReady wait;
    if (stream.SendSome(kQuit, sizeof kQuit - 1, wait) > 0) {
        // Let the server answer and close first, briefly, so that it sees an
        // orderly goodbye rather than a reset.
        stream.ShutdownSend();
        char sink[512];
        while (stream.Receive(sink, sizeof sink, 500) > 0) {
        }
    }
    SetLastError(error);
}

void FtpConnection::Abort() {
    closed = true;
    if (busy.try_lock()) {  // idle: the destructor says goodbye
        busy.unlock();
        return;
    }
    control.stream().Abort();
    std::lock_guard<std::mutex> lock(dataLock);
    if (data) data->Abort();
}

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

bool FtpSimpleCommand(FtpConnection& connection, const char* verb, const std::string& argument,
                      int intermediate, FtpReply* replyOut) {
    FtpReply reply;
    if (!connection.control.Exchange(verb, argument, reply)) return false;
    // A preliminary 1xx is followed by the real answer.
    for (int i = 0; reply.code / 100 == 1 && i < 4; ++i)
        if (!connection.control.Read(reply)) return false;
    if (replyOut) *replyOut = reply;
    if (reply.code / 100 == 2 || (intermediate && reply.code == intermediate)) return true;
    SetLastError(FtpErrorFromReply(reply.code));
    return false;
}

bool FtpSetType(FtpConnection& connection, char type) {
    if (connection.type == type) return true;
    if (!FtpSimpleCommand(connection, "TYPE", std::string(1, type))) return false;
    connection.type = type;
    return true;
}

std::string FtpFolderOf257(const std::string& text) {
    std::string line = text.substr(0, text.find("\r\n"));
    std::string folder;
    size_t open = line.find('"', 4);
    if (open == std::string::npos) {
        size_t start = line.find_first_not_of(' ', 4);
        if (start == std::string::npos) return folder;
        return line.substr(start, line.find(' ', start) - start);
    }
    for (size_t i = open + 1; i < line.size(); ++i) {
        if (line[i] == '"') {
            if (i + 1 < line.size() && line[i + 1] == '"') {
                folder += '"';
                ++i;
            } else {
                break;
            }
        } else {
            folder += line[i];
        }
    }
    return folder;
}

namespace {

bool FtpLogin(FtpConnection& connection, const char* userName, const char* password) {
    FtpControl& control = connection.control;
    FtpReply reply;
    // 120: "ready in a few minutes", followed by the 220.
    for (int i = 0; i < 5; ++i) {
        if (!control.Read(reply)) return false;
        if (reply.code != 120) break;
    }
    if (reply.code != 220) {
        SetLastError(FtpErrorFromReply(reply.code));
        return false;
    }
    const std::string user = userName ? userName : "anonymous";
    const std::string pass = password ? password : (userName ? "" : "guest@");
    if (!control.Exchange("USER", user, reply)) return false;
    if (reply.code == 331 && !control.Exchange("PASS", pass, reply)) return false;
    if (reply.code != 230 && reply.code != 202) {
        // Refused user, refused password, or an account wanted (332).
        SetLastError(ERROR_INTERNET_LOGIN_FAILURE);
        return false;
    }
    // RFC 3659: "MLST" among the features means MLSD is there too.
    if (!control.Exchange("FEAT", std::string(), reply)) return false;
    if (reply.code == 211) {
        size_t at = 0;
        while ((at = reply.text.find("\r\n", at)) != std::string::npos) {
            at += 2;
            if (reply.text.compare(at, 5, " MLST") == 0 || reply.text.compare(at, 5, " MLSD") == 0 ||
                reply.text.compare(at, 5, " mlst") == 0)
                connection.offersMlsd = true;
        }
    }
    if (connection.offersMlsd &&
        !control.Exchange("OPTS", "MLST type;size;modify;perm;unix.mode;", reply))
        return false;
    return true;
}

BOOL OneCommand(HINTERNET connect, const char* verb, LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FtpCall call(connect);
    if (!call.ok()) return FALSE;
    return FtpSimpleCommand(*call, verb, name) ? TRUE : FALSE;
}

}  // namespace

HINTERNET InternetConnectA(HINTERNET internet, LPCSTR serverName, INTERNET_PORT serverPort,
                           LPCSTR userName, LPCSTR password, DWORD service, DWORD flags,
                           DWORD_PTR context) {
    if (!InternetLookupAs<InternetSession>(internet)) return nullptr;
    if (!serverName || !*serverName || service != INTERNET_SERVICE_FTP ||
        !(flags & INTERNET_FLAG_PASSIVE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<FtpConnection> connection;
    try {
        connection = std::make_shared<FtpConnection>();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const uint16_t port = serverPort ? serverPort : INTERNET_DEFAULT_FTP_PORT;
    if (!connection->control.Connect(serverName, port)) return nullptr;
    if (!FtpLogin(*connection, userName, password)) {
        DWORD error = GetLastError();
        connection->control.MarkDead();  // no goodbye to a server that refused us
        SetLastError(error);
        return nullptr;
    }
    return InternetRegister(std::move(connection), internet);
}

BOOL FtpGetCurrentDirectoryA(HINTERNET connect, LPSTR currentDirectory, LPDWORD length) {
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

BOOL FtpSetCurrentDirectoryA(HINTERNET connect, LPCSTR directory) {
    return OneCommand(connect, "CWD", directory);
}

BOOL FtpCreateDirectoryA(HINTERNET connect, LPCSTR directory) {
    return OneCommand(connect, "MKD", directory);
}

BOOL FtpRemoveDirectoryA(HINTERNET connect, LPCSTR directory) {
    return OneCommand(connect, "RMD", directory);
}

BOOL FtpDeleteFileA(HINTERNET connect, LPCSTR fileName) {
    return OneCommand(connect, "DELE", fileName);
}
