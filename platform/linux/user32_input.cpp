// Keyboard and mouse: GDK events become WM_KEYDOWN / WM_SYSKEYDOWN / WM_KEYUP /
// WM_SYSKEYUP with Windows virtual keys and lParam bits, and WM_MOUSEMOVE /
// WM_[LRM]BUTTON{DOWN,UP} with client pixels and MK_* flags; GetKeyState and
// the characters of TranslateMessage.
//
// Virtual keys come from the key's unshifted symbol in the first layout
// group, so a letter key gives its capital letter and a digit key its digit
// whatever modifiers are held, as on Windows; punctuation keys the layout does
// not name by a US symbol fall back to their position (VK_OEM_*). Scan codes
// are the PC set-1 codes of the evdev key numbers X reports; lParam holds
// repeat count 1, the scan code, the extended-key bit, the Alt context bit,
// the previous-state bit (set for auto-repeat) and the transition bit.
#include <cmath>

#include "platform/linux/user32_internal.h"

namespace user32 {
namespace {

BYTE g_keyState[256];  // as GetKeyState reads it: 0x80 down, 0x01 toggled
bool g_physicalDown[256];  // at event time, for the previous-state bit

struct Scan {
    UINT code;
    bool extended;
};

// The set-1 scan code of an X key code (evdev numbering: key code - 8).
Scan ScanCode(guint16 keycode) {
    UINT evdev = keycode >= 8 ? keycode - 8u : 0u;
    if (evdev < 0x59) return {evdev, false};
    switch (evdev) {
        case 96: return {0x1C, true};   // keypad Enter
        case 97: return {0x1D, true};   // right Ctrl
        case 98: return {0x35, true};   // keypad /
        case 99: return {0x37, true};   // Print Screen
        case 100: return {0x38, true};  // right Alt
        case 102: return {0x47, true};  // Home
        case 103: return {0x48, true};  // Up
        case 104: return {0x49, true};  // Page Up
        case 105: return {0x4B, true};  // Left
        case 106: return {0x4D, true};  // Right
        case 107: return {0x4F, true};  // End
        case 108: return {0x50, true};  // Down
        case 109: return {0x51, true};  // Page Down
        case 110: return {0x52, true};  // Insert
        case 111: return {0x53, true};  // Delete
        case 119: return {0x45, false}; // Pause
        case 125: return {0x5B, true};  // left Windows key
        case 126: return {0x5C, true};  // right Windows key
        case 127: return {0x5D, true};  // Menu key
    }
    return {0, false};
}

// US positions of the punctuation keys, by scan code.
UINT OemByPosition(UINT scan) {
    switch (scan) {
        case 0x27: return VK_OEM_1;
        case 0x0D: return VK_OEM_PLUS;
        case 0x33: return VK_OEM_COMMA;
        case 0x0C: return VK_OEM_MINUS;
        case 0x34: return VK_OEM_PERIOD;
        case 0x35: return VK_OEM_2;
        case 0x29: return VK_OEM_3;
        case 0x1A: return VK_OEM_4;
        case 0x2B: return VK_OEM_5;
        case 0x1B: return VK_OEM_6;
        case 0x28: return VK_OEM_7;
        case 0x56: return VK_OEM_102;
    }
    return 0;
}

UINT VirtualKeyOf(guint keyval, UINT scan) {
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return UINT('A' + (keyval - GDK_KEY_a));
    if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return UINT('A' + (keyval - GDK_KEY_A));
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return UINT('0' + (keyval - GDK_KEY_0));
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return VK_F1 + UINT(keyval - GDK_KEY_F1);
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return VK_NUMPAD0 + UINT(keyval - GDK_KEY_KP_0);
    switch (keyval) {
        case GDK_KEY_BackSpace: return VK_BACK;
        case GDK_KEY_Tab:
        case GDK_KEY_ISO_Left_Tab: return VK_TAB;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter: return VK_RETURN;
        case GDK_KEY_Shift_L:
        case GDK_KEY_Shift_R: return VK_SHIFT;
        case GDK_KEY_Control_L:
        case GDK_KEY_Control_R: return VK_CONTROL;
        case GDK_KEY_Alt_L:
        case GDK_KEY_Alt_R:
        case GDK_KEY_Meta_L:
        case GDK_KEY_Meta_R:
        case GDK_KEY_ISO_Level3_Shift: return VK_MENU;
        case GDK_KEY_Pause:
        case GDK_KEY_Break: return VK_PAUSE;
        case GDK_KEY_Caps_Lock: return VK_CAPITAL;
        case GDK_KEY_Escape: return VK_ESCAPE;
        case GDK_KEY_space:
        case GDK_KEY_KP_Space: return VK_SPACE;
        case GDK_KEY_Page_Up:
        case GDK_KEY_KP_Page_Up: return VK_PRIOR;
        case GDK_KEY_Page_Down:
        case GDK_KEY_KP_Page_Down: return VK_NEXT;
        case GDK_KEY_End:
        case GDK_KEY_KP_End: return VK_END;
        case GDK_KEY_Home:
        case GDK_KEY_KP_Home: return VK_HOME;
        case GDK_KEY_Left:
        case GDK_KEY_KP_Left: return VK_LEFT;
        case GDK_KEY_Up:
        case GDK_KEY_KP_Up: return VK_UP;
        case GDK_KEY_Right:
        case GDK_KEY_KP_Right: return VK_RIGHT;
        case GDK_KEY_Down:
        case GDK_KEY_KP_Down: return VK_DOWN;
        case GDK_KEY_Print:
        case GDK_KEY_Sys_Req: return VK_SNAPSHOT;
        case GDK_KEY_Insert:
        case GDK_KEY_KP_Insert: return VK_INSERT;
        case GDK_KEY_Delete:
        case GDK_KEY_KP_Delete: return VK_DELETE;
        case GDK_KEY_KP_Begin: return VK_CLEAR;
        case GDK_KEY_Super_L: return VK_LWIN;
        case GDK_KEY_Super_R: return VK_RWIN;
        case GDK_KEY_Menu: return VK_APPS;
        case GDK_KEY_KP_Multiply: return VK_MULTIPLY;
        case GDK_KEY_KP_Add: return VK_ADD;
        case GDK_KEY_KP_Separator: return VK_SEPARATOR;
        case GDK_KEY_KP_Subtract: return VK_SUBTRACT;
        case GDK_KEY_KP_Decimal: return VK_DECIMAL;
        case GDK_KEY_KP_Divide: return VK_DIVIDE;
        case GDK_KEY_Num_Lock: return VK_NUMLOCK;
        case GDK_KEY_Scroll_Lock: return VK_SCROLL;
        case GDK_KEY_semicolon: return VK_OEM_1;
        case GDK_KEY_equal: return VK_OEM_PLUS;
        case GDK_KEY_comma: return VK_OEM_COMMA;
        case GDK_KEY_minus: return VK_OEM_MINUS;
        case GDK_KEY_period: return VK_OEM_PERIOD;
        case GDK_KEY_slash: return VK_OEM_2;
        case GDK_KEY_grave: return VK_OEM_3;
        case GDK_KEY_bracketleft: return VK_OEM_4;
        case GDK_KEY_backslash: return VK_OEM_5;
        case GDK_KEY_bracketright: return VK_OEM_6;
        case GDK_KEY_apostrophe: return VK_OEM_7;
        case GDK_KEY_less: return VK_OEM_102;
    }
    return OemByPosition(scan);
}

UINT VirtualKey(const GdkEventKey* event, UINT scan) {
    guint base = 0;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
    // Num Lock decides between the keypad's digits and its cursor keys.
    if (!gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode,
                                             GdkModifierType(event->state & GDK_MOD2_MASK), 0,
                                             &base, nullptr, nullptr, nullptr))
        base = event->keyval;
    UINT vk = VirtualKeyOf(base, scan);
    return vk ? vk : VirtualKeyOf(event->keyval, scan);
}

unsigned Modifiers(guint state) {
    unsigned modifiers = 0;
    if (state & GDK_SHIFT_MASK) modifiers |= kShiftDown;
    if (state & GDK_CONTROL_MASK) modifiers |= kControlDown;
    if (state & GDK_MOD1_MASK) modifiers |= kAltDown;
    return modifiers;
}

// The character a real key makes, by the key's symbol with the modifiers
// GDK applied, and Windows' control codes.
int KeyCharacter(const GdkEventKey* event, UINT vk) {
    bool control = event->state & GDK_CONTROL_MASK;
    bool alt = event->state & GDK_MOD1_MASK;
    switch (vk) {
        case VK_BACK: return control ? 0x7F : 0x08;
        case VK_TAB: return control ? -1 : 0x09;
        case VK_RETURN: return control ? 0x0A : 0x0D;
        case VK_ESCAPE: return 0x1B;
        case VK_SPACE: return ' ';
    }
    // Ctrl with Alt is AltGr on Windows and types the layout's character.
    if (control && !alt) {
        if (vk >= 'A' && vk <= 'Z') return int(vk - 'A' + 1);
        if (vk == VK_OEM_4) return 0x1B;
        if (vk == VK_OEM_5) return 0x1C;
        if (vk == VK_OEM_6) return 0x1D;
        return -1;
    }
    gunichar code = gdk_keyval_to_unicode(event->keyval);
    if (code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0)) return -1;
    return AnsiFromUnicode(code);
}

POINT PointerOf(double xRoot, double yRoot) {
    return POINT{LONG(std::floor(xRoot)), LONG(std::floor(yRoot))};
}

POINT LastPointer(GdkWindow* window) {
    GdkDisplay* display = gdk_window_get_display(window);
    GdkSeat* seat = gdk_display_get_default_seat(display);
    int x = 0, y = 0;
    if (GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr)
        gdk_device_get_position(pointer, nullptr, &x, &y);
    return POINT{x, y};
}

gboolean OnKey(GtkWidget* widget, GdkEventKey* event, gpointer data) {
    auto* window = static_cast<Window*>(data);
    if (g_object_get_data(G_OBJECT(widget), "kv-pass-key")) return FALSE;
    Scan scan = ScanCode(event->hardware_keycode);
    UINT vk = VirtualKey(event, scan.code);
    if (vk == 0) return TRUE;
    bool down = event->type == GDK_KEY_PRESS;
    bool control = event->state & GDK_CONTROL_MASK;
    bool alt = (event->state & GDK_MOD1_MASK) || (vk == VK_MENU && down);
    if (vk == VK_MENU && event->keyval == GDK_KEY_ISO_Level3_Shift) alt = false;  // AltGr
    bool system = (alt && !control) || vk == VK_F10;

    bool previous = g_physicalDown[vk];
    g_physicalDown[vk] = down;
    LPARAM lParam = 1 | (LPARAM(scan.code & 0xFF) << 16) | (scan.extended ? LPARAM(1) << 24 : 0) |
                    (alt && !(vk == VK_MENU && !down) ? LPARAM(1) << 29 : 0) |
                    ((down ? previous : true) ? LPARAM(1) << 30 : 0) | (down ? 0 : LPARAM(1) << 31);
    UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    if (down) window->altAlone = vk == VK_MENU ? (!previous || window->altAlone) : false;
    PostInput(window->handle, message, vk, lParam, Modifiers(event->state),
              down ? KeyCharacter(event, vk) : -1, LastPointer(event->window));
    return TRUE;
}

WPARAM MouseKeys(guint state) {
    return ((state & GDK_BUTTON1_MASK) ? MK_LBUTTON : 0) | ((state & GDK_BUTTON3_MASK) ? MK_RBUTTON : 0) |
           ((state & GDK_BUTTON2_MASK) ? MK_MBUTTON : 0) | ((state & GDK_SHIFT_MASK) ? MK_SHIFT : 0) |
           ((state & GDK_CONTROL_MASK) ? MK_CONTROL : 0);
}

LPARAM ClientPoint(double x, double y) {
    return MAKELPARAM(int(std::floor(x)), int(std::floor(y)));
}

gboolean OnButton(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* window = static_cast<Window*>(data);
    // GDK's double-click events come after a second press that is already
    // reported; Windows without CS_DBLCLKS reports just the presses.
    if (event->type != GDK_BUTTON_PRESS && event->type != GDK_BUTTON_RELEASE) return TRUE;
    bool down = event->type == GDK_BUTTON_PRESS;
    UINT message;
    WPARAM bit;
    switch (event->button) {
        case 1: message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP; bit = MK_LBUTTON; break;
        case 2: message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP; bit = MK_MBUTTON; break;
        case 3: message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP; bit = MK_RBUTTON; break;
        default: return TRUE;
    }
    if (down && window->client && !gtk_widget_has_focus(window->client))
        gtk_widget_grab_focus(window->client);
    WPARAM keys = MouseKeys(event->state);
    keys = down ? (keys | bit) : (keys & ~bit);
    PostInput(window->handle, message, keys, ClientPoint(event->x, event->y), Modifiers(event->state),
              -1, PointerOf(event->x_root, event->y_root));
    return TRUE;
}

gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
    auto* window = static_cast<Window*>(data);
    PostInput(window->handle, WM_MOUSEMOVE, MouseKeys(event->state), ClientPoint(event->x, event->y),
              Modifiers(event->state), -1, PointerOf(event->x_root, event->y_root));
    return TRUE;
}

void OnRealize(GtkWidget*, gpointer data) {
    ApplyCursor(static_cast<Window*>(data));
}

void SetState(UINT vk, bool down) {
    if (down && !(g_keyState[vk] & 0x80)) g_keyState[vk] ^= 0x01;
    g_keyState[vk] = BYTE((g_keyState[vk] & 0x01) | (down ? 0x80 : 0));
}

// Brings Shift, Ctrl and Alt (and their sides) in line with the modifiers
// GDK reported, so a release lost while the window had no focus does not
// leave a key held.
void SyncModifier(UINT generic, UINT left, UINT right, bool down) {
    if (bool(g_keyState[generic] & 0x80) == down) return;
    SetState(generic, down);
    if (!down) {
        SetState(left, false);
        SetState(right, false);
    }
}

}  // namespace

void ConnectInput(Window* window) {
    gtk_widget_add_events(window->toplevel, GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK);
    g_signal_connect(window->toplevel, "key-press-event", G_CALLBACK(OnKey), window);
    g_signal_connect(window->toplevel, "key-release-event", G_CALLBACK(OnKey), window);
    gtk_widget_add_events(window->client, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                              GDK_BUTTON_RELEASE_MASK);
    g_signal_connect(window->client, "button-press-event", G_CALLBACK(OnButton), window);
    g_signal_connect(window->client, "button-release-event", G_CALLBACK(OnButton), window);
    g_signal_connect(window->client, "motion-notify-event", G_CALLBACK(OnMotion), window);
    g_signal_connect(window->client, "realize", G_CALLBACK(OnRealize), window);
}

void NoteInputTaken(const MSG& msg, unsigned modifiers) {
    SyncModifier(VK_SHIFT, VK_LSHIFT, VK_RSHIFT, modifiers & kShiftDown);
    SyncModifier(VK_CONTROL, VK_LCONTROL, VK_RCONTROL, modifiers & kControlDown);
    SyncModifier(VK_MENU, VK_LMENU, VK_RMENU, modifiers & kAltDown);
    switch (msg.message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYUP: {
            bool down = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
            UINT vk = UINT(msg.wParam & 0xFF);
            SetState(vk, down);
            UINT scan = UINT((msg.lParam >> 16) & 0xFF);
            bool extended = (msg.lParam >> 24) & 1;
            if (vk == VK_SHIFT) SetState(scan == 0x36 ? VK_RSHIFT : VK_LSHIFT, down);
            if (vk == VK_CONTROL) SetState(extended ? VK_RCONTROL : VK_LCONTROL, down);
            if (vk == VK_MENU) SetState(extended ? VK_RMENU : VK_LMENU, down);
            break;
        }
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
            SetState(VK_LBUTTON, msg.wParam & MK_LBUTTON);
            SetState(VK_RBUTTON, msg.wParam & MK_RBUTTON);
            SetState(VK_MBUTTON, msg.wParam & MK_MBUTTON);
            break;
    }
}

int CharacterForKey(UINT vk, bool altDown) {
    bool shift = g_keyState[VK_SHIFT] & 0x80;
    bool control = (g_keyState[VK_CONTROL] & 0x80) && !altDown;
    bool caps = g_keyState[VK_CAPITAL] & 0x01;
    switch (vk) {
        case VK_BACK: return control ? 0x7F : 0x08;
        case VK_TAB: return control ? -1 : 0x09;
        case VK_RETURN: return control ? 0x0A : 0x0D;
        case VK_ESCAPE: return 0x1B;
        case VK_SPACE: return ' ';
        case VK_MULTIPLY: return '*';
        case VK_ADD: return '+';
        case VK_SUBTRACT: return '-';
        case VK_DECIMAL: return '.';
        case VK_DIVIDE: return '/';
    }
    if (vk >= 'A' && vk <= 'Z') {
        if (control) return int(vk - 'A' + 1);
        return int(shift != caps ? vk : vk - 'A' + 'a');
    }
    if (control) {
        if (vk == VK_OEM_4) return 0x1B;
        if (vk == VK_OEM_5) return 0x1C;
        if (vk == VK_OEM_6) return 0x1D;
        return -1;
    }
    if (vk >= '0' && vk <= '9') return shift ? ")!@#$%^&*("[vk - '0'] : int(vk);
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) return int('0' + (vk - VK_NUMPAD0));
    // The US layout's punctuation, unshifted and shifted.
    static const struct {
        UINT vk;
        char plain, shifted;
    } kPunctuation[] = {{VK_OEM_1, ';', ':'},      {VK_OEM_PLUS, '=', '+'},   {VK_OEM_COMMA, ',', '<'},
                        {VK_OEM_MINUS, '-', '_'},  {VK_OEM_PERIOD, '.', '>'}, {VK_OEM_2, '/', '?'},
                        {VK_OEM_3, '`', '~'},      {VK_OEM_4, '[', '{'},      {VK_OEM_5, '\\', '|'},
                        {VK_OEM_6, ']', '}'},      {VK_OEM_7, '\'', '"'},     {VK_OEM_102, '\\', '|'}};
    for (const auto& key : kPunctuation)
        if (key.vk == vk) return shift ? key.shifted : key.plain;
    return -1;
}

void ApplyCursor(Window* window) {
    if (!window->client || !gtk_widget_get_realized(window->client)) return;
    GdkWindow* gdk = gtk_widget_get_window(window->client);
    GdkDisplay* display = gdk_window_get_display(gdk);
    GdkCursor* cursor = nullptr;
    if (CursorCount() < 0)
        cursor = gdk_cursor_new_for_display(display, GDK_BLANK_CURSOR);
    else if (const char* name = CursorName(window->cursor))
        cursor = gdk_cursor_new_from_name(display, name);
    gdk_window_set_cursor(gdk, cursor);
    if (cursor) g_object_unref(cursor);
}

}  // namespace user32

SHORT GetKeyState(int virtualKey) {
    BYTE state = user32::g_keyState[virtualKey & 0xFF];
    return SHORT(((state & 0x80) ? 0xFF80 : 0) | (state & 0x01));
}
