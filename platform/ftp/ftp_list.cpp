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
//
// LIST is sent as "LIST -a", so that the dot files a server hides from a
// plain LIST (vsftpd's default, ProFTPD's) are seen: an attacker's
// ".htaccess" is a change like any other. A server that refuses "-a" (a
// 4xx/5xx answer to the command itself; a 5xx is remembered for the
// connection) or lists no entry with it (it may have taken "-a" for a name)
// is asked with a plain LIST; a listing that breaks off fails as it would
// without "-a". MLSD lists every name anyway.
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/ftp/ftp_client.h"
#include "platform/win32.h"

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Whether a listing's closing reply says the server cut the listing short
// ("226 Output truncated to 10000 matches", in any line and any case).
bool SaysTruncated(const std::string& reply) {
    static const char kWord[] = "truncated";
    const size_t length = sizeof kWord - 1;
    for (size_t at = 0; at + length <= reply.size(); ++at) {
        size_t i = 0;
        while (i < length && AsciiLower(reply[at + i]) == kWord[i]) ++i;
        if (i == length) return true;
    }
    return false;
}

// One listing transfer into raw (emptied first); truncated from its closing
// reply.
bool Transfer(FtpClient& connection, const char* verb, const std::string& argument,
              std::string& raw, bool& truncated) {
    raw.clear();
    std::string closing;
    FtpDataSink sink;
    sink.maximumBytes = ftpTransferLimits.listingBytes;
    sink.receive = [&raw](const char* data, size_t size) {
        raw.append(data, size);
        return true;
    };
    sink.closingReply = &closing;
    if (!FtpTransfer(connection, verb, argument, sink)) return false;
    truncated = SaysTruncated(closing);
    return true;
}

// Calls visit(line) for each line of a listing, without its CR LF or LF,
// until visit returns false.
template <typename Visit>
void ForEachLine(const std::string& raw, Visit&& visit) {
    size_t at = 0;
    while (at < raw.size()) {
        size_t end = raw.find('\n', at);
        if (end == std::string::npos) end = raw.size();
        std::string line = raw.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!visit(line)) return;
    }
}

// Whether a LIST listing holds at least one entry.
bool ListsAnEntry(const std::string& raw, const FILETIME& now) {
    bool found = false;
    ForEachLine(raw, [&](const std::string& line) {
        FtpEntry entry;
        found = FtpParseListLine(line, now, entry) == FtpLine::kEntry;
        return !found;
    });
    return found;
}

// LIST of the current folder, hidden entries included where the server
// allows (see above).
bool ListWithHidden(FtpClient& connection, std::string& raw, bool& truncated) {
    if (!connection.listAllRefused) {
        if (Transfer(connection, "LIST", "-a", raw, truncated)) {
            FILETIME now;
            GetSystemTimeAsFileTime(&now);
            if (ListsAnEntry(raw, now)) return true;
            // Taken, but no entry listed: perhaps "-a" was taken for a name
            // (an empty folder just costs one more listing).
        } else if (connection.control.dead() || !connection.refusedAtOnce) {
            // A transfer that broke (426, 451, a reset) is no refusal of
            // "-a": a plain LIST now could drop the hidden entries unseen.
            return false;
        } else if (connection.refusedCode / 100 == 5) {
            connection.listAllRefused = true;
        }
    }
    return Transfer(connection, "LIST", std::string(), raw, truncated);
}

bool ReadListing(FtpClient& connection, bool mlsd, const std::string& folder,
                 std::string& raw, bool& truncated) {
    if (mlsd) return Transfer(connection, "MLSD", folder, raw, truncated);
    if (folder.empty()) return ListWithHidden(connection, raw, truncated);
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
    const bool listed = ListWithHidden(connection, raw, truncated);
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

// Names of one MLSD listing that share a "unique" fact are one file under
// several names (see ftp_listing.h): all of them are links, unless the
// listing types one of them as a link itself, which makes the others its
// target. Lines that are no entries (cdir, pdir) count too: a folder
// listed as a second name of "." or ".." is a link.
void MarkSharedUniques(std::vector<FtpEntry>& all) {
    struct Group {
        int names = 0;
        bool typedLink = false;
    };
    std::unordered_map<std::string, Group> groups;
    groups.reserve(all.size());
    for (const FtpEntry& entry : all) {
        if (entry.unique.empty()) continue;
        Group& group = groups[entry.unique];
        ++group.names;
        group.typedLink = group.typedLink || entry.link;
    }
    for (FtpEntry& entry : all) {
        if (entry.unique.empty() || entry.link) continue;
        const Group& group = groups[entry.unique];
        if (group.names >= 2 && !group.typedLink) FtpMarkLink(entry);
    }
}

}  // namespace

bool FtpList(FtpClient& connection, const std::string& searchFile, std::vector<FtpEntry>& entries,
             bool& truncated) {
    truncated = false;
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
        bool listed = ReadListing(connection, mlsd, folder, raw, truncated);
        if (!listed && mlsd && !connection.control.dead() &&
            (connection.refusedCode == 500 || connection.refusedCode == 502)) {
            // Offered but not understood after all: LIST from now on.
            connection.offersMlsd = false;
            mlsd = false;
            listed = ReadListing(connection, mlsd, folder, raw, truncated);
        }
        if (!listed) return false;
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        bool anyLine = false, anyListingLine = false;
        // Every listing line, so that shared "unique" facts are seen across
        // the whole listing whatever the mask; skipped lines only for that.
        std::vector<FtpEntry> all;
        std::vector<bool> returned;
        ForEachLine(raw, [&](const std::string& line) {
            if (line.find_first_not_of(" \t") == std::string::npos) return true;
            FtpEntry entry;
            const FtpLine kind =
                mlsd ? FtpParseMlsdLine(line, entry) : FtpParseListLine(line, now, entry);
            anyLine = true;
            anyListingLine = anyListingLine || kind != FtpLine::kUnreadable;
            if (kind == FtpLine::kUnreadable || (kind == FtpLine::kSkipped && entry.unique.empty()))
                return true;
            all.push_back(std::move(entry));
            returned.push_back(kind == FtpLine::kEntry);
            return true;
        });
        if (anyLine && !anyListingLine) {
            SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            return false;
        }
        if (mlsd) MarkSharedUniques(all);
        for (size_t i = 0; i < all.size(); ++i)
            if (returned[i] && FtpMatchMask(mask, all[i].name.c_str()))
                entries.push_back(std::move(all[i]));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}
