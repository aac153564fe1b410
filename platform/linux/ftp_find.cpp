// FtpFindFirstFileA / InternetFindNextFileA.
//
// The whole listing is read (MLSD when the server offers it, else LIST) and
// filtered before the first entry is handed out, so a listing that breaks
// off is reported as a failure of FtpFindFirstFileA and the caller never acts
// on half a folder. Entries keep the server's order.
#include <new>
#include <vector>

#include "platform/linux/ftp_listing.h"
#include "platform/linux/ftp_session.h"
#include "platform/linux/kernel32.h"

namespace {

// More listing text than any real folder gives (about a million entries).
constexpr size_t kMaxListingBytes = 64 * 1024 * 1024;

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

bool ReadListing(FtpConnection& connection, bool mlsd, const std::string& folder,
                 std::string& raw) {
    FtpDataSink sink;
    sink.receive = [&raw](const char* data, size_t size) {
        if (raw.size() + size > kMaxListingBytes) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        raw.append(data, size);
        return true;
    };
    return FtpTransfer(connection, mlsd ? "MLSD" : "LIST", folder, sink);
}

}  // namespace

HINTERNET FtpFindFirstFileA(HINTERNET connect, LPCSTR searchFile,
                            LPWIN32_FIND_DATAA findFileData, DWORD flags, DWORD_PTR context) {
    FtpCall call(connect);
    if (!call.ok()) return nullptr;
    if (call->listingOpen) {
        SetLastError(ERROR_FTP_TRANSFER_IN_PROGRESS);
        return nullptr;
    }
    // "folder/mask" lists folder; the mask alone lists the current folder.
    std::string search = searchFile ? searchFile : "";
    std::string folder, mask = search;
    size_t separator = search.find_last_of("/\\");
    if (separator != std::string::npos) {
        folder = search.substr(0, separator);
        if (folder.empty()) folder = "/";
        mask = search.substr(separator + 1);
        for (char& c : folder)
            if (c == '\\') c = '/';
    }
    if (mask.empty()) mask = "*";

    std::shared_ptr<FtpFind> find;
    try {
        find = std::make_shared<FtpFind>();
        if (!FtpSetType(*call, 'A')) return nullptr;
        std::string raw;
        bool mlsd = call->offersMlsd;
        bool listed = ReadListing(*call, mlsd, folder, raw);
        if (!listed && mlsd && !call->control.dead() &&
            (call->refusedCode == 500 || call->refusedCode == 502)) {
            // Offered but not understood after all: LIST from now on.
            call->offersMlsd = false;
            mlsd = false;
            raw.clear();
            listed = ReadListing(*call, mlsd, folder, raw);
        }
        if (!listed) return nullptr;
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        size_t at = 0;
        while (at < raw.size()) {
            size_t end = raw.find('\n', at);
            if (end == std::string::npos) end = raw.size();
            std::string line = raw.substr(at, end - at);
            at = end + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            FtpEntry entry;
            bool parsed = mlsd ? FtpParseMlsdLine(line, entry) : FtpParseListLine(line, now, entry);
            if (parsed && FtpMatchMask(mask, entry.name)) find->entries.push_back(std::move(entry));
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
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
