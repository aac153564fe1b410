#include "core/site_files.h"

#include <cstdio>
#include <cstring>

char siteStoreFile[kSiteFileNameSize];
char siteEventLogFile[kSiteFileNameSize];
char siteWorkListFile[kSiteFileNameSize];

namespace {

constexpr int kLabelMax = 50;

// The host and the remote folder come from the user and the mask goes into the
// name as bytes; none of them may put a separator, a drive or an invalid byte
// into a name that is meant to lie in the data folder.
void MakeSafeName(char* name) {
    for (unsigned char* p = (unsigned char*)name; *p; p++) {
        if (*p < 32 || *p == 127 || strchr("/\\:*?\"<>|", *p)) *p = '-';
    }
}

}  // namespace

void SiteDomainLabel(const char* ftpHost, char* label, int labelSize) {
    const char* first = strchr(ftpHost, '.');
    const char* second = first ? strchr(first + 1, '.') : nullptr;
    if (second) {
        int n = (int)(second - first - 1);
        if (n > kLabelMax) n = kLabelMax;
        snprintf(label, (size_t)labelSize, "%.*s", n, first + 1);
    } else {
        snprintf(label, (size_t)labelSize, "%.*s.", kLabelMax, ftpHost);
    }
}

void SiteFileNames(const char* ftpHost, const char* remoteFolder, const char* fileMask) {
    char label[kLabelMax + 2];
    SiteDomainLabel(ftpHost, label, (int)sizeof label);

    char maskWord[51];
    snprintf(maskWord, sizeof maskWord, "%s", fileMask);
    for (unsigned char* p = (unsigned char*)maskWord; *p; p++) {
        if (*p < 65) *p = (unsigned char)(*p + 32);
    }

    if (remoteFolder[0] == 0) {
        snprintf(siteStoreFile, kSiteFileNameSize, "%s_%s.dbf", label, maskWord);
        snprintf(siteEventLogFile, kSiteFileNameSize, "%s_%s.msg", label, maskWord);
        snprintf(siteWorkListFile, kSiteFileNameSize, "%s_%s.fil", label, maskWord);
    } else {
        snprintf(siteStoreFile, kSiteFileNameSize, "%s_%.200s_%s.dbf", label, remoteFolder, maskWord);
        snprintf(siteEventLogFile, kSiteFileNameSize, "%s_%.200s_%s.msg", label, remoteFolder, maskWord);
        snprintf(siteWorkListFile, kSiteFileNameSize, "%s_%.200s_%s.txt", label, remoteFolder, maskWord);
    }
    MakeSafeName(siteStoreFile);
    MakeSafeName(siteEventLogFile);
    MakeSafeName(siteWorkListFile);
}
