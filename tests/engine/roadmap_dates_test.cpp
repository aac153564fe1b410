// The roadmap clean-up's reading of the site command and its dates.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/roadmap.h"

namespace {

using engine::CleanUpKind;

TEST(RoadmapCommand, KeywordsAndNumbers)
{
    struct Case {
        const char* command;
        CleanUpKind kind;
        long days;
        bool thenExit;
    };
    const Case cases[] = {
        {"CREATE_ROADMAP", CleanUpKind::kNone, 0, false},
        {"CREATE_ROADMAP DELETE_OLD_FILES_0", CleanUpKind::kByListedDate, 0, false},
        {"DELETE_OLD_FILES_-30_THEN_EXIT", CleanUpKind::kByListedDate, -30, true},
        {"DELETE_OLD_FILES=  +7 THEN_EXIT", CleanUpKind::kByListedDate, 7, true},
        {"THEN_EXIT DELETE_OLD_FILES_-3", CleanUpKind::kByListedDate, -3, false},
        {"DELETE_OLD_FILES_-30 CLEANUP_-7", CleanUpKind::kByListedDate, -30, false},
        // An unreadable number skips the clean-up, and still hides CLEANUP.
        {"DELETE_OLD_FILES_x CLEANUP_-7", CleanUpKind::kNone, 0, false},
        {"DELETE_OLD_FILES_-", CleanUpKind::kNone, 0, false},
        {"DELETE_OLD_FILES", CleanUpKind::kNone, 0, false},
        {"DELETE_OLD_FILES_36500", CleanUpKind::kByListedDate, 36500, false},
        {"DELETE_OLD_FILES_-36501", CleanUpKind::kNone, 0, false},
        {"DELETE_OLD_FILES_99999999999999999999999", CleanUpKind::kNone, 0, false},
        {"delete_old_files_0", CleanUpKind::kNone, 0, false},
        {"CLEANUP_-7 THEN_EXIT", CleanUpKind::kByNameDate, -7, false},
        {"CLEANUP_", CleanUpKind::kNone, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const engine::CleanUp got = engine::ReadCleanUp(c.command);
        EXPECT_EQ(got.kind, c.kind);
        if (got.kind != CleanUpKind::kNone) {
            EXPECT_EQ(got.days, c.days);
            EXPECT_EQ(got.thenExit, c.thenExit);
        }
    }
}

TEST(RoadmapCommand, TheNumberEndsWithTheField)
{
    // A site command fills its 100 bytes without a NUL; what follows in
    // memory is not part of the number.
    char record[104];
    std::memset(record, ' ', sizeof record);
    std::memcpy(record + 100 - 10, "CLEANUP_12", 10);
    std::memcpy(record + 100, "345", 4);
    const engine::CleanUp got = engine::ReadCleanUp(std::string_view(record, 100));
    EXPECT_EQ(got.kind, CleanUpKind::kByNameDate);
    EXPECT_EQ(got.days, 12);
}

TEST(RoadmapDates, CutOffListedAndNameDates)
{
    std::tm noon{};
    noon.tm_year = 2024 - 1900;
    noon.tm_mon = 2;
    noon.tm_mday = 1;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    const std::time_t march1 = std::mktime(&noon);
    const std::pair<long, const char*> cutOffs[] = {
        {0, "20240301"}, {-1, "20240229"}, {1, "20240302"}, {-30, "20240131"}, {-366, "20230301"}};
    for (const auto& [days, expected] : cutOffs) {
        engine::DateText date;
        ASSERT_TRUE(engine::CutOffDate(march1, days, date)) << days;
        EXPECT_STREQ(date, expected) << days;
    }

    // 2011-03-07 23:59:59, as listed: no clock offset moves it a day.
    SYSTEMTIME st{2011, 3, 1, 7, 23, 59, 59, 0};
    FILETIME listed;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &listed));
    engine::DateText date;
    ASSERT_TRUE(engine::ListedDate(listed, date));
    EXPECT_STREQ(date, "20110307");
    // A time the listing could not read is never old.
    EXPECT_FALSE(engine::ListedDate(FILETIME{0, 0}, date));

    const std::pair<const char*, const char*> names[] = {
        {"ab20110307.htm", "20110307"}, {"abc20110307.htm", "20110307"}, {"x-20110307", "20110307"},
        {"ab20110307", "20110307"},     {"FAQ-2011.htm", nullptr},        {"ab2011030", nullptr},
        {"abcd20110307.htm", nullptr},  {"ab", nullptr},                  {"", nullptr},
        {"abc2011-03-07.htm", nullptr},
    };
    for (const auto& [name, expected] : names) {
        SCOPED_TRACE(name);
        engine::DateText got;
        EXPECT_EQ(engine::NameDate(name, got), expected != nullptr);
        if (expected) {
            EXPECT_STREQ(got, expected);
        }
    }
}

} // namespace
