// The FTP client's protocol, apart from any handle table: one connection's
// state, logging in, one-command exchanges, passive data connections and the
// transfer of one data stream. Each system's WinINet glue wraps an FtpClient
// in its connection handle (platform/ftp/ftp_session.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ftp/ftp_control.h"
#include "platform/ftp/ftp_listing.h"
#include "platform/win32.h"

struct FtpClient {
    // Shuts the streams down so that a call inside them in another thread
    // returns at once (the handle was closed under it). Marks the client
    // closed; does nothing more when no call is in progress.
    void Interrupt();
    // Says goodbye (QUIT, then briefly lets the server close first) unless
    // the connection is dead.
    void Goodbye();

    std::mutex busy;  // one call at a time
    std::atomic<bool> closed{false};
    std::mutex dataLock;        // guards data against Interrupt
    FtpStream* data = nullptr;  // the data connection of the call in progress
    FtpControl control;
    bool offersMlsd = false;
    bool pasvRefused = false;  // the server answered PASV with an error: use EPSV
    bool sizeRefused = false;  // the server does not know SIZE (500/502)
    bool listAllRefused = false;  // the server refused "LIST -a" with a 5xx
    char type = 0;             // the TYPE last set: 'A', 'I', or 0 when unknown
    int refusedCode = 0;       // the code of the last refusing reply of FtpTransfer
    bool secure = false;       // TLS on the control and every data connection
    std::string host;          // the server's name as given, for verifying its certificates
};

// Connects to host:port and logs in, as InternetConnectA does for an FTP
// service: `flags` are InternetConnectA's. Port 0 is 21, or 990 under
// implicit TLS. Anonymous when userName is NULL; the features (MLSD) are
// asked for afterwards.
//
// INTERNET_FLAG_SECURE asks for TLS (platform/extensions.h): explicit
// (greeting, "AUTH TLS" answered by 234, handshake), or with
// PLATFORM_FLAG_IMPLICIT_TLS from the first byte (handshake, greeting); then
// the login, "PBSZ 0" and "PROT P", so that every data connection is TLS
// too. A server that refuses AUTH TLS, PBSZ or PROT fails the call with
// ERROR_INTERNET_SECURITY_CHANNEL_ERROR, a certificate that does not verify
// with the error FtpStream::StartTls gives; no user name is sent then, and
// InternetGetLastResponseInfoA gives the reason as a line of text.
//
// False with the last error set (ERROR_INTERNET_LOGIN_FAILURE for a
// refused login); the connection is then marked dead (no goodbye to a
// server that refused us).
bool FtpConnectAndLogin(FtpClient& connection, const char* host, uint16_t port, DWORD flags,
                        const char* userName, const char* password);

// Sends a command and reads its reply; a reply that is not 2xx (or the
// expected intermediate code, when given) fails with its error.
bool FtpSimpleCommand(FtpClient& connection, const char* verb, const std::string& argument,
                      int intermediate = 0, FtpReply* replyOut = nullptr);

// "TYPE A" or "TYPE I" unless already in force.
bool FtpSetType(FtpClient& connection, char type);

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
    // When set, gets the text of a successful transfer's closing reply.
    std::string* closingReply = nullptr;
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
bool FtpTransfer(FtpClient& connection, const char* verb, const std::string& argument,
                 const FtpDataSink& sink);

// "SIZE name" (RFC 3659): the reply "213 1234" gives the size of the file as
// a binary transfer would move it (known is set). Any other answer leaves the
// size unknown (550: no plain file, or not in this type; 500/502: never asked
// again on this connection). False only when the connection failed.
bool FtpAskSize(FtpClient& connection, const std::string& name, bool& known, uint64_t& size);

// The entries of a folder that match a mask, in the server's order:
// searchFile is "folder/mask" ("\\" counts as "/") or a mask alone (the
// current folder); an empty mask is "*". The whole listing (MLSD when the
// server offers it, else LIST, at most FtpTransferLimits::listingBytes) is
// read before anything is returned; the rules of the entries are those of
// ftp_listing.h. LIST is "LIST -a" where the server takes it (ftp_list.cpp).
// truncated tells that the closing reply of the listing said "truncated"
// (in any case): the server cut it short, and entries are not the whole
// folder. False with the last error set, among them
// ERROR_HTTP_INVALID_SERVER_RESPONSE for a listing without one listing line.
bool FtpList(FtpClient& connection, const std::string& searchFile, std::vector<FtpEntry>& entries,
             bool& truncated);
