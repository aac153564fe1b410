// The window and the framework start of the e2e probe programs: the
// program's own window procedure in a 640 x 480 window named `title`, the
// data folder current, the framework started in screen mode 1.
#pragma once

#include "app/app.h"
#include "app/resources.h"
#include "tessil/input.h"
#include "tessil/tessil.h"

inline HWND StartProbeWindow(HINSTANCE instance, const char* title, int show)
{
    RegisterResources();
    WNDCLASSA wc = {};
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);
    RECT r = {0, 0, 640, 480};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    HWND window = CreateWindowExA(0, kWindowClass, title, WS_OVERLAPPEDWINDOW, 0, 0, r.right - r.left,
                                  r.bottom - r.top, nullptr, nullptr, instance, nullptr);
    tessil::mainWindow = window;
    ShowWindow(window, show);
    SetFocus(window);

    SetCurrentDirectoryA("\\Kestrovane");
    StartupInit();
    tessil::screenMode = 1;
    tessil::SetScreenMode(640, 480);
    tessil::CreateScreenBitmap();
    return window;
}
