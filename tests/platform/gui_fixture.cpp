#include "gui_fixture.h"

#include "app/resources.h"

std::vector<LoggedMessage> messageLog;
ProcedureRules procedureRules;

namespace {

bool IsSystemKey(UINT message, WPARAM wParam) {
    return message == WM_SYSKEYDOWN || message == WM_SYSKEYUP || message == WM_SYSCHAR ||
           (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_KEYMENU);
}

LRESULT CALLBACK LoggingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    messageLog.push_back({window, message, wParam, lParam, GetKeyState(VK_CONTROL) < 0});
    if (procedureRules.swallowClose &&
        (message == WM_CLOSE || (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE)))
        return 0;
    if (procedureRules.swallowSystemKeys && IsSystemKey(message, wParam)) return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void RegisterTestClass() {
    static bool registered = false;
    if (registered) return;
    RegisterResources();
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = LoggingProcedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hIcon = LoadIconA(wc.hInstance, MAKEINTRESOURCEA(KV_ICON_MAIN));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszMenuName = MAKEINTRESOURCEA(KV_MENU_LIVE);
    wc.lpszClassName = kTestClass;
    ASSERT_NE(RegisterClassA(&wc), 0) << GetLastError();
    registered = true;
}

void GuiTest::SetUp() {
    RegisterTestClass();
    messageLog.clear();
    procedureRules = ProcedureRules{};
}

void GuiTest::TearDown() {
    procedureRules = ProcedureRules{};
    if (window && IsWindow(window)) DestroyWindow(window);
    window = nullptr;
    Settle();
}

HWND GuiTest::MakeWindow(int clientWidth, int clientHeight, bool withMenu) {
    RECT rect = {0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&rect, WS_OVERLAPPEDWINDOW, withMenu);
    window = CreateWindowExA(0, kTestClass, "kv-gui-test", WS_OVERLAPPEDWINDOW, 40, 40,
                             rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    if (!window) return nullptr;
    if (!withMenu) {
        HMENU classMenu = GetMenu(window);
        SetMenu(window, nullptr);
        DestroyMenu(classMenu);
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetForegroundWindow(window);
    SetFocus(window);
    PumpUntil([&] { return GetFocus() == window; }, 2000);
    PumpFor(100);
    return window;
}

bool GuiTest::PumpUntil(const std::function<bool()>& done, DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (done()) return true;
        }
        if (done()) return true;
        if (GetTickCount() - start >= milliseconds) return false;
        Sleep(5);
    }
}

void GuiTest::PumpFor(DWORD milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

void GuiTest::Settle() {
    PumpFor(50);
    messageLog.clear();
}

const LoggedMessage* GuiTest::Find(UINT message, HWND target) {
    for (const LoggedMessage& logged : messageLog)
        if (logged.message == message && (!target || logged.window == target)) return &logged;
    return nullptr;
}

int GuiTest::Count(UINT message, HWND target) {
    int n = 0;
    for (const LoggedMessage& logged : messageLog)
        if (logged.message == message && (!target || logged.window == target)) n++;
    return n;
}
