// An FTP connection handle (InternetConnectA) and what the FTP calls share:
// taking the connection for one call, passive data connections, and the
// transfer of one data stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ftp/ftp_control.h"
#include "platform/linux/wininet_internal.h"

struct FtpConnection final : InternetObject {
    static constexpr InternetKind kKind = InternetKind::FtpConnection;
    FtpConnection() : InternetObject(kKind) {}
    // Says goodbye (QUIT, without waiting for the answer) unless dead.
    ~FtpConnection() override;
    // Closed while another thread is inside a call: shut the sockets down so
    // that call returns at once.
    void Abort() override;

    std::mutex busy;  // one call at a time
    std::atomic<bool> closed{false};
    std::atomic<bool> listingOpen{false};  // a find handle of this connection is open
    std::mutex dataLock;          // guards data against Abort
    FtpStream* data = nullptr;    // the data connection of the call in progress
    FtpControl control;
    bool offersMlsd = false;
    bool pasvRefused = false;  // the server answered PASV with an error: use EPSV
    bool sizeRefused = false;  // the server does not know SIZE (500/502)
    char type = 0;             // the TYPE last set: 'A', 'I', or 0 when unknown
    int refusedCode = 0;       // the code of the last refusing reply of FtpTransfer
};

// The connection behind a handle, locked for one call. ok() is false (with
// the last error set) when the handle is not an open FTP connection, was
// closed, or its connection is dead.
class FtpCall {
public:
    explicit FtpCall(HINTERNET handle);
    bool ok() const { return connection_ != nullptr; }
    FtpConnection& operator*() const { return *connection_; }
    FtpConnection* operator->() const { return connection_.get(); }
    const std::shared_ptr<FtpConnection>& shared() const { return connection_; }

private:
    std::shared_ptr<FtpConnection> connection_;
    std::unique_lock<std::mutex> lock_;
};

// Sends a command and reads its reply; a reply that is not 2xx (or the
// expected intermediate code, when given) fails with its error.
bool FtpSimpleCommand(FtpConnection& connection, const char* verb, const std::string& argument,
                      int intermediate = 0, FtpReply* replyOut = nullptr);

// "TYPE A" or "TYPE I" unless already in force.
bool FtpSetType(FtpConnection& connection, char type);

// The direction of one data transfer, and what is done with the bytes.
struct FtpDataSink {
    // Called with each block received; false stops the transfer with the last
    // error set by the callee.
    std::function<bool(const char*, size_t)> receive;
    // For uploads: fills the buffer, returns the count (0 at the end) or -1
    // with the last error set.
    std::function<long long(char*, size_t)> send;
    // The size bound of a receiving transfer (see FtpTransferLimits).
    uint64_t maximumBytes = UINT64_MAX;
};

// The folder named by a 257 reply (RFC 959 appendix II):
//   257 "/a ""b"" c" is current
// gives /a "b" c (quotes inside are doubled). A reply without quotes gives
// its first word. The text is untrusted; it may be empty.
std::string FtpFolderOf257(const std::string& text);

// One data transfer: opens a passive data connection, sends "verb argument",
// moves the data within the bounds of FtpTransferLimits, reads the final
// reply. False with the last error of whatever failed first; the data
// connection never outlives the call. A bound that trips leaves the
// connection dead.
bool FtpTransfer(FtpConnection& connection, const char* verb, const std::string& argument,
                 const FtpDataSink& sink);
