// The screen source language.
//
// One statement a line; "#" starts a comment (outside quotes); blank lines
// are ignored. Words are separated by blanks. Every statement after `record N`
// adds display commands to record N; the compiler ends each record's list
// with 255 and pads the record with 255 to 3200 bytes. Records the source
// does not name are written as empty lists. Example:
//
//   record 1
//   clear
//   colourparam black                 # the opaque background of text fields
//   frame raised silver px 4 2 px 635 21 px 2
//   field yellow 76 col 2 row 1 "KESTROVANE MONITOR"
//   button231 silver px 456 458 px 541 477 px 2 code 90 "< Prev"
//   caption white px 456 458 px 541 477 "< Prev"
//
// Values
//   NUMBER   decimal, or hexadecimal with 0x
//   COLOUR   0..255, or black cyan magenta white red green blue yellow grey
//            teal purple silver maroon darkgreen navy olive (0..15)
//   POINT    U V           screen units, 0..10000 each
//            px X Y        a pixel of the 640 x 480 screen (0..639, 0..479)
//            col C row R   the top-left corner of a text cell (80 x 60; col 80
//                          and row 60 are the far edges)
//            px and col/row give the unit that converts back to exactly that
//            pixel with the conversion the command is drawn with, nearest to
//            the pixel's share of the screen, so larger screens keep the
//            proportions.
//   RECT     POINT POINT   top-left corner, then bottom-right corner
//   LENGTH   NUMBER (units) or px N (a thickness or radius in pixels)
//   TEXT     "..." with \" \\ and \xHH; at most 255 characters
//
// Statements                                      command
//   record N                                      starts record N (1..255)
//   clear                                         129
//   restorefont                                   128
//   colourparam COLOUR | none                     160 (text fields' opaque background)
//   opaque | transparent                          180 | 181
//   charsize FONT ROWS  (codes 0 default, 2 8x8, 3 12x12, 4 16x16)   178
//   textgrid COLUMNS ROWS  (Windows-font text; 0 = the default grid)  179
//   fill COLOUR RECT                              170
//   frame flat|raised|sunken|shadow|shadowup COLOUR RECT LENGTH     189..193
//   line COLOUR POINT POINT ...                   131 (2..255 points)
//   dashed COLOUR POINT POINT ...                 135
//   ellipse COLOUR POINT POINT [height POINT]     132 [133]
//   curve COLOUR POINT POINT toward POINT         134
//   roundbox COLOUR RECT LENGTH                   203
//   polygon COLOUR POINT POINT POINT ...          215 (3..255 points)
//   floodfill COLOUR POINT                        172
//   text COLOUR POINT TEXT                        151 (fixed Windows font)
//   label COLOUR POINT TEXT                       152, drawn text that is no field
//   caption COLOUR RECT TEXT                      152, a label centred in RECT
//   field COLOUR WIDTH POINT [TEXT]               152 with bit 7: a text field
//                                                 of WIDTH characters, its text
//                                                 padded with blanks
//   inputbox [N]                                  230 with code 255 over text
//                                                 field N of the record (default:
//                                                 the last one so far)
//   button COLOUR RECT code N TEXT                206
//   button230 | button232 COLOUR RECT LENGTH code N         230 | 232
//   button231 | button233 COLOUR RECT LENGTH code N TEXT    231 | 233
//   viewport RECT | endviewport                   186 | 187
//   picture COLOUR RECT record N TEXT             234 (record 0: TEXT names a .bmp)
//   chain N                                       161 (N: a record of this file)
//   shownow N | shownow wait                      163 (N x 50 ms; wait = a choice)
//   nop                                           254
//   bytes B B ...                                 raw bytes; whole commands, no 255
//   font8x8 TEXT                                  record 21 only: the 2048-byte
//                                                 font file TEXT (relative to the
//                                                 source) at bytes 1152..3199;
//                                                 the list must then end before 1152
//
// Colours of text fields and labels are 0..127 (bit 7 marks a field). Text
// fields, labels and captions are measured in the 8 x 8 font of 640 x 480 and
// must lie inside the screen. Every command emitted is checked against the
// framework's command table (tessil/display_commands.h).
#include "tools/screenc/screen_compiler.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include "tessil/display_commands.h"

namespace screenc {

using namespace tessil;

namespace {

constexpr int kWidth = 640, kHeight = 480; // the screen the pixel forms describe
constexpr int kCell = 8;                   // its character cell
constexpr int kRounding = 9000;

const char* const kColourNames[16] = {
    "black", "cyan", "magenta", "white", "red", "green", "blue", "yellow",
    "grey", "teal", "purple", "silver", "maroon", "darkgreen", "navy", "olive",
};

// A statement's error; the compiler adds file and line.
struct SourceError {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw SourceError{message}; }

std::string Str(long v) { return std::to_string(v); }

int CeilDiv(long a, long b) { return int(a >= 0 ? (a + b - 1) / b : -((-a) / b)); }

int PixelToUnits(int pixel, int full, bool rounding)
{
    if (pixel >= full)
        return 10000;
    long edge = full - 1, r = rounding ? kRounding : 0;
    int lo = CeilDiv(10000L * pixel - r, edge);
    if (lo < 0)
        lo = 0;
    int hi = CeilDiv(10000L * (pixel + 1) - r, edge) - 1;
    int ideal = int((20000L * pixel + full) / (2L * full));
    int u = ideal < lo ? lo : ideal > hi ? hi : ideal;
    return u > 10000 ? 10000 : u;
}

struct Token {
    enum Kind { Word, Number, Text } kind;
    std::string text; // a word, or a text's bytes
    long value = 0;
};

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::vector<Token> Tokenise(const std::string& line)
{
    std::vector<Token> tokens;
    size_t i = 0, n = line.size();
    while (i < n) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            Token t{Token::Text, "", 0};
            ++i;
            for (;;) {
                if (i >= n)
                    Fail("text without its closing quote");
                char d = line[i++];
                if (d == '"')
                    break;
                if (d != '\\') {
                    t.text += d;
                    continue;
                }
                if (i >= n)
                    Fail("text without its closing quote");
                char e = line[i++];
                if (e == '"' || e == '\\') {
                    t.text += e;
                } else if (e == 'x' && i + 1 < n && HexDigit(line[i]) >= 0 && HexDigit(line[i + 1]) >= 0) {
                    t.text += char(HexDigit(line[i]) * 16 + HexDigit(line[i + 1]));
                    i += 2;
                } else {
                    Fail(std::string("unknown escape \\") + e + " in a text (use \\\", \\\\ or \\xHH)");
                }
            }
            tokens.push_back(t);
        } else {
            size_t start = i;
            while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#' && line[i] != '"')
                ++i;
            std::string word = line.substr(start, i - start);
            Token t{Token::Word, word, 0};
            // Numbers: decimal, 0x hexadecimal, and a sign so that -5 is
            // reported as out of range rather than as an unknown word.
            size_t at = word[0] == '-' ? 1 : 0;
            bool hex = word.size() > at + 2 && word[at] == '0' && (word[at + 1] == 'x' || word[at + 1] == 'X');
            size_t digits = hex ? at + 2 : at;
            bool number = digits < word.size();
            long value = 0;
            for (size_t k = digits; k < word.size() && number; ++k) {
                int d = hex ? HexDigit(word[k]) : (word[k] >= '0' && word[k] <= '9' ? word[k] - '0' : -1);
                if (d < 0)
                    number = false;
                else if (value < 1000000000L)
                    value = value * (hex ? 16 : 10) + d;
            }
            if (number) {
                t.kind = Token::Number;
                t.value = at ? -value : value;
            }
            tokens.push_back(t);
        }
    }
    return tokens;
}

struct Point {
    int u, v;
};
struct Rect {
    Point a, b;
};

// Reads a statement's arguments from left to right.
class Args {
public:
    explicit Args(const std::vector<Token>& tokens) : tokens_(tokens) {}

    bool AtEnd() const { return at_ >= tokens_.size(); }
    bool NextIs(const char* word) const
    {
        return !AtEnd() && tokens_[at_].kind == Token::Word && tokens_[at_].text == word;
    }
    void Expect(const char* word)
    {
        if (!NextIs(word))
            Fail(std::string("expected \"") + word + "\"" + Found());
        ++at_;
    }
    void End()
    {
        if (!AtEnd())
            Fail("unexpected " + Describe(tokens_[at_]) + " after the statement");
    }
    long Number(long min, long max, const std::string& what)
    {
        if (AtEnd() || tokens_[at_].kind != Token::Number)
            Fail("expected " + what + Found());
        long v = tokens_[at_++].value;
        if (v < min || v > max)
            Fail(what + " " + Str(v) + " is out of range (" + Str(min) + ".." + Str(max) + ")");
        return v;
    }
    int Colour(int max, const std::string& what = "colour")
    {
        if (!AtEnd() && tokens_[at_].kind == Token::Word) {
            for (int i = 0; i < 16; ++i)
                if (tokens_[at_].text == kColourNames[i]) {
                    ++at_;
                    return i;
                }
            Fail("unknown colour \"" + tokens_[at_].text + "\"");
        }
        return int(Number(0, max, what));
    }
    // rounding: the conversion the command is drawn with (with the rounding
    // term), which px and col/row must convert back through.
    Point ReadPoint(bool rounding)
    {
        if (NextIs("px")) {
            ++at_;
            int x = int(Number(0, kWidth - 1, "pixel x"));
            int y = int(Number(0, kHeight - 1, "pixel y"));
            return {PixelToUnits(x, kWidth, rounding), PixelToUnits(y, kHeight, rounding)};
        }
        if (NextIs("col")) {
            ++at_;
            int c = int(Number(0, 80, "column"));
            Expect("row");
            int r = int(Number(0, 60, "row"));
            return {PixelToUnits(c * kCell, kWidth, rounding), PixelToUnits(r * kCell, kHeight, rounding)};
        }
        int u = int(Number(0, 10000, "position (screen units)"));
        int v = int(Number(0, 10000, "position (screen units)"));
        return {u, v};
    }
    Rect ReadRect(bool rounding = true)
    {
        Rect r{ReadPoint(rounding), ReadPoint(rounding)};
        if (r.a.u > r.b.u || r.a.v > r.b.v)
            Fail("a rectangle's first corner must be its top-left one");
        return r;
    }
    int Length()
    {
        if (NextIs("px")) {
            ++at_;
            return PixelToUnits(int(Number(0, kWidth - 1, "pixel length")), kWidth, true);
        }
        return int(Number(0, 10000, "length (screen units)"));
    }
    std::string Text(const std::string& what, size_t max = 255)
    {
        if (AtEnd() || tokens_[at_].kind != Token::Text)
            Fail("expected " + what + " in quotes" + Found());
        const std::string& t = tokens_[at_++].text;
        if (t.size() > max)
            Fail(what + " of " + Str(long(t.size())) + " characters is too long (at most " + Str(long(max)) + ")");
        return t;
    }
    bool NextIsText() const { return !AtEnd() && tokens_[at_].kind == Token::Text; }

private:
    static std::string Describe(const Token& t)
    {
        switch (t.kind) {
        case Token::Number: return "number " + Str(t.value);
        case Token::Text: return "text \"" + t.text + "\"";
        default: return "\"" + t.text + "\"";
        }
    }
    std::string Found() const { return AtEnd() ? ", found the end of the line" : ", found " + Describe(tokens_[at_]); }

    const std::vector<Token>& tokens_;
    size_t at_ = 1; // token 0 is the statement's name
};

// A command under construction.
struct Command {
    std::vector<uint8_t> b;
    Command& U8(int v)
    {
        b.push_back(uint8_t(v));
        return *this;
    }
    Command& U16(int v)
    {
        b.push_back(uint8_t(v >> 8));
        b.push_back(uint8_t(v));
        return *this;
    }
    Command& At(Point p) { return U16(p.u).U16(p.v); }
    Command& Box(const Rect& r) { return At(r.a).At(r.b); }
    Command& Bytes(const std::string& s)
    {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
};

struct FieldPlace {
    Point at;
    int width;
};

struct RecordBuild {
    int line = 0; // where the record was started
    std::vector<uint8_t> list;
    int overflowLine = 0;     // the statement that took the list past 3200 bytes
    int fontOverflowLine = 0; // ... past the font's start
    int fontLine = 0;
    std::vector<uint8_t> font;
    std::vector<FieldPlace> fields;
};

class Compiler {
public:
    Compiler(const std::string& path) : path_(path)
    {
        size_t slash = path.find_last_of("/\\");
        folder_ = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    }

    CompileResult Run(const std::string& source)
    {
        size_t start = 0;
        for (line_ = 1; start <= source.size(); ++line_) {
            size_t end = source.find('\n', start);
            if (end == std::string::npos)
                end = source.size();
            try {
                Statement(Tokenise(source.substr(start, end - start)));
            } catch (const SourceError& e) {
                Error(line_, e.message);
            }
            start = end + 1;
        }
        Finish();
        CompileResult result;
        result.errors = errors_;
        if (errors_.empty())
            result.bytes = Assemble();
        return result;
    }

private:
    void Error(int line, const std::string& message) { errors_.push_back({path_, line, message}); }

    RecordBuild& Current()
    {
        if (!current_)
            Fail("a statement before the first \"record\"");
        return *current_;
    }

    // Appends one command to the current record after checking it against
    // the framework's command table.
    void Emit(const Command& c)
    {
        RecordBuild& r = Current();
        size_t length = DisplayCommandLength(c.b.data(), c.b.size());
        if (length != c.b.size())
            Fail("internal error: command " + Str(c.b[0]) + " came out " + Str(long(c.b.size())) +
                 " bytes long, the command table says " + Str(long(length)));
        r.list.insert(r.list.end(), c.b.begin(), c.b.end());
        // The list and its closing 255 must fit.
        if (r.list.size() + 1 > size_t(kRecordSize) && !r.overflowLine)
            r.overflowLine = line_;
        if (r.list.size() + 1 > size_t(kFont8x8Offset) && !r.fontOverflowLine)
            r.fontOverflowLine = line_;
    }

    void CheckInsideScreen(Point at, int cells, const char* what)
    {
        int x = UnitsToPixelX(at.u, true), y = UnitsToPixelY(at.v, true);
        if (x + cells * kCell > kWidth || y + kCell > kHeight)
            Fail(std::string(what) + " of " + Str(cells) + " characters at pixel " + Str(x) + ", " + Str(y) +
                 " runs past the edge of the 640 x 480 screen");
    }

    void Statement(const std::vector<Token>& tokens)
    {
        if (tokens.empty())
            return;
        if (tokens[0].kind != Token::Word)
            Fail("a statement starts with its name");
        const std::string& name = tokens[0].text;
        Args a(tokens);

        if (name == "record") {
            int n = int(a.Number(1, kMaxRecord, "record number"));
            a.End();
            auto [it, fresh] = records_.try_emplace(n);
            if (!fresh)
                Fail("record " + Str(n) + " is already defined at line " + Str(it->second.line));
            it->second.line = line_;
            current_ = &it->second;
            currentNumber_ = n;
        } else if (name == "clear" || name == "restorefont" || name == "opaque" || name == "transparent" ||
                   name == "endviewport" || name == "nop") {
            a.End();
            int op = name == "clear"         ? kCmdClearScreen
                   : name == "restorefont"   ? kCmdRestoreFont
                   : name == "opaque"        ? kCmdOpaqueText
                   : name == "transparent"   ? kCmdTransparentText
                   : name == "endviewport"   ? kCmdEndViewport
                                             : kCmdNop;
            Emit(Command().U8(op));
        } else if (name == "colourparam") {
            int b1;
            if (a.NextIs("none")) {
                a.Expect("none");
                b1 = 0;
            } else {
                b1 = a.Colour(255 - 16) + 16;
            }
            a.End();
            Emit(Command().U8(kCmdColourParameter).U8(b1));
        } else if (name == "charsize") {
            int codes[2];
            for (int& code : codes) {
                code = int(a.Number(0, 4, "character size code"));
                if (code == 1)
                    Fail("character size code 1 names no font (0 default, 2 8x8, 3 12x12, 4 16x16)");
            }
            a.End();
            Emit(Command().U8(kCmdCharSize).U8(codes[0]).U8(codes[1]));
        } else if (name == "textgrid") {
            int columns = int(a.Number(0, 10000, "text grid columns"));
            int rows = int(a.Number(0, 10000, "text grid rows"));
            a.End();
            Emit(Command().U8(kCmdTextGrid).U16(columns).U16(rows));
        } else if (name == "fill") {
            int c = a.Colour(255);
            Rect r = a.ReadRect();
            a.End();
            Emit(Command().U8(kCmdFillRect).U8(c).Box(r));
        } else if (name == "frame") {
            static const std::map<std::string, int> kinds = {
                {"flat", kCmdFlatFrame},     {"raised", kCmdRaisedFrame},      {"sunken", kCmdSunkenFrame},
                {"shadow", kCmdShadowFrame}, {"shadowup", kCmdShadowFrame2}};
            if (a.AtEnd() || !kinds.count(tokens[1].text))
                Fail("a frame is flat, raised, sunken, shadow or shadowup");
            int op = kinds.at(tokens[1].text);
            a.Expect(tokens[1].text.c_str());
            int c = a.Colour(255);
            Rect r = a.ReadRect();
            int t = a.Length();
            a.End();
            Emit(Command().U8(op).U8(c).Box(r).U16(t));
        } else if (name == "line" || name == "dashed" || name == "polygon") {
            int c = a.Colour(255);
            std::vector<Point> points;
            while (!a.AtEnd())
                points.push_back(a.ReadPoint(true));
            size_t least = name == "polygon" ? 3 : 2;
            if (points.size() < least || points.size() > 255)
                Fail("a " + name + " has " + Str(long(least)) + " to 255 points, not " + Str(long(points.size())));
            Command cmd;
            if (name == "polygon")
                cmd.U8(kCmdPolygon).U8(0).U8(0).U8(1).U8(int(points.size()));
            else
                cmd.U8(name == "line" ? kCmdPolyline : kCmdDashedPolyline).U8(c).U8(int(points.size()));
            for (Point p : points)
                cmd.At(p);
            if (name == "polygon")
                cmd.U16(c); // the polygon's one value: its colour
            Emit(cmd);
        } else if (name == "ellipse") {
            int c = a.Colour(255);
            Point p1 = a.ReadPoint(true), p2 = a.ReadPoint(true);
            if (a.NextIs("height")) {
                a.Expect("height");
                Point p3 = a.ReadPoint(true);
                a.End();
                Emit(Command().U8(kCmdEllipseHeight).U8(c).At(p1).At(p2).At(p3));
            } else {
                a.End();
                Emit(Command().U8(kCmdEllipse).U8(c).At(p1).At(p2));
            }
        } else if (name == "curve") {
            int c = a.Colour(255);
            Point from = a.ReadPoint(true), to = a.ReadPoint(true);
            a.Expect("toward");
            Point toward = a.ReadPoint(true);
            a.End();
            Emit(Command().U8(kCmdCurve).U8(c).At(from).At(to).At(toward));
        } else if (name == "roundbox") {
            int c = a.Colour(255);
            Rect r = a.ReadRect();
            int radius = a.Length();
            a.End();
            Emit(Command().U8(kCmdRoundBox).U8(c).Box(r).U16(radius));
        } else if (name == "floodfill") {
            int c = a.Colour(255);
            Point p = a.ReadPoint(true);
            a.End();
            Emit(Command().U8(kCmdFloodFill).U8(c).At(p));
        } else if (name == "text") {
            int c = a.Colour(255);
            Point p = a.ReadPoint(false); // command 151 converts without the rounding term
            std::string t = a.Text("text");
            a.End();
            Emit(Command().U8(kCmdText).U8(c).U8(int(t.size())).At(p).Bytes(t));
        } else if (name == "label") {
            int c = a.Colour(127, "label colour");
            Point p = a.ReadPoint(true);
            std::string t = a.Text("label");
            a.End();
            CheckInsideScreen(p, int(t.size()), "a label");
            Emit(Command().U8(kCmdTextField).U8(c).U8(int(t.size())).At(p).Bytes(t));
        } else if (name == "caption") {
            int c = a.Colour(127, "caption colour");
            Rect r = a.ReadRect();
            std::string t = a.Text("caption");
            a.End();
            Emit(Command().U8(kCmdTextField).U8(c).U8(int(t.size())).At(Centred(r, int(t.size()))).Bytes(t));
        } else if (name == "field") {
            int c = a.Colour(127, "field colour");
            int width = int(a.Number(1, 255, "field width"));
            Point p = a.ReadPoint(true);
            std::string t = a.NextIsText() ? a.Text("field text", size_t(width)) : "";
            a.End();
            CheckInsideScreen(p, width, "a field");
            t.resize(size_t(width), ' ');
            Emit(Command().U8(kCmdTextField).U8(kFieldFlag | c).U8(width).At(p).Bytes(t));
            Current().fields.push_back({p, width});
        } else if (name == "inputbox") {
            const std::vector<FieldPlace>& fields = Current().fields;
            long n = a.AtEnd() ? long(fields.size()) : a.Number(1, 1000, "field number");
            a.End();
            if (n < 1 || n > long(fields.size()))
                Fail(fields.empty() ? "an input box needs a text field before it"
                                    : "record has no text field " + Str(n) + " yet");
            const FieldPlace& f = fields[size_t(n - 1)];
            int x = UnitsToPixelX(f.at.u, true), y = UnitsToPixelY(f.at.v, true);
            Rect r{f.at, {PixelToUnitsX(x + f.width * kCell - 1, true), PixelToUnitsY(y + kCell - 1, true)}};
            Emit(Command().U8(kCmdButton230).U8(0).Box(r).U16(0).U8(255));
        } else if (name == "button") {
            int c = a.Colour(255);
            Rect r = a.ReadRect();
            a.Expect("code");
            int code = int(a.Number(0, 255, "button code"));
            std::string t = a.Text("caption");
            a.End();
            Emit(Command().U8(kCmdButton206).U8(c).Box(r).U8(code).U8(int(t.size())).Bytes(t));
        } else if (name == "button230" || name == "button231" || name == "button232" || name == "button233") {
            int op = std::stoi(name.substr(6)); // the statement names its opcode
            int c = a.Colour(255);
            Rect r = a.ReadRect();
            int t = a.Length();
            a.Expect("code");
            int code = int(a.Number(0, 255, "button code"));
            Command cmd;
            cmd.U8(op).U8(c).Box(r).U16(t).U8(code);
            if (op == kCmdButtonFrame || op == kCmdButton233) {
                std::string caption = a.Text("caption");
                cmd.U8(int(caption.size())).Bytes(caption);
            }
            a.End();
            Emit(cmd);
        } else if (name == "viewport") {
            Rect r = a.ReadRect();
            a.End();
            Emit(Command().U8(kCmdViewport).U8(0).Box(r));
        } else if (name == "picture") {
            int c = a.Colour(255);
            Rect r = a.ReadRect();
            a.Expect("record");
            int record = int(a.Number(0, kMaxRecord, "picture record"));
            std::string file = a.Text("file name", 79); // the framework keeps 80 bytes of it
            a.End();
            Emit(Command().U8(kCmdPicture).U8(c).Box(r).U16(0).U8(record).U8(int(file.size())).Bytes(file));
        } else if (name == "chain") {
            int n = int(a.Number(1, kMaxRecord, "record number"));
            a.End();
            chains_.push_back({n, line_});
            Emit(Command().U8(kCmdChain).U8(n));
        } else if (name == "shownow") {
            int pause;
            if (a.NextIs("wait")) {
                a.Expect("wait");
                pause = 255;
            } else {
                pause = int(a.Number(0, 254, "pause (50 ms steps)"));
            }
            a.End();
            Emit(Command().U8(kCmdShowNow).U8(pause));
        } else if (name == "bytes") {
            std::vector<uint8_t> raw;
            while (!a.AtEnd())
                raw.push_back(uint8_t(a.Number(0, 255, "byte")));
            if (raw.empty())
                Fail("bytes needs at least one byte");
            for (size_t i = 0; i < raw.size();) {
                if (raw[i] == kCmdEnd)
                    Fail("bytes may not hold 255: the compiler ends each record's list itself");
                size_t length = DisplayCommandLength(raw.data() + i, raw.size() - i);
                if (length == 0)
                    Fail("bytes from byte " + Str(long(i + 1)) + " (" + Str(raw[i]) +
                         ") do not form a whole display command");
                Command cmd;
                cmd.b.assign(raw.begin() + long(i), raw.begin() + long(i + length));
                Emit(cmd);
                i += length;
            }
        } else if (name == "font8x8") {
            std::string file = a.Text("font file name", 1000);
            a.End();
            RecordBuild& r = Current();
            if (currentNumber_ != kFontRecord)
                Fail("the 8 x 8 font belongs in record 21, not record " + Str(currentNumber_));
            if (r.fontLine)
                Fail("record 21 already holds a font (line " + Str(r.fontLine) + ")");
            std::string full = file.size() && (file[0] == '/' || file[0] == '\\' || (file.size() > 1 && file[1] == ':'))
                                   ? file
                                   : folder_ + file;
            std::ifstream in(full, std::ios::binary);
            if (!in)
                Fail("cannot read the font file " + full);
            std::vector<uint8_t> font((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (font.size() != size_t(kFont8x8Size))
                Fail("the font file " + full + " holds " + Str(long(font.size())) + " bytes, not 2048");
            r.font = font;
            r.fontLine = line_;
        } else {
            Fail("unknown statement \"" + name + "\"");
        }
    }

    // Where a label of `count` characters sits centred in a rectangle, in
    // the cells of 640 x 480.
    Point Centred(const Rect& r, int count)
    {
        int left = UnitsToPixelX(r.a.u, true), top = UnitsToPixelY(r.a.v, true);
        int right = UnitsToPixelX(r.b.u, true), bottom = UnitsToPixelY(r.b.v, true);
        int width = right - left + 1, height = bottom - top + 1;
        if (count * kCell > width || kCell > height)
            Fail("a caption of " + Str(count) + " characters does not fit its " + Str(width) + " x " + Str(height) +
                 " pixel rectangle");
        return {PixelToUnitsX(left + (width - count * kCell) / 2, true),
                PixelToUnitsY(top + (height - kCell) / 2, true)};
    }

    void Finish()
    {
        if (records_.empty() && errors_.empty())
            Error(1, "the source defines no record");
        for (auto& [number, r] : records_) {
            bool font = r.fontLine != 0;
            int overflow = font ? r.fontOverflowLine : r.overflowLine;
            if (overflow) {
                std::string limit = font ? Str(kFont8x8Offset) + " (the 8 x 8 font starts there)" : Str(kRecordSize);
                Error(overflow, "record " + Str(number) + " is too long: its list and end mark need " +
                                    Str(long(r.list.size() + 1)) + " bytes, more than " + limit);
            }
        }
        for (auto [target, line] : chains_)
            if (!records_.count(target))
                Error(line, "chain to record " + Str(target) + ", which this file does not define");
    }

    std::vector<uint8_t> Assemble() const
    {
        int last = records_.rbegin()->first;
        std::vector<uint8_t> file(size_t(last) * kRecordSize, kCmdEnd);
        for (const auto& [number, r] : records_) {
            uint8_t* record = file.data() + size_t(number - 1) * kRecordSize;
            std::copy(r.list.begin(), r.list.end(), record);
            if (!r.font.empty())
                std::copy(r.font.begin(), r.font.end(), record + kFont8x8Offset);
        }
        return file;
    }

    std::string path_, folder_;
    int line_ = 0;
    std::vector<Diagnostic> errors_;
    std::map<int, RecordBuild> records_;
    RecordBuild* current_ = nullptr;
    int currentNumber_ = 0;
    std::vector<std::pair<int, int>> chains_; // record, line
};

} // namespace

std::string Diagnostic::Format() const { return file + ":" + std::to_string(line) + ": " + message; }

CompileResult CompileScreenSource(const std::string& source, const std::string& path)
{
    return Compiler(path).Run(source);
}

int UnitsToPixelX(int u, bool rounding) { return int((long(u) * (kWidth - 1) + (rounding ? kRounding : 0)) / 10000); }
int UnitsToPixelY(int v, bool rounding) { return int((long(v) * (kHeight - 1) + (rounding ? kRounding : 0)) / 10000); }
int PixelToUnitsX(int x, bool rounding) { return PixelToUnits(x, kWidth, rounding); }
int PixelToUnitsY(int y, bool rounding) { return PixelToUnits(y, kHeight, rounding); }

const char* ColourName(int colour) { return colour >= 0 && colour < 16 ? kColourNames[colour] : nullptr; }

std::vector<uint8_t> MakeFontRecord(int pointSizeTenths, int weightHundreds, int italic, int pitchAndFamily,
                                    const std::string& face, std::string* error)
{
    auto bad = [&](const std::string& what) {
        if (error)
            *error = what;
        return std::vector<uint8_t>();
    };
    if (pointSizeTenths < 0 || pointSizeTenths > 255)
        return bad("the point size in tenths is 0..255");
    if (weightHundreds < 0 || weightHundreds > 9)
        return bad("the weight in hundreds is 0..9");
    if (italic != 0 && italic != 1)
        return bad("italic is 0 or 1");
    if (pitchAndFamily < 0 || pitchAndFamily > 255)
        return bad("pitch and family is one byte");
    if (face.size() > 31 || face.find('\0') != std::string::npos)
        return bad("the face name has at most 31 characters");
    std::vector<uint8_t> record(60, 0);
    record[0] = uint8_t(pointSizeTenths);
    record[1] = uint8_t(weightHundreds);
    record[2] = uint8_t(italic);
    record[3] = uint8_t(pitchAndFamily);
    std::copy(face.begin(), face.end(), record.begin() + 4);
    return record;
}

} // namespace screenc
