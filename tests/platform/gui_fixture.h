// A real top-level window for the window-system tests, whose procedure logs
// every message it sees, and helpers to pump the queue until something
// arrives. Used by both builds: on Windows (and Wine) against USER32 itself.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/win32.h"

struct LoggedMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool controlDown;  // GetKeyState(VK_CONTROL) < 0 when the message arrived
};

// What the logging procedure does beyond logging; reset for every test.
struct ProcedureRules {
    bool swallowClose = false;         // WM_SYSCOMMAND SC_CLOSE and WM_CLOSE end here
    bool swallowSystemKeys = false;    // WM_SYSKEY*, WM_SYSCHAR and SC_KEYMENU end here
};

extern std::vector<LoggedMessage> messageLog;
extern ProcedureRules procedureRules;

constexpr const char kTestClass[] = "KestrovaneTestWindow";

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A visible, focused window with the given client size, with class menu
    // 101 or none (Windows wraps the menu bar in a narrow window, which takes
    // rows off the client area).
    HWND MakeWindow(int clientWidth, int clientHeight, bool withMenu = true);

    // Pumps (peek, translate, dispatch) until done() holds or the time is up.
    static bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds = 3000);
    static void PumpFor(DWORD milliseconds);
    // Drains the queue, then forgets what was logged.
    static void Settle();

    // The first logged message of this kind (for this window), or null.
    static const LoggedMessage* Find(UINT message, HWND window = nullptr);
    static int Count(UINT message, HWND window = nullptr);

    HWND window = nullptr;
};

// Registers the test class once; the program's resources first (Linux).
void RegisterTestClass();
