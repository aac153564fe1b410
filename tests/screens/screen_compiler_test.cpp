// The screen compiler: the bytes statements compile to, the unit conversion
// of pixels and text cells, errors with their lines, and the listing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_folder.h"
#include "tessil/display_commands.h"
#include "tools/screenc/screen_compiler.h"

namespace {

using namespace screenc;
using Bytes = std::vector<uint8_t>;

// The display list of record 1 of a source, up to and with its 255.
Bytes List(const std::string& source)
{
    CompileResult r = CompileScreenSource("record 1\n" + source, "test.scr");
    for (const Diagnostic& d : r.errors)
        ADD_FAILURE() << d.Format();
    if (r.bytes.size() < size_t(kRecordSize))
        return {};
    size_t end = 0;
    while (r.bytes[end] != tessil::kCmdEnd) {
        size_t length = tessil::DisplayCommandLength(r.bytes.data() + end, r.bytes.size() - end);
        if (length == 0)
            return {};
        end += length;
    }
    return Bytes(r.bytes.begin(), r.bytes.begin() + long(end + 1));
}

// The errors of a source, formatted.
std::vector<std::string> Errors(const std::string& source)
{
    CompileResult r = CompileScreenSource(source, "bad.scr");
    EXPECT_TRUE(r.bytes.empty()) << "a file with errors has no bytes";
    std::vector<std::string> out;
    for (const Diagnostic& d : r.errors)
        out.push_back(d.Format());
    return out;
}

// True when the one error of `source` is on `line` and mentions `words`.
void ExpectError(const std::string& source, int line, const std::string& words)
{
    std::vector<std::string> errors = Errors(source);
    ASSERT_EQ(errors.size(), 1u) << source;
    std::string prefix = "bad.scr:" + std::to_string(line) + ": ";
    EXPECT_EQ(errors[0].rfind(prefix, 0), 0u) << errors[0];
    EXPECT_NE(errors[0].find(words), std::string::npos) << errors[0];
}

TEST(ScreenCompiler, StatementsCompileToTheirCommands)
{
    EXPECT_EQ(List("clear\nrestorefont\nopaque\ntransparent\nnop\nendviewport\n"),
              (Bytes{129, 128, 180, 181, 254, 187, 255}));
    EXPECT_EQ(List("colourparam navy\ncolourparam none\ncharsize 2 3\n"), (Bytes{160, 30, 160, 0, 178, 2, 3, 255}));
    EXPECT_EQ(List("fill 14 0 0 10000 10000"), (Bytes{170, 14, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10, 255}));
    EXPECT_EQ(List("frame shadowup red 1 2 3 4 5"), (Bytes{193, 4, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 255}));
    EXPECT_EQ(List("line 5 0 0 10 20 30 40"), (Bytes{131, 5, 3, 0, 0, 0, 0, 0, 10, 0, 20, 0, 30, 0, 40, 255}));
    EXPECT_EQ(List("ellipse 2 1 2 3 4 height 5 6"), (Bytes{133, 2, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 255}));
    EXPECT_EQ(List("polygon 10 1 2 3 4 5 6"), (Bytes{215, 0, 0, 1, 3, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 10, 255}));
    EXPECT_EQ(List("chain 1\nshownow wait\nshownow 4"), (Bytes{161, 1, 163, 255, 163, 4, 255}));
    EXPECT_EQ(List("picture 3 0 0 10000 10000 record 2 \"a.plt\""),
              (Bytes{234, 3, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10, 0, 0, 2, 5, 'a', '.', 'p', 'l', 't', 255}));
    // A text field: bit 7 of the colour set, its text padded to the width.
    EXPECT_EQ(List("field yellow 4 300 400 \"ab\""), (Bytes{152, 0x87, 4, 1, 44, 1, 144, 'a', 'b', ' ', ' ', 255}));
    // A label is the same command without the bit, and so no field.
    EXPECT_EQ(List("label 3 300 400 \"a\\\"\\x41\""), (Bytes{152, 3, 3, 1, 44, 1, 144, 'a', '"', 'A', 255}));
    EXPECT_EQ(List("button 7 1 2 3 4 code 90 \"Up\""), (Bytes{206, 7, 0, 1, 0, 2, 0, 3, 0, 4, 90, 2, 'U', 'p', 255}));
    EXPECT_EQ(List("button231 silver 1 2 3 4 px 2 code 91 \"N\""),
              (Bytes{231, 11, 0, 1, 0, 2, 0, 3, 0, 4, 0, 31, 91, 1, 'N', 255}));
    EXPECT_EQ(List("button232 0 1 2 3 4 0 code 7"), (Bytes{232, 0, 0, 1, 0, 2, 0, 3, 0, 4, 0, 0, 7, 255}));
    EXPECT_EQ(List("bytes 216 0 1 0 170 1 0 0 0 0 0 9 0 9"),
              (Bytes{216, 0, 1, 0, 170, 1, 0, 0, 0, 0, 0, 9, 0, 9, 255}));
}

TEST(ScreenCompiler, PixelsAndCellsConvertBackExactly)
{
    for (bool rounding : {true, false}) {
        for (int col = 0; col < 80; ++col)
            EXPECT_EQ(UnitsToPixelX(PixelToUnitsX(8 * col, rounding), rounding), 8 * col) << "column " << col;
        for (int row = 0; row < 60; ++row)
            EXPECT_EQ(UnitsToPixelY(PixelToUnitsY(8 * row, rounding), rounding), 8 * row) << "row " << row;
        for (int x = 0; x < 640; ++x)
            ASSERT_EQ(UnitsToPixelX(PixelToUnitsX(x, rounding), rounding), x);
        for (int y = 0; y < 480; ++y)
            ASSERT_EQ(UnitsToPixelY(PixelToUnitsY(y, rounding), rounding), y);
    }
    // Nearest to the cell's share of the screen, so that 960 x 720 keeps it.
    EXPECT_EQ(PixelToUnitsX(8 * 40, true), 5000);
    EXPECT_EQ(PixelToUnitsX(640, true), 10000);
    EXPECT_EQ(PixelToUnitsY(480, false), 10000);

    // col/row and px give the same units; the text command (151) converts
    // without the rounding term, and so gets units of its own.
    Bytes field = List("label 3 col 79 row 59 \"\"");
    Bytes px = List("label 3 px 632 472 \"\"");
    EXPECT_EQ(field, px);
    int u = (field[3] << 8) | field[4];
    EXPECT_EQ(UnitsToPixelX(u, true), 632);
    Bytes text = List("text 3 col 79 row 59 \"\"");
    int t = (text[3] << 8) | text[4];
    EXPECT_EQ(UnitsToPixelX(t, false), 632);
}

TEST(ScreenCompiler, CaptionsAndInputBoxesAreMeasuredInCells)
{
    // "OK" in a 40 x 20 pixel box at (100, 200): 16 x 8 pixels, centred.
    Bytes caption = List("caption white px 100 200 px 139 219 \"OK\"");
    ASSERT_EQ(caption.size(), 10u);
    EXPECT_EQ(UnitsToPixelX((caption[3] << 8) | caption[4], true), 112);
    EXPECT_EQ(UnitsToPixelY((caption[5] << 8) | caption[6], true), 206);

    // An input box covers its field: 10 cells from (16, 24), 8 pixels high.
    Bytes box = List("field 3 10 col 2 row 3\ninputbox");
    const uint8_t* b = box.data() + 17;
    ASSERT_EQ(b[0], 230);
    EXPECT_EQ(b[12], 255);
    EXPECT_EQ(UnitsToPixelX((b[2] << 8) | b[3], true), 16);
    EXPECT_EQ(UnitsToPixelY((b[4] << 8) | b[5], true), 24);
    EXPECT_EQ(UnitsToPixelX((b[6] << 8) | b[7], true), 95);
    EXPECT_EQ(UnitsToPixelY((b[8] << 8) | b[9], true), 31);
    // inputbox N names a field other than the last.
    Bytes first = List("field 3 10 col 2 row 3\nfield 3 5 col 2 row 5\ninputbox 1");
    const uint8_t* b1 = first.data() + 17 + 12;
    ASSERT_EQ(b1[0], 230);
    EXPECT_EQ(UnitsToPixelX((b1[6] << 8) | b1[7], true), 95);
}

TEST(ScreenCompiler, RecordsArePaddedAndPlaced)
{
    CompileResult r = CompileScreenSource("record 3\nclear\nrecord 1\n", "r.scr");
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.bytes.size(), 3u * kRecordSize);
    EXPECT_EQ(r.bytes[0], 255);                 // record 1: an empty list
    EXPECT_EQ(r.bytes[kRecordSize], 255);       // record 2, not named: the same
    EXPECT_EQ(r.bytes[2 * kRecordSize], 129);   // record 3
    EXPECT_EQ(r.bytes[2 * kRecordSize + 1], 255);
    for (size_t i = 2 * kRecordSize + 2; i < r.bytes.size(); ++i)
        ASSERT_EQ(r.bytes[i], 255);
}

TEST(ScreenCompiler, TheFontGoesIntoRecord21)
{
    TempFolder folder;
    std::string font(2048, '\0');
    for (size_t i = 0; i < font.size(); ++i)
        font[i] = char(i * 7);
    WriteWholeFile(folder.path() / "f.bin", font);
    std::string source = "record 21\nclear\nfont8x8 \"f.bin\"\n";
    CompileResult r = CompileScreenSource(source, folder.native("lib.scr"));
    ASSERT_TRUE(r.ok()) << r.errors[0].Format();
    ASSERT_EQ(r.bytes.size(), 21u * kRecordSize);
    const uint8_t* record = r.bytes.data() + 20 * kRecordSize;
    EXPECT_EQ(record[0], 129);
    EXPECT_EQ(record[1], 255);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record) + 1152, 2048), font);

    // The list must leave the font's bytes alone: 1151 bytes and the 255 fit.
    std::string fits = "record 21\nfont8x8 \"f.bin\"\nbytes";
    for (int i = 0; i < 1151; ++i)
        fits += " 254";
    EXPECT_TRUE(CompileScreenSource(fits + "\n", folder.native("lib.scr")).ok());
    std::vector<std::string> errors;
    for (const Diagnostic& d : CompileScreenSource(fits + " 254\n", folder.native("lib.scr")).errors)
        errors.push_back(d.message);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("1152"), std::string::npos) << errors[0];

    WriteWholeFile(folder.path() / "short.bin", std::string(2047, '\0'));
    EXPECT_FALSE(CompileScreenSource("record 21\nfont8x8 \"short.bin\"\n", folder.native("lib.scr")).ok());
    EXPECT_FALSE(CompileScreenSource("record 21\nfont8x8 \"missing.bin\"\n", folder.native("lib.scr")).ok());
}

TEST(ScreenCompiler, ErrorsNameTheirLine)
{
    ExpectError("record 1\nclear\nsparkle 3\n", 3, "unknown statement \"sparkle\"");
    ExpectError("record 1\n\nfill mauve 0 0 1 1\n", 3, "unknown colour \"mauve\"");
    ExpectError("record 1\nfill 256 0 0 1 1\n", 2, "colour 256 is out of range");
    ExpectError("record 1\nfield 128 5 0 0\n", 2, "field colour 128 is out of range");
    ExpectError("record 1\nfield 3 4 0 0 \"abcde\"\n", 2, "too long");
    ExpectError("record 1\ntext 3 0 0 \"" + std::string(256, 'x') + "\"\n", 2, "too long");
    ExpectError("record 1\nfill 3 0 0 10001 5\n", 2, "10001 is out of range");
    ExpectError("record 1\nfill 3 px 10 10 px 5 20\n", 2, "top-left");
    ExpectError("record 1\nfield 3 80 col 1 row 0\n", 2, "runs past the edge");
    ExpectError("record 1\ncaption 3 px 0 0 px 15 15 \"abc\"\n", 2, "does not fit");
    ExpectError("clear\nrecord 1\n", 1, "before the first \"record\"");
    ExpectError("record 1\nrecord 1\n", 2, "already defined at line 1");
    ExpectError("record 1\nchain 4\n", 2, "does not define");
    ExpectError("record 2\nfont8x8 \"x\"\n", 2, "record 21");
    ExpectError("record 1\nbytes 170 1 0\n", 2, "whole display command");
    ExpectError("record 1\nbytes 129 255\n", 2, "255");
    ExpectError("record 1\nbytes 100\n", 2, "whole display command");
    ExpectError("record 1\ninputbox\n", 2, "text field");
    ExpectError("record 1\nfill 3 0 0 1 1 extra\n", 2, "unexpected \"extra\"");
    ExpectError("record 1\nlabel 3 0 0 \"open\n", 2, "closing quote");
    ExpectError("", 1, "no record");

    // An overlong record is reported at the statement that overflowed it.
    std::string source = "record 1\n";
    for (int i = 0; i < 38; ++i) // 38 x 83 bytes fit 3200, the 39th does not
        source += "field 3 76 0 0\n";
    EXPECT_TRUE(CompileScreenSource(source, "bad.scr").ok());
    ExpectError(source + "field 3 76 0 0\nclear\n", 40, "record 1 is too long");

    // Every error is reported, each with its own line.
    std::vector<std::string> errors = Errors("record 1\nfill x\nclear\nframe odd\n");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].rfind("bad.scr:2: ", 0), 0u);
    EXPECT_EQ(errors[1].rfind("bad.scr:4: ", 0), 0u);
}

// A source with every statement, listed and compiled again.
TEST(ScreenCompiler, TheListingCompilesBackToTheSameBytes)
{
    const char* source = R"(
record 1
clear
restorefont
colourparam navy
colourparam none
opaque
transparent
charsize 3 0
textgrid 80 30
fill black px 0 0 px 639 479
frame flat red col 1 row 1 col 10 row 10 px 1
frame raised 20 0 0 100 100 0
frame sunken 3 0 0 100 100 7
frame shadow 3 0 0 100 100 7
frame shadowup 3 0 0 100 100 7
line 3 0 0 100 100 200 0
dashed 3 0 0 100 100
ellipse 4 100 100 900 100
ellipse 4 100 100 900 100 height 0 500
curve 5 0 0 1000 0 toward 500 500
roundbox 6 0 0 100 100 px 3
polygon 7 0 0 100 0 50 50 0 50
floodfill 8 50 10
text 9 col 1 row 2 "Text \"quoted\" \\ \x01"
label 10 col 1 row 3 "label"
field 11 20 col 1 row 4 "field"
inputbox
button 12 0 0 100 100 code 5 "206"
button230 0 0 0 100 100 0 code 1
button231 13 0 0 100 100 px 2 code 2 "231"
button232 0 0 0 100 100 0 code 3
button233 14 0 0 100 100 px 2 code 4 "233"
viewport 1000 1000 5000 5000
endviewport
picture 3 0 0 5000 5000 record 0 "picture.bmp"
chain 2
shownow 3
shownow wait
nop
bytes 216 0 1 0
bytes 130 3 0 2 0 0 0 0 0 8 0 2 255 0
record 2
label 3 0 0 "second"
)";
    CompileResult first = CompileScreenSource(source, "all.scr");
    ASSERT_TRUE(first.ok()) << first.errors[0].Format();
    std::string listing = DumpScreenFile(first.bytes);
    CompileResult again = CompileScreenSource(listing, "listing.scr");
    ASSERT_TRUE(again.ok()) << again.errors[0].Format() << "\n" << listing;
    EXPECT_EQ(again.bytes, first.bytes) << listing;
    // Commands without a statement of their own are listed as bytes.
    EXPECT_NE(listing.find("bytes 216 0 1 0"), std::string::npos) << listing;
    EXPECT_NE(listing.find("code 255"), std::string::npos) << listing; // the input box
}

TEST(ScreenCompiler, TheShippedBookListsAndCompilesBack)
{
    std::string book = ReadWholeFile(std::filesystem::path(KV_DIST_DIR) / "kestrvane.bk");
    ASSERT_EQ(book.size(), 2u * kRecordSize);
    Bytes bytes(book.begin(), book.end());
    CompileResult again = CompileScreenSource(DumpScreenFile(bytes), "listing.scr");
    ASSERT_TRUE(again.ok()) << again.errors[0].Format();
    EXPECT_EQ(again.bytes, bytes);
}

TEST(ScreenCompiler, TheListingDescribesWhatIsNoList)
{
    Bytes file(2 * kRecordSize, 255);
    file[0] = 129;
    file[1] = 100; // no opcode
    file[kRecordSize + 10] = 1; // data after record 2's empty list
    std::string listing = DumpScreenFile(file);
    EXPECT_NE(listing.find("100 is no display command"), std::string::npos) << listing;
    EXPECT_NE(listing.find("bytes 10..10 after the list hold data"), std::string::npos) << listing;

    // A short last record is listed as if padded.
    Bytes shortFile = {170, 1, 0, 0, 0, 0, 0, 9, 0, 9, 255};
    EXPECT_NE(DumpScreenFile(shortFile).find("11 bytes stored"), std::string::npos);
}

TEST(ScreenCompiler, FontRecordLayout)
{
    std::string error;
    std::vector<uint8_t> r = MakeFontRecord(90, 7, 1, 0x31, "Courier New", &error);
    std::vector<uint8_t> expected(60, 0);
    const uint8_t head[] = {90, 7, 1, 0x31, 'C', 'o', 'u', 'r', 'i', 'e', 'r', ' ', 'N', 'e', 'w'};
    std::copy(std::begin(head), std::end(head), expected.begin());
    EXPECT_EQ(r, expected);
    // The face keeps its terminating NUL inside bytes 4..35.
    EXPECT_TRUE(MakeFontRecord(0, 7, 0, 0, std::string(32, 'x'), &error).empty());
    EXPECT_EQ(MakeFontRecord(0, 7, 0, 0, std::string(31, 'x'), &error)[35], 0);
    EXPECT_TRUE(MakeFontRecord(256, 7, 0, 0, "a", &error).empty());
}

} // namespace
