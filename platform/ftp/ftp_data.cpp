// Passive data connections and the transfer of one data stream (see
// ftp_client.h).
#include <cstdlib>
#include <memory>
#include <new>

#include "platform/ftp/ftp_client.h"
#include "platform/win32.h"

namespace {

constexpr size_t kBlock = 64 * 1024;

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)": the six numbers, found
// anywhere after the code (some servers leave out the parentheses). Only
// the port is used: the host part is never trusted (see OpenPassive).
bool ParsePasv(const std::string& text, uint16_t& port) {
    for (size_t at = 4; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') continue;
        int numbers[6];
        size_t i = at;
        int count = 0;
        for (; count < 6; ++count) {
            int value = 0, digits = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
                value = value * 10 + (text[i++] - '0');
                ++digits;
            }
            if (!digits || value > 255) break;
            numbers[count] = value;
            if (count < 5) {
                if (i >= text.size() || text[i] != ',') break;
                ++i;
            }
        }
        if (count == 6) {
            port = uint16_t(numbers[4] * 256 + numbers[5]);
            return port != 0;
        }
    }
    return false;
}

// "229 Entering Extended Passive Mode (|||port|)" (RFC 2428): the delimiter
// is whatever character follows the parenthesis.
bool ParseEpsv(const std::string& text, uint16_t& port) {
    size_t open = text.find('(');
    if (open == std::string::npos || open + 5 >= text.size()) return false;
    const char d = text[open + 1];
    if (text[open + 2] != d || text[open + 3] != d) return false;
    size_t i = open + 4;
    unsigned value = 0;
    int digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 6) {
        value = value * 10 + unsigned(text[i++] - '0');
        ++digits;
    }
    if (!digits || i >= text.size() || text[i] != d || value == 0 || value > 65535) return false;
    port = uint16_t(value);
    return true;
}

// A passive data connection, always to the control connection's own peer:
// a PASV reply naming another host (a hostile server aiming us at a third
// party, or a server behind NAT naming its private address) is not followed.
bool OpenPassive(FtpClient& connection, FtpStream& data) {
    FtpControl& control = connection.control;
    FtpReply reply;
    uint16_t port = 0;
    if (control.stream().peer().IsIpv4() && !connection.pasvRefused) {
        if (!control.Exchange("PASV", std::string(), reply)) return false;
        if (reply.code == 227) {
            if (!ParsePasv(reply.text, port)) {
                SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
                return false;
            }
        } else if (reply.code >= 500) {
            connection.pasvRefused = true;
        } else {
            SetLastError(FtpErrorFromReply(reply.code));
            return false;
        }
    }
    if (!port) {
        if (!control.Exchange("EPSV", std::string(), reply)) return false;
        if (reply.code != 229 || !ParseEpsv(reply.text, port)) {
            SetLastError(reply.code == 229 ? ERROR_INTERNET_EXTENDED_ERROR
                                           : FtpErrorFromReply(reply.code));
            return false;
        }
    }
    return data.Connect(control.stream().peer().WithPort(port), InternetTimeoutMs());
}

// The data connection of one call, visible to Interrupt once it is connected
// (Publish) and until it is closed.
class DataConnection {
public:
    explicit DataConnection(FtpClient& connection) : connection_(connection) {}
    ~DataConnection() { Close(); }
    DataConnection(const DataConnection&) = delete;
    DataConnection& operator=(const DataConnection&) = delete;
    FtpStream& stream() { return stream_; }
    void Publish() {
        std::lock_guard<std::mutex> lock(connection_.dataLock);
        connection_.data = &stream_;
    }
    void Close() {
        std::lock_guard<std::mutex> lock(connection_.dataLock);
        connection_.data = nullptr;
        stream_.Close();
    }

private:
    FtpClient& connection_;
    FtpStream stream_;
};

}  // namespace

bool FtpTransfer(FtpClient& connection, const char* verb, const std::string& argument,
                 const FtpDataSink& sink) {
    FtpControl& control = connection.control;
    connection.refusedCode = 0;
    DataConnection data(connection);
    if (!OpenPassive(connection, data.stream())) return false;
    data.Publish();
    FtpReply reply;
    if (!control.Exchange(verb, argument, reply)) return false;
    if (reply.code / 100 != 1 && reply.code / 100 != 2) {
        connection.refusedCode = reply.code;
        SetLastError(FtpErrorFromReply(reply.code));
        return false;
    }
    bool finalSeen = reply.code / 100 == 2;  // some servers answer 226 at once
    bool moved = true;
    // TLS on the data connection starts once the server has taken the
    // command, in the order connect, command, 1xx reply, handshake:
    // servers answer "150 ..." and only then take the handshake (vsftpd),
    // or reset a data connection whose handshake comes before the command
    // (pyftpdlib), so a client that shook hands first would wait for a
    // server waiting for the command, or be refused. The session resumes
    // the control connection's: servers refuse a data connection that does
    // not (vsftpd's require_ssl_reuse), as it could be anybody's.
    std::string tlsFailure;
    if (connection.secure &&
        !data.stream().StartTls(connection.host.c_str(), &control.stream(), InternetTimeoutMs())) {
        tlsFailure = data.stream().tlsFailure();
        moved = false;
    }
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBlock]);
    if (moved && !buffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        moved = false;
    }
    FtpDataBound bound(sink.maximumBytes);
    while (moved) {
        if (sink.send) {
            const long long count = sink.send(buffer.get(), kBlock);
            if (count <= 0) {
                moved = count == 0;
                break;
            }
            moved = bound.Send(data.stream(), buffer.get(), size_t(count));
        } else {
            const long long count = bound.Receive(data.stream(), buffer.get(), kBlock);
            if (count <= 0) {
                moved = count == 0;
                break;
            }
            moved = sink.receive(buffer.get(), size_t(count));
        }
    }
    // Closing the data connection ends an upload; it also tells the server
    // that we stopped reading a download. An upload over TLS ends with
    // close_notify and waits for the server to close, so that the server
    // can tell the whole file from a cut one and loses none of it.
    if (moved && sink.send && data.stream().secure()) data.stream().FinishSending(InternetTimeoutMs());
    data.Close();
    if (bound.tripped()) {
        control.MarkDead();
        return false;
    }
    const DWORD moveError = moved ? ERROR_SUCCESS : GetLastError();
    if (!finalSeen && !control.Read(reply) && tlsFailure.empty()) {
        // The control connection broke too: its error says more than
        // the data connection's.
        return false;
    }
    if (!tlsFailure.empty()) {
        // The server's reply (425, 522), if any, says less than the
        // handshake's failure.
        InternetSetLastResponse(0, tlsFailure + "\r\n");
        SetLastError(moveError);
        return false;
    }
    if (!moved) {
        // A reply that gives a reason (426 aborted, 451 local error) names
        // the fault; otherwise the data connection's own error does.
        if (reply.code / 100 == 4 || reply.code / 100 == 5) {
            connection.refusedCode = reply.code;
            SetLastError(FtpErrorFromReply(reply.code));
        } else {
            SetLastError(moveError);
        }
        return false;
    }
    if (reply.code / 100 != 2) {
        connection.refusedCode = reply.code;
        SetLastError(FtpErrorFromReply(reply.code));
        return false;
    }
    if (sink.closingReply) *sink.closingReply = reply.text;
    return true;
}

bool FtpAskSize(FtpClient& connection, const std::string& name, bool& known, uint64_t& size) {
    known = false;
    if (connection.sizeRefused) return true;
    FtpReply reply;
    if (!connection.control.Exchange("SIZE", name, reply)) return false;
    if (reply.code == 500 || reply.code == 502) connection.sizeRefused = true;
    if (reply.code != 213) return true;
    const size_t end = reply.text.find("\r\n");
    if (end == std::string::npos || end <= 4) return true;
    const std::string digits = reply.text.substr(4, end - 4);
    if (digits.size() > 18 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return true;
    size = std::strtoull(digits.c_str(), nullptr, 10);
    known = true;
    return true;
}

