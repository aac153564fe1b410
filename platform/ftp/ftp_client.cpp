// Logging in, one-command exchanges and the end of a connection (see
// ftp_client.h).
#include "platform/ftp/ftp_client.h"

#include <cstdio>

#include "platform/win32.h"

void FtpClient::Goodbye() {
    FtpStream& stream = control.stream();
    if (control.dead() || !stream.open()) return;
    const DWORD error = GetLastError();
    static const char kQuit[] = "QUIT\r\n";
    FtpReady wait;
    // Let the server answer and close first, briefly, so that it sees an
    // orderly goodbye rather than a reset.
    if (stream.SendSome(kQuit, sizeof kQuit - 1, wait) > 0) stream.FinishSending(500);
    SetLastError(error);
}

void FtpClient::Interrupt() {
    closed = true;
    if (busy.try_lock()) {  // idle: the destructor says goodbye
        busy.unlock();
        return;
    }
    control.stream().Abort();
    std::lock_guard<std::mutex> lock(dataLock);
    if (data) data->Abort();
}

bool FtpSimpleCommand(FtpClient& connection, const char* verb, const std::string& argument,
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

bool FtpSetType(FtpClient& connection, char type) {
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

// Why a secure connection cannot go on, for InternetGetLastResponseInfoA.
bool SecurityFailure(const std::string& reason, DWORD error) {
    InternetSetLastResponse(0, reason + "\r\n");
    SetLastError(error);
    return false;
}

bool Refused(const char* command, int code) {
    char reason[80];
    std::snprintf(reason, sizeof reason, "the server refused %s (reply %d)", command, code);
    return SecurityFailure(reason, ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
}

bool StartControlTls(FtpClient& connection) {
    FtpStream& stream = connection.control.stream();
    if (stream.StartTls(connection.host.c_str(), nullptr, InternetTimeoutMs())) return true;
    const DWORD error = GetLastError();
    connection.control.MarkDead();
    return SecurityFailure(stream.tlsFailure(), error);
}

bool ReadGreeting(FtpControl& control) {
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
    return true;
}

// RFC 4217: "AUTH TLS" is answered "234 ..." when the handshake is to
// follow at once; anything else refuses it, and nothing goes on in clear.
bool AskForTls(FtpClient& connection) {
    FtpReply reply;
    if (!connection.control.Exchange("AUTH", "TLS", reply)) return false;
    if (reply.code != 234) return Refused("AUTH TLS", reply.code);
    return StartControlTls(connection);
}

bool LogIn(FtpControl& control, const char* userName, const char* password) {
    FtpReply reply;
    const std::string user = userName ? userName : "anonymous";
    const std::string pass = password ? password : (userName ? "" : "guest@");
    if (!control.Exchange("USER", user, reply)) return false;
    if (reply.code == 331 && !control.Exchange("PASS", pass, reply)) return false;
    if (reply.code != 230 && reply.code != 202) {
        // Refused user, refused password, or an account wanted (332).
        SetLastError(ERROR_INTERNET_LOGIN_FAILURE);
        return false;
    }
    return true;
}

// RFC 4217 section 9: "PBSZ 0" (TLS needs no buffer size), then "PROT P"
// (private: TLS on every data connection); both answered 2xx.
bool ProtectData(FtpControl& control) {
    FtpReply reply;
    if (!control.Exchange("PBSZ", "0", reply)) return false;
    if (reply.code / 100 != 2) return Refused("PBSZ 0", reply.code);
    if (!control.Exchange("PROT", "P", reply)) return false;
    if (reply.code / 100 != 2) return Refused("PROT P", reply.code);
    return true;
}

bool AskFeatures(FtpClient& connection) {
    FtpControl& control = connection.control;
    FtpReply reply;
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
    // "unique" tells names of one file apart (links, ftp_listing.h): servers
    // send only the facts asked for.
    if (connection.offersMlsd &&
        !control.Exchange("OPTS", "MLST type;size;modify;perm;unix.mode;unique;", reply))
        return false;
    return true;
}

}  // namespace

bool FtpConnectAndLogin(FtpClient& connection, const char* host, uint16_t port, DWORD flags,
                        const char* userName, const char* password) {
    FtpControl& control = connection.control;
    connection.secure = (flags & INTERNET_FLAG_SECURE) != 0;
    connection.host = host;
    const bool implicit = connection.secure && (flags & PLATFORM_FLAG_IMPLICIT_TLS);
    const bool explicitTls = connection.secure && !implicit;
    if (!port) port = implicit ? kImplicitTlsPort : INTERNET_DEFAULT_FTP_PORT;
    if (control.Connect(host, port) && (!implicit || StartControlTls(connection)) &&
        ReadGreeting(control) && (!explicitTls || AskForTls(connection)) &&
        LogIn(control, userName, password) && (!connection.secure || ProtectData(control)) &&
        AskFeatures(connection))
        return true;
    const DWORD error = GetLastError();
    control.MarkDead();
    SetLastError(error);
    return false;
}
