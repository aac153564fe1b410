// The listing of one folder (see ftp_client.h).
//
// The whole listing is read (MLSD when the server offers it, else LIST) and
// filtered before the first entry is handed out, so a listing that breaks
// off is reported as a failure and the caller never acts on half a folder.
// Entries keep the server's order.
//
// A listing the client cannot read is an error, never an empty folder: when
// lines arrived and not one of them was a listing line (an entry, "total
// 12", a cdir fact, ...), the listing fails with
// ERROR_HTTP_INVALID_SERVER_RESPONSE, WinINet's error for a reply that could
// not be parsed. Lines that are not listing lines among ones that are (a
// server's notice) are passed over.
#include <new>
#include <vector>

#include "platform/ftp/ftp_client.h"
#include "platform/win32.h"

namespace {

bool ReadListing(FtpClient& connection, bool mlsd, const std::string& folder,
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

bool FtpList(FtpClient& connection, const std::string& searchFile, std::vector<FtpEntry>& entries) {
    // "folder/mask" lists folder; the mask alone lists the current folder.
    std::string folder, mask = searchFile;
    size_t separator = searchFile.find_last_of("/\\");
    try {
        if (separator != std::string::npos) {
            folder = searchFile.substr(0, separator);
            if (folder.empty()) folder.assign(1, '/');
            mask = searchFile.substr(separator + 1);
            for (char& c : folder)
                if (c == '\\') c = '/';
        }
        if (mask.empty()) mask.assign(1, '*');
        if (!FtpSetType(connection, 'A')) return false;
        std::string raw;
        bool mlsd = connection.offersMlsd;
        bool listed = ReadListing(connection, mlsd, folder, raw);
        if (!listed && mlsd && !connection.control.dead() &&
            (connection.refusedCode == 500 || connection.refusedCode == 502)) {
            // Offered but not understood after all: LIST from now on.
            connection.offersMlsd = false;
            mlsd = false;
            raw.clear();
            listed = ReadListing(connection, mlsd, folder, raw);
        }
        if (!listed) return false;
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
            if (kind == FtpLine::kEntry && FtpMatchMask(mask, entry.name.c_str()))
                entries.push_back(std::move(entry));
        }
        if (anyLine && !anyListingLine) {
            SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            return false;
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}
