// Names of the three per-site data files, derived from the site's FTP host,
// remote folder and file mask:
//
//   siteStoreFile     ".dbf"  the site's file record store
//   siteEventLogFile  ".msg"  the site's event log
//   siteWorkListFile  ".fil"  the work list of the sync and mirror passes
//                             (".txt" when the site has a remote folder)
//
// The names are relative: the files lie in the data folder, which is the
// current directory while the program runs.
#pragma once

#include <string_view>

inline constexpr int kSiteFileNameSize = 320;
extern char siteStoreFile[kSiteFileNameSize];
extern char siteEventLogFile[kSiteFileNameSize];
extern char siteWorkListFile[kSiteFileNameSize];

// Fills the three names. The domain label is the text between the first and
// the second "." of the host (at most 50 bytes); a host with fewer than two
// dots is used whole, followed by ".", as a fully qualified name is written
// (so it never equals the label of a host with two dots). The mask word is
// the mask with every byte below "A" raised by 32. Every "/" becomes "-", and
// so does any byte that could make a name reach outside the data folder or be
// invalid on Windows (control bytes, "\", ":", "*", "?", '"', "<", ">", "|").
// The texts come from a site record: pass its fields through FieldText.
void SiteFileNames(std::string_view ftpHost, std::string_view remoteFolder, std::string_view fileMask);

// The domain label alone, as used in the names (buffer of at least 52 bytes).
void SiteDomainLabel(std::string_view ftpHost, char* label, int labelSize);

// SiteFileNames for a site record's host, remote folder and mask.
struct SiteRecord;
void SiteFileNames(const SiteRecord& site);
