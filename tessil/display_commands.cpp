// Display command lengths: the one table both the dispatcher and every walk
// over a screen program use.
#include "tessil/display_commands.h"

namespace tessil {

namespace {

// How a command's length is found: a fixed length, or a base plus multiples
// of bytes inside the command.
struct LengthRule {
    uint8_t base = 0;     // 0: not an opcode
    uint8_t countAt = 0;  // first count byte (0: none)
    uint16_t perCount = 0;
    uint8_t countAt2 = 0; // second count byte (0: none)
    uint16_t perCount2 = 0;
};

constexpr LengthRule Fixed(uint8_t n) { return {n, 0, 0, 0, 0}; }
constexpr LengthRule Counted(uint8_t base, uint8_t at, uint16_t per) { return {base, at, per, 0, 0}; }
constexpr LengthRule Counted2(uint8_t base, uint8_t at, uint16_t per, uint8_t at2, uint16_t per2)
{
    return {base, at, per, at2, per2};
}

struct LengthTable {
    LengthRule rule[256];
    constexpr LengthTable() : rule{}
    {
        rule[kCmdRestoreFont] = Fixed(1);
        rule[kCmdClearScreen] = Fixed(1);
        rule[kCmdImage] = Counted2(12, 2, 256, 3, 1);
        rule[kCmdPolyline] = Counted(3, 2, 4);
        rule[kCmdEllipse] = Fixed(10);
        rule[kCmdEllipseHeight] = Fixed(14);
        rule[kCmdCurve] = Fixed(14);
        rule[kCmdDashedPolyline] = Counted(3, 2, 4);
        rule[kCmdText] = Counted(7, 2, 1);
        rule[kCmdTextField] = Counted(7, 2, 1);
        rule[kCmdTextField2] = Counted(7, 2, 1);
        rule[kCmdColourParameter] = Fixed(2);
        rule[kCmdChain] = Fixed(2);
        rule[kCmdChain2] = Fixed(2);
        rule[kCmdShowNow] = Fixed(2);
        rule[kCmdFillRect] = Fixed(10);
        rule[kCmdFloodFill] = Fixed(6);
        rule[kCmdCharSize] = Fixed(3);
        rule[kCmdTextGrid] = Fixed(5);
        rule[kCmdOpaqueText] = Fixed(1);
        rule[kCmdTransparentText] = Fixed(1);
        rule[kCmdSavedRect] = Fixed(11);
        rule[kCmdViewport] = Fixed(10);
        rule[kCmdEndViewport] = Fixed(1);
        rule[kCmdXorRect] = Fixed(11);
        rule[kCmdFlatFrame] = Fixed(12);
        rule[kCmdRaisedFrame] = Fixed(12);
        rule[kCmdSunkenFrame] = Fixed(12);
        rule[kCmdShadowFrame] = Fixed(12);
        rule[kCmdShadowFrame2] = Fixed(12);
        rule[kCmdData201] = Fixed(11);
        rule[kCmdData202] = Counted(13, 11, 4);
        rule[kCmdRoundBox] = Fixed(12);
        rule[kCmdButton205] = Fixed(11);
        rule[kCmdButton206] = Counted(12, 11, 1);
        rule[kCmdRoundBox2] = Fixed(12);
        rule[kCmdData208] = Fixed(28);
        rule[kCmdData209] = Fixed(28);
        rule[kCmdTableLookup210] = Fixed(13);
        rule[kCmdData211] = Fixed(10);
        rule[kCmdTableLookup212] = Fixed(13);
        rule[kCmdTableLookup213] = Fixed(11);
        rule[kCmdTableLookup214] = Fixed(11);
        rule[kCmdPolygon] = Counted2(5, 4, 4, 3, 2);
        rule[kCmdScreenOptions] = Fixed(4);
        rule[kCmdData217] = Fixed(8);
        rule[kCmdData220] = Counted(6, 5, 1);
        rule[kCmdData221] = Counted(2, 1, 1);
        rule[kCmdData222] = Fixed(11);
        rule[kCmdButton230] = Fixed(13);
        rule[kCmdButtonFrame] = Counted(14, 13, 1);
        rule[kCmdButton232] = Fixed(13);
        rule[kCmdButton233] = Counted(14, 13, 1);
        rule[kCmdPicture] = Counted(14, 13, 1);
        rule[kCmdNop] = Fixed(1);
        rule[kCmdEnd] = Fixed(1);
    }
};

constexpr LengthTable kLengths;

} // namespace

bool IsDisplayOpcode(uint8_t byte) { return kLengths.rule[byte].base != 0; }

size_t DisplayCommandLength(const uint8_t* command, size_t available)
{
    if (available == 0)
        return 0;
    const LengthRule& r = kLengths.rule[command[0]];
    if (r.base == 0)
        return 0;
    size_t length = r.base;
    if (r.countAt) {
        if (r.countAt >= available)
            return 0;
        length += size_t(command[r.countAt]) * r.perCount;
    }
    if (r.countAt2) {
        if (r.countAt2 >= available)
            return 0;
        length += size_t(command[r.countAt2]) * r.perCount2;
    }
    return length <= available ? length : 0;
}

} // namespace tessil
