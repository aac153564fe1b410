// eventlog: lists a site's event log, or appends an event to it, without the
// monitor. Used to inspect logs and to prepare demo and test data folders.
//
//   eventlog SITE-LIST RECORD                      list, newest first
//   eventlog SITE-LIST RECORD add TYPE [NAME [CHANGED [DETAIL [ATTRIBUTES]]]]
//
// The log is the one the monitor keeps for record RECORD (from 1) of the site
// list, in the current folder (the data folder). An added event is stamped
// with the local time now; ATTRIBUTES defaults to 0x80, a plain file.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "alerts/event_lines.h"
#include "alerts/event_log.h"
#include "sites/site_files.h"
#include "sites/site_list.h"

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: eventlog SITE-LIST RECORD\n"
                         "       eventlog SITE-LIST RECORD add TYPE [NAME [CHANGED [DETAIL [ATTRIBUTES]]]]\n");
    return 2;
}

int List()
{
    eventPage = 1;
    EventRecord record;
    int n = 0;
    for (int got = ReadEventRecord(record, 1); got == 1; got = ReadEventRecord(record, 0)) {
        char line[kEventLineSize];
        if (!FormatEventLine(record, line, sizeof line))
            std::snprintf(line, sizeof line, "(type %d, no line of its own)", int(record.type));
        std::printf("%6d %s\n", ++n, line);
    }
    CloseEventLog();
    return 0;
}

int Add(int argc, char** argv)
{
    WIN32_FIND_DATAA entry = {};
    entry.dwFileAttributes = argc > 8 ? DWORD(std::strtoul(argv[8], nullptr, 0)) : 0x80;
    if (argc > 5)
        std::snprintf(entry.cFileName, sizeof entry.cFileName, "%s", argv[5]);
    std::time_t now = std::time(nullptr);
    std::tm stamp = *std::localtime(&now);
    AppendEventRecord(MakeEventRecord(uint8_t(std::atoi(argv[4])), entry, argc > 6 ? std::atoi(argv[6]) : 0,
                                      &stamp, argc > 7 ? std::atoi(argv[7]) : 0));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    SiteRecord site;
    if (!ReadSiteRecord(argv[1], site, std::atoi(argv[2]))) {
        std::fprintf(stderr, "eventlog: %s has no record %s\n", argv[1], argv[2]);
        return 1;
    }
    SiteFileNames(site);
    if (argc == 3)
        return List();
    if (argc >= 5 && std::string_view(argv[3]) == "add")
        return Add(argc, argv);
    return Usage();
}
