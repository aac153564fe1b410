// The work list file, one entry a line: "%s*%lu-%lu-%lu-%lu,%d\n".
#include "engine/work_list.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "sites/site_files.h"
#include "engine/stream.h"

namespace engine {

bool WriteWorkList(const std::vector<ListedEntry>& entries)
{
    Stream list(std::fopen(siteWorkListFile, "wb"));
    if (!list)
        return false;
    for (const ListedEntry& e : entries) {
        if (e.name.find_first_of("\r\n") != std::string::npos)
            continue;
        if (std::fprintf(list.get(), "%s*%lu-%lu-%lu-%lu,%d\n", e.name.c_str(),
                         (unsigned long)e.lastWrite.dwHighDateTime, (unsigned long)e.lastWrite.dwLowDateTime,
                         (unsigned long)e.sizeHigh, (unsigned long)e.sizeLow, int(e.attributes)) < 0)
            return false;
    }
    return std::fflush(list.get()) == 0 && !std::ferror(list.get());
}

bool ReadWorkList(std::vector<ListedEntry>& entries)
{
    entries.clear();
    Stream list(std::fopen(siteWorkListFile, "rb"));
    if (!list)
        return false;
    // A name holds at most MAX_PATH bytes; the numbers add at most 60.
    char line[MAX_PATH + 64];
    while (std::fgets(line, sizeof line, list.get())) {
        char* end = std::strchr(line, '\n');
        if (!end)
            return false; // longer than any line the pass writes
        *end = '\0';
        char* star = std::strrchr(line, '*');
        if (!star || star == line)
            return false;
        unsigned long high = 0, low = 0, sizeHigh = 0, sizeLow = 0;
        int attributes = 0, used = 0;
        if (std::sscanf(star + 1, "%lu-%lu-%lu-%lu,%d%n", &high, &low, &sizeHigh, &sizeLow, &attributes, &used) != 5 ||
            star[1 + used] != '\0')
            return false;
        entries.push_back({DWORD(attributes), {DWORD(low), DWORD(high)}, DWORD(sizeHigh), DWORD(sizeLow),
                           std::string(line, size_t(star - line))});
    }
    return !std::ferror(list.get());
}

} // namespace engine
