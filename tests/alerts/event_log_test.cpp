// The event log on disk, the lines and colours of the seventeen event types,
// and the page of 25 events drawn on the monitor screen.
#include "alerts_fixture.h"

#include <cstring>

#include "alerts/event_lines.h"
#include "alerts/show_events.h"
#include "sites/site_files.h"
#include "sites/site_list.h"

namespace alerts_test {
namespace {

using ::testing::TestWithParam;
using tessil_test::hostLog;

TEST_F(AlertsTest, RecordsAreStoredByteForByte)
{
    WIN32_FIND_DATAA entry = Entry("index.html", 0x20);
    entry.ftLastWriteTime = {0x11223344, 0x55667788};
    entry.nFileSizeLow = 1234;
    std::tm stamp = {};
    stamp.tm_sec = 59, stamp.tm_min = 5, stamp.tm_hour = 9, stamp.tm_mday = 7, stamp.tm_mon = 2;
    stamp.tm_year = 126, stamp.tm_wday = 6, stamp.tm_yday = 65, stamp.tm_isdst = 1;
    LogEvent(2, entry, 0x101, &stamp, 0x302);
    Log(15, "", 0);

    std::string bytes = ReadWholeFile(folder.path() / "site.msg");
    ASSERT_EQ(bytes.size(), 2u * kEventRecordSize);
    const auto* r = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint8_t head[11] = {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 2, 0x01, 0x02};
    EXPECT_EQ(std::memcmp(r, head, sizeof head), 0);
    EXPECT_EQ(std::memcmp(r + 11, &entry, kEventFindDataSize), 0);
    const int32_t fields[9] = {59, 5, 9, 7, 2, 126, 6, 65, 1};
    for (int i = 0; i < 9; ++i) {
        const uint8_t* p = r + 329 + 4 * i;
        EXPECT_EQ(int32_t(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24), fields[i]) << "stamp field " << i;
    }
    // A connection event stores an empty entry.
    for (int i = 11; i < 329; ++i)
        ASSERT_EQ(r[kEventRecordSize + i], 0) << "byte " << i;
    EXPECT_EQ(pendingEvents, 2);

    EventRecord back;
    ASSERT_EQ(ReadEventRecord(back, 1), 1);
    EXPECT_EQ(back.type, 15);
    ASSERT_EQ(ReadEventRecord(back, 0), 1);
    EXPECT_EQ(std::memcmp(&back, r, kEventRecordSize), 0);
    EXPECT_EQ(ReadEventRecord(back, 0), -1);
}

struct LineCase {
    uint8_t type;
    uint32_t attributes;
    int changed, detail;
    const char* name;
    const char* line; // nullptr: no line of its own
    uint8_t colour;
};

class EventLines : public TestWithParam<LineCase> {};

TEST_P(EventLines, FormatAndColour)
{
    const LineCase& c = GetParam();
    EventRecord r;
    std::memset(&r, 0, sizeof r);
    r.type = c.type;
    r.changed = uint8_t(c.changed);
    r.detail = uint8_t(c.detail);
    WIN32_FIND_DATAA entry = Entry(c.name, c.attributes);
    std::memcpy(r.findData, &entry, kEventFindDataSize);
    const int32_t stamp[9] = {0, 5, 9, 7, 2, 126, 0, 0, 0};
    std::memcpy(r.stamp, stamp, sizeof stamp);
    char line[kEventLineSize];
    bool has = FormatEventLine(r, line, sizeof line);
    if (!c.line) {
        EXPECT_FALSE(has);
        EXPECT_STREQ(line, "");
        return;
    }
    ASSERT_TRUE(has);
    EXPECT_EQ(std::string(line), std::string("03-07 09:05 ") + c.line);
    EXPECT_EQ(EventLineColour(line), c.colour);
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, EventLines,
    ::testing::Values(
        LineCase{1, 0x10, 0, 0, "images", "FLDR CHNG (SW  ) images", 11},
        LineCase{1, 0x12, 1, 0, "hidden", "FLDR CHNG (SW  ) hidden", 11},
        LineCase{1, 0x30, 0, 0, "archive", "FLDR CHNG (SW  ) archive", 11},
        LineCase{1, 0x10, 0, 0, ".", nullptr, 0},
        LineCase{1, 0x10, 0, 0, "..", nullptr, 0},
        LineCase{1, 0x10, 0, 0, ".ab", "FLDR CHNG (SW  ) .ab", 11},
        // Only the directory bit makes a folder entry: read-only ones too.
        LineCase{1, 0x11, 1, 0, "ro", "FLDR CHNG (SW  ) ro", 11},
        LineCase{1, 0x01, 1, 1, "ro.html", "FILE RELO (SW  ) ro.html", 3},
        // What the check found beyond a change, whatever the entry's word.
        LineCase{1, 0x80, 0, 3, "index.html", "PUTB FAIL (SW  ) index.html", 4},
        LineCase{1, 0x480, 1, 4, "index.html", "LINK RELO (SW  ) index.html", 3},
        LineCase{1, 0x480, 0, 4, "index.html", "LINK FND  (SW  ) index.html", 7},
        LineCase{1, 0x80, 1, 5, "index.html", "MODE RELO (SW  ) index.html", 3},
        LineCase{1, 0x80, 0, 5, "index.html", "MODE CHNG (SW  ) index.html", 7},
        LineCase{1, 0, 0, 6, "+60 MIN", "CLCK SHFT (SW  ) +60 MIN", 11},
        LineCase{1, 0, 0, 7, "public_html", "LIST TRNC (SW  ) public_html", 4},
        LineCase{1, 0x80, 1, 0, "index.html", "FILE RELO (SW  ) index.html", 3},
        LineCase{1, 0x20, 0, 0, "shell.php", "FILE XFND (SW  ) shell.php", 7},
        LineCase{2, 0x20, 1, 2, "new.html", "NEWF UPLD (CWU ) new.html", 3},
        LineCase{2, 0x20, 1, 1, "old.html", "FILE CHUP (CWU ) old.html", 3},
        LineCase{2, 0x20, 0, 2, "old.html", nullptr, 0},
        LineCase{2, 0x10, 1, 2, "dir", nullptr, 0},
        LineCase{3, 0, 0, 0, "", "COMM STAT (SW  ) UNABLE TO CONNECT TO WEBSERVER", 4},
        LineCase{4, 0, 0, 0, "", "COMM STAT (SW  ) CONNECTION RE-ESTABLISHED", 5},
        LineCase{5, 0, 0, 0, "", "COMM STAT (CWU ) UNABLE TO CONNECT TO WEBSERVER", 4},
        LineCase{6, 0, 0, 0, "", "COMM STAT (CWU ) CONNECTION RE-ESTABLISHED", 5},
        LineCase{7, 0, 0, 0, "", "COMM STAT (MFS ) UNABLE TO CONNECT TO WEBSERVER", 4},
        LineCase{8, 0, 0, 0, "", "COMM STAT (MFS ) CONNECTION RE-ESTABLISHED", 5},
        LineCase{9, 0x20, 0, 0, "gone.html", "FILE DEL  (STAT) gone.html", 3},
        LineCase{9, 0x20, 0x20, 1, "kept.php", "FILE NDEL (STAT) kept.php", 4},
        LineCase{10, 0x20, 0, 0, "down.html", "FILE DWNL (DYN ) down.html", 3},
        LineCase{11, 0, 0, 0, "", "COMM STAT (BLNE) UNABLE TO CONNECT TO WEBSERVER", 4},
        LineCase{12, 0, 0, 0, "", "COMM STAT (BLNE) CONNECTION RE-ESTABLISHED", 5},
        LineCase{13, 0, 0, 0, "", "COMM STAT (MFW ) UNABLE TO CONNECT TO WEBSERVER", 4},
        LineCase{14, 0, 0, 0, "", "COMM STAT (MFW ) CONNECTION RE-ESTABLISHED", 5},
        LineCase{15, 0, 0, 0, "", "COMM STAT (OPEN) UNABLE TO CONNECT TO INTERNET", 4},
        LineCase{16, 0, 0, 0, "", "COMM STAT (OPEN) CONNECTION TO INTERNET RE-ESTABLISHED", 5},
        LineCase{17, 0x10, 0, 0, "olddir", "FLDR DEL  (STAT) olddir", 3},
        LineCase{17, 0x11, 0x11, 1, "0", "FLDR NDEL (STAT) 0", 4},
        // Why a connection failed, when known, follows the text it explains.
        LineCase{13, 0, 0, 0, "certificate expired",
                 "COMM STAT (MFW ) UNABLE TO CONNECT TO WEBSERVER: certificate expired", 4},
        LineCase{14, 0, 0, 0, "stray", "COMM STAT (MFW ) CONNECTION RE-ESTABLISHED", 5},
        LineCase{0, 0x20, 1, 0, "x", nullptr, 0},
        LineCase{18, 0x20, 1, 0, "x", nullptr, 0},
        // A name from a web server may hold anything: one event stays one line.
        LineCase{9, 0x20, 0, 0, "a\r\n.\r\nQUIT\x7f", "FILE DEL  (STAT) a??.??QUIT?", 3}));

TEST(EventLineColour, FollowsTheTextNotTheType)
{
    EXPECT_EQ(EventLineColour("FILE DEL  (STAT) FLDR CHNG"), 11);
    EXPECT_EQ(EventLineColour("FILE XFND (SW  ) COMM STAT"), 5);
    EXPECT_EQ(EventLineColour(""), 3);
}

TEST_F(AlertsTest, AFullNameIsShownWhole)
{
    std::string name(259, 'n');
    Log(10, name.c_str());
    EventRecord r;
    ASSERT_EQ(ReadEventRecord(r, 1), 1);
    char line[kEventLineSize];
    ASSERT_TRUE(FormatEventLine(r, line, sizeof line));
    EXPECT_EQ(std::string(line), "03-07 09:05 FILE DWNL (DYN ) " + name);
    // A stored name without its NUL ends at the field's end.
    std::memset(r.findData + 44, 'x', 260);
    ASSERT_TRUE(FormatEventLine(r, line, sizeof line));
    EXPECT_EQ(std::strlen(line), 29u + 259u);
}

TEST_F(AlertsTest, PageOfThreeEventsBlanksTheRestAndTheSiteLine)
{
    MarkLines();
    Log(3, "", 0, 0, 0, 3, 7, 9, 1);
    Log(9, "a.html", 0x20, 0, 0, 3, 7, 9, 2);
    Log(1, "b.php", 0x20, 0, 0, 3, 7, 9, 3);
    EXPECT_EQ(Line(1), "old 1");
    EXPECT_EQ(Line(2), "03-07 09:03 FILE XFND (SW  ) b.php");
    EXPECT_EQ(Line(3), "03-07 09:02 FILE DEL  (STAT) a.html");
    EXPECT_EQ(Line(4), "03-07 09:01 COMM STAT (SW  ) UNABLE TO CONNECT TO WEBSERVER");
    EXPECT_EQ(LineColour(2), 7);
    EXPECT_EQ(LineColour(3), 3);
    EXPECT_EQ(LineColour(4), 4);
    for (int n = 5; n <= 27; ++n)
        EXPECT_EQ(Line(n), "") << "line " << n;
}

TEST_F(AlertsTest, PagesCountFromTheNewest)
{
    LogNumbered(30);
    eventPage = 2;
    MarkLines();
    ShowEvents(kDrawEvents);
    for (int n = 2; n <= 6; ++n)
        EXPECT_EQ(Line(n), "03-07 09:05 FILE DEL  (STAT) f" + std::to_string(7 - n)) << "line " << n;
    EXPECT_EQ(Line(7), "");
    eventPage = 1;
    MarkLines();
    ShowEvents(kDrawEvents);
    EXPECT_EQ(Line(2), "03-07 09:05 FILE DEL  (STAT) f30");
    EXPECT_EQ(Line(26), "03-07 09:05 FILE DEL  (STAT) f6");
    EXPECT_EQ(Line(27), "old 27"); // a full page leaves the site line alone
    // A page past the oldest event keeps what the screen showed.
    eventPage = 3;
    MarkLines();
    ShowEvents(kDrawEvents);
    EXPECT_EQ(Line(2), "old 2");
}

TEST_F(AlertsTest, NoLogKeepsThePageAndCreatesAnEmptyLog)
{
    MarkLines();
    pendingEvents = 0;
    currentSite.emailAlerts = 1;
    ShowEvents(kMailEvents);
    EXPECT_EQ(Line(2), "old 2");
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "site.msg"));
    EXPECT_EQ(std::filesystem::file_size(folder.path() / "site.msg"), 0u);
    EXPECT_FALSE(ProgramFileExists("\\kestrovane\\message.txt"));
}

TEST_F(AlertsTest, ATornLastRecordShiftsNothing)
{
    LogNumbered(3);
    std::string bytes = ReadWholeFile(folder.path() / "site.msg");
    WriteWholeFile(folder.path() / "site.msg", bytes + std::string(100, '\xEE'));
    ShowEvents(kDrawEvents);
    EXPECT_EQ(Line(2), "03-07 09:05 FILE DEL  (STAT) f3");
    // The next event replaces the torn bytes.
    Log(9, "f4");
    EXPECT_EQ(std::filesystem::file_size(folder.path() / "site.msg"), 4u * kEventRecordSize);
    EXPECT_EQ(Line(2), "03-07 09:05 FILE DEL  (STAT) f4");
    EXPECT_EQ(Line(5), "03-07 09:05 FILE DEL  (STAT) f1");
}

TEST_F(AlertsTest, AnEventThatCannotBeStoredStillCounts)
{
    std::snprintf(siteEventLogFile, sizeof siteEventLogFile, "no-such-folder\\site.msg");
    Log(15);
    EXPECT_EQ(pendingEvents, 1);
}

TEST_F(AlertsTest, AlertsOffStillResetTheCount)
{
    LogNumbered(3);
    currentSite.emailAlerts = 0;
    ShowEvents(kMailEvents);
    EXPECT_EQ(pendingEvents, 0);
    EXPECT_EQ(alertedEvents, 3);
    EXPECT_FALSE(ProgramFileExists("\\kestrovane\\message.txt"));
    EXPECT_EQ(Line(2), "03-07 09:05 FILE DEL  (STAT) f3");
    EXPECT_EQ(hostLog.waitedTicks, 0);
}

TEST_F(AlertsTest, AlertedEventsKeepsTheLowByteOfTheCount)
{
    LogNumbered(3);
    pendingEvents = 0x1FF;
    ShowEvents(kMailEvents);
    EXPECT_EQ(alertedEvents, 0xFF);
    pendingEvents = 0x100;
    ShowEvents(kMailEvents);
    EXPECT_EQ(alertedEvents, 0);
}

} // namespace
} // namespace alerts_test
