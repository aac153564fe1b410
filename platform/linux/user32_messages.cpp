// The message queue: GetMessageA, PeekMessageA, TranslateMessage,
// DispatchMessageA, DefWindowProcA, PostMessageA, SendMessageA.
//
// Messages are taken in Windows' order: posted messages, then the quit
// request, then input (keys, mouse), then WM_PAINT for a window that needs
// painting, then WM_TIMER. WM_PAINT and WM_TIMER are made when asked for, so
// there is at most one of each pending per window and timer. GTK's main loop
// is pumped here and nowhere else: pending events are handled before the
// queue is looked at, and GetMessageA blocks in g_main_context_iteration
// until something arrives.
#include <deque>
#include <mutex>

#include "platform/linux/user32_internal.h"

namespace user32 {
namespace {

struct InputMessage {
    MSG msg;
    unsigned modifiers;
    int character;
};

std::mutex g_queueMutex;
std::deque<MSG> g_posted;          // guarded by g_queueMutex
std::deque<InputMessage> g_input;  // UI thread only
bool g_quitPending = false;
int g_quitCode = 0;

// Key-down messages recently taken from the queue with the characters their
// keys made, for TranslateMessage.
struct TakenKey {
    MSG msg;
    int character;
};
constexpr size_t kTakenKeys = 16;
TakenKey g_takenKeys[kTakenKeys];
size_t g_takenNext = 0;

POINT g_lastPoint = {0, 0};

bool InRange(UINT message, UINT low, UINT high) {
    if (low == 0 && high == 0) return true;
    return message >= low && message <= high;
}

// hwnd filter: NULL takes everything of the thread, (HWND)-1 only messages
// without a window, otherwise that window's.
bool WindowMatches(HWND messageWindow, HWND filter) {
    if (filter == nullptr) return true;
    if (filter == reinterpret_cast<HWND>(intptr_t(-1))) return messageWindow == nullptr;
    return messageWindow == filter;
}

DWORD Now() {
    return GetTickCount();
}

// Handles whatever GTK has pending, without blocking. The bound keeps a
// source that is always ready from holding the caller for ever.
void PumpPending() {
    if (!DisplayOpen()) {
        for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); i++) {
        }
        return;
    }
    for (int i = 0; i < 256 && g_main_context_pending(nullptr); i++)
        g_main_context_iteration(nullptr, FALSE);
}

bool Take(MSG* out, HWND filter, UINT low, UINT high, bool remove) {
    {
        std::lock_guard<std::mutex> lock(g_queueMutex);
        for (auto it = g_posted.begin(); it != g_posted.end(); ++it) {
            if (WindowMatches(it->hwnd, filter) && InRange(it->message, low, high)) {
                *out = *it;
                if (remove) g_posted.erase(it);
                return true;
            }
        }
        if (g_quitPending && InRange(WM_QUIT, low, high)) {
            *out = MSG{nullptr, WM_QUIT, WPARAM(g_quitCode), 0, Now(), g_lastPoint};
            if (remove) g_quitPending = false;
            return true;
        }
    }
    for (auto it = g_input.begin(); it != g_input.end(); ++it) {
        if (WindowMatches(it->msg.hwnd, filter) && InRange(it->msg.message, low, high)) {
            *out = it->msg;
            if (remove) {
                NoteInputTaken(it->msg, it->modifiers);
                if (it->msg.message == WM_KEYDOWN || it->msg.message == WM_SYSKEYDOWN) {
                    g_takenKeys[g_takenNext] = TakenKey{it->msg, it->character};
                    g_takenNext = (g_takenNext + 1) % kTakenKeys;
                }
                g_input.erase(it);
            }
            return true;
        }
    }
    if (InRange(WM_PAINT, low, high) && filter != reinterpret_cast<HWND>(intptr_t(-1))) {
        // WM_PAINT stays until the window is validated, whatever `remove` says.
        for (Window* window : AllWindows()) {
            if (window->needsPaint && window->visible && !window->destroying &&
                WindowMatches(window->handle, filter)) {
                *out = MSG{window->handle, WM_PAINT, 0, 0, Now(), g_lastPoint};
                return true;
            }
        }
    }
    if (InRange(WM_TIMER, low, high) &&
        TakeTimerMessage(filter, filter == reinterpret_cast<HWND>(intptr_t(-1)), remove, out)) {
        out->time = Now();
        out->pt = g_lastPoint;
        return true;
    }
    return false;
}

bool FilterWindowValid(HWND filter) {
    return filter == nullptr || filter == reinterpret_cast<HWND>(intptr_t(-1)) ||
           LookupWindow(filter) != nullptr;
}

}  // namespace

void PostInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam, unsigned modifiers,
               int character, POINT screenPoint) {
    g_lastPoint = screenPoint;
    MSG msg{window, message, wParam, lParam, Now(), screenPoint};
    // Windows makes one WM_MOUSEMOVE from the latest position, however many
    // moves came in between.
    if (message == WM_MOUSEMOVE && !g_input.empty() && g_input.back().msg.message == WM_MOUSEMOVE &&
        g_input.back().msg.hwnd == window) {
        g_input.back() = InputMessage{msg, modifiers, character};
        return;
    }
    g_input.push_back(InputMessage{msg, modifiers, character});
}

void PostQueued(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> lock(g_queueMutex);
        POINT point = OnUiThread() ? g_lastPoint : POINT{0, 0};
        g_posted.push_back(MSG{window, message, wParam, lParam, Now(), point});
    }
    g_main_context_wakeup(nullptr);
}

void DropInput(HWND window) {
    for (auto it = g_input.begin(); it != g_input.end();)
        it = it->msg.hwnd == window ? g_input.erase(it) : it + 1;
}

}  // namespace user32

using namespace user32;

BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    if (!OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    if (!msg) {
        SetLastError(ERROR_NOACCESS);
        return -1;
    }
    if (!FilterWindowValid(window)) return -1;
    for (;;) {
        PumpPending();
        if (Take(msg, window, filterMin, filterMax, true)) return msg->message != WM_QUIT;
        if (window && window != reinterpret_cast<HWND>(intptr_t(-1)) && !FindWindowObject(window)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return -1;
        }
        g_main_context_iteration(nullptr, TRUE);
    }
}

BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage) {
    if (!OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!msg) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (!FilterWindowValid(window)) return FALSE;
    PumpPending();
    return Take(msg, window, filterMin, filterMax, (removeMessage & PM_REMOVE) != 0);
}

BOOL TranslateMessage(const MSG* msg) {
    if (!msg) return FALSE;
    UINT message = msg->message;
    if (message == WM_KEYUP || message == WM_SYSKEYUP) return TRUE;
    if (message != WM_KEYDOWN && message != WM_SYSKEYDOWN) return FALSE;
    int character = -2;
    for (size_t i = 0; i < kTakenKeys && character == -2; i++) {
        const TakenKey& taken = g_takenKeys[(g_takenNext + kTakenKeys - 1 - i) % kTakenKeys];
        if (taken.msg.hwnd == msg->hwnd && taken.msg.message == message &&
            taken.msg.wParam == msg->wParam && taken.msg.lParam == msg->lParam &&
            taken.msg.time == msg->time)
            character = taken.character;
    }
    // A key message the program made up: the character follows from the key
    // and the keys held now, as Windows works it out.
    if (character == -2) character = CharacterForKey(UINT(msg->wParam), message == WM_SYSKEYDOWN);
    if (character < 0) return TRUE;
    PostQueued(msg->hwnd, message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR, WPARAM(character),
               msg->lParam);
    return TRUE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        proc(msg->hwnd, WM_TIMER, UINT_PTR(msg->wParam), GetTickCount());
        return 0;
    }
    if (!msg->hwnd) return 0;
    Window* window = LookupWindow(msg->hwnd);
    if (!window) return 0;
    return CallWindowProcedure(window, msg->message, msg->wParam, msg->lParam);
}

LRESULT DefWindowProcA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = OnUiThread() ? FindWindowObject(handle) : nullptr;
    if (!window) return 0;
    switch (message) {
        case WM_NCCREATE:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(handle);
            return 0;
        case WM_PAINT:
            window->needsPaint = false;
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_SETTEXT:
        case WM_GETTEXT:
        case WM_GETTEXTLENGTH:
            return DefaultText(handle, message, wParam, lParam);
        case WM_SYSCOMMAND: {
            UINT command = UINT(wParam & 0xFFF0);
            if (window->pendingSysCommand == command) {
                // The window manager has made the change already.
                window->sysCommandAccepted = true;
                return 0;
            }
            switch (command) {
                case SC_CLOSE: SendMessageA(handle, WM_CLOSE, 0, 0); break;
                case SC_MINIMIZE: ShowWindow(handle, SW_MINIMIZE); break;
                case SC_MAXIMIZE: ShowWindow(handle, SW_SHOWMAXIMIZED); break;
                case SC_RESTORE: ShowWindow(handle, SW_RESTORE); break;
                case SC_KEYMENU: EnterMenuBar(window); break;
            }
            return 0;
        }
        case WM_SYSKEYDOWN:
            if (wParam == VK_F4 && (lParam & (LPARAM(1) << 29)))
                SendMessageA(handle, WM_SYSCOMMAND, SC_CLOSE, 0);
            return 0;
        case WM_SYSKEYUP:
            // F10, or Alt pressed and released alone, enters the menu bar.
            if (wParam == VK_F10 || (wParam == VK_MENU && window->altAlone)) {
                window->altAlone = false;
                SendMessageA(handle, WM_SYSCOMMAND, SC_KEYMENU, 0);
            }
            return 0;
    }
    return 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // A window destroyed between this check and the message's turn leaves
    // a message that DispatchMessageA refuses, as on Windows.
    if (window && !WindowAlive(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    PostQueued(window, message, wParam, lParam);
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    {
        std::lock_guard<std::mutex> lock(g_queueMutex);
        g_quitPending = true;
        g_quitCode = exitCode;
    }
    g_main_context_wakeup(nullptr);
}

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    Window* window = LookupWindow(handle);
    if (!window) return 0;
    return CallWindowProcedure(window, message, wParam, lParam);
}
