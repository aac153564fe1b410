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
        rule[128] = Fixed(1);
        rule[129] = Fixed(1);
        rule[130] = Counted2(12, 2, 256, 3, 1);
        rule[131] = Counted(3, 2, 4);
        rule[132] = Fixed(10);
        rule[133] = Fixed(14);
        rule[134] = Fixed(14);
        rule[135] = Counted(3, 2, 4);
        rule[151] = Counted(7, 2, 1);
        rule[152] = Counted(7, 2, 1);
        rule[153] = Counted(7, 2, 1);
        rule[160] = Fixed(2);
        rule[161] = Fixed(2);
        rule[162] = Fixed(2);
        rule[163] = Fixed(2);
        rule[170] = Fixed(10);
        rule[172] = Fixed(6);
        rule[178] = Fixed(3);
        rule[179] = Fixed(5);
        rule[180] = Fixed(1);
        rule[181] = Fixed(1);
        rule[185] = Fixed(11);
        rule[186] = Fixed(10);
        rule[187] = Fixed(1);
        rule[188] = Fixed(11);
        rule[189] = Fixed(12);
        rule[190] = Fixed(12);
        rule[191] = Fixed(12);
        rule[192] = Fixed(12);
        rule[193] = Fixed(12);
        rule[201] = Fixed(11);
        rule[202] = Counted(13, 11, 4);
        rule[203] = Fixed(12);
        rule[205] = Fixed(11);
        rule[206] = Counted(12, 11, 1);
        rule[207] = Fixed(12);
        rule[208] = Fixed(28);
        rule[209] = Fixed(28);
        rule[210] = Fixed(13);
        rule[211] = Fixed(10);
        rule[212] = Fixed(13);
        rule[213] = Fixed(11);
        rule[214] = Fixed(11);
        rule[215] = Counted2(5, 4, 4, 3, 2);
        rule[216] = Fixed(4);
        rule[217] = Fixed(8);
        rule[220] = Counted(6, 5, 1);
        rule[221] = Counted(2, 1, 1);
        rule[222] = Fixed(11);
        rule[230] = Fixed(13);
        rule[231] = Counted(14, 13, 1);
        rule[232] = Fixed(13);
        rule[233] = Counted(14, 13, 1);
        rule[234] = Counted(14, 13, 1);
        rule[254] = Fixed(1);
        rule[255] = Fixed(1);
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
