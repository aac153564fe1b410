// The record store of the current site and the server clock offset.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "sites/data_files.h"
#include "sites/site_files.h"
#include "sites/site_list.h"
#include "engine/engine.h"
#include "engine/own_acts.h"
#include "engine/remote_listing.h"
#include "keyfile/keyfile.h"
#include "platform/extensions.h"
#include "net/connection.h"
#include "net/timed_transfers.h"
#include "records/record_file.h"
#include "tessil/input.h"

int storeOpenAttempts = 5;
int storeRetryMilliseconds = 1000;

namespace {

constexpr uint32_t kRecordTag = 1;
constexpr int kStoreNodeSize = 512;
constexpr int64_t kHundredNanosecondsPerHour = int64_t(36000000000);
// Records of other names that a lookup passes over at most (see
// GetFileRecord).
constexpr int kMaxLookupSteps = 4096;
// Clocks further apart than this are not a time zone and a skew: the listed
// time is not to be trusted (an impossible date lists as 1601), and an offset
// of years would make every local file look newer than the web's.
constexpr int64_t kMaxOffsetHours = 48;

KfHandle storeHandle = 0;

// A missing or empty store file is created; a file that holds bytes but does
// not open (damaged, or held by another program) is left as it is: it may be
// all that is known of the site, so only the user's reset replaces it.
bool OpenStore()
{
    for (int attempt = 1; !storeHandle; ++attempt) {
        storeHandle = KfOpen(siteStoreFile, nullptr);
        if (storeHandle)
            break;
        if (!SiteStoreExists()) {
            if (KfHandle created = KfCreate(siteStoreFile, nullptr, kStoreNodeSize)) {
                KfClose(created);
                continue;
            }
        }
        if (attempt >= storeOpenAttempts || tessil::shutdownRequested)
            return false;
        tessil::PauseLive(storeRetryMilliseconds);
    }
    return true;
}

int64_t FileTimeValue(const FILETIME& time)
{
    return int64_t((uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

FILETIME FileTimeFrom(int64_t value)
{
    FILETIME time;
    time.dwHighDateTime = DWORD(uint64_t(value) >> 32);
    time.dwLowDateTime = DWORD(uint64_t(value));
    return time;
}

// Hours since 1601 of a time cut down to its hour, in calendar form (as the
// offset is defined: minutes and seconds do not count).
bool WholeHours(const FILETIME& time, int64_t& hours)
{
    SYSTEMTIME calendar;
    if (!FileTimeToSystemTime(&time, &calendar))
        return false;
    calendar.wMinute = calendar.wSecond = calendar.wMilliseconds = 0;
    FILETIME cut;
    if (!SystemTimeToFileTime(&calendar, &cut))
        return false;
    hours = FileTimeValue(cut) / kHundredNanosecondsPerHour;
    return true;
}

} // namespace

// ---- Record texts ---------------------------------------------------------------

int BuildFileRecord(WIN32_FIND_DATAA& entry, bool folderLike, char (&record)[kRecordBufferSize])
{
    if (folderLike)
        entry.nFileSizeHigh = entry.nFileSizeLow = 0;
    const char* name = entry.cFileName;
    const int nameLength = int(strnlen(name, sizeof entry.cFileName));
    char numbers[48 + kModePartLength + sizeof kPartLink];
    int numbersLength =
        std::snprintf(numbers, sizeof numbers, "*%" PRIu32 "-%" PRIu32 "-%" PRIu32 "-%" PRIu32,
                      uint32_t(entry.ftLastWriteTime.dwHighDateTime), uint32_t(entry.ftLastWriteTime.dwLowDateTime),
                      uint32_t(entry.nFileSizeHigh), uint32_t(entry.nFileSizeLow));
    const bool link = !folderLike && entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK;
    const int linkLength = link ? int(sizeof kPartLink - 1) : 0;
    if (!folderLike && (entry.dwReserved1 & kFindDataModeKnown) &&
        nameLength + numbersLength + kModePartLength + linkLength + kMarkRoom <= kMaxRecordText)
        numbersLength += std::snprintf(numbers + numbersLength, sizeof numbers - size_t(numbersLength), "%s%04o",
                                       kPartMode, unsigned(entry.dwReserved1 & kFindDataModeBits));
    if (link) {
        std::memcpy(numbers + numbersLength, kPartLink, sizeof kPartLink);
        numbersLength += linkLength;
    }
    const int length = nameLength + numbersLength;
    if (length + kMarkRoom > kMaxRecordText) {
        record[0] = '\0';
        return -1;
    }
    std::memcpy(record, name, size_t(nameLength));
    std::memcpy(record + nameLength, numbers, size_t(numbersLength) + 1);
    return length;
}

bool ReadRecordFields(const char* record, RecordFields& fields)
{
    fields = {};
    const char* star = std::strrchr(record, '*');
    unsigned long high = 0, low = 0, sizeHigh = 0, sizeLow = 0;
    int used = 0;
    if (!star || std::sscanf(star + 1, "%lu-%lu-%lu-%lu%n", &high, &low, &sizeHigh, &sizeLow, &used) != 4)
        return false;
    fields.time = {DWORD(low), DWORD(high)};
    fields.sizeHigh = DWORD(sizeHigh);
    fields.sizeLow = DWORD(sizeLow);
    const char* at = star + 1 + used;
    constexpr size_t kModeTextLength = sizeof kPartMode - 1;
    if (std::strncmp(at, kPartMode, kModeTextLength) == 0) {
        DWORD mode = 0;
        int digits = 0;
        for (const char* d = at + kModeTextLength; digits < 4 && *d >= '0' && *d <= '7'; ++d, ++digits)
            mode = mode * 8 + DWORD(*d - '0');
        if (digits == 4) {
            fields.modeKnown = true;
            fields.mode = mode;
            at += kModePartLength;
        }
    }
    fields.link = std::strncmp(at, kPartLink, sizeof kPartLink - 1) == 0;
    return true;
}

int RecordNameLength(const char* record)
{
    const char* star = std::strrchr(record, '*');
    return int(star ? star - record : std::strlen(record));
}

bool SameRecordName(const char* a, const char* b)
{
    const int length = RecordNameLength(a);
    return length == RecordNameLength(b) && std::memcmp(a, b, size_t(length)) == 0;
}

bool RecordHasMark(const char* record, const char* mark)
{
    const char* star = std::strrchr(record, '*');
    return std::strstr(star ? star : record, mark) != nullptr;
}

bool RecordTime(const char* record, FILETIME& time)
{
    const char* star = std::strrchr(record, '*');
    unsigned long high = 0, low = 0;
    if (!star || std::sscanf(star + 1, "%lu-%lu-", &high, &low) != 2)
        return false;
    time.dwHighDateTime = DWORD(high);
    time.dwLowDateTime = DWORD(low);
    return true;
}

// ---- The store ------------------------------------------------------------------

int32_t PutFileRecord(const char* newRecord, const char* oldRecord)
{
    if (newRecord && std::strlen(newRecord) > size_t(kMaxRecordText))
        return 0;
    if (!OpenStore())
        return 0;
    if (oldRecord)
        KfDelete(storeHandle, oldRecord, int(std::strlen(oldRecord)), kRecordTag);
    if (newRecord)
        KfInsert(storeHandle, newRecord, int(std::strlen(newRecord)), kRecordTag, 0);
    return 1;
}

int32_t GetFileRecord(const char* record, char* out)
{
    out[0] = '\0';
    if (!OpenStore())
        return -1;
    char key[kRecordBufferSize];
    const int nameLength = RecordNameLength(record);
    if (nameLength + 1 >= int(sizeof key))
        return -1;
    std::memcpy(key, record, size_t(nameLength));
    key[nameLength] = '*';
    int keyLength = nameLength + 1;
    // The records of longer names that begin with this one and a "*" sort
    // between the name and its numbers ("index.php*0*..." before
    // "index.php*3..."). Each step passes every record whose name begins
    // with the same "name*segment*" at once.
    for (int step = 0; step < kMaxLookupSteps; ++step) {
        const int found = KfFind(storeHandle, key, keyLength, nullptr);
        if (found == kKfBeyondEnd)
            break;
        int length = 0;
        if (found < 0 || KfKeyLength(storeHandle, &length) != 1 || length > kMaxRecordText)
            return -1;
        if (KfReadKey(storeHandle, out, kRecordBufferSize) != 1)
            return -1;
        out[length] = '\0';
        if (length <= nameLength || std::memcmp(out, record, size_t(nameLength)) != 0 || out[nameLength] != '*')
            break; // past every record that begins with the name
        const char* star = static_cast<const char*>(
            std::memchr(out + nameLength + 1, '*', size_t(length - nameLength - 1)));
        if (!star)
            return 1;
        // The first key after every one that begins "name*segment*".
        keyLength = int(star - out) + 1;
        std::memcpy(key, out, size_t(keyLength));
        key[keyLength - 1] = '*' + 1;
    }
    out[0] = '\0';
    return 0;
}

bool SiteStoreExists()
{
    char first;
    return ReadRecord(siteStoreFile, &first, 1, 1) == 1;
}

void CloseFileRecords()
{
    if (storeHandle)
        KfClose(storeHandle);
    storeHandle = 0;
}

// ---- Server time ----------------------------------------------------------------

void ServerTimeToLocal(WIN32_FIND_DATAA& entry)
{
    const int64_t shift = int64_t(SiteOffsetHours(currentSite)) * kHundredNanosecondsPerHour;
    entry.ftLastWriteTime = FileTimeFrom(FileTimeValue(entry.ftLastWriteTime) - shift);
}

void MeasureServerClockOffset()
{
    if (!ftpConnection)
        return;
    // The probe changes the folder's time, which the site whose remote
    // folder lists this one would otherwise report.
    const std::string host(FieldText(currentSite.ftpHost));
    const std::string folder(FieldText(currentSite.remoteFolder));
    // A probe that did not arrive must not be measured by a stale copy a
    // stopped run left on the server; a part of one is removed.
    if (!UploadFile(ftpConnection, kHelpText, engine::kScratchProbe)) {
        if (ftpConnection && FtpDeleteFileA(ftpConnection, engine::kScratchProbe))
            engine::NoteOwnAct(host.c_str(), folder.c_str());
        return;
    }
    engine::NoteOwnAct(host.c_str(), folder.c_str());
    FILETIME now, localNow;
    GetSystemTimeAsFileTime(&now);
    FileTimeToLocalFileTime(&now, &localNow);
    WIN32_FIND_DATAA probe;
    HINTERNET listing =
        ftpConnection ? FtpFindFirstFileA(ftpConnection, engine::kScratchProbe, &probe, INTERNET_FLAG_NO_CACHE_WRITE, 0)
                      : nullptr;
    if (listing) {
        InternetCloseHandle(listing);
        int64_t serverHours = 0, localHours = 0;
        if (WholeHours(probe.ftLastWriteTime, serverHours) && WholeHours(localNow, localHours) &&
            serverHours - localHours <= kMaxOffsetHours && localHours - serverHours <= kMaxOffsetHours) {
            SetSiteOffsetHours(currentSite, int32_t(serverHours - localHours));
            currentSite.offsetMeasured = 1;
            if (currentRecordNumber > 0)
                WriteSiteRecord(siteListPath, currentSite, currentRecordNumber);
        }
    }
    // Left behind only when the connection died; the web site check removes it.
    if (ftpConnection)
        FtpDeleteFileA(ftpConnection, engine::kScratchProbe);
}
