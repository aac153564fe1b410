// The input loop, prompts and the line editor, driven by a scripted user
// standing in for the window's message queue.
#include "tessil/tessil_fixture.h"

#include <deque>

#include "tessil/input.h"
#include "tessil/prompts.h"

namespace tessil_test {
namespace {

struct Event {
    uint16_t kind; // 1 key, 2 character, 3 key with Ctrl, 10 left click, 11 right click
    uint16_t code; // virtual key or character
    int x = 0, y = 0;
};

std::deque<Event> script;

// What the window procedure does with each message; an empty script closes the window.
void NextEvent()
{
    if (script.empty()) {
        shutdownRequested = 1;
        return;
    }
    Event e = script.front();
    script.pop_front();
    if (e.kind == 10 || e.kind == 11) {
        mouseX = uint16_t(e.x);
        mouseY = uint16_t(e.y);
        mouseButton = e.kind == 10 ? ClickCode(e.x, e.y) : 2;
    } else {
        keyKind = e.kind;
        keyCode = e.code;
    }
}

class InputTest : public TessilTest {
protected:
    void SetUp() override
    {
        TessilTest::SetUp();
        script.clear();
        screenHost.nextEvent = NextEvent;
        shutdownRequested = 0;
        functionKeyMode = 0;
        insertMode = 0;
        mouseButton = 0;
        keyKind = 0;
        inputWrite = 0;
    }
    void TearDown() override
    {
        shutdownRequested = 0;
        TessilTest::TearDown();
    }
    void Type(const std::string& s)
    {
        for (char c : s)
            script.push_back({2, uint16_t(uint8_t(c))});
    }
    void Key(uint16_t vk, uint16_t kind = 1) { script.push_back({kind, vk}); }
    std::vector<uint8_t> Queue(uint16_t from) const
    {
        std::vector<uint8_t> q;
        for (uint16_t i = from; i != inputWrite; i = uint16_t((i + 1) % kInputQueueSize))
            q.push_back(inputQueue[i]);
        return q;
    }
    std::string FieldText(int16_t f)
    {
        char out[256];
        GetFieldText(f, out, sizeof out, 0);
        return out;
    }
    // A kind-206 button with its rectangle in screen units.
    int16_t AddButton(int code, int u1, int v1, int u2, int v2)
    {
        int16_t f = AddOtherField(206);
        uint8_t* r = fieldTable[f];
        int values[4] = {u1, v1, u2, v2};
        for (int i = 0; i < 4; ++i) {
            r[1 + 2 * i] = uint8_t(values[i] >> 8);
            r[2 + 2 * i] = uint8_t(values[i]);
        }
        r[9] = uint8_t(code);
        return f;
    }
};

TEST_F(InputTest, KeysBecomeQueueBytes)
{
    functionKeyMode = 1;
    for (auto [vk, code] : {std::pair{VK_F6, 64}, {VK_F7, 65}, {VK_LEFT, 75}, {VK_DELETE, 83}}) {
        keyKind = 1;
        keyCode = uint16_t(vk);
        uint16_t at = inputWrite;
        TranslateInput();
        EXPECT_EQ(Queue(at), (std::vector<uint8_t>{0, uint8_t(code)})) << vk;
        EXPECT_EQ(keyKind, 0);
    }
    keyKind = 1;
    keyCode = VK_INSERT;
    uint16_t at = inputWrite;
    TranslateInput();
    EXPECT_EQ(insertMode, 1);
    EXPECT_TRUE(Queue(at).empty());

    keyKind = 3; // Ctrl held
    keyCode = VK_F1;
    at = inputWrite;
    TranslateInput();
    EXPECT_EQ(Queue(at), (std::vector<uint8_t>{0, 94}));

    functionKeyMode = 0;
    keyKind = 1;
    keyCode = VK_ESCAPE;
    TranslateInput();
    EXPECT_EQ(mouseButton, 2); // Esc outside text entry reads as a right click
    keyKind = 1;
    keyCode = VK_F6;
    at = inputWrite;
    TranslateInput();
    EXPECT_TRUE(Queue(at).empty());

    mouseButton = 1;
    mouseX = 0x0102;
    mouseY = 0x0304;
    keyKind = 2;
    keyCode = 255;
    at = inputWrite;
    TranslateInput();
    EXPECT_EQ(Queue(at), (std::vector<uint8_t>{255, 1, 1, 2, 3, 4}));
}

TEST_F(InputTest, QueueWrapsAfterThirtyBytes)
{
    for (int i = 0; i < 30; ++i)
        QueueInput(uint8_t(i));
    EXPECT_EQ(inputWrite, 0);
    QueueInput(99);
    EXPECT_EQ(inputQueue[0], 99);
    EXPECT_EQ(inputWrite, 1);
}

TEST_F(InputTest, FunctionKeyBarWords)
{
    ShowMessageLine("F1=Help  F2=Setup   F3=Quit", 0, 0, 0x30);
    EXPECT_EQ(ClickCode(0 * 8, 3), 59);
    EXPECT_EQ(ClickCode(7 * 8, 3), 59);  // the blanks after a word act as that word
    EXPECT_EQ(ClickCode(9 * 8, 3), 60);
    EXPECT_EQ(ClickCode(21 * 8, 3), 61); // the third word: F3
    EXPECT_EQ(ClickCode(79 * 8, 3), 61); // right of the last word
    EXPECT_EQ(ClickCode(9 * 8, 8), 1);   // row 1 is no bar
    ShowMessageLine("   F1=Help", 0, 0, 0x30);
    EXPECT_EQ(ClickCode(8, 3), 59);      // a blank before the first word
    draw.functionBarDisabled = true;
    EXPECT_EQ(ClickCode(8, 3), 1);
}

TEST_F(InputTest, EditorTypesAndEnds)
{
    int16_t f = AddTextField(3, 10, 0, 0);
    Type("abc\r");
    EXPECT_EQ(EditField(1, nullptr, 0, false), 10);
    EXPECT_EQ(FieldText(f), "abc");
    EXPECT_EQ(functionKeyMode, 0);

    Type("\r");
    EXPECT_EQ(EditField(1, nullptr, 0, false), 255); // Enter on an empty field

    SetFieldText(f, "abc", 0);
    insertMode = 1;
    Type("X\r");
    EXPECT_EQ(EditField(1, nullptr, 0, true), 10);
    EXPECT_EQ(FieldText(f), "Xabc");
    insertMode = 0;

    SetFieldText(f, "abc", 0);
    Type("\b\bZ\t"); // Backspace at 0 changes nothing
    EXPECT_EQ(EditField(1, nullptr, 0, true), 10);
    EXPECT_EQ(FieldText(f), "Zbc");

    Type("\x1b");
    EXPECT_EQ(EditField(1, nullptr, 0, true), 0);
    EXPECT_EQ(mouseButton, 2);
}

TEST_F(InputTest, EditorMovesDeletesAndRefusesControlCharacters)
{
    int16_t f = AddTextField(3, 10, 0, 0);
    SetFieldText(f, "hello", 0);
    Type("\x01\x0a"); // Ctrl+A, a line feed: not text
    Key(VK_RIGHT);
    Key(VK_RIGHT);
    Key(VK_DELETE);
    Type("\r");
    functionKeyMode = 1;
    EXPECT_EQ(EditField(1, nullptr, 0, true), 10);
    EXPECT_EQ(FieldText(f), "helo");

    Key(VK_RIGHT);
    Key(VK_DELETE, 3); // Ctrl+Delete clears to the end and ends with the width
    EXPECT_EQ(EditField(1, nullptr, 0, true), 10);
    EXPECT_EQ(FieldText(f), "h");

    Key(VK_UP);
    EXPECT_EQ(EditField(1, nullptr, 0, true), 253);
    Key(VK_DOWN);
    EXPECT_EQ(EditField(1, nullptr, 0, true), 254);
}

TEST_F(InputTest, EditorKeepsTheCallersBufferInStep)
{
    AddTextField(3, 4, 0, 0);
    char text[200] = "ab";
    Type("cdefgh\r");
    EXPECT_EQ(EditField(1, text, sizeof text, true), 4);
    EXPECT_STREQ(text, "cdefgh"); // typed over from the start, past the width into the scroll characters
    char tiny[4] = "";
    Type("123456\r");
    EditField(1, tiny, sizeof tiny, false);
    EXPECT_STREQ(tiny, "123"); // never past the caller's buffer
}

TEST_F(InputTest, ChoiceWaitResults)
{
    AddTextField(3, 10, 0, 0);
    int16_t box = AddButton(255, 0, 0, 5000, 1000);
    int16_t ok = AddButton(5, 5000, 5000, 6000, 6000);
    uint16_t field = 0;

    script.push_back({10, 0, 10, 10}); // on the input box: no choice
    script.push_back({10, 0, 330, 250});
    EXPECT_EQ(WaitForChoice(field, 255, 0), kChoiceMissed);
    EXPECT_EQ(WaitForChoice(field = 0, 255, 0), kChoiceButton);
    EXPECT_EQ(field, ok);
    (void)box;

    script.push_back({11, 0, 1, 1});
    EXPECT_EQ(WaitForChoice(field = 0, 255, 0), kChoiceCancel);

    // Esc while editing: the editor gives 0 and the wait reports it as a cancel.
    Type("\x1b");
    EXPECT_EQ(WaitForChoice(field = 0, 255, 1), kChoiceCancel);

    // Typing in the entry field and Enter: the editor's result comes back.
    Type("xy\r");
    EXPECT_EQ(WaitForChoice(field = 0, 255, 1), kChoiceEdited);
    EXPECT_EQ(field, 10);
}

TEST_F(InputTest, PointerGoesToTheFirstInputBox)
{
    AddButton(5, 0, 0, 1000, 1000);
    int16_t box = AddButton(255, 5000, 5000, 6000, 6000);
    mouseX = mouseY = 0;
    EXPECT_EQ(PlaceCursorOnButton(0), box + 1);
    EXPECT_EQ(mouseX, (319 + 383) / 2);
    EXPECT_EQ(mouseY, (239 + 287) / 2);
    EXPECT_EQ(PlaceCursorOnButton(uint16_t(box + 1)), 0);
}

} // namespace
} // namespace tessil_test
