// Fuzzes the FTP listing parser with hostile listings: every line of the
// input is parsed as an MLSD line and as a LIST line, and whatever entry
// comes back must be one a WIN32_FIND_DATAA can hold faithfully: a name that
// fits cFileName with its NUL, holds no "/", CR, LF or NUL, and is not "."
// or "..", and a link is never a folder. Everything else about a name is the
// program's to judge.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ftp/ftp_listing.h"

namespace {

void Check(FtpLine kind, const FtpEntry& entry)
{
    if (kind != FtpLine::kEntry)
        return;
    if (!FtpNameIsListable(entry.name) || entry.name.empty() || entry.name.size() >= MAX_PATH ||
        entry.name.find_first_of(std::string("/\r\n\0", 4)) != std::string::npos || entry.name == "." ||
        entry.name == "..")
        std::abort();
    WIN32_FIND_DATAA data;
    FtpFillFindData(entry, data);
    if (std::memchr(data.cFileName, '\0', sizeof data.cFileName) == nullptr ||
        std::strlen(data.cFileName) != entry.name.size() ||
        std::memcmp(data.cFileName, entry.name.data(), entry.name.size()) != 0)
        std::abort();
    if (entry.link && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FILETIME now = {0xD53E8000u, 0x01DB0000u}; // a fixed "now", so runs repeat
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        FtpEntry entry;
        Check(FtpParseMlsdLine(line, entry), entry);
        entry = FtpEntry{};
        Check(FtpParseListLine(line, now, entry), entry);
        start = end + 1;
    }
    return 0;
}
