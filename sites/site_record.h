// The site list record and the other fixed-record files of the data folder.
//
// A site list ("sites.info", or the path given with "_infofile:") is a plain
// array of 1,252-byte SiteRecord records: no header, no count. Record N (from
// 1) lies at byte (N-1) * 1252; the list ends at the first record that cannot
// be read whole. A record whose FTP host is empty counts as deleted.
//
// SiteRecord, little-endian. Texts are NUL-terminated and padded with zero
// bytes to their width; flags are single bytes, 0 = off, nonzero = on.
//
//   Offset  Width  Field
//   ------  -----  -----------------------------------------------------------
//        0    100  FTP host (with the secure server folder, the site's identity)
//      100    100  FTP user name
//      200    100  FTP password, plain text
//      300    200  remote folder below the login folder; empty = login folder
//      500     50  file mask of the monitored files
//      550    200  secure server folder: local folder with the clean copy
//      750      1  synchronise-web switch
//      751      1  mirror switch
//      752      1  active flag
//      753      1  offset measured (server clock offset known)
//      754      4  offset hours, signed 32-bit (server clock - local clock)
//      758      1  newly activated (set by the setup, read by nothing)
//      759    100  option text (keywords and a program path)
//      859      1  e-mail alerts flag
//      860     80  alert recipient
//      940     80  mail server name or address
//     1020     50  mail user name
//     1070     50  mail password, plain text
//     1120      2  mail port, signed 16-bit
//     1122    130  spare, zero
//
// The two integers are not at offsets of their natural alignment (754), so
// they are kept as bytes and read through the accessors below; the record is
// then an array of bytes that can be read and written whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct SiteRecord {
    char ftpHost[100];
    char userName[100];
    char password[100];
    char remoteFolder[200];
    char fileMask[50];
    char secureFolder[200];
    uint8_t syncWeb;
    uint8_t mirror;
    uint8_t active;
    uint8_t offsetMeasured;
    uint8_t offsetHoursBytes[4];
    uint8_t newlyActivated;
    char optionText[100];
    uint8_t emailAlerts;
    char alertRecipient[80];
    char mailServer[80];
    char mailUserName[50];
    char mailPassword[50];
    uint8_t mailPortBytes[2];
    uint8_t spare[130];
};

constexpr int kSiteRecordSize = 1252;

static_assert(sizeof(SiteRecord) == kSiteRecordSize);
static_assert(alignof(SiteRecord) == 1);
static_assert(offsetof(SiteRecord, ftpHost) == 0);
static_assert(offsetof(SiteRecord, userName) == 100);
static_assert(offsetof(SiteRecord, password) == 200);
static_assert(offsetof(SiteRecord, remoteFolder) == 300);
static_assert(offsetof(SiteRecord, fileMask) == 500);
static_assert(offsetof(SiteRecord, secureFolder) == 550);
static_assert(offsetof(SiteRecord, syncWeb) == 750);
static_assert(offsetof(SiteRecord, mirror) == 751);
static_assert(offsetof(SiteRecord, active) == 752);
static_assert(offsetof(SiteRecord, offsetMeasured) == 753);
static_assert(offsetof(SiteRecord, offsetHoursBytes) == 754);
static_assert(offsetof(SiteRecord, newlyActivated) == 758);
static_assert(offsetof(SiteRecord, optionText) == 759);
static_assert(offsetof(SiteRecord, emailAlerts) == 859);
static_assert(offsetof(SiteRecord, alertRecipient) == 860);
static_assert(offsetof(SiteRecord, mailServer) == 940);
static_assert(offsetof(SiteRecord, mailUserName) == 1020);
static_assert(offsetof(SiteRecord, mailPassword) == 1070);
static_assert(offsetof(SiteRecord, mailPortBytes) == 1120);
static_assert(offsetof(SiteRecord, spare) == 1122);

int32_t SiteOffsetHours(const SiteRecord& site);
void SetSiteOffsetHours(SiteRecord& site, int32_t hours);
int16_t SiteMailPort(const SiteRecord& site);
void SetSiteMailPort(SiteRecord& site, int16_t port);

// A record's texts as strings, each ending at its field's first NUL or at
// the field's end.
struct SiteTexts {
    std::string host, user, password, remoteFolder, fileMask, secureFolder, optionText;

    explicit SiteTexts(const SiteRecord& site);

    // The monitor's site line: "host/remote folder/mask", or "host/mask"
    // without a remote folder.
    std::string Line() const;
};

// SiteTexts::Line of these texts.
std::string SiteLine(const char* host, const char* remoteFolder, const char* fileMask);

// True when the record is a deleted one (empty FTP host).
bool SiteIsDeleted(const SiteRecord& site);

// Copies a text into a fixed-width field, always NUL-terminated and padded
// with zero bytes; a longer text is cut at width - 1 bytes. Returns false when
// it had to cut.
bool CopyField(char* field, size_t width, const char* text);
template <size_t N>
bool CopyField(char (&field)[N], const char* text) {
    return CopyField(field, N, text);
}
