// Text fields and the free-standing line.
#include "tessil/tessil_fixture.h"

namespace tessil_test {
namespace {

class FieldsTest : public TessilTest {
protected:
    std::string Text(int16_t field, int n) { return std::string(reinterpret_cast<char*>(fieldTable[field] + 7), size_t(n)); }
    bool Drawn(int16_t field) { return fieldTable[field][1] & 0x80; }
};

TEST_F(FieldsTest, SetFieldTextKeepsWidthPlusHundred)
{
    int16_t f = AddTextField(0x80 | 3, 5, 0, 0);
    std::string longText(120, 'x');
    for (int i = 0; i < 120; ++i)
        longText[size_t(i)] = char('a' + i % 26);
    EXPECT_EQ(SetFieldText(f, longText.c_str(), ' '), 105);
    EXPECT_EQ(Text(f, 105), longText.substr(0, 105)); // beyond w + 100 is dropped
    EXPECT_FALSE(Drawn(f));
    EXPECT_EQ(fieldTable[f][7 + 105], 0); // the byte after the buffer is untouched

    EXPECT_EQ(SetFieldText(f, "", ' '), 105);
    EXPECT_EQ(Text(f, 105), std::string(1, '\0') + std::string(104, ' '));
    EXPECT_EQ(SetFieldText(f, "ab", '*'), 105);
    EXPECT_EQ(Text(f, 6), std::string("ab\0***", 6));
}

TEST_F(FieldsTest, FillDecidesTheTextBackground)
{
    int16_t f = AddTextField(3, 4, 0, 0);
    SetFieldText(f, "x", 0);
    EXPECT_EQ(draw.textBackground, 1);
    SetFieldText(int16_t(-1), "x", ' '); // ignored, background untouched
    EXPECT_EQ(draw.textBackground, 1);
    int16_t button = AddOtherField(206);
    EXPECT_EQ(SetFieldText(button, "x", ' '), 0);
    EXPECT_EQ(draw.textBackground, 0); // matched even when the field is of another kind
    EXPECT_EQ(hostLog.presents, 0);    // and nothing was drawn
}

TEST_F(FieldsTest, BadIndexesAreIgnored)
{
    for (int i = 0; i < 27; ++i)
        AddTextField(3, 10, 0, 0);
    EXPECT_EQ(FindField(252, 1), 0);
    EXPECT_EQ(FindField(252, 27), 26);
    EXPECT_EQ(FindField(252, 28), 65535);
    EXPECT_EQ(FindField(206, 1), 65535);
    EXPECT_EQ(SetFieldText(int16_t(FindField(252, 28)), "x", ' '), 0);
    EXPECT_EQ(SetFieldText(27, "x", ' '), 0);
    int16_t value = 1;
    EXPECT_EQ(SetFieldValue(-1, "%d", &value, ' '), 0);
    EXPECT_EQ(SetFieldColour(27, 4), 0);
    EXPECT_EQ(SetFieldColour(-1, 4), 0);
}

TEST_F(FieldsTest, SetFieldValueSizesTheValueByItsFormat)
{
    int16_t f = AddTextField(3, 6, 0, 0);
    int16_t v16 = 587;
    EXPECT_EQ(SetFieldValue(f, "%d", &v16, '.'), 6);
    EXPECT_EQ(Text(f, 6), "587...");

    int32_t v32 = 70000;
    EXPECT_EQ(SetFieldValue(f, "%ld", &v32, ' '), 6);
    EXPECT_EQ(Text(f, 6), "70000 ");
    EXPECT_EQ(SetFieldValue(f, "%5d", &v16, '0'), 6);
    EXPECT_EQ(Text(f, 6), "005870");

    int16_t minus = -1;
    EXPECT_EQ(SetFieldValue(f, "%x", &minus, ' '), 6);
    EXPECT_EQ(Text(f, 6), "ffff  ");
    int32_t big = 0x1234ABCD;
    EXPECT_EQ(SetFieldValue(f, "%lX", &big, ' '), 6);
    EXPECT_EQ(Text(f, 6), "1234AB");

    float pi = 3.14f;
    EXPECT_EQ(SetFieldValue(f, "%.1f", &pi, ' '), 6);
    EXPECT_EQ(Text(f, 6), "3.1   ");
    EXPECT_EQ(SetFieldValue(f, "T %d ", &v16, '_'), 6);
    EXPECT_EQ(Text(f, 6), "T_587_");

    // Formats that would read something other than the one value are refused.
    for (const char* bad : {"%s", "%d %d", "%*d", "%n", "plain", "%lf"})
        EXPECT_EQ(SetFieldValue(f, bad, &v32, ' '), 0) << bad;
}

TEST_F(FieldsTest, RefreshDrawsChangedFieldsOnce)
{
    int16_t a = AddTextField(0x80 | 4, 2, 0, 0);
    int16_t b = AddTextField(0x80 | 4, 2, 0, 5000);
    SetFieldText(a, "AA", ' ');
    RefreshFields();
    EXPECT_EQ(hostLog.presents, 1);
    EXPECT_EQ(hostLog.repaints, 1);
    EXPECT_TRUE(Drawn(a));
    EXPECT_EQ(Count(4, 0, 0, 15, 7), 30);
    EXPECT_EQ(Count(4, 0, 240, 639, 479), 0); // b was not changed

    RefreshFields();
    EXPECT_EQ(hostLog.presents, 1); // nothing changed: nothing executed

    SetFieldColour(b, 5); // below 128: changed
    RefreshFields();
    EXPECT_EQ(hostLog.presents, 2);
    EXPECT_TRUE(Drawn(b));
}

TEST_F(FieldsTest, AMaskedFieldShowsStarsButKeepsItsText)
{
    // The test font draws only 'A': a masked "A" shows a blank star.
    int16_t secret = AddTextField(0x80 | 4, 1, 0, 0);
    int16_t plain = AddTextField(0x80 | 4, 1, 0, 5000);
    SetFieldText(secret, "A", ' ');
    SetFieldText(plain, "A", ' ');
    EXPECT_EQ(MaskField(secret), 1);
    RefreshFields();
    EXPECT_EQ(Count(4, 0, 0, 7, 7), 0);
    EXPECT_EQ(Count(4, 0, 240, 7, 247), 15);
    EXPECT_EQ(Text(secret, 1), "A");
    EXPECT_EQ(MaskField(-1), 0);
}

TEST_F(FieldsTest, ScrolledFieldShowsTheCursorCharacterLast)
{
    int16_t f = AddTextField(4, 3, 0, 0);
    SetFieldText(f, "xxxxAxx", ' ');
    scrollOffset = 4; // the cursor is on the 'A'
    draw.textBackground = 1;
    RefreshFields();
    // Characters 2..4 are shown: 'x', 'x', 'A'; only the 'A' has pixels.
    EXPECT_EQ(Count(4, 16, 0, 23, 7), 15);
    EXPECT_EQ(Count(4, 0, 0, 15, 7), 0);
}

TEST_F(FieldsTest, FullPageIsBatchedIntoFewLists)
{
    for (int i = 0; i < 27; ++i) {
        int16_t f = AddTextField(4, 80, 0, i * 370);
        SetFieldText(f, std::string(80, 'A').c_str(), ' ');
    }
    RefreshFields();
    // 27 commands of 87 bytes: one list holds 34 of them within 2880 bytes.
    EXPECT_EQ(hostLog.presents, 1);
    EXPECT_EQ(Count(4, 0, 0, 639, 0), 640);

    for (int i = 0; i < 40; ++i) {
        int16_t f = AddTextField(5, 80, 0, 0);
        SetFieldText(f, "A", ' ');
    }
    hostLog.presents = 0;
    RefreshFields();
    EXPECT_EQ(hostLog.presents, 2); // 40 x 87 bytes need two lists
}

TEST_F(FieldsTest, MessageLineSkipsCaretsAndFillsItsBand)
{
    ShowMessageLine("A^B", 10, 2, 0x4F);
    EXPECT_EQ(std::string(LineBuffer() + 10, 2), "AB");
    EXPECT_EQ(hostLog.presents, 1);
    // The band runs from the column's left edge (x 80, row 2 at y 16) to the
    // right edge and down to 3/30 of the screen (y 47 or 48).
    EXPECT_EQ(At(80, 16), Colour(4));
    EXPECT_EQ(At(639, 16), Colour(4));
    EXPECT_EQ(At(639, 47), Colour(4));
    EXPECT_EQ(At(79, 16), Colour(0));
    EXPECT_EQ(At(100, 49), Colour(0));
    EXPECT_EQ(draw.forcedMode, 0);

    draw.forcedMode = kForcedXor;
    ShowMessageLine("", 0, 0, 0x50);
    EXPECT_EQ(At(0, 0), Colour(5)); // drawn by copy, whatever the forced mode
    EXPECT_EQ(draw.forcedMode, kForcedXor);
}

} // namespace
} // namespace tessil_test
