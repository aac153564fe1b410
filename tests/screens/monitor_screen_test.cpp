// The shipped screens, from the build's distribution folder: the monitor
// book's records offer the text lines and buttons the program addresses, laid
// out without overlaps, the framework loads them, and they draw cleanly with
// the shipped fonts. Pictures of both are written to the build folder
// (monitor_screen.png, with a page of events, and event_list_page.png) to be
// looked at.
#include "tessil/tessil_fixture.h"

#include <filesystem>
#include <sstream>

#include "tools/png/png_file.h"
#include "tessil/screen_program.h"

namespace tessil_test {
namespace {

namespace fs = std::filesystem;

struct Box {
    int left, top, right, bottom; // pixels, edges included
};

bool Overlap(const Box& a, const Box& b)
{
    return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

bool Inside(const Box& inner, const Box& outer)
{
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

struct Field {
    Box box;
    int width;
    uint8_t colour;
    std::string text;
};

struct Button {
    uint8_t kind;
    int code;
    Box box; // as the choice wait tests clicks: without the rounding term
};

struct Screen {
    std::vector<Field> fields;
    std::vector<Button> buttons;
};

const Box kWholeScreen = {0, 0, 639, 479};

class ShippedScreens : public TessilTest {
protected:
    void SetUp() override
    {
        TessilTest::SetUp();
        fs::path dist = KV_DIST_DIR;
        for (const char* name : {"kestrvane.bk", "kvscreens.lib", "CHAR12X12.FNT", "CHAR16X16.FNT"}) {
            ASSERT_TRUE(fs::exists(dist / name)) << "missing " << (dist / name).string();
            fs::copy_file(dist / name, folder.path() / name, fs::copy_options::overwrite_existing);
        }
        book_ = ReadWholeFile(folder.path() / "kestrvane.bk");
        SetScreenLibraryPath("kvscreens.lib");
        ASSERT_EQ(LoadScreenFonts(), 1);
    }

    std::vector<uint8_t> Record(int n) const
    {
        std::vector<uint8_t> r(kRecordSize, kCmdEnd);
        size_t start = size_t(n - 1) * kRecordSize;
        for (size_t i = 0; i < size_t(kRecordSize) && start + i < book_.size(); ++i)
            r[i] = uint8_t(book_[start + i]);
        return r;
    }

    // Walks a record command by command, as the screen loader does.
    Screen Walk(int n) const
    {
        std::vector<uint8_t> r = Record(n);
        Screen s;
        size_t at = 0;
        while (at < r.size() && r[at] != kCmdEnd) {
            const uint8_t* c = r.data() + at;
            size_t length = DisplayCommandLength(c, r.size() - at);
            if (length == 0) {
                ADD_FAILURE() << "record " << n << ": no command at byte " << at;
                break;
            }
            if (c[0] == kCmdTextField && (c[1] & 0x80)) {
                int x = UnitsToX(Word16(c + 3)), y = UnitsToY(Word16(c + 5));
                s.fields.push_back({{x, y, x + 8 * c[2] - 1, y + 7}, c[2], uint8_t(c[1] & 0x7F),
                                    std::string(reinterpret_cast<const char*>(c + 7), c[2])});
            } else if (c[0] == kCmdButton206 || (c[0] >= kCmdButton230 && c[0] <= kCmdButton233)) {
                int code = c[0] == kCmdButton206 ? c[10] : c[12];
                s.buttons.push_back({c[0], code,
                                     {UnitsToXExact(Word16(c + 2)), UnitsToYExact(Word16(c + 4)),
                                      UnitsToXExact(Word16(c + 6)), UnitsToYExact(Word16(c + 8))}});
            }
            at += length;
        }
        EXPECT_LT(at, r.size()) << "record " << n << " has no end mark";
        return s;
    }

    void Draw(int n)
    {
        std::vector<uint8_t> r = Record(n);
        std::memset(LineBuffer(), 0, 80);
        ExecuteDisplayList(r.data(), r.data() + r.size(), 0);
    }

    std::string book_;
};

// The 27 lines of the monitor's line convention: one column, top to bottom,
// none overlapping another, all inside the screen and wide enough for the
// event lines.
void ExpectMonitorLines(const Screen& s)
{
    ASSERT_EQ(s.fields.size(), 27u);
    for (size_t i = 0; i < s.fields.size(); ++i) {
        const Field& f = s.fields[i];
        EXPECT_TRUE(Inside(f.box, kWholeScreen)) << "line " << i + 1;
        EXPECT_GE(f.width, 72) << "line " << i + 1;
        EXPECT_EQ(f.box.left, s.fields[0].box.left) << "line " << i + 1;
        if (i > 0) {
            EXPECT_GT(f.box.top, s.fields[i - 1].box.bottom) << "line " << i + 1 << " is not below line " << i;
        }
    }
    EXPECT_LT(s.fields[0].box.top, 32) << "the title line is near the top";
    EXPECT_GT(s.fields[26].box.top, 400) << "the site line is near the bottom";
}

const Button* FindButton(const Screen& s, int code)
{
    for (const Button& b : s.buttons)
        if (b.code == code)
            return &b;
    return nullptr;
}

void ExpectPageButtons(const Screen& s)
{
    for (int code : {90, 91}) {
        const Button* b = FindButton(s, code);
        ASSERT_TRUE(b) << "no button with code " << code;
        EXPECT_TRUE(Inside(b->box, kWholeScreen));
        for (size_t i = 0; i < s.fields.size(); ++i)
            EXPECT_FALSE(Overlap(b->box, s.fields[i].box)) << "button " << code << " covers line " << i + 1;
    }
    for (size_t i = 0; i < s.buttons.size(); ++i)
        for (size_t j = i + 1; j < s.buttons.size(); ++j)
            EXPECT_FALSE(Overlap(s.buttons[i].box, s.buttons[j].box))
                << "buttons " << s.buttons[i].code << " and " << s.buttons[j].code << " overlap";
}

TEST_F(ShippedScreens, MonitorScreenHoldsTheLinesAndThePageButtons)
{
    Screen s = Walk(1);
    ExpectMonitorLines(s);
    EXPECT_EQ(s.fields[0].text.rfind("KESTROVANE MONITOR", 0), 0u);
    ASSERT_EQ(s.buttons.size(), 2u);
    ExpectPageButtons(s);
}

TEST_F(ShippedScreens, EventListPageMakesEveryEventLineAChoice)
{
    Screen page = Walk(2), monitor = Walk(1);
    ExpectMonitorLines(page);
    ExpectPageButtons(page);
    // The same lines as the monitor screen, so that either shows the events.
    for (size_t i = 0; i < page.fields.size(); ++i) {
        EXPECT_EQ(page.fields[i].box.left, monitor.fields[i].box.left);
        EXPECT_EQ(page.fields[i].box.top, monitor.fields[i].box.top);
        EXPECT_EQ(page.fields[i].width, monitor.fields[i].width);
    }
    // Choice n covers event line n (text line n + 1) and no other line.
    ASSERT_EQ(page.buttons.size(), 27u);
    for (int n = 1; n <= 25; ++n) {
        const Button* b = FindButton(page, n);
        ASSERT_TRUE(b) << "no button for event line " << n;
        EXPECT_NE(b->kind, kCmdButton206) << "206 buttons are drawn as boxes";
        for (size_t i = 0; i < page.fields.size(); ++i)
            EXPECT_EQ(Overlap(b->box, page.fields[i].box), int(i) == n) << "button " << n << ", line " << i + 1;
    }
}

TEST_F(ShippedScreens, TheFrameworkLoadsTheLinesAndButtons)
{
    for (int record : {1, 2}) {
        OpenBook("kestrvane.bk", record, 2); // the field table only
        EXPECT_NE(FindField(kCmdTextFieldRecord, 27), 65535) << "record " << record;
        EXPECT_EQ(FindField(kCmdTextFieldRecord, 28), 65535) << "record " << record;
    }
    // Record 2's first 230 button is event line 1.
    uint16_t first = FindField(kCmdButton230, 1);
    ASSERT_NE(first, 65535);
    EXPECT_EQ(fieldTable[first][12], 1);
    EXPECT_EQ(hostLog.exits, 0);
}

TEST_F(ShippedScreens, ScreensDrawCleanlyWithTheShippedFonts)
{
    for (int record : {1, 2}) {
        Draw(record);
        EXPECT_NE(std::string(LineBuffer()).rfind("Invalid", 0), 0u) << LineBuffer();
        // The title's text is drawn in its colour with the library's font.
        Field title = Walk(record).fields[0];
        EXPECT_GT(Count(title.colour, title.box.left, title.box.top, title.box.right, title.box.bottom), 100)
            << "record " << record;
        if (record == 2) {
            fs::path picture = fs::path(KV_SCREENS_PICTURE_DIR) / "event_list_page.png";
            EXPECT_TRUE(WritePng(ScreenSurface(), picture.string().c_str())) << picture.string();
        }
    }
    EXPECT_EQ(hostLog.exits, 0);
}

// The monitor screen as the program shows it: loaded by the framework, with a
// title, a page of events in their colours and a site line.
TEST_F(ShippedScreens, MonitorScreenShowsAPageOfEvents)
{
    OpenBook("kestrvane.bk", 1, 0);
    const struct {
        const char* text;
        uint8_t colour;
    } events[] = {
        {"03-07 09:05 FILE RELO (SW  ) index.html", 3},
        {"03-07 09:05 FILE XFND (SW  ) shell.php", 7},
        {"03-07 09:04 FLDR CHNG (SW  ) images", 11},
        {"03-07 09:02 NEWF UPLD (CWU ) news/spring.html", 3},
        {"03-07 08:55 COMM STAT (SW  ) CONNECTION RE-ESTABLISHED", 5},
        {"03-07 08:50 COMM STAT (SW  ) UNABLE TO CONNECT TO WEBSERVER", 4},
        {"03-07 08:31 COMM STAT (OPEN) CONNECTION TO INTERNET RE-ESTABLISHED", 5},
        {"03-07 08:30 COMM STAT (OPEN) UNABLE TO CONNECT TO INTERNET", 4},
    };
    SetFieldText(int16_t(FindField(kCmdTextFieldRecord, 1)),
                 "KESTROVANE MONITOR - PAGE 1 STATUS: CHECKING WEB SITE", ' ');
    for (int line = 2; line <= 26; ++line) {
        int16_t field = int16_t(FindField(kCmdTextFieldRecord, uint16_t(line)));
        const auto& e = events[size_t(line - 2) % (sizeof events / sizeof events[0])];
        SetFieldText(field, e.text, ' ');
        SetFieldColour(field, e.colour);
    }
    SetFieldText(int16_t(FindField(kCmdTextFieldRecord, 27)), "ftp.example.com/public_html/*.*", ' ');
    RefreshFields();
    EXPECT_NE(std::string(LineBuffer()).rfind("Invalid", 0), 0u) << LineBuffer();

    // Every line is drawn in its colour.
    Screen s = Walk(1);
    for (int line = 2; line <= 26; ++line) {
        const Box& b = s.fields[size_t(line - 1)].box;
        uint8_t colour = events[size_t(line - 2) % (sizeof events / sizeof events[0])].colour;
        EXPECT_GT(Count(colour, b.left, b.top, b.right, b.bottom), 100) << "line " << line;
    }
    fs::path picture = fs::path(KV_SCREENS_PICTURE_DIR) / "monitor_screen.png";
    EXPECT_TRUE(WritePng(ScreenSurface(), picture.string().c_str())) << picture.string();
}

TEST_F(ShippedScreens, SettingsFilesNameTheLibraryAndTheFont)
{
    fs::path dist = KV_DIST_DIR;
    std::istringstream settings(ReadWholeFile(dist / "rttw.ini"));
    std::vector<std::string> values;
    for (std::string v; settings >> v;)
        values.push_back(v);
    ASSERT_EQ(values.size(), 12u);
    EXPECT_EQ(values[6], "c:\\kestrovane\\kvscreens.lib");

    // The library's record 21 carries the committed 8 x 8 font.
    std::string library = ReadWholeFile(dist / "kvscreens.lib");
    ASSERT_EQ(library.size(), 21u * kRecordSize);
    EXPECT_EQ(library.substr(20 * kRecordSize + 1152), ReadWholeFile(fs::path(KV_FONT8X8_FILE)));

    std::string font = ReadWholeFile(dist / "winfont.ini");
    ASSERT_EQ(font.size(), sizeof(FontRecord));
    FontRecord record;
    std::memcpy(&record, font.data(), sizeof record);
    EXPECT_EQ(record.pointSizeTenths, 0) << "text fields use the bitmap fonts";
    EXPECT_EQ(record.weightHundreds, 7);
    EXPECT_STREQ(record.faceName, "Courier New");
}

} // namespace
} // namespace tessil_test
