// Screen programs: running records of a book, the field table they build,
// chains, follow-ups and the overflow limits.
#include "tessil/tessil_fixture.h"

#include "tessil/screen_program.h"

namespace tessil_test {
namespace {

class ScreenProgramTest : public TessilTest {
protected:
    // Writes a book of records; the last is written as long as it is.
    void WriteBook(const std::string& name, const std::vector<std::vector<uint8_t>>& records, bool shortLast = false)
    {
        std::string bytes;
        for (size_t i = 0; i < records.size(); ++i) {
            std::string r(records[i].begin(), records[i].end());
            if (!(shortLast && i + 1 == records.size()))
                r.resize(3200, char(255));
            bytes += r;
        }
        WriteWholeFile(folder.path() / name, bytes);
    }
    static std::vector<uint8_t> Field(uint8_t colour, const std::string& text, int v)
    {
        std::vector<uint8_t> c = {152, uint8_t(0x80 | colour), uint8_t(text.size())};
        Put(c, 0), Put(c, v);
        c.insert(c.end(), text.begin(), text.end());
        return c;
    }
};

TEST_F(ScreenProgramTest, RunScreenReadsThePltFileAndBuildsFields)
{
    std::vector<uint8_t> r1 = {129, 170, 4, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10};
    for (auto part : {Field(3, "Afirst", 0), Field(5, "second", 5000)})
        r1.insert(r1.end(), part.begin(), part.end());
    // A button with code 7, drawn as a box.
    r1.insert(r1.end(), {206, 3, 0x13, 0x88, 0x13, 0x88, 0x17, 0x70, 0x17, 0x70, 7, 2, 'O', 'K'});
    r1.push_back(255);
    WriteBook("email.plt", {r1});
    EXPECT_EQ(RunScreen("email.tmp", 1, 1), 0);
    ASSERT_EQ(fieldCount, 3);
    EXPECT_EQ(FindField(252, 1), 0);
    EXPECT_EQ(FindField(252, 2), 1);
    EXPECT_EQ(FindField(206, 1), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(fieldTable[0] + 7), 6), "Afirst");
    EXPECT_EQ(fieldTable[0][7 + 6], 0); // followed by the 100 scroll bytes
    EXPECT_EQ(fieldTable[2][9], 7);
    EXPECT_STREQ(reinterpret_cast<char*>(fieldTable[2] + 10), "OK");
    EXPECT_EQ(At(0, 1), Colour(3));     // the first field's initial text was drawn
    EXPECT_EQ(At(320, 250), Colour(3));  // the button's box
    EXPECT_STREQ(MenuScreenName(), "email.plt");
    EXPECT_EQ(hostLog.presents, 1);

    // Mode 2 only rebuilds the table: nothing is drawn.
    EXPECT_EQ(RunScreen("email.plt", 1, 3), 0);
    EXPECT_EQ(fieldCount, 3);
    EXPECT_EQ(hostLog.presents, 1);
}

TEST_F(ScreenProgramTest, ShortLastRecordEmptyRecordAndMissingBook)
{
    std::vector<uint8_t> r2(1000, 254); // 1000 bytes of no-ops, no end byte
    r2[0] = 129;
    auto f = Field(4, "late", 2000);
    std::copy(f.begin(), f.end(), r2.begin() + 10);
    WriteBook("book.plt", {{129, 255}, r2}, true);
    EXPECT_EQ(RunScreen("book.plt", 2, 1), 0);
    EXPECT_EQ(fieldCount, 1);
    EXPECT_EQ(RunScreen("book.plt", 1, 1), 0); // a whole record goes through OpenBook
    EXPECT_EQ(RunScreen("book.plt", 3, 1), 1); // past the end

    OpenBook("nothere.bk", 1, 0);
    // The current book is tried again; then the notice and the exit.
    EXPECT_EQ(hostLog.exits, 0);
    std::strcpy(dyn->screenFilePath, "gone.bk");
    OpenBook("nothere.bk", 1, 0);
    EXPECT_EQ(hostLog.exits, 1);
    EXPECT_EQ(hostLog.waitedTicks, 5);
    EXPECT_EQ(std::string(LineBuffer(), 25), "nothere.bk - book not fou");
}

TEST_F(ScreenProgramTest, ChainsAndFollowUps)
{
    auto a = Field(3, "a", 0);
    auto b = Field(3, "b", 1000);
    auto c = Field(3, "c", 2000);
    std::vector<uint8_t> r1 = {129};
    r1.insert(r1.end(), a.begin(), a.end());
    r1.insert(r1.end(), {216, 3, 1, 0, 161, 2});
    std::vector<uint8_t> r2(b);
    r2.push_back(255);
    std::vector<uint8_t> r3 = {129};
    r3.insert(r3.end(), c.begin(), c.end());
    r3.push_back(255);
    WriteBook("chain.plt", {r1, r2, r3});
    OpenBook("chain.plt", 1, 0);
    // Record 1 chains to 2 (fields a and b); its follow-up, record 3, then
    // starts a screen of its own.
    ASSERT_EQ(fieldCount, 1);
    EXPECT_EQ(fieldTable[0][7], 'c');
}

TEST_F(ScreenProgramTest, FieldTableOverflows)
{
    // 1001 kind-205 buttons over four chained records.
    std::vector<std::vector<uint8_t>> records;
    int made = 0;
    for (int r = 0; r < 4; ++r) {
        std::vector<uint8_t> rec;
        if (r == 0)
            rec.push_back(129);
        while (made < 1001 && rec.size() + 11 + 2 < 3200) {
            rec.insert(rec.end(), {205, 3, 0, 0, 0, 0, 0, 10, 0, 10, 1});
            ++made;
        }
        if (made < 1001)
            rec.insert(rec.end(), {161, uint8_t(r + 2)});
        rec.push_back(255);
        records.push_back(rec);
    }
    WriteBook("many.plt", records);
    OpenBook("many.plt", 1, 2);
    EXPECT_EQ(fieldCount, 1000);
    EXPECT_EQ(std::string(LineBuffer(), 30), "DYNAMIC ADDRESS TABLE OVERFLOW");
    EXPECT_EQ(hostLog.waitedTicks, 2);

    // Text fields of width 200 fill the 12800-byte area after 41 of them.
    std::vector<uint8_t> big = {129};
    for (int i = 0; i < 12; ++i) {
        auto f = Field(3, std::string(200, 'x'), 0);
        big.insert(big.end(), f.begin(), f.end());
    }
    big.push_back(255);
    std::vector<uint8_t> chained = big;
    chained.pop_back();
    chained.insert(chained.end(), {161, 2});
    std::vector<uint8_t> more(big.begin() + 1, big.end() - 1);
    more.insert(more.end(), {161, 2});
    WriteBook("big.plt", {chained, more});
    OpenBook("big.plt", 1, 2);
    EXPECT_EQ(fieldCount, 12800 / 307);
    EXPECT_EQ(std::string(LineBuffer(), 23), "DYNAMIC TABLES OVERFLOW");
}

TEST_F(ScreenProgramTest, DamagedRecordsAreCutSafely)
{
    // A field command whose width runs off the record's end.
    std::vector<uint8_t> r(3200, 254);
    r[0] = 129;
    r[3195] = 152, r[3196] = 0x83, r[3197] = 50;
    WriteBook("cut.plt", {r});
    OpenBook("cut.plt", 1, 0);
    EXPECT_EQ(fieldCount, 0);
    // A byte that is no opcode: the dispatcher's notice.
    WriteBook("bad.plt", {{129, 170, 4, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10, 100, 255}});
    OpenBook("bad.plt", 1, 0);
    EXPECT_EQ(std::string(LineBuffer(), 38), "Invalid TWINDOW Event 100, encountered");
    EXPECT_EQ(At(600, 400), Colour(4));
}

} // namespace
} // namespace tessil_test
