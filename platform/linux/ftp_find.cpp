// FtpFindFirstFileA / InternetFindNextFileA.
//
// The whole listing is read (MLSD when the server offers it, else LIST) and
// filtered before the first entry is handed out, so a listing that breaks
// off is reported as a failure of FtpFindFirstFileA and the caller never acts
// on half a folder. Entries keep the server's order.
//
// A listing the client cannot read is an error, never an empty folder: when
// lines arrived and not one of them was a listing line (an entry, "total
// 12", a cdir fact, ...), FtpFindFirstFileA fails with
// ERROR_HTTP_INVALID_SERVER_RESPONSE, WinINet's error for a reply that could
// not be parsed. Lines that are not listing lines among ones that are (a
// server's notice) are passed over.
#include <new>
#include <vector>

#include "platform/ftp/ftp_control.h"
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

bool ReadListing(FtpConnection& connection, bool mlsd, const std::string& folder,
                 std::string& raw) {
    FtpDataSink sink;
    sink.maximumBytes = ftpTransferLimits.listingBytes;
    sink.receive = [&raw](const char* data, size_t size) {
        raw.append(data, size);
        return true;
    };
    if (mlsd || folder.empty()) return FtpTransfer(connection, mlsd ? "MLSD" : "LIST", folder, sink);
    // Many servers hand LIST's argument to ls, which splits it at blanks,
    // takes a leading "-" for options and expands wildcards, so that a
    // folder such as "new site" lists as empty. The folder is listed from
    // inside instead, and the call returns to where it was.
    FtpReply reply;
    if (!FtpSimpleCommand(connection, "PWD", std::string(), 0, &reply)) return false;
    const std::string home = FtpFolderOf257(reply.text);
    if (reply.code != 257 || home.empty()) {
        SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return false;
    }
    if (!FtpSimpleCommand(connection, "CWD", folder)) return false;
    const bool listed = FtpTransfer(connection, "LIST", std::string(), sink);
    const DWORD error = GetLastError();
    if (connection.control.dead()) return false;
    if (!FtpSimpleCommand(connection, "CWD", home)) {
        // Left in another folder, later calls with relative names would act
        // there: nothing more goes through this connection.
        connection.control.MarkDead();
        return false;
    }
    SetLastError(error);
    return listed;
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
        bool anyLine = false, anyListingLine = false;
        size_t at = 0;
        while (at < raw.size()) {
            size_t end = raw.find('\n', at);
            if (end == std::string::npos) end = raw.size();
            std::string line = raw.substr(at, end - at);
            at = end + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find_first_not_of(" \t") == std::string::npos) continue;
            FtpEntry entry;
            const FtpLine kind =
                mlsd ? FtpParseMlsdLine(line, entry) : FtpParseListLine(line, now, entry);
            anyLine = true;
            anyListingLine = anyListingLine || kind != FtpLine::kUnreadable;
            if (kind == FtpLine::kEntry && FtpMatchMask(mask, entry.name))
                find->entries.push_back(std::move(entry));
        }
        if (anyLine && !anyListingLine) {
            SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            return nullptr;
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
