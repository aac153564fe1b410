// FtpFindFirstFileA / InternetFindNextFileA: a listing (platform/ftp/
// ftp_list.cpp) handed out one entry at a time.
#include <new>
#include <vector>

#include "platform/ftp/ftp_listing.h"
#include "platform/linux/files.h"
#include "platform/linux/ftp_session.h"
#include "platform/linux/kernel32.h"

bool FtpMatchMask(const std::string& mask, const std::string& name) {
    return PlatformMatchMask(mask, name.c_str());
}

namespace {

struct FtpFind final : InternetObject {
    static constexpr InternetKind kKind = InternetKind::FtpFind;
    FtpFind() : InternetObject(kKind) {}
    // The connection may list again once this handle is closed.
    void Abort() override {
        if (auto connection = owner.lock()) connection->listingOpen = false;
    }

    std::weak_ptr<FtpConnection> owner;
    std::mutex lock;
    std::vector<FtpEntry> entries;
    size_t next = 0;
};

}  // namespace

HINTERNET FtpFindFirstFileA(HINTERNET connect, LPCSTR searchFile,
                            LPWIN32_FIND_DATAA findFileData, DWORD flags, DWORD_PTR context) {
    FtpCall call(connect);
    if (!call.ok()) return nullptr;
    if (call->listingOpen) {
        SetLastError(ERROR_FTP_TRANSFER_IN_PROGRESS);
        return nullptr;
    }
    std::shared_ptr<FtpFind> find;
    try {
        find = std::make_shared<FtpFind>();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!FtpList(*call, searchFile ? searchFile : "", find->entries)) return nullptr;
    if (find->entries.empty()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return nullptr;
    }
    if (findFileData) FtpFillFindData(find->entries[0], *findFileData);
    find->next = 1;
    find->owner = call.shared();
    call->listingOpen = true;
    HINTERNET handle = InternetRegister(find, connect);
    if (!handle) {
        call->listingOpen = false;
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL InternetFindNextFileA(HINTERNET find, LPVOID findData) {
    std::shared_ptr<FtpFind> listing = InternetLookupAs<FtpFind>(find);
    if (!listing) return FALSE;
    if (!findData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(listing->lock);
    if (listing->next >= listing->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    FtpFillFindData(listing->entries[listing->next++], *static_cast<WIN32_FIND_DATAA*>(findData));
    return TRUE;
}
