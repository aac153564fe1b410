// Window classes and top-level windows over GTK 3.
//
// A window is a GtkWindow holding a vertical box: the menu bar (when the
// window has a menu) above a GtkDrawingArea that is the client area. The
// window manager's frame lies outside the GtkWindow, so the "outer" rectangle
// of this layer is the GtkWindow itself: AdjustWindowRect adds only the menu
// bar, and CreateWindowExA's width and height size the GtkWindow.

#include <algorithm>
#include <atomic>
#include <strings.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/linux/user32_internal.h"

namespace user32 {
namespace {

std::once_flag g_displayOnce;
bool g_displayOpen = false;
std::atomic<bool> g_uiClaimed{false};
std::thread::id g_uiThread;
std::mutex g_uiMutex;

struct WindowClass {
    WNDCLASSA wc;
    std::string name;
    std::string menuName;  // when lpszMenuName is a string
    ATOM atom;
};

std::vector<WindowClass>& Classes() {
    static auto* classes = new std::vector<WindowClass>();
    return *classes;
}

std::map<HWND, std::unique_ptr<Window>>& Windows() {
    static auto* windows = new std::map<HWND, std::unique_ptr<Window>>();
    return *windows;
}

uintptr_t g_nextWindow = 0x10010;

// The handles of live windows, for PostMessageA on other threads.
std::mutex g_aliveMutex;
std::vector<HWND> g_alive;

void SetAlive(HWND handle, bool alive) {
    std::lock_guard<std::mutex> lock(g_aliveMutex);
    auto it = std::find(g_alive.begin(), g_alive.end(), handle);
    if (alive && it == g_alive.end()) g_alive.push_back(handle);
    if (!alive && it != g_alive.end()) g_alive.erase(it);
}
ATOM g_nextAtom = 0xC100;

bool SameName(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

WindowClass* FindClass(const char* name) {
    for (auto& c : Classes())
        if (SameName(c.name, name)) return &c;
    return nullptr;
}

void ApplyTitle(Window* window) {
    if (window->toplevel)
        gtk_window_set_title(GTK_WINDOW(window->toplevel), Utf8FromAnsi(window->title.c_str()).c_str());
}

// ---- GTK signal handlers of the toplevel

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    // The close button: the window procedure decides. Windows posts the
    // request as a system command; only DefWindowProcA closes the window.
    auto* window = static_cast<Window*>(data);
    PostQueued(window->handle, WM_SYSCOMMAND, SC_CLOSE, 0);
    return TRUE;
}

gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
    auto* window = static_cast<Window*>(data);
    int x = 0, y = 0;
    GdkWindow* gdk = gtk_widget_get_window(window->toplevel);
    if (gdk) gdk_window_get_origin(gdk, &x, &y);
    window->x = x;
    window->y = y;
    window->width = event->width;
    window->height = event->height;
    NotifyGeometry(window);
    return FALSE;
}

void OnClientAllocate(GtkWidget*, GdkRectangle*, gpointer data) {
    auto* window = static_cast<Window*>(data);
    if (window->classStyle & (CS_HREDRAW | CS_VREDRAW)) Invalidate(window);
    NotifyGeometry(window);
}

gboolean OnFocusIn(GtkWidget*, GdkEventFocus*, gpointer data) {
    auto* window = static_cast<Window*>(data);
    if (window->focused) return FALSE;
    window->focused = true;
    CallWindowProcedure(window, WM_ACTIVATE, WA_ACTIVE, 0);
    CallWindowProcedure(window, WM_SETFOCUS, 0, 0);
    return FALSE;
}

gboolean OnFocusOut(GtkWidget*, GdkEventFocus*, gpointer data) {
    auto* window = static_cast<Window*>(data);
    if (!window->focused) return FALSE;
    window->focused = false;
    window->altAlone = false;
    CallWindowProcedure(window, WM_ACTIVATE, WA_INACTIVE, 0);
    CallWindowProcedure(window, WM_KILLFOCUS, 0, 0);
    return FALSE;
}

// Hands a state change the window manager made to the window procedure as
// the system command that would have asked for it, and undoes it when the
// procedure refuses (does not pass it to DefWindowProcA).
void ReportStateChange(Window* window, UINT command) {
    window->pendingSysCommand = command;
    window->sysCommandAccepted = false;
    CallWindowProcedure(window, WM_SYSCOMMAND, command, 0);
    bool accepted = window->sysCommandAccepted;
    window->pendingSysCommand = 0;
    if (!FindWindowObject(window->handle) || accepted || window->destroying) return;
    GtkWindow* gtk = GTK_WINDOW(window->toplevel);
    switch (command) {
        case SC_MINIMIZE: gtk_window_deiconify(gtk); break;
        case SC_MAXIMIZE: gtk_window_unmaximize(gtk); break;
        case SC_RESTORE:
            if (window->iconic) gtk_window_iconify(gtk);
            else if (window->zoomed) gtk_window_maximize(gtk);
            break;
    }
}

gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
    auto* window = static_cast<Window*>(data);
    HWND handle = window->handle;
    bool iconic = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    bool zoomed = (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    if ((event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) && iconic != window->iconic) {
        bool wasIconic = window->iconic;
        window->iconic = iconic;
        ReportStateChange(window, iconic ? SC_MINIMIZE : SC_RESTORE);
        if (!FindWindowObject(handle)) return FALSE;
        if (wasIconic && !iconic) Invalidate(window);
        NotifyGeometry(window);
    }
    if ((event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED) && zoomed != window->zoomed) {
        window->zoomed = zoomed;
        ReportStateChange(window, zoomed ? SC_MAXIMIZE : SC_RESTORE);
        if (!FindWindowObject(handle)) return FALSE;
        NotifyGeometry(window);
    }
    return FALSE;
}

void BuildWidgets(Window* window) {
    GtkWidget* toplevel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    window->toplevel = toplevel;
    window->box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    window->client = gtk_drawing_area_new();
    gtk_widget_set_can_focus(window->client, TRUE);
    gtk_box_pack_end(GTK_BOX(window->box), window->client, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(toplevel), window->box);
    gtk_widget_show(window->client);
    gtk_widget_show(window->box);

    // The client area may shrink below any natural size: the window's size is
    // what the program asks for.
    gtk_widget_set_size_request(window->client, 1, 1);
    gtk_window_set_default_size(GTK_WINDOW(toplevel), window->width, window->height);
    if (window->x != CW_USEDEFAULT) gtk_window_move(GTK_WINDOW(toplevel), window->x, window->y);
    ApplyTitle(window);
    if (GdkPixbuf* image = IconImage(window->icon)) gtk_window_set_icon(GTK_WINDOW(toplevel), image);

    gtk_widget_add_events(toplevel, GDK_STRUCTURE_MASK | GDK_FOCUS_CHANGE_MASK);
    g_signal_connect(toplevel, "delete-event", G_CALLBACK(OnDelete), window);
    g_signal_connect(toplevel, "configure-event", G_CALLBACK(OnConfigure), window);
    g_signal_connect(toplevel, "focus-in-event", G_CALLBACK(OnFocusIn), window);
    g_signal_connect(toplevel, "focus-out-event", G_CALLBACK(OnFocusOut), window);
    g_signal_connect(toplevel, "window-state-event", G_CALLBACK(OnWindowState), window);
    g_signal_connect(window->client, "size-allocate", G_CALLBACK(OnClientAllocate), window);
    ConnectInput(window);
    ConnectPainting(window);
}

// The first showing of a window tells it its size and place, as Windows does.
void FirstShow(Window* window) {
    if (window->shownOnce) return;
    window->shownOnce = true;
    Invalidate(window);
    NotifyGeometry(window);
}

}  // namespace

bool EnsureDisplay() {
    std::call_once(g_displayOnce, [] {
        // Pointer warping, window positions and XTest input need X11; under
        // Wayland GTK reaches XWayland through DISPLAY.
        gdk_set_allowed_backends("x11");
        g_displayOpen = gtk_init_check(nullptr, nullptr);
        // Pango reads the font configuration in a thread of its own, started
        // with the first font map. Starting it here lets that run beside
        // GTK's parsing of its theme for the first window, rather than
        // stalling the first menu bar's measuring of its text.
        if (g_displayOpen) pango_cairo_font_map_get_default();
    });
    if (!g_displayOpen) SetLastError(ERROR_DEVICE_NOT_AVAILABLE);
    return g_displayOpen;
}

bool DisplayOpen() {
    return g_displayOpen;
}

bool OnUiThread() {
    if (!g_uiClaimed.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(g_uiMutex);
        if (!g_uiClaimed.load(std::memory_order_relaxed)) {
            g_uiThread = std::this_thread::get_id();
            g_uiClaimed.store(true, std::memory_order_release);
        }
    }
    return g_uiThread == std::this_thread::get_id();
}

Window* FindWindowObject(HWND handle) {
    auto& windows = Windows();
    auto it = windows.find(handle);
    return it == windows.end() ? nullptr : it->second.get();
}

Window* LookupWindow(HWND handle) {
    Window* window = OnUiThread() ? FindWindowObject(handle) : nullptr;
    if (!window) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return window;
}

bool WindowAlive(HWND handle) {
    std::lock_guard<std::mutex> lock(g_aliveMutex);
    return std::find(g_alive.begin(), g_alive.end(), handle) != g_alive.end();
}

std::vector<Window*> AllWindows() {
    std::vector<Window*> all;
    for (auto& [handle, window] : Windows()) all.push_back(window.get());
    return all;
}

LRESULT CallWindowProcedure(Window* window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!window || !window->proc) return 0;
    return window->proc(window->handle, message, wParam, lParam);
}

int ClientWidth(const Window* window) {
    return window->iconic ? 0 : std::max(0, window->width);
}

int ClientHeight(const Window* window) {
    if (window->iconic) return 0;
    return std::max(0, window->height - (window->menuBar ? MenuBarHeight() : 0));
}

void ClientOrigin(const Window* window, int* x, int* y) {
    *x = window->x;
    *y = window->y + (window->menuBar ? MenuBarHeight() : 0);
    GdkWindow* gdk = window->client ? gtk_widget_get_window(window->client) : nullptr;
    if (gdk && gtk_widget_get_realized(window->client)) gdk_window_get_origin(gdk, x, y);
}

void NotifyGeometry(Window* window) {
    if (!window->shownOnce || window->destroying) return;
    HWND handle = window->handle;
    int w = ClientWidth(window), h = ClientHeight(window);
    if (w != window->sentClientWidth || h != window->sentClientHeight) {
        window->sentClientWidth = w;
        window->sentClientHeight = h;
        WPARAM kind = window->iconic ? SIZE_MINIMIZED : window->zoomed ? SIZE_MAXIMIZED : SIZE_RESTORED;
        CallWindowProcedure(window, WM_SIZE, kind, MAKELPARAM(w, h));
        if (!FindWindowObject(handle)) return;
    }
    if (window->iconic) return;
    int x, y;
    ClientOrigin(window, &x, &y);
    if (x != window->sentX || y != window->sentY) {
        window->sentX = x;
        window->sentY = y;
        CallWindowProcedure(window, WM_MOVE, 0, MAKELPARAM(x, y));
    }
}

void Invalidate(Window* window) {
    if (window->destroying) return;
    if (!window->needsPaint) {
        window->needsPaint = true;
        g_main_context_wakeup(nullptr);
    }
}

int MenuBarHeight() {
    static int height = [] {
        if (!EnsureDisplay()) return 19;
        EnsureMenuStyle();
        // Windows' menu bar is 19 pixels; the style of platform menu bars
        // (user32_menus.cpp) keeps GTK's to that unless the theme's text is
        // taller.
        GtkWidget* bar = gtk_menu_bar_new();
        gtk_style_context_add_class(gtk_widget_get_style_context(bar), "win32");
        gtk_menu_shell_append(GTK_MENU_SHELL(bar), gtk_menu_item_new_with_label("Help"));
        gtk_widget_show_all(bar);
        GtkWidget* holder = gtk_offscreen_window_new();
        gtk_container_add(GTK_CONTAINER(holder), bar);
        int minimum = 0, natural = 0;
        gtk_widget_get_preferred_height(bar, &minimum, &natural);
        gtk_widget_destroy(holder);
        return std::max(19, natural);
    }();
    return height;
}

// ---- text

namespace {
constexpr uint16_t kAnsiHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
}

std::string Utf8FromAnsi(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); p && *p; ++p) {
        uint32_t code = *p >= 0x80 && *p < 0xA0 ? kAnsiHigh[*p - 0x80] : *p;
        char buffer[8];
        int n = g_unichar_to_utf8(code, buffer);
        out.append(buffer, size_t(n));
    }
    return out;
}

int AnsiFromUnicode(uint32_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return int(code);
    for (int i = 0; i < 32; i++)
        if (kAnsiHigh[i] == code) return 0x80 + i;
    return '?';
}

std::string AnsiFromUtf8(const char* text) {
    std::string out;
    if (!text) return out;
    for (const char* p = text; *p;) {
        gunichar code = g_utf8_get_char_validated(p, -1);
        if (code == gunichar(-1) || code == gunichar(-2)) {
            out += '?';
            ++p;
            continue;
        }
        out += char(AnsiFromUnicode(code));
        p = g_utf8_next_char(p);
    }
    return out;
}

}  // namespace user32

using namespace user32;

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    if (moduleName == nullptr) return reinterpret_cast<HMODULE>(uintptr_t(0x400000));
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || IS_INTRESOURCE(windowClass->lpszClassName) ||
        !windowClass->lpfnWndProc || windowClass->cbClsExtra < 0 || windowClass->cbWndExtra < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (!EnsureDisplay()) return 0;
    if (FindClass(windowClass->lpszClassName)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass entry{*windowClass, windowClass->lpszClassName, "", g_nextAtom++};
    if (windowClass->lpszMenuName && !IS_INTRESOURCE(windowClass->lpszMenuName)) {
        entry.menuName = windowClass->lpszMenuName;
        entry.wc.lpszMenuName = nullptr;  // the copy above is the one kept
    }
    entry.wc.lpszClassName = nullptr;
    Classes().push_back(std::move(entry));
    return Classes().back().atom;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    if (!OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (!EnsureDisplay()) return nullptr;
    if (!className || IS_INTRESOURCE(className)) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    WindowClass* wc = FindClass(className);
    if (!wc) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (style & WS_CHILD) {  // only top-level windows are provided
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (parent && !LookupWindow(parent)) return nullptr;

    auto owned = std::make_unique<Window>();
    Window* window = owned.get();
    window->handle = reinterpret_cast<HWND>(g_nextWindow);
    g_nextWindow += 4;
    window->proc = wc->wc.lpfnWndProc;
    window->classStyle = wc->wc.style;
    window->style = style;
    window->title = windowName ? windowName : "";
    window->cursor = wc->wc.hCursor;
    window->icon = wc->wc.hIcon;

    // As Windows: a default x takes the system's place and ignores y; a
    // default width takes the system's size and ignores the height.
    GdkRectangle area{0, 0, 1024, 768};
    if (GdkMonitor* monitor = gdk_display_get_primary_monitor(gdk_display_get_default()))
        gdk_monitor_get_workarea(monitor, &area);
    else if (GdkMonitor* first = gdk_display_get_monitor(gdk_display_get_default(), 0))
        gdk_monitor_get_workarea(first, &area);
    window->x = x;
    window->y = x == CW_USEDEFAULT ? 0 : y;
    if (width == CW_USEDEFAULT) {
        width = area.width * 3 / 4;
        height = area.height * 3 / 4;
    }
    window->width = std::max(1, width);
    window->height = std::max(1, height);

    HMENU classMenu = nullptr;
    if (!menu && (wc->wc.lpszMenuName || !wc->menuName.empty())) {
        classMenu = LoadMenuA(wc->wc.hInstance,
                              wc->menuName.empty() ? wc->wc.lpszMenuName : wc->menuName.c_str());
        menu = classMenu;
    }

    Windows().emplace(window->handle, std::move(owned));
    SetAlive(window->handle, true);
    BuildWidgets(window);
    if (parent)
        gtk_window_set_transient_for(GTK_WINDOW(window->toplevel),
                                     GTK_WINDOW(FindWindowObject(parent)->toplevel));
    if (menu) InstallMenuBar(window, menu);
    if (window->x == CW_USEDEFAULT) window->x = 0;

    CREATESTRUCTA create{param, instance, menu, parent, window->height, window->width,
                         window->y, window->x, LONG(style), windowName, className, exStyle};
    HWND handle = window->handle;
    if (!CallWindowProcedure(window, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)) ||
        (FindWindowObject(handle) &&
         CallWindowProcedure(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1)) {
        if (FindWindowObject(handle)) DestroyWindow(handle);
        return nullptr;
    }
    if (!FindWindowObject(handle)) return nullptr;
    if (style & WS_VISIBLE) {
        window->style &= ~DWORD(WS_VISIBLE);
        ShowWindow(handle, (style & WS_MINIMIZE) ? SW_SHOWMINIMIZED
                           : (style & WS_MAXIMIZE) ? SW_SHOWMAXIMIZED
                                                   : SW_SHOW);
    }
    return FindWindowObject(handle) ? handle : nullptr;
}

BOOL IsWindow(HWND window) {
    return OnUiThread() && FindWindowObject(window) != nullptr;
}

BOOL DestroyWindow(HWND handle) {
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    if (window->destroying) return TRUE;
    window->destroying = true;  // no more painting, geometry or second WM_DESTROY
    if (window->visible) gtk_widget_hide(window->toplevel);
    window->visible = false;
    if (window->focused) {
        window->focused = false;
        CallWindowProcedure(window, WM_ACTIVATE, WA_INACTIVE, 0);
        CallWindowProcedure(window, WM_KILLFOCUS, 0, 0);
    }
    if (!FindWindowObject(handle)) return TRUE;
    CallWindowProcedure(window, WM_DESTROY, 0, 0);
    if (!FindWindowObject(handle)) return TRUE;
    CallWindowProcedure(window, WM_NCDESTROY, 0, 0);
    if (!FindWindowObject(handle)) return TRUE;
    KillWindowTimers(handle);
    DropInput(handle);
    DestroyWindowMenu(window);
    ReleaseBacking(window);
    GtkWidget* toplevel = window->toplevel;
    window->toplevel = window->client = window->box = window->menuBar = nullptr;
    Windows().erase(handle);
    SetAlive(handle, false);
    // Handlers hold the Window pointer: cut them off before GTK tears down.
    g_signal_handlers_disconnect_matched(toplevel, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr,
                                         window);
    gtk_widget_destroy(toplevel);
    return TRUE;
}

BOOL ShowWindow(HWND handle, int command) {
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    BOOL wasVisible = window->visible;
    GtkWindow* gtk = GTK_WINDOW(window->toplevel);
    bool activate = command != SW_SHOWNA && command != SW_SHOWNOACTIVATE &&
                    command != SW_SHOWMINNOACTIVE && command != SW_MINIMIZE && command != SW_HIDE;
    bool wasIconic = window->iconic;
    switch (command) {
        case SW_HIDE:
            if (window->visible) gtk_widget_hide(window->toplevel);
            window->visible = false;
            return wasVisible;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            window->iconic = true;
            gtk_window_iconify(gtk);
            break;
        case SW_SHOWMAXIMIZED:
            window->iconic = false;
            window->zoomed = true;
            gtk_window_deiconify(gtk);
            gtk_window_maximize(gtk);
            break;
        case SW_SHOWNORMAL:
        case SW_RESTORE:
        case SW_SHOWDEFAULT:
            if (window->iconic) {
                window->iconic = false;
                gtk_window_deiconify(gtk);
            } else if (window->zoomed) {
                window->zoomed = false;
                gtk_window_unmaximize(gtk);
            }
            break;
        case SW_SHOW:
        case SW_SHOWNA:
        case SW_SHOWNOACTIVATE:
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
    gtk_window_set_focus_on_map(gtk, activate);
    if (!window->visible) {
        window->visible = true;
        window->style |= WS_VISIBLE;
        gtk_widget_show(window->toplevel);
    }
    if (wasIconic && !window->iconic) Invalidate(window);
    FirstShow(window);
    if (FindWindowObject(handle)) NotifyGeometry(window);
    if (activate && FindWindowObject(handle) && !window->iconic) gtk_window_present(gtk);
    return wasVisible;
}

BOOL UpdateWindow(HWND handle) {
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    if (window->needsPaint && window->visible) CallWindowProcedure(window, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL IsIconic(HWND handle) {
    Window* window = OnUiThread() ? FindWindowObject(handle) : nullptr;
    return window && window->iconic;
}

BOOL IsZoomed(HWND handle) {
    Window* window = OnUiThread() ? FindWindowObject(handle) : nullptr;
    return window && window->zoomed && !window->iconic;
}

BOOL IsWindowVisible(HWND handle) {
    Window* window = OnUiThread() ? FindWindowObject(handle) : nullptr;
    return window && window->visible;
}

BOOL SetWindowTextA(HWND handle, LPCSTR text) {
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    // As on Windows the window procedure sees the change (WM_SETTEXT) and
    // DefWindowProcA makes it.
    return CallWindowProcedure(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextA(HWND handle, LPSTR buffer, int size) {
    Window* window = LookupWindow(handle);
    if (!window) return 0;
    if (!buffer || size <= 0) return 0;
    return int(CallWindowProcedure(window, WM_GETTEXT, WPARAM(size), reinterpret_cast<LPARAM>(buffer)));
}

LRESULT user32::DefaultText(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = FindWindowObject(handle);
    if (!window) return 0;
    switch (message) {
        case WM_SETTEXT:
            window->title = lParam ? reinterpret_cast<const char*>(lParam) : "";
            ApplyTitle(window);
            return TRUE;
        case WM_GETTEXT: {
            auto* out = reinterpret_cast<char*>(lParam);
            if (!out || wParam == 0) return 0;
            size_t n = std::min(window->title.size(), size_t(wParam) - 1);
            memcpy(out, window->title.data(), n);
            out[n] = 0;
            return LRESULT(n);
        }
        case WM_GETTEXTLENGTH:
            return LRESULT(window->title.size());
    }
    return 0;
}

BOOL GetClientRect(HWND handle, LPRECT rect) {
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    if (!rect) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    *rect = RECT{0, 0, ClientWidth(window), ClientHeight(window)};
    return TRUE;
}

BOOL GetWindowRect(HWND handle, LPRECT rect) {
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    if (!rect) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    int x = window->x, y = window->y;
    GdkWindow* gdk = gtk_widget_get_window(window->toplevel);
    if (gdk && gtk_widget_get_realized(window->toplevel)) gdk_window_get_origin(gdk, &x, &y);
    *rect = RECT{x, y, x + window->width, y + window->height};
    return TRUE;
}

BOOL ClientToScreen(HWND handle, LPPOINT point) {
    Window* window = LookupWindow(handle);
    if (!window || !point) return FALSE;
    int x, y;
    ClientOrigin(window, &x, &y);
    point->x += x;
    point->y += y;
    return TRUE;
}

BOOL ScreenToClient(HWND handle, LPPOINT point) {
    Window* window = LookupWindow(handle);
    if (!window || !point) return FALSE;
    int x, y;
    ClientOrigin(window, &x, &y);
    point->x -= x;
    point->y -= y;
    return TRUE;
}

BOOL AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu) {
    if (!rect) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    // The window manager's caption and borders are outside the window this
    // layer sizes; only the menu bar is inside it.
    if (menu) rect->top -= MenuBarHeight();
    return TRUE;
}

HWND SetFocus(HWND handle) {
    HWND previous = GetFocus();
    if (!handle) return previous;
    Window* window = LookupWindow(handle);
    if (!window) return nullptr;
    if (window->visible && !window->iconic) {
        gtk_window_present(GTK_WINDOW(window->toplevel));
        gtk_widget_grab_focus(window->client);
    }
    return previous;
}

HWND GetFocus(void) {
    if (!OnUiThread()) return nullptr;
    for (Window* window : AllWindows())
        if (window->focused) return window->handle;
    return nullptr;
}

BOOL SetForegroundWindow(HWND handle) {
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    if (window->visible) gtk_window_present(GTK_WINDOW(window->toplevel));
    return TRUE;
}

BOOL InvalidateRect(HWND handle, const RECT*, BOOL) {
    if (!handle) {  // all windows, as Windows does for NULL
        for (Window* window : AllWindows()) Invalidate(window);
        return TRUE;
    }
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    Invalidate(window);
    return TRUE;
}

BOOL ValidateRect(HWND handle, const RECT*) {
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    window->needsPaint = false;
    return TRUE;
}
