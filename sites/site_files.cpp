#include "sites/site_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sites/site_record.h"
#include "records/record_file.h"

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

void SiteDomainLabel(std::string_view ftpHost, char* label, int labelSize) {
    size_t first = ftpHost.find('.');
    size_t second = first == std::string_view::npos ? first : ftpHost.find('.', first + 1);
    if (second != std::string_view::npos) {
        size_t n = std::min(second - first - 1, size_t(kLabelMax));
        snprintf(label, (size_t)labelSize, "%.*s", int(n), ftpHost.data() + first + 1);
    } else {
        size_t n = std::min(ftpHost.size(), size_t(kLabelMax));
        snprintf(label, (size_t)labelSize, "%.*s.", int(n), ftpHost.data());
    }
}

void SiteFileNames(std::string_view ftpHost, std::string_view remoteFolder, std::string_view fileMask) {
    char label[kLabelMax + 2];
    SiteDomainLabel(ftpHost, label, (int)sizeof label);

    char maskWord[51];
    snprintf(maskWord, sizeof maskWord, "%.*s", int(std::min(fileMask.size(), sizeof maskWord - 1)), fileMask.data());
    for (unsigned char* p = (unsigned char*)maskWord; *p; p++) {
        if (*p < 65) *p = (unsigned char)(*p + 32);
    }

    int folder = int(std::min(remoteFolder.size(), size_t(200)));
    if (folder == 0) {
        snprintf(siteStoreFile, kSiteFileNameSize, "%s_%s.dbf", label, maskWord);
        snprintf(siteEventLogFile, kSiteFileNameSize, "%s_%s.msg", label, maskWord);
        snprintf(siteWorkListFile, kSiteFileNameSize, "%s_%s.fil", label, maskWord);
    } else {
        snprintf(siteStoreFile, kSiteFileNameSize, "%s_%.*s_%s.dbf", label, folder, remoteFolder.data(), maskWord);
        snprintf(siteEventLogFile, kSiteFileNameSize, "%s_%.*s_%s.msg", label, folder, remoteFolder.data(), maskWord);
        snprintf(siteWorkListFile, kSiteFileNameSize, "%s_%.*s_%s.txt", label, folder, remoteFolder.data(), maskWord);
    }
    MakeSafeName(siteStoreFile);
    MakeSafeName(siteEventLogFile);
    MakeSafeName(siteWorkListFile);
}

void SiteFileNames(const SiteRecord& site) {
    SiteFileNames(FieldText(site.ftpHost), FieldText(site.remoteFolder), FieldText(site.fileMask));
}
