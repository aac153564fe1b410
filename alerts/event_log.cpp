#include "alerts/event_log.h"

#include <cstdio>
#include <cstring>

#include "alerts/show_events.h"
#include "sites/site_files.h"
#include "records/record_file.h"

int32_t pendingEvents = 0;
uint8_t alertedEvents = 0;
uint16_t eventPage = 1;
EventRecord eventRecord;

namespace {

HANDLE eventLog = INVALID_HANDLE_VALUE;
int32_t lastIndex = 0; // of the record last read, counted from the newest (1)

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// Whole records only: a torn last record (a crash during an append) must not
// shift every record read back from the end.
int64_t WholeRecordBytes(HANDLE file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return 0;
    return size.QuadPart - size.QuadPart % kEventRecordSize;
}

} // namespace

uint32_t EventRecord::attributes() const { return Get32(findData); }

void EventRecord::fileName(char* out, size_t outSize) const
{
    std::string_view name = FieldText(findData + offsetof(WIN32_FIND_DATAA, cFileName), MAX_PATH - 1);
    size_t n = name.size() < outSize ? name.size() : outSize - 1;
    std::memcpy(out, name.data(), n);
    out[n] = '\0';
}

int32_t EventRecord::stampField(int i) const { return int32_t(Get32(stamp + 4 * i)); }

EventRecord MakeEventRecord(uint8_t type, const WIN32_FIND_DATAA& findData, int32_t changed, const std::tm* stamp,
                            int32_t detail)
{
    EventRecord record;
    std::memset(&record, 0, sizeof record);
    Put32(record.writeTimeHigh, findData.ftLastWriteTime.dwHighDateTime);
    Put32(record.writeTimeLow, findData.ftLastWriteTime.dwLowDateTime);
    record.type = type;
    record.changed = uint8_t(changed);
    record.detail = uint8_t(detail);
    std::memcpy(record.findData, &findData, kEventFindDataSize);
    if (stamp) {
        const int fields[9] = {stamp->tm_sec,  stamp->tm_min,  stamp->tm_hour,
                               stamp->tm_mday, stamp->tm_mon,  stamp->tm_year,
                               stamp->tm_wday, stamp->tm_yday, stamp->tm_isdst};
        for (int i = 0; i < 9; ++i)
            Put32(record.stamp + 4 * i, uint32_t(fields[i]));
    }
    return record;
}

namespace {
// Open EventPageBatch objects, and whether an event was logged under them.
int batchDepth = 0;
bool batchLogged = false;
} // namespace

void LogEvent(uint8_t type, WIN32_FIND_DATAA findData, int32_t changed, const std::tm* stamp,
              int32_t detail)
{
    ++pendingEvents;
    AppendEventRecord(MakeEventRecord(type, findData, changed, stamp, detail));
    if (batchDepth > 0)
        batchLogged = true;
    else
        ShowEvents(kDrawEvents);
}

std::tm LocalNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm stamp{};
    if (const std::tm* local = std::localtime(&now))
        stamp = *local;
    return stamp;
}

void LogConnectionEvent(uint8_t type, const std::tm& stamp, const char* reason)
{
    WIN32_FIND_DATAA entry;
    std::memset(&entry, 0, sizeof entry);
    std::snprintf(entry.cFileName, sizeof entry.cFileName, "%s", reason);
    LogEvent(type, entry, 0, &stamp, 0);
}

EventPageBatch::EventPageBatch()
{
    ++batchDepth;
}

EventPageBatch::~EventPageBatch()
{
    if (--batchDepth == 0 && batchLogged) {
        batchLogged = false;
        ShowEvents(kDrawEvents);
    }
}

int AppendEventRecord(const EventRecord& record)
{
    CloseEventLog();
    HANDLE file = CreateFileA(siteEventLogFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    LARGE_INTEGER end;
    end.QuadPart = WholeRecordBytes(file);
    DWORD written = 0;
    if (SetFilePointerEx(file, end, nullptr, FILE_BEGIN))
        WriteFile(file, &record, kEventRecordSize, &written, nullptr);
    CloseHandle(file);
    return 1;
}

int ReadEventRecord(EventRecord& buffer, int first)
{
    if (eventLog == INVALID_HANDLE_VALUE) {
        eventLog = CreateFileA(siteEventLogFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (eventLog == INVALID_HANDLE_VALUE) {
            HANDLE created = CreateFileA(siteEventLogFile, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (created != INVALID_HANDLE_VALUE)
                CloseHandle(created);
            return -1;
        }
    }
    lastIndex = first == 1 ? (int32_t(eventPage) - 1) * kEventsPerPage + 1 : lastIndex + 1;
    int64_t offset = WholeRecordBytes(eventLog) - int64_t(lastIndex) * kEventRecordSize;
    if (lastIndex < 1 || offset < 0)
        return -1;
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD got = 0;
    if (!SetFilePointerEx(eventLog, at, nullptr, FILE_BEGIN) ||
        !ReadFile(eventLog, &buffer, kEventRecordSize, &got, nullptr) || got != kEventRecordSize)
        return -1;
    return 1;
}

void CloseEventLog()
{
    if (eventLog != INVALID_HANDLE_VALUE)
        CloseHandle(eventLog);
    eventLog = INVALID_HANDLE_VALUE;
}
