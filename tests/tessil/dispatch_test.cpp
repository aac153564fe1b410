// The dispatcher: command lengths, bad lists, chaining, presenting.
#include "tessil/tessil_fixture.h"

#include <fstream>

namespace tessil_test {
namespace {

class DispatchTest : public TessilTest {};

TEST(DisplayCommandLength, FixedAndCarriedLengths)
{
    struct {
        std::vector<uint8_t> command;
        size_t length;
    } cases[] = {
        {{128}, 1},
        {{130, 0, 1, 2}, 12 + 256 + 2},
        {{131, 0, 3}, 3 + 12},
        {{135, 0, 0}, 3},
        {{151, 0, 5}, 12},
        {{152, 0, 80}, 87},
        {{170}, 10},
        {{202, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, 13 + 8},
        {{206, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4}, 16},
        {{215, 0, 0, 3, 2}, 5 + 8 + 6},
        {{220, 0, 0, 0, 0, 9}, 15},
        {{221, 7}, 9},
        {{231, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6}, 20},
        {{234, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7}, 21},
        {{208}, 28},
        {{255}, 1},
    };
    for (auto& c : cases) {
        std::vector<uint8_t> buffer = c.command;
        buffer.resize(400, 0);
        // Count bytes beyond the command's own prefix are zero here.
        EXPECT_EQ(DisplayCommandLength(buffer.data(), buffer.size()), c.length) << int(c.command[0]);
    }
    const uint8_t shortList[] = {152, 0, 80, 0, 0};
    EXPECT_EQ(DisplayCommandLength(shortList, sizeof shortList), 0u); // runs past the buffer
    const uint8_t countMissing[] = {131, 4};
    EXPECT_EQ(DisplayCommandLength(countMissing, sizeof countMissing), 0u);
    for (int op : {100, 136, 150, 171, 204, 218, 253})
        EXPECT_FALSE(IsDisplayOpcode(uint8_t(op))) << op;
}

TEST_F(DispatchTest, InvalidByteStopsTheListWithANotice)
{
    std::vector<uint8_t> list = {170, 4};
    Put(list, 0), Put(list, 0), Put(list, 10000), Put(list, 10000);
    list.push_back(100);
    list.insert(list.end(), {170, 5, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10});
    Run(list);
    EXPECT_EQ(std::string(LineBuffer(), 38), "Invalid TWINDOW Event 100, encountered");
    EXPECT_EQ(hostLog.waitedTicks, 2);
    EXPECT_EQ(CountAll(5), 0); // the rest of the list was abandoned
    EXPECT_EQ(At(600, 400), Colour(4));
    EXPECT_EQ(hostLog.presents, 1); // one copy for the outermost list only
}

TEST_F(DispatchTest, DataOnlyCommandsAndButtonsDrawNothing)
{
    const uint8_t list[] = {
        201, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 205, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 222, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
        216, 1, 2, 3, 217, 1, 2, 3, 4, 5, 6, 7, 211, 1, 2, 3, 4, 5, 6, 7, 8, 9,
        221, 2, 7, 7, 254, 230, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
        206, 3, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10, 0, 2, 'O', 'K', 255,
    };
    ExecuteDisplayList(list, list + sizeof list, 0);
    EXPECT_EQ(CountAll(0), 640 * 480);
    EXPECT_EQ(hostLog.waitedTicks, 0);
}

TEST_F(DispatchTest, TruncatedCommandsAreDroppedSafely)
{
    // Every prefix of a valid list is run in a buffer of exactly its size.
    std::vector<uint8_t> full = {131, 3, 2, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10, 151, 3, 2, 0, 0, 0, 0, 'A', 'B'};
    for (size_t n = 1; n <= full.size(); ++n) {
        std::vector<uint8_t> part(full.begin(), full.begin() + long(n));
        ExecuteDisplayList(part.data(), part.data() + part.size(), 0);
    }
    EXPECT_EQ(hostLog.waitedTicks, 0);
}

TEST_F(DispatchTest, NonZeroModeRunsOnlyALeadingTextCommand)
{
    std::vector<uint8_t> list = {170, 4};
    Put(list, 0), Put(list, 0), Put(list, 10000), Put(list, 10000);
    list.push_back(255);
    ExecuteDisplayList(list.data(), list.data() + list.size(), 1);
    EXPECT_EQ(CountAll(4), 0);
}

TEST_F(DispatchTest, ChainContinuesInTheNamedRecordAndLoopsAreBounded)
{
    std::vector<uint8_t> book(2 * 3200, 255);
    // Record 1: fill the screen red, then chain to record 2.
    uint8_t r1[] = {170, 4, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10, 161, 2};
    std::memcpy(book.data(), r1, sizeof r1);
    // Record 2: a green band, then chain to itself.
    uint8_t r2[] = {170, 5, 0, 0, 0, 0, 0x27, 0x10, 0x03, 0xE8, 161, 2};
    std::memcpy(book.data() + 3200, r2, sizeof r2);
    std::ofstream(folder.native("test.plt"), std::ios::binary)
        .write(reinterpret_cast<const char*>(book.data()), std::streamsize(book.size()));
    std::strcpy(dyn->screenFilePath, "test.plt");

    Run({161, 1});
    EXPECT_EQ(At(10, 10), Colour(5));
    EXPECT_EQ(At(10, 400), Colour(4));
    EXPECT_EQ(hostLog.presents, 1);

    Run({161, 7}); // a record the file does not have ends the list
    EXPECT_EQ(hostLog.waitedTicks, 0);
}

TEST_F(DispatchTest, ShowNowPresentsAtOnce)
{
    Run({163, 0});
    EXPECT_EQ(hostLog.presents, 2); // once for 163, once after the list
    screenHost.outputEnabled = false;
    Run({163, 0});
    EXPECT_EQ(hostLog.presents, 2);
}

TEST_F(DispatchTest, StateCommands)
{
    Run({160, 20, 178, 3, 4, 181, 179, 0, 100, 0, 40});
    EXPECT_EQ(draw.colourParameter, 4);
    EXPECT_EQ(draw.charSize[0], 3);
    EXPECT_EQ(draw.charSize[1], 4);
    EXPECT_EQ(draw.textBackground, 1);
    EXPECT_EQ(draw.textGridColumns, 100);
    EXPECT_EQ(draw.textGridRows, 40);
    Run({180});
    EXPECT_EQ(draw.textBackground, 0);
}

TEST_F(DispatchTest, TableLookupsAreWalkedWithTheirLengths)
{
    std::vector<uint8_t> list = {210, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 213, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 170, 6, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10};
    Run(list);
    EXPECT_EQ(std::string(LineBuffer(), 43), "MOXTBL File does not exist for this display");
    EXPECT_EQ(At(600, 400), Colour(6)); // the list went on after them
}

} // namespace
} // namespace tessil_test
