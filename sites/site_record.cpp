#include "sites/site_record.h"

#include <cstring>

#include "records/record_file.h"

SiteTexts::SiteTexts(const SiteRecord& s)
    : host(FieldText(s.ftpHost)), user(FieldText(s.userName)), password(FieldText(s.password)),
      remoteFolder(FieldText(s.remoteFolder)), fileMask(FieldText(s.fileMask)),
      secureFolder(FieldText(s.secureFolder)), optionText(FieldText(s.optionText)) {}

std::string SiteTexts::Line() const { return SiteLine(host.c_str(), remoteFolder.c_str(), fileMask.c_str()); }

std::string SiteLine(const char* host, const char* remoteFolder, const char* fileMask) {
    std::string line = host;
    if (remoteFolder[0]) line += std::string("/") + remoteFolder;
    return line + "/" + fileMask;
}

int32_t SiteOffsetHours(const SiteRecord& site) {
    uint32_t v = (uint32_t)site.offsetHoursBytes[0] | (uint32_t)site.offsetHoursBytes[1] << 8 |
                 (uint32_t)site.offsetHoursBytes[2] << 16 | (uint32_t)site.offsetHoursBytes[3] << 24;
    return (int32_t)v;
}

void SetSiteOffsetHours(SiteRecord& site, int32_t hours) {
    uint32_t v = (uint32_t)hours;
    for (int i = 0; i < 4; i++) site.offsetHoursBytes[i] = (uint8_t)(v >> (8 * i));
}

int16_t SiteMailPort(const SiteRecord& site) {
    return (int16_t)(uint16_t)(site.mailPortBytes[0] | site.mailPortBytes[1] << 8);
}

void SetSiteMailPort(SiteRecord& site, int16_t port) {
    uint16_t v = (uint16_t)port;
    site.mailPortBytes[0] = (uint8_t)v;
    site.mailPortBytes[1] = (uint8_t)(v >> 8);
}

bool SiteIsDeleted(const SiteRecord& site) { return site.ftpHost[0] == 0; }

bool CopyField(char* field, size_t width, const char* text) {
    if (width == 0) return false;
    size_t n = strnlen(text, width);
    bool fits = n < width;
    if (!fits) n = width - 1;
    memcpy(field, text, n);
    memset(field + n, 0, width - n);
    return fits;
}
