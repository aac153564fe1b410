// Windows, the message queue, timers and the default window procedure. The
// claims hold for Windows' own USER32 (checked under Wine) and for the GTK
// layer alike.
#include <string>

#include "gui_fixture.h"

namespace {

class Windows : public GuiTest {};
class Queue : public GuiTest {};
class Timers : public GuiTest {};
class DefaultProcedure : public GuiTest {};

TEST_F(Windows, CreatedWithTheClientSizeTheAdjustedRectangleAsksFor) {
    ASSERT_TRUE(MakeWindow(640, 480));
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.left, 0);
    EXPECT_EQ(client.top, 0);
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);

    // The outer rectangle is the adjusted one, wherever the window went.
    RECT adjusted = {0, 0, 640, 480}, outer;
    AdjustWindowRect(&adjusted, WS_OVERLAPPEDWINDOW, TRUE);
    ASSERT_TRUE(GetWindowRect(window, &outer));
    EXPECT_EQ(outer.right - outer.left, adjusted.right - adjusted.left);
    EXPECT_EQ(outer.bottom - outer.top, adjusted.bottom - adjusted.top);

    // The class menu came with the window.
    HMENU menu = GetMenu(window);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(GetMenuItemCount(menu), 9);

    // The client area sits where the adjusted rectangle puts it, below the
    // menu bar; client and screen coordinates are inverse.
    POINT origin = {0, 0};
    ASSERT_TRUE(ClientToScreen(window, &origin));
    EXPECT_EQ(origin.x - outer.left, -adjusted.left);
    EXPECT_EQ(origin.y - outer.top, -adjusted.top);
    EXPECT_GE(-adjusted.top, GetSystemMetrics(SM_CYMENU));
    POINT back = origin;
    ASSERT_TRUE(ScreenToClient(window, &back));
    EXPECT_EQ(back.x, 0);
    EXPECT_EQ(back.y, 0);
}

TEST_F(Windows, CreationAndDestructionMessages) {
    ASSERT_TRUE(MakeWindow(200, 100));
    // The log runs from the start of the test, so creation is in it.
    const LoggedMessage* create = Find(WM_CREATE, window);
    ASSERT_NE(create, nullptr);
    auto* cs = reinterpret_cast<const CREATESTRUCTA*>(create->lParam);
    EXPECT_NE(cs, nullptr);
    EXPECT_NE(Find(WM_SIZE, window), nullptr);
    EXPECT_TRUE(IsWindowVisible(window));

    EXPECT_TRUE(SetWindowTextA(window, "Caf\xE9 title"));
    char text[64] = "";
    EXPECT_EQ(GetWindowTextA(window, text, sizeof text), 10);
    EXPECT_STREQ(text, "Caf\xE9 title");
    EXPECT_NE(Find(WM_SETTEXT, window), nullptr);

    messageLog.clear();
    HWND gone = window;
    EXPECT_TRUE(DestroyWindow(gone));
    EXPECT_EQ(Count(WM_DESTROY, gone), 1);
    EXPECT_FALSE(IsWindow(gone));
    SetLastError(0);
    RECT rect;
    EXPECT_FALSE(GetClientRect(gone, &rect));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    // Windows says ERROR_INVALID_WINDOW_HANDLE here, Wine ERROR_ACCESS_DENIED.
    EXPECT_FALSE(DestroyWindow(gone));
    window = nullptr;
}

TEST_F(Windows, ClassRegistrationRules) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kTestClass;
    SetLastError(0);
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_ALREADY_EXISTS));

    SetLastError(0);
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClassAnywhere", "x", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr),
              nullptr);
    // Windows says ERROR_CANNOT_FIND_WND_CLASS, Wine ERROR_CLASS_DOES_NOT_EXIST.
    EXPECT_TRUE(GetLastError() == DWORD(ERROR_CANNOT_FIND_WND_CLASS) ||
                GetLastError() == DWORD(ERROR_CLASS_DOES_NOT_EXIST))
        << GetLastError();
}

TEST_F(Windows, MinimiseAndRestore) {
    ASSERT_TRUE(MakeWindow(300, 200, false));
    EXPECT_FALSE(IsIconic(window));
    EXPECT_TRUE(ShowWindow(window, SW_MINIMIZE));  // it was visible
    EXPECT_TRUE(IsIconic(window));
    PumpFor(100);
    ShowWindow(window, SW_RESTORE);
    EXPECT_FALSE(IsIconic(window));
    PumpFor(100);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);
    EXPECT_FALSE(ShowWindow(window, SW_HIDE) == FALSE);  // visible before
    EXPECT_FALSE(IsWindowVisible(window));
}

TEST_F(Queue, PostedMessagesArriveInOrderAndPeekNeverWaits) {
    ASSERT_TRUE(MakeWindow(200, 100));
    Settle();
    for (WPARAM i = 1; i <= 5; i++) ASSERT_TRUE(PostMessageA(window, WM_USER + 1, i, LPARAM(i * 10)));
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 2, 77, 0));  // a message for the thread

    MSG msg;
    // PM_NOREMOVE shows the first without taking it.
    ASSERT_TRUE(PeekMessageA(&msg, window, WM_USER + 1, WM_USER + 1, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, WPARAM(1));
    std::vector<WPARAM> order;
    while (PeekMessageA(&msg, window, WM_USER + 1, WM_USER + 1, PM_REMOVE)) {
        EXPECT_EQ(msg.hwnd, window);
        EXPECT_EQ(msg.lParam, LPARAM(msg.wParam * 10));
        order.push_back(msg.wParam);
    }
    EXPECT_EQ(order, (std::vector<WPARAM>{1, 2, 3, 4, 5}));

    // The thread message is still there for a filter that takes it.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 2, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.wParam, WPARAM(77));

    // An empty queue answers at once (the bound leaves room for a loaded
    // machine, not for a wait on the queue).
    DWORD start = GetTickCount();
    for (int i = 0; i < 50; i++) EXPECT_FALSE(PeekMessageA(&msg, window, WM_USER, WM_USER + 100, PM_REMOVE));
    EXPECT_LT(GetTickCount() - start, 1000u);

    // Dispatching calls the procedure with the message.
    PostMessageA(window, WM_USER + 3, 5, 6);
    ASSERT_TRUE(GetMessageA(&msg, window, WM_USER + 3, WM_USER + 3));
    messageLog.clear();
    DispatchMessageA(&msg);
    ASSERT_EQ(Count(WM_USER + 3), 1);
    EXPECT_EQ(messageLog[0].lParam, 6);

    SetLastError(0);
    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(uintptr_t(0x7FFF0001)), WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(Queue, QuitComesAfterPostedMessagesAndEndsGetMessage) {
    ASSERT_TRUE(MakeWindow(200, 100));
    Settle();
    PostMessageA(window, WM_USER + 7, 1, 0);
    PostQuitMessage(42);
    PostMessageA(window, WM_USER + 7, 2, 0);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, UINT(WM_USER + 7));
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.wParam, WPARAM(2));
    // Input and paint messages may be waiting too; the quit request comes
    // before them.
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, UINT(WM_QUIT));
    EXPECT_EQ(msg.wParam, WPARAM(42));
}

TEST_F(Queue, SendMessageCallsTheProcedureAtOnce) {
    ASSERT_TRUE(MakeWindow(200, 100));
    Settle();
    EXPECT_EQ(SendMessageA(window, WM_USER + 9, 3, 4), 0);
    ASSERT_EQ(Count(WM_USER + 9), 1);
    EXPECT_EQ(messageLog[0].wParam, WPARAM(3));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, window, WM_USER + 9, WM_USER + 9, PM_REMOVE));
}

TEST_F(Queue, TranslateMessageMakesCharacters) {
    ASSERT_TRUE(MakeWindow(200, 100));
    Settle();
    struct Key {
        UINT vk;
        UINT scan;
        bool extended;
        int character;  // -1: none
    };
    const Key keys[] = {
        {'A', 0x1E, false, 'a'},     {'7', 0x08, false, '7'},        {VK_RETURN, 0x1C, false, 13},
        {VK_BACK, 0x0E, false, 8},   {VK_TAB, 0x0F, false, 9},       {VK_ESCAPE, 0x01, false, 27},
        {VK_SPACE, 0x39, false, ' '}, {VK_LEFT, 0x4B, true, -1},      {VK_F1, 0x3B, false, -1},
    };
    for (const Key& key : keys) {
        LPARAM lParam = 1 | LPARAM(key.scan << 16) | (key.extended ? LPARAM(1) << 24 : 0);
        MSG down = {window, WM_KEYDOWN, key.vk, lParam, GetTickCount(), {0, 0}};
        EXPECT_TRUE(TranslateMessage(&down));
        MSG msg;
        if (key.character < 0) {
            EXPECT_FALSE(PeekMessageA(&msg, window, WM_CHAR, WM_CHAR, PM_REMOVE)) << key.vk;
            continue;
        }
        ASSERT_TRUE(PeekMessageA(&msg, window, WM_CHAR, WM_CHAR, PM_REMOVE)) << key.vk;
        EXPECT_EQ(msg.wParam, WPARAM(key.character)) << key.vk;
        EXPECT_EQ(msg.lParam, lParam);
    }
    // With Alt, a system key gives a system character.
    MSG sys = {window, WM_SYSKEYDOWN, 'X', 1 | (0x2D << 16) | (LPARAM(1) << 29), GetTickCount(), {0, 0}};
    EXPECT_TRUE(TranslateMessage(&sys));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, window, WM_SYSCHAR, WM_SYSCHAR, PM_REMOVE));
    EXPECT_EQ(msg.wParam, WPARAM('x'));
    // Key-up messages are "translated" without a character; others are not.
    MSG up = {window, WM_KEYUP, 'A', LPARAM(0xC01E0001u), GetTickCount(), {0, 0}};
    EXPECT_TRUE(TranslateMessage(&up));
    MSG other = {window, WM_USER, 0, 0, 0, {0, 0}};
    EXPECT_FALSE(TranslateMessage(&other));
    EXPECT_FALSE(PeekMessageA(&msg, window, WM_CHAR, WM_SYSCHAR, PM_REMOVE));
}

TEST_F(Timers, DeliverTheirIdentifierAndStopWhenKilled) {
    ASSERT_TRUE(MakeWindow(200, 100));
    Settle();
    ASSERT_NE(SetTimer(window, 98, 40, nullptr), 0u);
    ASSERT_NE(SetTimer(window, 99, 70, nullptr), 0u);
    PumpUntil([&] {
        int fast = 0, slow = 0;
        for (const LoggedMessage& m : messageLog)
            if (m.message == WM_TIMER) (m.wParam == 98 ? fast : slow)++;
        return fast >= 3 && slow >= 2;
    });
    int fast = 0, slow = 0, other = 0;
    for (const LoggedMessage& m : messageLog) {
        if (m.message != WM_TIMER) continue;
        EXPECT_EQ(m.window, window);
        EXPECT_EQ(m.lParam, 0);
        if (m.wParam == 98) fast++;
        else if (m.wParam == 99) slow++;
        else other++;
    }
    EXPECT_GE(fast, 3);  // re-armed every interval
    EXPECT_GE(slow, 2);
    EXPECT_EQ(other, 0);

    // However long nobody looks, a timer has one message pending.
    EXPECT_TRUE(KillTimer(window, 99));
    Sleep(300);
    MSG msg;
    int pending = 0;
    while (PeekMessageA(&msg, window, WM_TIMER, WM_TIMER, PM_REMOVE)) {
        EXPECT_EQ(msg.wParam, WPARAM(98));
        pending++;
    }
    EXPECT_EQ(pending, 1);

    EXPECT_TRUE(KillTimer(window, 98));
    Settle();
    PumpFor(200);
    EXPECT_EQ(Count(WM_TIMER), 0);
    EXPECT_FALSE(KillTimer(window, 98));

    // Setting a timer again replaces it rather than adding one.
    SetTimer(window, 4, 500, nullptr);
    SetTimer(window, 4, 30, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return Count(WM_TIMER) > 0; }, 400));
    EXPECT_TRUE(KillTimer(window, 4));
}

TEST_F(Timers, TimerProceduresAreCalledByDispatch) {
    ASSERT_TRUE(MakeWindow(200, 100));
    static int calls;
    static UINT_PTR seenId;
    calls = 0;
    seenId = 0;
    auto proc = [](HWND, UINT message, UINT_PTR id, DWORD) {
        if (message == WM_TIMER) calls++;
        seenId = id;
    };
    UINT_PTR id = SetTimer(window, 21, 20, proc);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(PumpUntil([] { return calls >= 2; }));
    EXPECT_EQ(seenId, UINT_PTR(21));
    EXPECT_EQ(Count(WM_TIMER), 0);  // the procedure, not the window, got them
    KillTimer(window, 21);
}

TEST_F(DefaultProcedure, CloseRequestReachesTheProcedureWhichDecides) {
    ASSERT_TRUE(MakeWindow(200, 100));
    Settle();
    procedureRules.swallowClose = true;
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpUntil([&] { return Find(WM_SYSCOMMAND) != nullptr; });
    PumpFor(50);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(Count(WM_DESTROY), 0);

    // Handed to the default procedure, the request closes and destroys.
    procedureRules.swallowClose = false;
    messageLog.clear();
    HWND target = window;
    PostMessageA(target, WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpUntil([&] { return !IsWindow(target); });
    EXPECT_FALSE(IsWindow(target));
    ASSERT_NE(Find(WM_CLOSE), nullptr);
    ASSERT_NE(Find(WM_DESTROY), nullptr);
    EXPECT_LT(Find(WM_CLOSE), Find(WM_DESTROY));
    window = nullptr;
}

TEST_F(DefaultProcedure, PaintIsValidated) {
    ASSERT_TRUE(MakeWindow(200, 100));
    Settle();
    InvalidateRect(window, nullptr, FALSE);
    PumpFor(100);
    // One WM_PAINT, not a stream of them: the default procedure validated it.
    EXPECT_EQ(Count(WM_PAINT), 1);
}

TEST_F(DefaultProcedure, SystemCommandsActOnTheWindow) {
    ASSERT_TRUE(MakeWindow(200, 100));
    SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsIconic(window));
    SendMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(IsIconic(window));
}

TEST(Screen, MetricsOfTheTestDisplay) {
    // The test runner's display is 1024 x 768.
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    EXPECT_GT(GetSystemMetrics(SM_CYMENU), 0);
    EXPECT_GT(GetSystemMetrics(SM_CXFULLSCREEN), 0);
    EXPECT_GT(GetSystemMetrics(SM_CYFULLSCREEN), 0);
    EXPECT_TRUE(MessageBeep(0xFFFFFFFF));
}

TEST(Screen, PointerPositionAndClipping) {
    ASSERT_TRUE(SetCursorPos(300, 200));
    POINT p;
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, 300);
    EXPECT_EQ(p.y, 200);

    RECT clip = {100, 100, 200, 150};
    ASSERT_TRUE(ClipCursor(&clip));
    SetCursorPos(50, 50);
    GetCursorPos(&p);
    EXPECT_EQ(p.x, 100);
    EXPECT_EQ(p.y, 100);
    SetCursorPos(500, 500);  // right and bottom edges are outside
    GetCursorPos(&p);
    EXPECT_EQ(p.x, 199);
    EXPECT_EQ(p.y, 149);
    ASSERT_TRUE(ClipCursor(nullptr));
    SetCursorPos(500, 500);
    GetCursorPos(&p);
    EXPECT_EQ(p.x, 500);

    // ShowCursor counts.
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_EQ(ShowCursor(TRUE), 0);
}

TEST(Priority, ClassesAndThreadPriorities) {
    EXPECT_TRUE(SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), DWORD(NORMAL_PRIORITY_CLASS));
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_HIGHEST);
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
    SetLastError(0);
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 7));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_FALSE(SetPriorityClass(GetCurrentProcess(), 0x12345));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

}  // namespace
