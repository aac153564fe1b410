// USER32 subset on Linux, over GTK 3: one window class per program, top-level
// windows with a real menu bar, the message queue, timers, keyboard and mouse
// input as WM_* messages, the pointer, and the program's own resources
// (menus, strings, icons; see PlatformSetResources in extensions.h).
//
// Every function below is for the UI thread: the first thread that creates a
// window, sets a timer or reads the queue. PostMessageA alone may be called
// from any thread. See MANIFEST.md for how completely each one is provided.
#pragma once

#include "platform/linux/win32_types.h"

// The program's entry point, called by the main() of kv_winmain.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand);

// Modules and resources.
HMODULE GetModuleHandleA(LPCSTR moduleName);
HMENU LoadMenuA(HINSTANCE instance, LPCSTR menuName);
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferSize);
HICON LoadIconA(HINSTANCE instance, LPCSTR iconName);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR cursorName);

// Classes and windows.
ATOM RegisterClassA(const WNDCLASSA* windowClass);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
#define CreateWindowA(className, windowName, style, x, y, width, height, parent, menu, instance, \
                      param)                                                                    \
    CreateWindowExA(0, className, windowName, style, x, y, width, height, parent, menu, instance, \
                    param)
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL ShowWindow(HWND window, int showCommand);
BOOL UpdateWindow(HWND window);
BOOL IsIconic(HWND window);
BOOL IsZoomed(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL SetWindowTextA(HWND window, LPCSTR text);
int GetWindowTextA(HWND window, LPSTR buffer, int bufferSize);
BOOL GetClientRect(HWND window, LPRECT rect);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL ClientToScreen(HWND window, LPPOINT point);
BOOL ScreenToClient(HWND window, LPPOINT point);
BOOL AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu);
HWND SetFocus(HWND window);
HWND GetFocus(void);
BOOL SetForegroundWindow(HWND window);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND window, const RECT* rect);

// Messages.
BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Timers.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerFunc);
BOOL KillTimer(HWND window, UINT_PTR id);
#define USER_TIMER_MINIMUM 0x0000000A
#define USER_TIMER_MAXIMUM 0x7FFFFFFF

// Menus.
BOOL SetMenu(HWND window, HMENU menu);
HMENU GetMenu(HWND window);
BOOL DestroyMenu(HMENU menu);
BOOL DrawMenuBar(HWND window);
BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int position);
HMENU GetSubMenu(HMENU menu, int position);
int GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int bufferSize, UINT flags);
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
BOOL GetMenuItemRect(HWND window, HMENU menu, UINT item, LPRECT rect);

// Keyboard, pointer, screen.
SHORT GetKeyState(int virtualKey);
int GetSystemMetrics(int index);
BOOL MessageBeep(UINT type);
BOOL ClipCursor(const RECT* rect);
BOOL GetClipCursor(LPRECT rect);
BOOL SetCursorPos(int x, int y);
BOOL GetCursorPos(LPPOINT point);
int ShowCursor(BOOL show);
