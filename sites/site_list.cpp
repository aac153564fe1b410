#include "sites/site_list.h"

#include "sites/data_files.h"
#include "records/record_file.h"

char siteListPath[kSiteListPathSize] = "c:\\kestrovane\\sites.info";
SiteRecord currentSite;
int32_t currentRecordNumber = 1;

bool ReadSiteRecord(const char* path, SiteRecord& site, int32_t number) {
    return ReadRecord(path, &site, number, kSiteRecordSize) == kSiteRecordSize;
}

int32_t WriteSiteRecord(const char* path, const SiteRecord& site, int32_t number) {
    return WritePrivateRecord(path, &site, number, kSiteRecordSize);
}

int32_t CountSiteRecords(const char* path) {
    SiteRecord site;
    int32_t n = 0;
    while (ReadSiteRecord(path, site, n + 1)) n++;
    return n;
}

int32_t CountActiveSites(const char* path) {
    SiteRecord site;
    int32_t active = 0;
    for (int32_t n = 1; ReadSiteRecord(path, site, n); n++) {
        if (site.active && !SiteIsDeleted(site)) active++;
    }
    return active;
}
