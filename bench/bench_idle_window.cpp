// The floor of the driver's waits, for bench/driver.py to measure beside the
// program: a window of the monitor's client size with the program's live
// menu bar, through the same platform layer, woken four times a second (the
// rate at which the driver's waits pump) by a timer and doing nothing else.
// It runs until its window is closed.
#include "app/resources.h"
#include "platform/win32.h"

namespace {

constexpr UINT kWakeMilliseconds = 250;
constexpr int kClientWidth = 640, kClientHeight = 480;

LRESULT CALLBACK IdleWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    RegisterResources();
    WNDCLASSA wc = {};
    wc.lpfnWndProc = IdleWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = "KVIdlePeer";
    if (!RegisterClassA(&wc))
        return 1;
    RECT r = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, TRUE);
    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(KV_MENU_LIVE));
    HWND window = CreateWindowExA(0, wc.lpszClassName, "idle peer", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  r.right - r.left, r.bottom - r.top, nullptr, menu, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, show);
    SetTimer(window, 1, kWakeMilliseconds, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
