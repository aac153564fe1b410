// What the USER32 families share inside platform/linux: the window objects
// and their GTK widgets, the message queue's doors, and text conversion.
//
// Threading: GTK and every object here belong to the UI thread. The queue of
// posted messages is the one thing other threads touch (PostMessageA), under
// its own lock.
//
// Re-entrancy: GTK runs its handlers only inside g_main_context_iteration,
// which this layer calls from GetMessageA, PeekMessageA and modal loops, and
// inside the GTK calls the API functions make. Handlers either queue a message
// (input, menu commands, the close request) or call the window procedure
// directly where Windows sends the message (size, move, focus, activation).
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace user32 {

// ---- display (user32_window.cpp)

// Opens GTK on an X display the first time (GDK's X11 backend only: pointer
// warping and window positions need it). False, with
// ERROR_DEVICE_NOT_AVAILABLE, when there is no display; the answer is kept.
bool EnsureDisplay();
// True once EnsureDisplay has succeeded; never tries to open one.
bool DisplayOpen();

// The one thread that may use windows and the queue: the first to ask.
bool OnUiThread();

// Height of the menu bar widget, which is also GetSystemMetrics(SM_CYMENU).
int MenuBarHeight();

// ---- windows (user32_window.cpp)

struct Window {
    HWND handle = nullptr;
    WNDPROC proc = nullptr;
    UINT classStyle = 0;
    DWORD style = 0;
    std::string title;  // Windows-1252
    HCURSOR cursor = nullptr;
    HICON icon = nullptr;

    GtkWidget* toplevel = nullptr;
    GtkWidget* box = nullptr;
    GtkWidget* client = nullptr;   // the drawing area: the client rectangle
    GtkWidget* menuBar = nullptr;  // of `menu`, or null
    GtkWidget* menuHolder = nullptr;  // lets the bar be narrower than its items
    HMENU menu = nullptr;

    // Outer position and size: the GTK toplevel, menu bar included.
    int x = 0, y = 0, width = 0, height = 0;
    bool visible = false;
    bool iconic = false;
    bool zoomed = false;
    bool focused = false;
    bool needsPaint = false;
    bool destroying = false;
    bool shownOnce = false;
    // Last WM_SIZE / WM_MOVE values delivered, to send only changes.
    int sentClientWidth = -1, sentClientHeight = -1, sentX = INT32_MIN, sentY = INT32_MIN;

    // Backing image of the client area: what PlatformPresentPixels last
    // delivered, repainted on every expose.
    cairo_surface_t* backing = nullptr;
    bool backingShared = false;  // made for the client's X window (user32_present.cpp)

    // A state change the window manager made, reported as WM_SYSCOMMAND; if
    // the window procedure does not pass it on to DefWindowProcA, it is undone.
    UINT pendingSysCommand = 0;
    bool sysCommandAccepted = false;

    // Alt went down and no other key since: its release opens the menu bar.
    bool altAlone = false;
};

// The window behind a handle; nullptr with ERROR_INVALID_WINDOW_HANDLE.
Window* LookupWindow(HWND handle);
// The same without touching the last error.
Window* FindWindowObject(HWND handle);
std::vector<Window*> AllWindows();
// Whether a window exists; safe on any thread.
bool WindowAlive(HWND handle);

// Calls the window procedure (nothing for a window being torn down).
LRESULT CallWindowProcedure(Window* window, UINT message, WPARAM wParam, LPARAM lParam);

int ClientWidth(const Window* window);
int ClientHeight(const Window* window);
// Screen position of the client area's top-left pixel.
void ClientOrigin(const Window* window, int* x, int* y);
// DefWindowProcA's WM_SETTEXT, WM_GETTEXT and WM_GETTEXTLENGTH.
LRESULT DefaultText(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Sends WM_SIZE / WM_MOVE when the client size or position changed.
void NotifyGeometry(Window* window);
// Asks for the window to be painted: WM_PAINT at the next empty queue.
void Invalidate(Window* window);

// ---- messages (user32_messages.cpp)

// Modifiers held when an input event happened (GDK's state before it).
enum : unsigned { kShiftDown = 1, kControlDown = 2, kAltDown = 4 };

// Queues keyboard or mouse input. For key-down messages `character` is the
// Windows-1252 character the key made (-1: none), which TranslateMessage uses.
void PostInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam, unsigned modifiers,
               int character, POINT screenPoint);
// Queues a posted message for the window (no validity check).
void PostQueued(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Drops queued input of a window that is going away.
void DropInput(HWND window);

// ---- timers (user32_timers.cpp)

// The first expired timer matching the filter as a WM_TIMER message; with
// `remove`, the timer is no longer expired.
bool TakeTimerMessage(HWND filter, bool threadOnly, bool remove, MSG* msg);
void KillWindowTimers(HWND window);

// ---- menus (user32_menus.cpp)

// Builds (or removes, for NULL) the window's GTK menu bar from menu.
void InstallMenuBar(Window* window, HMENU menu);
// The menu is going away with its window.
void DestroyWindowMenu(Window* window);
// The style that keeps GTK's menu bar as tall as Windows'.
void EnsureMenuStyle();
// Enters the menu bar from the keyboard, as F10 does.
void EnterMenuBar(Window* window);

// ---- input (user32_input.cpp)

void ConnectInput(Window* window);
void ApplyCursor(Window* window);
// ShowCursor's display count: the pointer is hidden over client areas below 0.
int CursorCount();
// Keeps GetKeyState in step with the input messages taken from the queue.
void NoteInputTaken(const MSG& msg, unsigned modifiers);
// The character a key-down message makes, from the key state of GetKeyState.
int CharacterForKey(UINT virtualKey, bool altDown);

// ---- presenting (user32_present.cpp)

void ConnectPainting(Window* window);
void ReleaseBacking(Window* window);

// ---- resources (user32_resources.cpp)

const PlatformResources* Resources();
// True for NULL and for the program's own module handle.
bool IsProgramInstance(HINSTANCE instance);
// The decoded image of an icon handle, or null.
GdkPixbuf* IconImage(HICON icon);
// The GDK cursor name of a cursor handle ("default" for the arrow).
const char* CursorName(HCURSOR cursor);

// ---- text (user32_window.cpp)

std::string Utf8FromAnsi(const char* text);
std::string AnsiFromUtf8(const char* text);
// One Unicode character as Windows-1252; '?' when it has no code there.
int AnsiFromUnicode(uint32_t code);

}  // namespace user32
