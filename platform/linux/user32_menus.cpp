// Menus: LoadMenuA from the program's resource list, the menu bar of a window
// as a real GtkMenuBar, and the few queries and changes the program and its
// tests make. A menu is this layer's own model; the GTK widgets are built from
// it when the menu is put on a window, and an item chosen there posts
// WM_COMMAND with its identifier, as Windows does when its menu loop ends.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/linux/user32_internal.h"

namespace user32 {
namespace {

struct MenuItem {
    UINT id = 0;
    UINT flags = 0;  // MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_POPUP, MF_SEPARATOR
    std::string text;
    HMENU popup = nullptr;
    GtkWidget* widget = nullptr;  // while the menu is on a window
};

struct Menu {
    HMENU handle = nullptr;
    std::vector<MenuItem> items;
    HWND window = nullptr;  // the window whose bar shows it
};

std::map<HMENU, std::unique_ptr<Menu>>& Menus() {
    static auto* menus = new std::map<HMENU, std::unique_ptr<Menu>>();
    return *menus;
}

uintptr_t g_nextMenu = 0x20010;

Menu* FindMenu(HMENU handle) {
    auto it = Menus().find(handle);
    return it == Menus().end() ? nullptr : it->second.get();
}

Menu* LookupMenu(HMENU handle) {
    Menu* menu = OnUiThread() ? FindMenu(handle) : nullptr;
    if (!menu) SetLastError(ERROR_INVALID_MENU_HANDLE);
    return menu;
}

Menu* NewMenu() {
    auto menu = std::make_unique<Menu>();
    menu->handle = reinterpret_cast<HMENU>(g_nextMenu);
    g_nextMenu += 4;
    Menu* raw = menu.get();
    Menus().emplace(raw->handle, std::move(menu));
    return raw;
}

void Free(HMENU handle) {
    Menu* menu = FindMenu(handle);
    if (!menu) return;
    for (MenuItem& item : menu->items)
        if (item.popup) Free(item.popup);
    Menus().erase(handle);
}

// Builds the entries from `at` up to the END that closes them into menu.
// Returns the index after that END.
size_t Build(Menu* menu, const PlatformMenuEntry* entries, size_t count, size_t at) {
    while (at < count) {
        const PlatformMenuEntry& entry = entries[at++];
        if (entry.kind == PLATFORM_MENU_END) return at;
        MenuItem item;
        item.text = entry.text ? entry.text : "";
        item.flags = entry.flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR);
        if (entry.kind == PLATFORM_MENU_POPUP) {
            Menu* popup = NewMenu();
            item.popup = popup->handle;
            item.flags |= MF_POPUP;
            at = Build(popup, entries, count, at);
        } else {
            item.id = entry.id;
            if (!entry.text) item.flags |= MF_SEPARATOR;
        }
        menu->items.push_back(std::move(item));
    }
    return at;
}

// Position of an item given by command (searching pop-ups too) or position.
bool Locate(Menu* menu, UINT item, UINT flags, Menu** owner, size_t* index) {
    if (flags & MF_BYPOSITION) {
        if (item >= menu->items.size()) return false;
        *owner = menu;
        *index = item;
        return true;
    }
    for (size_t i = 0; i < menu->items.size(); i++) {
        const MenuItem& entry = menu->items[i];
        if (!entry.popup && !(entry.flags & MF_SEPARATOR) && entry.id == item) {
            *owner = menu;
            *index = i;
            return true;
        }
        if (entry.popup) {
            if (Menu* sub = FindMenu(entry.popup); sub && Locate(sub, item, flags, owner, index))
                return true;
        }
    }
    return false;
}

// "&File" becomes GTK's "_File"; "&&" is a literal "&", "_" is doubled.
std::string Mnemonic(const std::string& text) {
    std::string out;
    std::string visible = text.substr(0, text.find('\t'));  // accelerator text is not shown
    for (size_t i = 0; i < visible.size(); i++) {
        char c = visible[i];
        if (c == '&' && i + 1 < visible.size() && visible[i + 1] == '&') {
            out += '&';
            i++;
        } else if (c == '&') {
            out += '_';
        } else if (c == '_') {
            out += "__";
        } else {
            out += c;
        }
    }
    return Utf8FromAnsi(out.c_str());
}

struct Activation {
    HWND window;
    UINT id;
};

void OnActivate(GtkMenuItem*, gpointer data) {
    auto* activation = static_cast<Activation*>(data);
    if (WindowAlive(activation->window))
        PostQueued(activation->window, WM_COMMAND, MAKEWPARAM(activation->id, 0), 0);
}

void FreeActivation(gpointer data, GClosure*) {
    delete static_cast<Activation*>(data);
}

void Populate(GtkMenuShell* shell, Menu* menu, HWND window) {
    for (MenuItem& item : menu->items) {
        GtkWidget* widget;
        if (item.flags & MF_SEPARATOR) {
            widget = gtk_separator_menu_item_new();
        } else {
            widget = gtk_menu_item_new_with_mnemonic(Mnemonic(item.text).c_str());
            if (item.popup) {
                if (Menu* sub = FindMenu(item.popup)) {
                    GtkWidget* popup = gtk_menu_new();
                    Populate(GTK_MENU_SHELL(popup), sub, window);
                    gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), popup);
                }
            } else {
                auto* activation = new Activation{window, item.id};
                g_signal_connect_data(widget, "activate", G_CALLBACK(OnActivate), activation,
                                      FreeActivation, GConnectFlags(0));
                if (GTK_IS_MENU_BAR(shell)) g_object_set_data(G_OBJECT(widget), "kv-activation", activation);
            }
        }
        gtk_widget_set_sensitive(widget, !(item.flags & (MF_GRAYED | MF_DISABLED)));
        gtk_menu_shell_append(shell, widget);
        item.widget = widget;
    }
}

void ForgetWidgets(Menu* menu) {
    menu->window = nullptr;
    for (MenuItem& item : menu->items) {
        item.widget = nullptr;
        if (Menu* sub = item.popup ? FindMenu(item.popup) : nullptr) ForgetWidgets(sub);
    }
}

}  // namespace

void EnsureMenuStyle() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    // Windows' menu bar is 19 pixels high; GTK's default is taller. Tight
    // padding keeps the bar at SM_CYMENU so the client area is what the
    // window's size leaves after it.
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css,
                                    "menubar.win32 { padding: 0; min-height: 0; }"
                                    "menubar.win32 > menuitem { padding: 1px 7px; min-height: 0; }",
                                    -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

namespace {

// GTK takes a quick click on a bar item without a pop-up for the start of a
// drag through the menus and activates nothing; Windows chooses the item.
// Bar items are therefore chosen here, on the release over them.
gboolean OnBarRelease(GtkWidget* bar, GdkEventButton* event, gpointer) {
    if (event->button != 1) return FALSE;
    GList* items = gtk_container_get_children(GTK_CONTAINER(bar));
    Activation* chosen = nullptr;
    for (GList* node = items; node; node = node->next) {
        auto* item = GTK_WIDGET(node->data);
        auto* activation = static_cast<Activation*>(g_object_get_data(G_OBJECT(item), "kv-activation"));
        GdkWindow* parent = gtk_widget_get_window(item);
        if (!activation || !parent || !gtk_widget_is_sensitive(item)) continue;
        GtkAllocation a;
        gtk_widget_get_allocation(item, &a);
        int x = 0, y = 0;
        gdk_window_get_origin(parent, &x, &y);
        if (event->x_root >= x + a.x && event->x_root < x + a.x + a.width && event->y_root >= y + a.y &&
            event->y_root < y + a.y + a.height)
            chosen = activation;
    }
    g_list_free(items);
    if (!chosen) return FALSE;
    gtk_menu_shell_deactivate(GTK_MENU_SHELL(bar));
    if (WindowAlive(chosen->window))
        PostQueued(chosen->window, WM_COMMAND, MAKEWPARAM(chosen->id, 0), 0);
    return TRUE;
}

void RemoveBar(Window* window) {
    if (Menu* old = window->menu ? FindMenu(window->menu) : nullptr) ForgetWidgets(old);
    if (window->menuHolder) gtk_widget_destroy(window->menuHolder);
    window->menuHolder = nullptr;
    window->menuBar = nullptr;
    window->menu = nullptr;
}

const PlatformMenuResource* FindMenuResource(UINT id, DWORD* error) {
    const PlatformResources* resources = Resources();
    if (!resources) {
        *error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return nullptr;
    }
    if (!resources->menus || resources->menuCount == 0) {
        *error = ERROR_RESOURCE_TYPE_NOT_FOUND;
        return nullptr;
    }
    for (UINT i = 0; i < resources->menuCount; i++)
        if (resources->menus[i].id == id) return &resources->menus[i];
    *error = ERROR_RESOURCE_NAME_NOT_FOUND;
    return nullptr;
}

}  // namespace

void InstallMenuBar(Window* window, HMENU handle) {
    RemoveBar(window);
    Menu* menu = handle ? FindMenu(handle) : nullptr;
    if (!menu) return;
    // A menu shows on one window at a time.
    if (menu->window && menu->window != window->handle)
        if (Window* other = FindWindowObject(menu->window)) RemoveBar(other);
    EnsureMenuStyle();
    GtkWidget* bar = gtk_menu_bar_new();
    gtk_style_context_add_class(gtk_widget_get_style_context(bar), "win32");
    gtk_widget_set_size_request(bar, -1, MenuBarHeight());
    Populate(GTK_MENU_SHELL(bar), menu, window->handle);
    g_signal_connect(bar, "button-release-event", G_CALLBACK(OnBarRelease), nullptr);
    // Windows wraps a bar too wide for its window; here the window keeps its
    // width and the items past its edge are cut off.
    GtkWidget* holder = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(holder), GTK_POLICY_EXTERNAL, GTK_POLICY_NEVER);
    gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(holder), TRUE);
    gtk_container_add(GTK_CONTAINER(holder), bar);
    gtk_box_pack_start(GTK_BOX(window->box), holder, FALSE, FALSE, 0);
    gtk_widget_show_all(holder);
    window->menuBar = bar;
    window->menuHolder = holder;
    window->menu = handle;
    menu->window = window->handle;
}

void DestroyWindowMenu(Window* window) {
    HMENU menu = window->menu;
    RemoveBar(window);
    if (menu) Free(menu);
}

void EnterMenuBar(Window* window) {
    if (!window->menuBar || !window->toplevel) return;
    GdkWindow* gdk = gtk_widget_get_window(window->toplevel);
    if (!gdk) return;
    // GTK opens a menu bar from the keyboard on its menu-bar key; hand it one,
    // past this layer's own key handler.
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gdk));
    event->key.send_event = TRUE;
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = GDK_KEY_F10;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(gdk));
    if (GdkDevice* keyboard = seat ? gdk_seat_get_keyboard(seat) : nullptr)
        gdk_event_set_device(event, keyboard);
    g_object_set_data(G_OBJECT(window->toplevel), "kv-pass-key", GINT_TO_POINTER(1));
    gtk_main_do_event(event);
    if (FindWindowObject(window->handle))
        g_object_set_data(G_OBJECT(window->toplevel), "kv-pass-key", nullptr);
    gdk_event_free(event);
}

}  // namespace user32

using namespace user32;

HMENU LoadMenuA(HINSTANCE instance, LPCSTR menuName) {
    if (!OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (!IsProgramInstance(instance)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    DWORD error = ERROR_RESOURCE_NAME_NOT_FOUND;
    // Resources are numbered; a named menu is never found.
    const PlatformMenuResource* resource =
        IS_INTRESOURCE(menuName) ? FindMenuResource(UINT(uintptr_t(menuName)), &error) : nullptr;
    if (!resource) {
        SetLastError(error);
        return nullptr;
    }
    Menu* menu = NewMenu();
    Build(menu, resource->entries, resource->entryCount, 0);
    return menu->handle;
}

BOOL SetMenu(HWND handle, HMENU menu) {
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    if (menu && !LookupMenu(menu)) return FALSE;
    if (menu == window->menu) return TRUE;
    InstallMenuBar(window, menu);
    return TRUE;
}

HMENU GetMenu(HWND handle) {
    Window* window = LookupWindow(handle);
    return window ? window->menu : nullptr;
}

BOOL DestroyMenu(HMENU handle) {
    Menu* menu = LookupMenu(handle);
    if (!menu) return FALSE;
    if (menu->window)
        if (Window* window = FindWindowObject(menu->window); window && window->menu == handle)
            RemoveBar(window);
    Free(handle);
    return TRUE;
}

BOOL DrawMenuBar(HWND handle) {
    Window* window = LookupWindow(handle);
    if (!window) return FALSE;
    // The model may have changed under the bar: build it again.
    if (window->menu) InstallMenuBar(window, window->menu);
    return TRUE;
}

BOOL EnableMenuItem(HMENU handle, UINT item, UINT enable) {
    Menu* menu = LookupMenu(handle);
    if (!menu) return -1;
    Menu* owner;
    size_t index;
    if (!Locate(menu, item, enable, &owner, &index)) return -1;
    MenuItem& entry = owner->items[index];
    UINT previous = entry.flags & (MF_GRAYED | MF_DISABLED);
    entry.flags = (entry.flags & ~UINT(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
    if (entry.widget) gtk_widget_set_sensitive(entry.widget, !(entry.flags & (MF_GRAYED | MF_DISABLED)));
    return BOOL(previous);
}

int GetMenuItemCount(HMENU handle) {
    Menu* menu = LookupMenu(handle);
    return menu ? int(menu->items.size()) : -1;
}

UINT GetMenuItemID(HMENU handle, int position) {
    Menu* menu = LookupMenu(handle);
    if (!menu || position < 0 || size_t(position) >= menu->items.size()) return UINT(-1);
    const MenuItem& item = menu->items[size_t(position)];
    return item.popup ? UINT(-1) : item.id;
}

HMENU GetSubMenu(HMENU handle, int position) {
    Menu* menu = LookupMenu(handle);
    if (!menu || position < 0 || size_t(position) >= menu->items.size()) return nullptr;
    return menu->items[size_t(position)].popup;
}

int GetMenuStringA(HMENU handle, UINT item, LPSTR buffer, int size, UINT flags) {
    Menu* menu = LookupMenu(handle);
    if (!menu) return 0;
    Menu* owner;
    size_t index;
    if (!Locate(menu, item, flags, &owner, &index)) return 0;
    const std::string& text = owner->items[index].text;
    if (!buffer || size <= 0) return int(text.size());
    size_t n = std::min(text.size(), size_t(size) - 1);
    memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    return int(n);
}

UINT GetMenuState(HMENU handle, UINT item, UINT flags) {
    Menu* menu = LookupMenu(handle);
    if (!menu) return UINT(-1);
    Menu* owner;
    size_t index;
    if (!Locate(menu, item, flags, &owner, &index)) return UINT(-1);
    const MenuItem& entry = owner->items[index];
    UINT state = entry.flags;
    if (entry.popup) {
        Menu* sub = FindMenu(entry.popup);
        state = (state & 0xFF) | (UINT(sub ? sub->items.size() : 0) << 8);
    }
    return state;
}

BOOL GetMenuItemRect(HWND handle, HMENU menuHandle, UINT item, LPRECT rect) {
    Window* window = LookupWindow(handle);
    if (!window || !rect) return FALSE;
    Menu* menu = menuHandle ? FindMenu(menuHandle) : nullptr;
    if (!menu || menu->window != handle || item >= menu->items.size()) return FALSE;
    GtkWidget* widget = menu->items[item].widget;
    GdkWindow* gdk = gtk_widget_get_window(window->toplevel);
    if (!widget || !gdk || !gtk_widget_get_realized(widget)) return FALSE;
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    int x = 0, y = 0, wx = 0, wy = 0;
    gtk_widget_translate_coordinates(widget, window->toplevel, 0, 0, &wx, &wy);
    gdk_window_get_origin(gdk, &x, &y);
    *rect = RECT{x + wx, y + wy, x + wx + allocation.width, y + wy + allocation.height};
    return TRUE;
}
