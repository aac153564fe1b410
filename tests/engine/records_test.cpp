// Record texts, the record store and server times, on a fresh data folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sites/site_list.h"
#include "engine/entry_kind.h"
#include "platform/extensions.h"
#include "store_keys.h"
#include "support/temp_folder.h"

namespace engine_test {
namespace {

WIN32_FIND_DATAA Entry(const char* name, DWORD sizeHigh, DWORD sizeLow)
{
    WIN32_FIND_DATAA entry;
    std::memset(&entry, 0, sizeof entry);
    std::snprintf(entry.cFileName, sizeof entry.cFileName, "%s", name);
    entry.ftLastWriteTime = {5, 30000000};
    entry.nFileSizeHigh = sizeHigh;
    entry.nFileSizeLow = sizeLow;
    return entry;
}

TEST(RecordText, FormsAndTheLengthLimit)
{
    struct Case {
        std::string name;
        bool folderLike;
        DWORD sizeHigh, sizeLow;
        std::string expected; // empty: refused
    };
    // A plain record must leave room for the marks a check may append.
    const std::string longest(kMaxRecordText - kMarkRoom - int(sizeof "*30000000-5-0-1234" - 1), 'n');
    const Case cases[] = {
        {"images", true, 0, 77, "images*30000000-5-0-0"},
        {"index.html", false, 0, 1234, "index.html*30000000-5-0-1234"},
        {"big.iso", false, 1, 2, "big.iso*30000000-5-1-2"},
        {longest, false, 0, 1234, longest + "*30000000-5-0-1234"},
        {longest + "n", false, 0, 1234, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WIN32_FIND_DATAA entry = Entry(c.name.c_str(), c.sizeHigh, c.sizeLow);
        char record[kRecordBufferSize];
        std::memset(record, 'x', sizeof record);
        EXPECT_EQ(BuildFileRecord(entry, c.folderLike, record), c.expected.empty() ? -1 : int(c.expected.size()));
        EXPECT_EQ(std::string(record), c.expected);
        if (c.folderLike) { // the event log gets the entry without a size
            EXPECT_EQ(entry.nFileSizeLow, 0u);
        }
    }
}

// A file's mode and link parts: written where the listing shows them, read
// back with the marks after them, and absent from older records.
TEST(RecordText, ModeAndLinkParts)
{
    struct Case {
        DWORD mode, reparseTag;
        bool folderLike;
        std::string expected;
    };
    const Case cases[] = {
        {kFindDataModeKnown | 0644, 0, false, "f*30000000-5-0-9-mode 0644"},
        {kFindDataModeKnown | 04755, IO_REPARSE_TAG_SYMLINK, false, "f*30000000-5-0-9-mode 4755-link"},
        {0, IO_REPARSE_TAG_SYMLINK, false, "f*30000000-5-0-9-link"},
        {kFindDataModeKnown | 0755, 0, true, "f*30000000-5-0-0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        WIN32_FIND_DATAA entry = Entry("f", 0, 9);
        entry.dwReserved1 = c.mode;
        entry.dwReserved0 = c.reparseTag;
        char record[kRecordBufferSize];
        ASSERT_EQ(BuildFileRecord(entry, c.folderLike, record), int(c.expected.size()));
        EXPECT_EQ(std::string(record), c.expected);
        RecordFields fields;
        ASSERT_TRUE(ReadRecordFields((c.expected + kMarkUpdatedBySw).c_str(), fields));
        EXPECT_EQ(fields.modeKnown, !c.folderLike && c.mode != 0);
        EXPECT_EQ(fields.mode, fields.modeKnown ? c.mode & kFindDataModeBits : 0u);
        EXPECT_EQ(fields.link, c.reparseTag != 0);
        EXPECT_EQ(fields.sizeLow, c.folderLike ? 0u : 9u);
    }
    // A name long enough to fill the record keeps its record, without the mode.
    const std::string longest(kMaxRecordText - kMarkRoom - int(sizeof "*30000000-5-0-9" - 1), 'n');
    WIN32_FIND_DATAA entry = Entry(longest.c_str(), 0, 9);
    entry.dwReserved1 = kFindDataModeKnown | 0644;
    char record[kRecordBufferSize];
    EXPECT_EQ(std::string(record, size_t(std::max(0, BuildFileRecord(entry, false, record)))),
              longest + "*30000000-5-0-9");
    // Older records and a name holding a part's text.
    RecordFields fields;
    ASSERT_TRUE(ReadRecordFields("x-mode 0777-link*1-2-0-3-file init", fields));
    EXPECT_FALSE(fields.modeKnown);
    EXPECT_FALSE(fields.link);
    EXPECT_EQ(fields.time.dwHighDateTime, 1u);
    EXPECT_EQ(fields.time.dwLowDateTime, 2u);
    EXPECT_FALSE(ReadRecordFields("x*1-2", fields));
}

TEST(RecordText, NamesMarksAndTimes)
{
    struct Case {
        const char* record;
        int nameLength;
        const char* mark;
        bool hasMark;
    };
    const Case cases[] = {
        {"x*1-2-0-3-file init", 1, kMarkInit, true},
        {"x-file init.php*1-2-0-3", 15, kMarkInit, false},
        {"a*b.htm*1-2-0-3-filtered by ksv", 7, kMarkFiltered, true},
        {"a*b.htm*1-2-0-3-file updated by sw", 7, kFamilyUpdated, true},
        {"p*1-2-0-3-file updated by cwu-file checked by cwu-mfw flag", 1, kFamilyChecked, true},
        {"p*1-2-0-3-file updated by cwu", 1, kFamilyChecked, false},
        {"no-star", 7, kMarkInit, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        EXPECT_EQ(RecordNameLength(c.record), c.nameLength);
        EXPECT_EQ(RecordHasMark(c.record, c.mark), c.hasMark);
    }
    FILETIME time{};
    ASSERT_TRUE(RecordTime("a*b.htm*30000000-5-0-3-file init", time));
    EXPECT_EQ(time.dwHighDateTime, 30000000u);
    EXPECT_EQ(time.dwLowDateTime, 5u);
    EXPECT_FALSE(RecordTime("a*b.htm*", time));
}

class Store : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(KfStart(0, 0), 1);
        SiteFileNames("www.example.com", "public_html", "*.*");
    }
    void TearDown() override
    {
        CloseFileRecords();
        KfStop();
    }
    // Stores the records, then looks up `record`.
    static int Lookup(std::vector<const char*> stored, const char* record, std::string& found)
    {
        for (const char* text : stored)
            EXPECT_EQ(PutFileRecord(text, nullptr), 1);
        char out[kRecordBufferSize] = {};
        int result = GetFileRecord(record, out);
        found = out;
        return result;
    }
    TempFolder folder;
};

TEST_F(Store, ALookupFindsExactlyTheName)
{
    struct Case {
        std::vector<const char*> stored;
        const char* record;
        int result;
        const char* found;
    };
    const Case cases[] = {
        {{"contact.htm*1-2-0-5"}, "about.htm*9-9-0-9", 0, ""},
        {{"abc.htm*1-2-0-5"}, "about.htm*9-9-0-9", 0, ""},
        {{"a*b.htm*1-2-0-5", "a*c.htm*1-2-0-6"}, "a*c.htm*9-9-0-9", 1, "a*c.htm*1-2-0-6"},
        {{"index.html*1-2-0-5-file init", "index.html.bak*1-2-0-5"}, "index.html*7-7-0-7", 1,
         "index.html*1-2-0-5-file init"},
        // Longer names that begin with the name and a "*" sort before its
        // numbers, some of them many deep.
        {{"index.php*0*1-2-0-5", "index.php*0*x*1-2-0-5", "index.php*0*y*1-2-0-5", "index.php*1-1*1-2-0-5",
          "index.php*3-4-0-5"},
         "index.php*9-9-0-9", 1, "index.php*3-4-0-5"},
        {{"index.php*0*1-2-0-5", "index.php*3*1-2-0-5", "index.php.bak*1-2-0-5"}, "index.php*9-9-0-9", 0, ""},
        {{"index.php*0*1-2-0-5", "index.php*3-4-0-5"}, "index.php*0*9-9-0-9", 1, "index.php*0*1-2-0-5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        std::string found;
        EXPECT_EQ(Lookup(c.stored, c.record, found), c.result);
        EXPECT_EQ(found, c.found);
        CloseFileRecords();
        DeleteFileA(siteStoreFile);
    }
}

TEST_F(Store, PutReplacesAndRefusesOverlongTexts)
{
    ASSERT_EQ(PutFileRecord("a.htm*1-2-0-3", nullptr), 1);
    EXPECT_EQ(PutFileRecord("a.htm*1-2-0-3", "a.htm*1-2-0-3"), 1);
    EXPECT_EQ(StoredRecords(), std::vector<std::string>{"a.htm*1-2-0-3"});
    EXPECT_EQ(PutFileRecord("a.htm*4-5-0-6-file updated by sw", "a.htm*1-2-0-3"), 1);
    EXPECT_EQ(StoredRecords(), std::vector<std::string>{"a.htm*4-5-0-6-file updated by sw"});

    // Too long: nothing changes, the old text included.
    const std::string overlong = std::string(kMaxRecordText - 8, 'x') + "*1-2-0-3";
    ASSERT_EQ(int(overlong.size()), kMaxRecordText);
    EXPECT_EQ(PutFileRecord((overlong + "4").c_str(), "a.htm*4-5-0-6-file updated by sw"), 0);
    EXPECT_EQ(StoredRecords(), std::vector<std::string>{"a.htm*4-5-0-6-file updated by sw"});
    EXPECT_EQ(PutFileRecord(overlong.c_str(), nullptr), 1);
    EXPECT_EQ(StoredRecords().size(), 2u);
}

TEST_F(Store, AStoredKeyTooLongForTheBuffersIsDamage)
{
    ASSERT_EQ(PutFileRecord("a.htm*1-2-0-3", nullptr), 1);
    CloseFileRecords();
    const std::string planted = std::string(300, 'b') + "*1-2-0-3";
    KfHandle store = KfOpen(siteStoreFile, nullptr);
    ASSERT_NE(store, 0);
    ASSERT_EQ(KfInsert(store, planted.data(), int(planted.size()), 1, 0), 1);
    KfClose(store);
    char out[kRecordBufferSize];
    EXPECT_EQ(GetFileRecord("b*9-9-0-9", out), -1);
    EXPECT_EQ(GetFileRecord("a.htm*9-9-0-9", out), 1);
    EXPECT_STREQ(out, "a.htm*1-2-0-3");
}

TEST(ServerTime, OffsetsCarryThroughTheCalendar)
{
    struct Case {
        int offsetHours;
        SYSTEMTIME server, local; // year, month, day of week, day, hour, minute
    };
    const Case cases[] = {
        {26, {2024, 3, 0, 2, 1, 0, 0, 0}, {2024, 2, 0, 29, 23, 0, 0, 0}},
        {26, {2023, 3, 0, 2, 1, 30, 0, 0}, {2023, 2, 0, 28, 23, 30, 0, 0}},
        {-2, {2023, 12, 0, 31, 23, 15, 0, 0}, {2024, 1, 0, 1, 1, 15, 0, 0}},
        {0, {2022, 7, 0, 4, 12, 0, 0, 0}, {2022, 7, 0, 4, 12, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offsetHours);
        std::memset(&currentSite, 0, sizeof currentSite);
        currentSite.offsetMeasured = 1;
        SetSiteOffsetHours(currentSite, c.offsetHours);
        WIN32_FIND_DATAA entry = Entry("a", 0, 1);
        ASSERT_TRUE(SystemTimeToFileTime(&c.server, &entry.ftLastWriteTime));
        ServerTimeToLocal(entry);
        SYSTEMTIME got{};
        ASSERT_TRUE(FileTimeToSystemTime(&entry.ftLastWriteTime, &got));
        EXPECT_EQ(got.wYear, c.local.wYear);
        EXPECT_EQ(got.wMonth, c.local.wMonth);
        EXPECT_EQ(got.wDay, c.local.wDay);
        EXPECT_EQ(got.wHour, c.local.wHour);
        EXPECT_EQ(got.wMinute, c.local.wMinute);
    }
}

// Only the directory bit makes a folder: a read-only one (0x11) taken for a
// file would be given to DELE, fail and stay.
TEST(EntryKinds, EveryWordWithTheDirectoryBitIsAFolder)
{
    const struct {
        DWORD attributes;
        bool folder, plain;
    } cases[] = {
        {0x10, true, true},  {0x12, true, true},   {0x30, true, true},   {0x11, true, false}, {0x14, true, false},
        {0x31, true, false}, {0x20, false, false}, {0x80, false, false}, {0x00, false, false}, {0x01, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(engine::IsAnyFolder(engine::KindOf(c.attributes)), c.folder) << c.attributes;
        EXPECT_EQ(engine::KindOf(c.attributes) == engine::EntryKind::kFolder, c.plain) << c.attributes;
    }
}

} // namespace
} // namespace engine_test
