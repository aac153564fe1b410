#include "alerts_fixture.h"

#include <cstdio>
#include <cstring>

#include "alerts/show_events.h"
#include "sites/site_files.h"
#include "sites/site_list.h"
#include "tessil/prompts.h"

namespace alerts_test {

WIN32_FIND_DATAA Entry(const char* name, uint32_t attributes)
{
    WIN32_FIND_DATAA entry;
    std::memset(&entry, 0, sizeof entry);
    entry.dwFileAttributes = attributes;
    std::snprintf(entry.cFileName, sizeof entry.cFileName, "%s", name);
    return entry;
}

void AlertsTest::SetUp()
{
    TessilTest::SetUp();
    for (int line = 1; line <= 27; ++line)
        AddTextField(1, 80, 16, 8 + 16 * line);
    std::snprintf(siteEventLogFile, sizeof siteEventLogFile, "site.msg");
    std::memset(&currentSite, 0, sizeof currentSite);
    CopyField(currentSite.ftpHost, "ftp.example.com");
    CopyField(currentSite.fileMask, "*.*");
    pendingEvents = 0;
    alertedEvents = 0;
    eventPage = 1;
    CreateDirectoryA("\\kestrovane", nullptr);
}

void AlertsTest::TearDown()
{
    CloseEventLog();
    DeleteFileA("\\kestrovane\\message.txt");
    alertRetrySeconds = 60;
    TessilTest::TearDown();
}

std::string AlertsTest::Line(int n) const
{
    char text[200];
    tessil::GetFieldText(int16_t(n - 1), text, sizeof text, 0);
    std::string s = text;
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

uint8_t AlertsTest::LineColour(int n) const { return tessil::fieldTable[n - 1][1] & 0x7F; }

std::string ReadProgramFile(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool ProgramFileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void AlertsTest::MarkLines()
{
    for (int n = 1; n <= 27; ++n) {
        char text[16];
        std::snprintf(text, sizeof text, "old %d", n);
        tessil::SetFieldText(int16_t(n - 1), text, ' ');
    }
}

void AlertsTest::Log(uint8_t type, const char* name, uint32_t attributes, int changed, int detail,
                     int month, int day, int hour, int minute)
{
    std::tm stamp = {};
    stamp.tm_mon = month - 1;
    stamp.tm_mday = day;
    stamp.tm_hour = hour;
    stamp.tm_min = minute;
    stamp.tm_year = 126;
    LogEvent(type, Entry(name, attributes), changed, &stamp, detail);
}

void AlertsTest::LogNumbered(int n)
{
    for (int i = 1; i <= n; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%d", i);
        Log(9, name);
    }
}

} // namespace alerts_test
