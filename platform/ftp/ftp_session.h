// The FTP calls of WinINet over the program's own client, apart from the
// entry points: an FTP connection handle (InternetConnectA) is the client
// (ftp_client.h) in the handle tree (internet_handles.h). Linux's WinINet
// entry points (platform/linux/wininet_ftp.cpp) and Windows' dispatchers for
// FTP over TLS (platform/win/wininet_routing.cpp) call the FtpSession*
// functions below, which behave as platform/linux/wininet.h describes the
// call of the same name.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ftp/ftp_client.h"
#include "platform/ftp/internet_handles.h"

struct FtpConnection final : InternetObject, FtpClient {
    static constexpr InternetKind kKind = InternetKind::FtpConnection;
    FtpConnection() : InternetObject(kKind) {}
    ~FtpConnection() override { Goodbye(); }
    // Closed while another thread is inside a call: that call returns at
    // once.
    void Abort() override { Interrupt(); }

    std::atomic<bool> listingOpen{false};  // a find handle of this connection is open
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

// InternetConnectA for an FTP service in passive mode, whose flags the
// caller has checked: connects to serverName:serverPort (0: the default of
// FtpConnectAndLogin), logs in and lists the connection below parent
// (foreignParent: a handle of the system's WinINet). NULL with the last
// error set.
HINTERNET FtpSessionConnect(HINTERNET parent, bool foreignParent, LPCSTR serverName,
                            INTERNET_PORT serverPort, LPCSTR userName, LPCSTR password,
                            DWORD flags);

BOOL FtpSessionGetCurrentDirectory(HINTERNET connect, LPSTR currentDirectory, LPDWORD length);
// CWD, MKD, RMD, DELE: verb with the name (FtpSetCurrentDirectoryA,
// FtpCreateDirectoryA, FtpRemoveDirectoryA, FtpDeleteFileA).
BOOL FtpSessionCommand(HINTERNET connect, const char* verb, LPCSTR name);
// FtpRenameFileA: "RNFR existing", which must be answered 350, then
// "RNTO newName", which must be answered 2xx.
BOOL FtpSessionRename(HINTERNET connect, LPCSTR existing, LPCSTR newName);
// FtpCommandA: the command line on the control connection, TRUE for a 2xx
// reply; expectResponse (a data connection) is not provided.
BOOL FtpSessionRawCommand(HINTERNET connect, BOOL expectResponse, LPCSTR command,
                          HINTERNET* ftpCommand);

HINTERNET FtpSessionFindFirst(HINTERNET connect, LPCSTR searchFile,
                              LPWIN32_FIND_DATAA findFileData);
BOOL FtpSessionFindNext(HINTERNET find, LPVOID findData);

BOOL FtpSessionPutFile(HINTERNET connect, LPCSTR localFile, LPCSTR newRemoteFile, DWORD flags);
// FtpGetFileA; knownSize >= 0 is the size a listing gave, which stands in for
// the SIZE question (PlatformFtpGetFileOfSize), -1 asks.
BOOL FtpSessionGetFile(HINTERNET connect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
                       DWORD flagsAndAttributes, DWORD flags, int64_t knownSize);

// The local file of one transfer, in the program's path form. Each system
// defines it with its own file calls (platform/linux/ftp_local_file.cpp,
// platform/win/ftp_local_file.cpp), since only there can a device or an
// execute bit be seen. Every failure sets the last error.
class FtpLocalFile {
public:
    FtpLocalFile() = default;
    ~FtpLocalFile();
    FtpLocalFile(const FtpLocalFile&) = delete;
    FtpLocalFile& operator=(const FtpLocalFile&) = delete;

    // An existing regular file to upload. ERROR_FILE_NOT_FOUND or
    // ERROR_PATH_NOT_FOUND when missing, ERROR_ACCESS_DENIED for a folder or
    // a device.
    bool OpenSource(LPCSTR path);
    // A download's target: created, or (unless failIfExists, which gives
    // ERROR_FILE_EXISTS) an existing file opened without truncation, so that
    // it keeps its bytes until the first one arrives. A folder, a device or a
    // read-only file: ERROR_ACCESS_DENIED; a missing folder:
    // ERROR_PATH_NOT_FOUND.
    bool OpenTarget(LPCSTR path, bool failIfExists);
    bool created() const { return created_; }

    // The count read, 0 at the end, -1 on failure.
    long long Read(char* buffer, size_t size);
    bool Write(const char* data, size_t size);

    // A complete download: cuts the file to size, makes it read-only when
    // flagsAndAttributes asks for it (and never executable), closes it.
    bool Finish(uint64_t size, DWORD flagsAndAttributes);
    // A failed download: removes the target, keeping the last error.
    void Remove();

private:
    intptr_t handle_ = -1;  // the system's file handle
    std::string path_;      // the system's name of the file
    bool created_ = false;
};
