// The monitor's entry until the window start-up lands: it does what start-up
// does without a window (data folder, command line, site list path) and
// reports the site list it would monitor.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/command_line.h"
#include "core/data_files.h"
#include "core/site_files.h"
#include "core/site_list.h"
#include "platform/win32.h"

char commandWord[260];

namespace {

// The raw command line as Windows would pass it to the GUI entry point: the
// words after the program name, quoted again where they hold a blank.
std::string RawCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; i++) {
        if (i > 1) line += ' ';
        bool quote = strchr(argv[i], ' ') != nullptr;
        if (quote) line += '"';
        line += argv[i];
        if (quote) line += '"';
    }
    return line;
}

void ReportSites() {
    int32_t records = CountSiteRecords(siteListPath);
    printf("site list %s: %d record(s), %d active\n", siteListPath, records,
           CountActiveSites(siteListPath));
    SiteRecord site;
    for (int32_t n = 1; n <= records && ReadSiteRecord(siteListPath, site, n); n++) {
        if (SiteIsDeleted(site)) continue;
        SiteFileNames(site.ftpHost, site.remoteFolder, site.fileMask);
        printf("%3d %-8s %s/%s %s -> %s, %s, %s\n", n, site.active ? "active" : "inactive",
               site.ftpHost, site.remoteFolder, site.fileMask, siteStoreFile, siteEventLogFile,
               siteWorkListFile);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string raw = RawCommandLine(argc, argv);
    const PriorityWord* priority = FindPriorityWord(raw.c_str());
    bool minimized = WantsMinimizedStart(raw.c_str());

    std::string split = raw;
    char* words[64];
    int count = 0;
    SplitCommandLine(count, words, 64, split.data());

    CreateDirectoryA(kDataFolder, nullptr);
    if (!SetCurrentDirectoryA(kDataFolder)) {
        fprintf(stderr, "cannot enter the data folder %s (error %u)\n", kDataFolder,
                (unsigned)GetLastError());
        return 1;
    }
    if (count >= 1) snprintf(commandWord, sizeof commandWord, "%s", words[0]);
    SiteListPathFromCommandWord(commandWord, siteListPath, kSiteListPathSize);

    char folder[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, folder);
    printf("Kestrovane %s\ndata folder %s\ncommand word \"%s\"%s%s%s\n", "0.1", folder, commandWord,
           priority ? ", " : "", priority ? priority->lower : "", minimized ? ", minimised" : "");
    ReportSites();
    return 0;
}
