// The listing of a screen file: every record's display list as source
// statements. Commands the source language has no statement for, or whose
// values it would not accept, are listed as `bytes`, so that the listing of
// any well-formed list compiles back to the same bytes.
#include <cstdio>

#include "tessil/display_commands.h"
#include "tools/screenc/screen_compiler.h"

namespace screenc {

using namespace tessil;

namespace {

int Word(const uint8_t* p) { return (int(p[0]) << 8) | int(p[1]); }

class Listing {
public:
    explicit Listing(const uint8_t* command) : c_(command) {}

    Listing& Say(const std::string& s)
    {
        if (!out_.empty())
            out_ += ' ';
        out_ += s;
        return *this;
    }
    Listing& Number(int v) { return Say(std::to_string(v)); }
    Listing& Colour(int v)
    {
        const char* name = ColourName(v);
        return Say(name ? name : std::to_string(v));
    }
    // A position at byte `at`; the comment gets its pixel at 640 x 480.
    Listing& Point(int at, bool rounding = true)
    {
        int u = Word(c_ + at), v = Word(c_ + at + 2);
        Number(u).Number(v);
        Note(std::to_string(UnitsToPixelX(u, rounding)) + "," + std::to_string(UnitsToPixelY(v, rounding)));
        return *this;
    }
    Listing& Rect(int at)
    {
        Point(at);
        Point(at + 4);
        return *this;
    }
    Listing& Text(int at, int count)
    {
        std::string s = "\"";
        for (int i = 0; i < count; ++i) {
            uint8_t ch = c_[at + i];
            if (ch == '"' || ch == '\\') {
                s += '\\';
                s += char(ch);
            } else if (ch >= 32 && ch < 127) {
                s += char(ch);
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", ch);
                s += hex;
            }
        }
        return Say(s + "\"");
    }
    void Note(const std::string& pixel)
    {
        notes_ += notes_.empty() ? "px " : " ";
        notes_ += pixel;
    }

    std::string Line() const
    {
        std::string line = "  " + out_;
        if (!notes_.empty()) {
            if (line.size() < 56)
                line.resize(56, ' ');
            line += "  # " + notes_;
        }
        return line + "\n";
    }

private:
    const uint8_t* c_;
    std::string out_, notes_;
};

bool InUnits(const uint8_t* p, int words)
{
    for (int i = 0; i < words; ++i)
        if (Word(p + 2 * i) > 10000)
            return false;
    return true;
}

// A rectangle the compiler accepts: in range, top-left corner first.
bool OrderedRect(const uint8_t* p)
{
    return InUnits(p, 4) && Word(p) <= Word(p + 4) && Word(p + 2) <= Word(p + 6);
}

// The statement for one command, or an empty string when it is to be listed
// as bytes.
std::string Statement(const uint8_t* c, size_t length)
{
    Listing l(c);
    uint8_t op = c[0];
    switch (op) {
    case kCmdRestoreFont: return l.Say("restorefont").Line();
    case kCmdClearScreen: return l.Say("clear").Line();
    case kCmdOpaqueText: return l.Say("opaque").Line();
    case kCmdTransparentText: return l.Say("transparent").Line();
    case kCmdEndViewport: return l.Say("endviewport").Line();
    case kCmdNop: return l.Say("nop").Line();
    case kCmdColourParameter:
        if (c[1] == 0)
            return l.Say("colourparam none").Line();
        if (c[1] < 16)
            return "";
        return l.Say("colourparam").Colour(c[1] - 16).Line();
    case kCmdCharSize:
        for (int i = 1; i <= 2; ++i)
            if (c[i] > 4 || c[i] == 1)
                return "";
        return l.Say("charsize").Number(c[1]).Number(c[2]).Line();
    case kCmdTextGrid:
        if (!InUnits(c + 1, 2))
            return "";
        return l.Say("textgrid").Number(Word(c + 1)).Number(Word(c + 3)).Line();
    case kCmdFillRect:
        if (!OrderedRect(c + 2))
            return "";
        return l.Say("fill").Colour(c[1]).Rect(2).Line();
    case kCmdFlatFrame: case kCmdRaisedFrame: case kCmdSunkenFrame: case kCmdShadowFrame: case kCmdShadowFrame2: {
        static const char* const kinds[] = {"flat", "raised", "sunken", "shadow", "shadowup"};
        if (!OrderedRect(c + 2) || !InUnits(c + 10, 1))
            return "";
        return l.Say("frame").Say(kinds[op - kCmdFlatFrame]).Colour(c[1]).Rect(2).Number(Word(c + 10)).Line();
    }
    case kCmdPolyline: case kCmdDashedPolyline: {
        if (c[2] < 2 || !InUnits(c + 3, 2 * c[2]))
            return "";
        l.Say(op == kCmdPolyline ? "line" : "dashed").Colour(c[1]);
        for (int i = 0; i < c[2]; ++i)
            l.Point(3 + 4 * i);
        return l.Line();
    }
    case kCmdPolygon: {
        int points = c[4];
        if (c[1] || c[2] || c[3] != 1 || points < 3 || !InUnits(c + 5, 2 * points) || c[5 + 4 * points] != 0)
            return "";
        l.Say("polygon").Colour(c[5 + 4 * points + 1]);
        for (int i = 0; i < points; ++i)
            l.Point(5 + 4 * i);
        return l.Line();
    }
    case kCmdEllipse:
        if (!InUnits(c + 2, 4))
            return "";
        return l.Say("ellipse").Colour(c[1]).Point(2).Point(6).Line();
    case kCmdEllipseHeight:
        if (!InUnits(c + 2, 6))
            return "";
        return l.Say("ellipse").Colour(c[1]).Point(2).Point(6).Say("height").Point(10).Line();
    case kCmdCurve:
        if (!InUnits(c + 2, 6))
            return "";
        return l.Say("curve").Colour(c[1]).Point(2).Point(6).Say("toward").Point(10).Line();
    case kCmdRoundBox:
        if (!OrderedRect(c + 2) || !InUnits(c + 10, 1))
            return "";
        return l.Say("roundbox").Colour(c[1]).Rect(2).Number(Word(c + 10)).Line();
    case kCmdFloodFill:
        if (!InUnits(c + 2, 2))
            return "";
        return l.Say("floodfill").Colour(c[1]).Point(2).Line();
    case kCmdText:
        if (!InUnits(c + 3, 2))
            return "";
        return l.Say("text").Colour(c[1]).Point(3, false).Text(kFieldTextOffset, c[2]).Line();
    case kCmdTextField:
        if (!InUnits(c + 3, 2))
            return "";
        if (c[1] & kFieldFlag) {
            if (c[2] == 0)
                return "";
            return l.Say("field").Colour(c[1] & ~kFieldFlag).Number(c[2]).Point(3).Text(kFieldTextOffset, c[2]).Line();
        }
        return l.Say("label").Colour(c[1]).Point(3).Text(kFieldTextOffset, c[2]).Line();
    case kCmdButton206:
        if (!OrderedRect(c + 2))
            return "";
        return l.Say("button").Colour(c[1]).Rect(2).Say("code").Number(c[10]).Text(12, c[11]).Line();
    case kCmdButton230: case kCmdButtonFrame: case kCmdButton232: case kCmdButton233:
        if (!OrderedRect(c + 2) || !InUnits(c + 10, 1))
            return "";
        l.Say("button" + std::to_string(op)).Colour(c[1]).Rect(2).Number(Word(c + 10)).Say("code").Number(c[12]);
        if (op == kCmdButtonFrame || op == kCmdButton233)
            l.Text(14, c[13]);
        return l.Line();
    case kCmdViewport:
        if (c[1] || !OrderedRect(c + 2))
            return "";
        return l.Say("viewport").Rect(2).Line();
    case kCmdPicture:
        if (!OrderedRect(c + 2) || Word(c + 10) != 0 || c[13] > 79)
            return "";
        return l.Say("picture").Colour(c[1]).Rect(2).Say("record").Number(c[12]).Text(14, c[13]).Line();
    case kCmdChain:
        if (c[1] == 0)
            return "";
        return l.Say("chain").Number(c[1]).Line();
    case kCmdShowNow:
        return c[1] == 255 ? l.Say("shownow wait").Line() : l.Say("shownow").Number(c[1]).Line();
    default:
        (void)length;
        return "";
    }
}

std::string Bytes(const uint8_t* c, size_t length)
{
    std::string s = "  bytes";
    for (size_t i = 0; i < length; ++i) {
        s += ' ';
        s += std::to_string(c[i]);
    }
    return s + "\n";
}

} // namespace

std::string DumpScreenFile(const std::vector<uint8_t>& bytes)
{
    std::string out;
    size_t records = (bytes.size() + kRecordSize - 1) / kRecordSize;
    for (size_t n = 1; n <= records; ++n) {
        std::vector<uint8_t> record(kRecordSize, kCmdEnd); // a short last record reads as padded
        size_t start = (n - 1) * kRecordSize;
        size_t have = bytes.size() - start < size_t(kRecordSize) ? bytes.size() - start : size_t(kRecordSize);
        std::copy(bytes.begin() + long(start), bytes.begin() + long(start + have), record.begin());

        std::string body;
        size_t at = 0;
        bool ended = false;
        while (at < record.size()) {
            const uint8_t* c = record.data() + at;
            if (*c == kCmdEnd) {
                ended = true;
                break;
            }
            size_t length = DisplayCommandLength(c, record.size() - at);
            if (length == 0) {
                body += "  # byte " + std::to_string(at) + ": " +
                        (IsDisplayOpcode(*c) ? "command " + std::to_string(*c) + " runs past the record"
                                                      : std::to_string(*c) + " is no display command") +
                        "; the rest of the record is not a list\n";
                break;
            }
            std::string statement = Statement(c, length);
            body += statement.empty() ? Bytes(c, length) : statement;
            at += length;
        }

        out += "record " + std::to_string(n) + "    # offset " + std::to_string(start) + ", ";
        out += ended ? "list of " + std::to_string(at + 1) + " bytes" : "no end mark";
        if (have < size_t(kRecordSize))
            out += ", " + std::to_string(have) + " bytes stored";
        out += "\n" + body;

        // Data after the list: the screen library's 8 x 8 font, or anything else.
        if (ended) {
            size_t first = at + 1, last = 0;
            for (size_t i = first; i < record.size(); ++i)
                if (record[i] != kCmdEnd) {
                    if (!last)
                        first = i;
                    last = i + 1;
                }
            if (last) {
                out += "  # bytes " + std::to_string(first) + ".." + std::to_string(last - 1);
                out += " after the list hold data";
                if (n == size_t(kFontRecord) && first >= size_t(kFont8x8Offset))
                    out += " (the 8 x 8 font lies at " + std::to_string(kFont8x8Offset) + ".." +
                           std::to_string(kFont8x8Offset + kFont8x8Size - 1) + ")";
                out += "\n";
            }
        }
    }
    return out;
}

} // namespace screenc
