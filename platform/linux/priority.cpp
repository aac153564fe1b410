// Priority classes and thread priorities as nice values (table in
// priority.h).
#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/win32.h"

namespace {

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(intptr_t(-1));
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(intptr_t(-2));

struct ClassNice {
    DWORD priorityClass;
    int nice;
};
constexpr ClassNice kClasses[] = {
    {IDLE_PRIORITY_CLASS, 19},  {BELOW_NORMAL_PRIORITY_CLASS, 10}, {NORMAL_PRIORITY_CLASS, 0},
    {ABOVE_NORMAL_PRIORITY_CLASS, -5}, {HIGH_PRIORITY_CLASS, -10},  {REALTIME_PRIORITY_CLASS, -20},
};

std::atomic<int> g_classNice{0};
thread_local int t_threadLevel = THREAD_PRIORITY_NORMAL;

pid_t ThreadId() {
    return pid_t(syscall(SYS_gettid));
}

int CurrentNice(pid_t tid) {
    errno = 0;
    int value = getpriority(PRIO_PROCESS, id_t(tid));
    return errno ? 0 : value;
}

// Sets one thread's nice value, or the nearest one towards its current value
// that the process may take. Returns the value the thread has afterwards.
int SetNice(pid_t tid, int wanted) {
    wanted = std::clamp(wanted, -20, 19);
    if (setpriority(PRIO_PROCESS, id_t(tid), wanted) == 0) return wanted;
    int now = CurrentNice(tid);
    int step = wanted < now ? 1 : -1;
    for (int value = wanted + step; value != now; value += step)
        if (setpriority(PRIO_PROCESS, id_t(tid), value) == 0) return value;
    return now;
}

int ThreadOffset(int level, int classNice) {
    switch (level) {
        case THREAD_PRIORITY_IDLE: return 19 - classNice;
        case THREAD_PRIORITY_TIME_CRITICAL: return -20 - classNice;
        default: return -2 * level;
    }
}

bool ValidLevel(int level) {
    return level == THREAD_PRIORITY_IDLE || level == THREAD_PRIORITY_TIME_CRITICAL ||
           (level >= THREAD_PRIORITY_LOWEST && level <= THREAD_PRIORITY_HIGHEST);
}

}  // namespace

HANDLE GetCurrentProcess(void) {
    return kCurrentProcess;
}

HANDLE GetCurrentThread(void) {
    return kCurrentThread;
}

BOOL SetPriorityClass(HANDLE process, DWORD priorityClass) {
    if (process != kCurrentProcess) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const ClassNice* entry = nullptr;
    for (const ClassNice& c : kClasses)
        if (c.priorityClass == priorityClass) entry = &c;
    if (!entry) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Linux keeps nice per thread: every thread of the process takes the
    // class (their own priorities start again from normal).
    int obtained = SetNice(ThreadId(), entry->nice);
    t_threadLevel = THREAD_PRIORITY_NORMAL;
    g_classNice.store(obtained);
    if (DIR* tasks = opendir("/proc/self/task")) {
        pid_t self = ThreadId();
        while (dirent* task = readdir(tasks)) {
            pid_t tid = pid_t(atoi(task->d_name));
            if (tid > 0 && tid != self) SetNice(tid, obtained);
        }
        closedir(tasks);
    }
    return TRUE;
}

DWORD GetPriorityClass(HANDLE process) {
    if (process != kCurrentProcess) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    // The class whose nice value is nearest to what the process has.
    int nice = g_classNice.load();
    DWORD best = NORMAL_PRIORITY_CLASS;
    int distance = 100;
    for (const ClassNice& c : kClasses) {
        if (std::abs(c.nice - nice) < distance) {
            distance = std::abs(c.nice - nice);
            best = c.priorityClass;
        }
    }
    return best;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    if (thread != kCurrentThread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!ValidLevel(priority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int classNice = g_classNice.load();
    SetNice(ThreadId(), classNice + ThreadOffset(priority, classNice));
    t_threadLevel = priority;
    return TRUE;
}

int GetThreadPriority(HANDLE thread) {
    if (thread != kCurrentThread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    return t_threadLevel;
}
