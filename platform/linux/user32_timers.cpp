// SetTimer / KillTimer. Each timer is a GLib timeout on the UI thread's main
// context that marks the timer expired; the queue turns an expired timer into
// one WM_TIMER when it has nothing more urgent, so a timer that fires while
// the program is busy still gives a single message, and the timeout runs on
// from its last expiry until it is killed.
#include <vector>

#include "platform/linux/user32_internal.h"

namespace user32 {
namespace {

struct Timer {
    HWND window;
    UINT_PTR id;
    TIMERPROC proc;
    guint source;
    bool expired;
    uint64_t expiredOrder;
};

std::vector<Timer> g_timers;
uint64_t g_expiries = 0;
UINT_PTR g_nextThreadTimer = 0x7FFF;

Timer* Find(HWND window, UINT_PTR id) {
    for (Timer& timer : g_timers)
        if (timer.window == window && timer.id == id) return &timer;
    return nullptr;
}

gboolean OnTimeout(gpointer data) {
    auto source = guint(reinterpret_cast<uintptr_t>(data));
    for (Timer& timer : g_timers) {
        if (timer.source == source && !timer.expired) {
            timer.expired = true;
            timer.expiredOrder = ++g_expiries;
        }
    }
    return G_SOURCE_CONTINUE;
}

guint StartSource(UINT elapse) {
    // The source's own id is its callback's data, so a timer found by its
    // source survives the vector moving.
    GSource* source = g_timeout_source_new(elapse);
    guint id = g_source_attach(source, nullptr);
    g_source_set_callback(source, OnTimeout, reinterpret_cast<gpointer>(uintptr_t(id)), nullptr);
    g_source_unref(source);
    return id;
}

}  // namespace

bool TakeTimerMessage(HWND filter, bool threadOnly, bool remove, MSG* msg) {
    Timer* first = nullptr;
    for (Timer& timer : g_timers) {
        if (!timer.expired) continue;
        if (threadOnly ? timer.window != nullptr : (filter && timer.window != filter)) continue;
        if (!first || timer.expiredOrder < first->expiredOrder) first = &timer;
    }
    if (!first) return false;
    msg->hwnd = first->window;
    msg->message = WM_TIMER;
    msg->wParam = first->id;
    msg->lParam = reinterpret_cast<LPARAM>(first->proc);
    if (remove) first->expired = false;
    return true;
}

void KillWindowTimers(HWND window) {
    for (auto it = g_timers.begin(); it != g_timers.end();) {
        if (it->window == window) {
            g_source_remove(it->source);
            it = g_timers.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace user32

using namespace user32;

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerFunc) {
    if (!OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (window && !LookupWindow(window)) return 0;
    if (elapse < USER_TIMER_MINIMUM) elapse = USER_TIMER_MINIMUM;
    if (elapse > USER_TIMER_MAXIMUM) elapse = USER_TIMER_MAXIMUM;
    // A thread timer gets an identifier of its own unless an existing one is
    // named.
    if (!window && !Find(nullptr, id)) {
        do id = g_nextThreadTimer++;
        while (Find(nullptr, id) || id == 0);
    }
    if (Timer* existing = Find(window, id)) {
        // Replacing a timer starts it again and drops an expiry not yet taken.
        g_source_remove(existing->source);
        existing->source = StartSource(elapse);
        existing->proc = timerFunc;
        existing->expired = false;
        return window ? (id ? id : 1) : id;
    }
    g_timers.push_back(Timer{window, id, timerFunc, StartSource(elapse), false, 0});
    return window ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    if (!OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (window && !LookupWindow(window)) return FALSE;
    for (auto it = g_timers.begin(); it != g_timers.end(); ++it) {
        if (it->window == window && it->id == id) {
            g_source_remove(it->source);
            g_timers.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
