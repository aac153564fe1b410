// FtpFindFirstFileA / InternetFindNextFileA: a listing (ftp_list.cpp)
// handed out one entry at a time, and the mask rule of the listings.
#include <cstring>
#include <new>
#include <vector>

#include "platform/ftp/ftp_listing.h"
#include "platform/ftp/ftp_session.h"

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

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
    bool truncated = false;  // the server cut the listing short: the end is ERROR_MORE_DATA
};

}  // namespace

// Windows mask matching: "*" matches any run of characters, "?" exactly one,
// other characters themselves without regard to ASCII case; dots and stars
// left over at the end of the mask match nothing, which is why "*.*" matches
// names without a dot and "name." matches "name".
bool FtpMatchMask(const std::string& mask, const char* name) {
    const size_t maskLength = mask.size();
    const size_t nameLength = std::strlen(name);
    size_t m = 0, n = 0;
    size_t starMask = std::string::npos, starName = 0;
    while (n < nameLength) {
        if (m < maskLength && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < maskLength && (mask[m] == '?' || Upper(mask[m]) == Upper(name[n]))) {
            ++m;
            ++n;
        } else if (starMask != std::string::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < maskLength && (mask[m] == '*' || mask[m] == '.')) ++m;
    return m == maskLength;
}

HINTERNET FtpSessionFindFirst(HINTERNET connect, LPCSTR searchFile,
                              LPWIN32_FIND_DATAA findFileData) {
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
    if (!FtpList(*call, searchFile ? searchFile : "", find->entries, find->truncated)) return nullptr;
    if (find->entries.empty()) {
        SetLastError(find->truncated ? ERROR_MORE_DATA : ERROR_NO_MORE_FILES);
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

BOOL FtpSessionFindNext(HINTERNET find, LPVOID findData) {
    std::shared_ptr<FtpFind> listing = InternetLookupAs<FtpFind>(find);
    if (!listing) return FALSE;
    if (!findData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(listing->lock);
    if (listing->next >= listing->entries.size()) {
        SetLastError(listing->truncated ? ERROR_MORE_DATA : ERROR_NO_MORE_FILES);
        return FALSE;
    }
    FtpFillFindData(listing->entries[listing->next++], *static_cast<WIN32_FIND_DATAA*>(findData));
    return TRUE;
}
