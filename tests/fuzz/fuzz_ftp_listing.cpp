// Fuzzes the FTP listing parser with hostile listings: every line of the
// input is parsed as an MLSD line and as a LIST line, and whatever entry
// comes back must be one the engine can use safely (a name that is no path,
// the attribute rules) and must fit a WIN32_FIND_DATAA.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/ftp_listing.h"

namespace {

void Check(const FtpEntry& entry)
{
    if (!FtpNameIsSafe(entry.name) || entry.name.empty() || entry.name.size() >= MAX_PATH ||
        entry.name.find_first_of("/\\:") != std::string::npos || entry.name == "." || entry.name == "..")
        std::abort();
    for (unsigned char c : entry.name)
        if (c < 32 || c == 127)
            std::abort();
    WIN32_FIND_DATAA data;
    FtpFillFindData(entry, data);
    if (std::strlen(data.cFileName) != entry.name.size())
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
        if (FtpParseMlsdLine(line, entry))
            Check(entry);
        entry = FtpEntry{};
        if (FtpParseListLine(line, now, entry))
            Check(entry);
        start = end + 1;
    }
    return 0;
}
