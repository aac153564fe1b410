// The event log: one file of fixed 365-byte records per site (the site's
// ".msg" name, siteEventLogFile), oldest first, no header. Records are only
// ever appended; a reset deletes the whole file.
//
// EventRecord, little-endian, packed:
//
//   Offset  Width  Field
//   ------  -----  -----------------------------------------------------------
//        0      4  last-write time of the entry, dwHighDateTime
//        4      4  the same, dwLowDateTime
//        8      1  event type 1..17 (EventType below)
//        9      1  changed: file events, non-zero when the act on the file
//                  succeeded
//       10      1  detail: type 1, what the web site check found (kDetail*
//                  below); type 2, kDetailNewFile = the file was new; types 9
//                  and 17, kDetailNotDeleted
//       11    318  the directory entry: WIN32_FIND_DATAA without its trailing
//                  padding (attributes +0, times +4, sizes +28, cFileName +44,
//                  cAlternateFileName +304); zero for connection events
//      329     36  the event's local time: nine 32-bit integers as struct tm
//                  (seconds, minutes, hours, day, month 0..11, years since
//                  1900, weekday, day of year, daylight flag)
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/win32.h"

// Event types (byte 8 of a record). A pass that loses and regains its
// server logs its own pair; the lines they show are in event_lines.h.
enum EventType : uint8_t {
    kEventSiteEntry = 1,         // web site check: a file put back or found altered, a folder changed
    kEventCleanUpload = 2,       // secure server check: a file of the clean copy uploaded
    kEventSiteCheckLost = 3,     // web site check
    kEventSiteCheckBack = 4,
    kEventUploadLost = 5,        // secure server check, restore, remote folder deletion
    kEventUploadBack = 6,
    kEventRestoreLost = 7,       // restore
    kEventRestoreBack = 8,
    kEventFileDeleted = 9,       // restore: a web file deleted
    kEventFileDownloaded = 10,   // mirror: a web file downloaded
    kEventBaselineLost = 11,     // baseline
    kEventBaselineBack = 12,
    kEventMirrorLost = 13,       // mirror
    kEventMirrorBack = 14,
    kEventInternetLost = 15,     // FTP connection: the outage probe failed
    kEventInternetBack = 16,
    kEventFolderDeleted = 17,    // restore: a web folder deleted
};
constexpr uint8_t kLastEventType = kEventFolderDeleted;
// The detail byte of a kEventCleanUpload: the file was new to the site.
constexpr uint8_t kDetailNewFile = 2;
// The detail byte of a kEventSiteEntry. Readers that know only 1 and 2 show
// the others as a file put back or found altered, which they still are.
enum SiteEntryDetail : uint8_t {
    kDetailChanged = 1,       // the entry differs from its record
    kDetailUnknown = 2,       // no record of this name
    kDetailPutBackFailed = 3, // put back, but the listing afterwards disagrees
    kDetailLink = 4,          // a link where the record has a file
    kDetailModeChanged = 5,   // only the permission bits differ
    kDetailClockShift = 6,    // every time moved alike; the name says by how much
    kDetailListTruncated = 7, // the server cut the listing short; the name is the folder
};
// The detail byte of a kEventFileDeleted or kEventFolderDeleted: the entry
// should have been deleted and could not be.
constexpr uint8_t kDetailNotDeleted = 1;

constexpr int kEventRecordSize = 365;
constexpr int kEventFindDataSize = 318;
constexpr int kEventsPerPage = 25;

struct EventRecord {
    uint8_t writeTimeHigh[4];
    uint8_t writeTimeLow[4];
    uint8_t type;
    uint8_t changed;
    uint8_t detail;
    uint8_t findData[kEventFindDataSize];
    uint8_t stamp[36];

    uint32_t attributes() const;
    // The entry's name, at most 259 characters (the field need not hold a NUL).
    void fileName(char* out, size_t outSize) const;
    // Stamp field i of the nine (0 = seconds ... 4 = month 0..11 ... 8).
    int32_t stampField(int i) const;
};

static_assert(sizeof(EventRecord) == kEventRecordSize);
static_assert(alignof(EventRecord) == 1);
static_assert(offsetof(EventRecord, writeTimeHigh) == 0);
static_assert(offsetof(EventRecord, writeTimeLow) == 4);
static_assert(offsetof(EventRecord, type) == 8);
static_assert(offsetof(EventRecord, changed) == 9);
static_assert(offsetof(EventRecord, detail) == 10);
static_assert(offsetof(EventRecord, findData) == 11);
static_assert(offsetof(EventRecord, stamp) == 329);
// The stored entry is the find data up to the end of its short name.
static_assert(offsetof(WIN32_FIND_DATAA, cFileName) == 44);
static_assert(offsetof(WIN32_FIND_DATAA, cAlternateFileName) + 14 == kEventFindDataSize);
static_assert(sizeof(WIN32_FIND_DATAA) >= kEventFindDataSize);

// Events logged since the last ShowEvents with mode 0.
extern int32_t pendingEvents;
// The low 8 bits of pendingEvents as the last mode 0 found it: non-zero after
// a visit that logged events (the driver then runs the site's event program).
extern uint8_t alertedEvents;
// Which page of 25 events the monitor screen shows; 1 holds the newest.
extern uint16_t eventPage;
// The record last read by ReadEventRecord.
extern EventRecord eventRecord;

// Records one event of the current site: counts it as pending, appends it to
// the site's log and redraws the page. `stamp` is the event's local time.
void LogEvent(uint8_t type, WIN32_FIND_DATAA findData, int32_t changed, const std::tm* stamp,
              int32_t detail);

// The local time now, for event stamps.
std::tm LocalNow();

// A connection event (lost, regained, unable to connect) with an all-zero
// entry; a `reason` (why the server could not be reached, e.g. "certificate
// expired") goes into the entry's name, where the event's line shows it
// (alerts/event_lines.h).
void LogConnectionEvent(uint8_t type, const std::tm& stamp, const char* reason = "");

// While one lives, LogEvent does not redraw the page after each event; when
// the outermost one ends, the page is redrawn once if events were logged
// meanwhile. A pass that may log hundreds of events holds one while it works:
// a redraw after each took most of such a pass's time.
class EventPageBatch {
public:
    EventPageBatch();
    ~EventPageBatch();
    EventPageBatch(const EventPageBatch&) = delete;
    EventPageBatch& operator=(const EventPageBatch&) = delete;
};

// The record of one event: the entry's write time, type, changed and detail
// (their low bytes), the entry's first 318 bytes and the stamp.
EventRecord MakeEventRecord(uint8_t type, const WIN32_FIND_DATAA& findData, int32_t changed, const std::tm* stamp,
                            int32_t detail);

// Appends one record to the site's event log, closing the log first if it is
// open. A log that cannot be opened is skipped silently. Returns 1.
int AppendEventRecord(const EventRecord& record);

// Reads one record of the site's log into `buffer`, opening the log (and
// creating it empty when missing) if it is not open; it stays open. first = 1
// reads record (eventPage - 1) * 25 + 1 counted from the newest, otherwise the
// next older one. Returns 1, or -1 past the oldest record or on a short read.
int ReadEventRecord(EventRecord& buffer, int first);

// Closes the event log if it is open.
void CloseEventLog();
