// An FTP connection handle (InternetConnectA): the client (platform/ftp/
// ftp_client.h) in the handle tree, and taking it for one call.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/ftp/ftp_client.h"
#include "platform/linux/wininet_internal.h"

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

