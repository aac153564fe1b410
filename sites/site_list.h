// The site list: one SiteRecord per monitored web site (layout in
// site_record.h), read and written through the fixed-record file rule.
#pragma once

#include <cstdint>

#include "sites/site_record.h"

// Path of the site list file: "c:\kestrovane\sites.info" unless the command
// line named another with "_infofile:".
inline constexpr int kSiteListPathSize = 260;
extern char siteListPath[kSiteListPathSize];

// The site being worked: the driver's copy of its record, which the engine,
// the alerts and the menu read, and its number (from 1) in the site list.
extern SiteRecord currentSite;
extern int32_t currentRecordNumber;

// Reads record `number` (from 1). True only when the whole record was read; a
// short last record is not part of the list.
bool ReadSiteRecord(const char* path, SiteRecord& site, int32_t number);

// Writes record `number` (from 1). The file, which holds passwords, is created
// readable by its owner only. Returns the count written or -1 (see WriteRecord).
int32_t WriteSiteRecord(const char* path, const SiteRecord& site, int32_t number);

// Number of whole records in the list, deleted ones included.
int32_t CountSiteRecords(const char* path);

// Number of records with the active flag on (deleted ones, with no host, are
// never worked and do not count); 0 for a missing list.
int32_t CountActiveSites(const char* path);
