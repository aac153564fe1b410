// The screen and the pointer: GetSystemMetrics, MessageBeep, SetCursorPos,
// GetCursorPos, ClipCursor, ShowCursor.
#include <algorithm>
#include <atomic>

#include "platform/linux/user32_internal.h"

namespace user32 {
namespace {

int g_cursorCount = 0;  // Windows starts at 0 with a mouse installed
bool g_clipped = false;
RECT g_clip = {0, 0, 0, 0};

GdkDevice* Pointer() {
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    return seat ? gdk_seat_get_pointer(seat) : nullptr;
}

GdkMonitor* PrimaryMonitor() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    return monitor ? monitor : gdk_display_get_monitor(display, 0);
}

RECT ScreenRect() {
    GdkRectangle area{0, 0, 0, 0};
    if (GdkMonitor* monitor = PrimaryMonitor()) gdk_monitor_get_geometry(monitor, &area);
    return RECT{area.x, area.y, area.x + area.width, area.y + area.height};
}

gboolean BeepNow(gpointer) {
    gdk_display_beep(gdk_display_get_default());
    return G_SOURCE_REMOVE;
}

// The pointer as Windows keeps it inside the clipping rectangle, whose right
// and bottom edges are outside.
void Confine(int* x, int* y) {
    if (!g_clipped) return;
    *x = std::clamp(*x, int(g_clip.left), std::max(int(g_clip.left), int(g_clip.right) - 1));
    *y = std::clamp(*y, int(g_clip.top), std::max(int(g_clip.top), int(g_clip.bottom) - 1));
}

}  // namespace

int CursorCount() {
    return g_cursorCount;
}

}  // namespace user32

using namespace user32;

int GetSystemMetrics(int index) {
    if (!DisplayOpen() && !EnsureDisplay()) return 0;
    switch (index) {
        case SM_CXSCREEN: {
            RECT screen = ScreenRect();
            return screen.right - screen.left;
        }
        case SM_CYSCREEN: {
            RECT screen = ScreenRect();
            return screen.bottom - screen.top;
        }
        case SM_CXFULLSCREEN:
        case SM_CYFULLSCREEN: {
            // The work area (without panels); there is no caption to take
            // off, as the window manager's lies outside the window.
            GdkRectangle area{0, 0, 0, 0};
            if (GdkMonitor* monitor = PrimaryMonitor()) gdk_monitor_get_workarea(monitor, &area);
            return index == SM_CXFULLSCREEN ? area.width : area.height;
        }
        case SM_CYMENU:
            return MenuBarHeight();
        case SM_CYCAPTION:
        case SM_CXBORDER:
        case SM_CYBORDER:
            return 0;
    }
    return 0;
}

BOOL MessageBeep(UINT) {
    if (!DisplayOpen()) {
        SetLastError(ERROR_DEVICE_NOT_AVAILABLE);
        return FALSE;
    }
    // GDK belongs to the UI thread; a beep asked for elsewhere (the
    // connection beeper) sounds at the UI thread's next pump.
    g_main_context_invoke(nullptr, BeepNow, nullptr);
    return TRUE;
}

BOOL SetCursorPos(int x, int y) {
    if (!OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!EnsureDisplay()) return FALSE;
    GdkDevice* pointer = Pointer();
    if (!pointer) {
        SetLastError(ERROR_DEVICE_NOT_AVAILABLE);
        return FALSE;
    }
    Confine(&x, &y);
    gdk_device_warp(pointer, gdk_screen_get_default(), x, y);
    gdk_display_flush(gdk_display_get_default());
    return TRUE;
}

BOOL GetCursorPos(LPPOINT point) {
    if (!point) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (!OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!EnsureDisplay()) return FALSE;
    GdkDevice* pointer = Pointer();
    int x = 0, y = 0;
    if (pointer) gdk_device_get_position(pointer, nullptr, &x, &y);
    *point = POINT{x, y};
    return TRUE;
}

BOOL ClipCursor(const RECT* rect) {
    if (!OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!rect) {
        g_clipped = false;
        return TRUE;
    }
    if (!EnsureDisplay()) return FALSE;
    // Windows keeps the rectangle on the screen.
    RECT screen = ScreenRect();
    RECT clip{std::max(rect->left, screen.left), std::max(rect->top, screen.top),
              std::min(rect->right, screen.right), std::min(rect->bottom, screen.bottom)};
    if (clip.right < clip.left) clip.right = clip.left;
    if (clip.bottom < clip.top) clip.bottom = clip.top;
    g_clip = clip;
    g_clipped = true;
    POINT now;
    if (GetCursorPos(&now)) {
        int x = now.x, y = now.y;
        Confine(&x, &y);
        if (x != now.x || y != now.y) SetCursorPos(x, y);
    }
    return TRUE;
}

BOOL GetClipCursor(LPRECT rect) {
    if (!rect) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (!EnsureDisplay()) return FALSE;
    *rect = g_clipped ? g_clip : ScreenRect();
    return TRUE;
}

int ShowCursor(BOOL show) {
    if (!OnUiThread()) return g_cursorCount;
    bool wasHidden = g_cursorCount < 0;
    g_cursorCount += show ? 1 : -1;
    if (wasHidden != (g_cursorCount < 0) && DisplayOpen())
        for (Window* window : AllWindows()) ApplyCursor(window);
    return g_cursorCount;
}
