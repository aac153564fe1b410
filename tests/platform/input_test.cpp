// Real keyboard and mouse input, synthesised outside the program (XTest on
// Linux, SendInput on Windows), as the window procedure receives it.
#include "gui_fixture.h"
#include "gui_probe.h"

namespace {

class Input : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        ASSERT_TRUE(MakeWindow(320, 240, false));
        // Keys go to the window under the pointer or with the focus.
        POINT centre = {160, 120};
        ClientToScreen(window, &centre);
        ProbeMove(centre.x, centre.y);
        PumpUntil([&] { return GetFocus() == window; });
        Settle();
    }

    // Taps a key and waits for its character (or key-up when it has none).
    void Tap(BYTE vk) {
        messageLog.clear();
        ASSERT_TRUE(ProbeTap(vk));
        ASSERT_TRUE(PumpUntil([&] { return Find(WM_KEYUP) || Find(WM_SYSKEYUP); })) << int(vk);
        PumpFor(20);
    }

    const LoggedMessage* Character() { return Find(WM_CHAR, window); }

    // Holds a modifier down until the window has seen it.
    void Hold(BYTE vk) {
        ASSERT_TRUE(ProbeKeyDown(vk));
        ASSERT_TRUE(PumpUntil([vk] { return GetKeyState(vk) < 0; }));
    }

    void Release(BYTE vk) {
        ASSERT_TRUE(ProbeKeyUp(vk));
        EXPECT_TRUE(PumpUntil([vk] { return GetKeyState(vk) >= 0; }));
    }
};

TEST_F(Input, KeysArriveWithVirtualKeysScanCodesAndCharacters) {
    Tap('A');
    const LoggedMessage* down = Find(WM_KEYDOWN, window);
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(down->wParam, WPARAM('A'));
    EXPECT_EQ(down->lParam & 0xFFFF, 1);             // repeat count
    EXPECT_EQ((down->lParam >> 16) & 0xFF, 0x1E);    // scan code
    EXPECT_EQ((down->lParam >> 31) & 1, 0);
    ASSERT_NE(Character(), nullptr);
    EXPECT_EQ(Character()->wParam, WPARAM('a'));
    const LoggedMessage* up = Find(WM_KEYUP, window);
    ASSERT_NE(up, nullptr);
    EXPECT_EQ((up->lParam >> 30) & 3, 3);  // was down, going up
    EXPECT_LT(down, Character());
    EXPECT_LT(Character(), up);

    struct Expected {
        BYTE vk;
        int character;
    };
    for (Expected key : {Expected{VK_RETURN, 13}, {VK_BACK, 8}, {VK_TAB, 9}, {VK_ESCAPE, 27},
                         {VK_SPACE, ' '}, {'5', '5'}}) {
        Tap(key.vk);
        ASSERT_NE(Find(WM_KEYDOWN), nullptr) << int(key.vk);
        EXPECT_EQ(Find(WM_KEYDOWN)->wParam, WPARAM(key.vk));
        ASSERT_NE(Character(), nullptr) << int(key.vk);
        EXPECT_EQ(Character()->wParam, WPARAM(key.character)) << int(key.vk);
    }
    for (BYTE vk : {BYTE(VK_LEFT), BYTE(VK_DELETE), BYTE(VK_F1), BYTE(VK_HOME)}) {
        Tap(vk);
        ASSERT_NE(Find(WM_KEYDOWN), nullptr) << int(vk);
        EXPECT_EQ(Find(WM_KEYDOWN)->wParam, WPARAM(vk));
        EXPECT_EQ(Character(), nullptr) << int(vk);
    }
    // The cursor block is "extended".
    Tap(VK_LEFT);
    EXPECT_EQ((Find(WM_KEYDOWN)->lParam >> 24) & 1, 1);
}

TEST_F(Input, ModifiersShowInKeyStateAndCharacters) {
    EXPECT_GE(GetKeyState(VK_CONTROL), 0);
    Hold(VK_CONTROL);
    Tap('B');
    const LoggedMessage* down = Find(WM_KEYDOWN, window);
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(down->wParam, WPARAM('B'));
    EXPECT_TRUE(down->controlDown);  // as the program's procedure asks
    EXPECT_LT(GetKeyState(VK_CONTROL), 0);
    ASSERT_NE(Character(), nullptr);
    EXPECT_EQ(Character()->wParam, WPARAM(2));  // Ctrl+B
    Release(VK_CONTROL);

    Hold(VK_SHIFT);
    Tap('Q');
    EXPECT_LT(GetKeyState(VK_SHIFT), 0);
    ASSERT_NE(Character(), nullptr);
    EXPECT_EQ(Character()->wParam, WPARAM('Q'));
    Release(VK_SHIFT);
}

TEST_F(Input, AltAndF10AreSystemKeys) {
    procedureRules.swallowSystemKeys = true;  // no menu loop in the middle of a test
    Hold(VK_MENU);
    Tap('X');
    Release(VK_MENU);
    PumpFor(50);
    const LoggedMessage* down = nullptr;
    for (const LoggedMessage& m : messageLog)
        if (m.message == WM_SYSKEYDOWN && m.wParam == 'X') down = &m;
    ASSERT_NE(down, nullptr);
    EXPECT_EQ((down->lParam >> 29) & 1, 1);  // Alt held
    ASSERT_NE(Find(WM_SYSCHAR), nullptr);
    EXPECT_EQ(Find(WM_SYSCHAR)->wParam, WPARAM('x'));
    EXPECT_EQ(Find(WM_KEYDOWN), nullptr);

    Tap(VK_F10);
    ASSERT_NE(Find(WM_SYSKEYDOWN), nullptr);
    EXPECT_EQ(Find(WM_SYSKEYDOWN)->wParam, WPARAM(VK_F10));
    EXPECT_EQ((Find(WM_SYSKEYDOWN)->lParam >> 29) & 1, 0);
    EXPECT_NE(Find(WM_SYSKEYUP), nullptr);
}

TEST_F(Input, MouseMessagesCarryClientCoordinates) {
    POINT at = {100, 50};
    ClientToScreen(window, &at);
    ASSERT_TRUE(ProbeClick(at.x, at.y, 1));
    ASSERT_TRUE(PumpUntil([&] { return Find(WM_LBUTTONUP) != nullptr; }));
    const LoggedMessage* down = Find(WM_LBUTTONDOWN, window);
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(GET_X_LPARAM(down->lParam), 100);
    EXPECT_EQ(GET_Y_LPARAM(down->lParam), 50);
    EXPECT_EQ(down->wParam & MK_LBUTTON, WPARAM(MK_LBUTTON));
    EXPECT_EQ(Find(WM_LBUTTONUP)->wParam & MK_LBUTTON, 0u);
    EXPECT_LT(down, Find(WM_LBUTTONUP));

    messageLog.clear();
    POINT right = {10, 200};
    ClientToScreen(window, &right);
    ASSERT_TRUE(ProbeClick(right.x, right.y, 3));
    ASSERT_TRUE(PumpUntil([&] { return Find(WM_RBUTTONUP) != nullptr; }));
    ASSERT_NE(Find(WM_RBUTTONDOWN), nullptr);
    EXPECT_EQ(Find(WM_RBUTTONDOWN)->lParam, MAKELPARAM(10, 200));

    messageLog.clear();
    POINT moved = {250, 180};
    ClientToScreen(window, &moved);
    ASSERT_TRUE(ProbeMove(moved.x, moved.y));
    ASSERT_TRUE(PumpUntil([&] {
        for (const LoggedMessage& m : messageLog)
            if (m.message == WM_MOUSEMOVE && m.lParam == MAKELPARAM(250, 180)) return true;
        return false;
    }));
}

}  // namespace
