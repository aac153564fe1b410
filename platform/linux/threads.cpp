// CreateThread, GetExitCodeThread, GetCurrentThreadId and WaitForSingleObject
// on POSIX threads.
//
// A thread is a detached pthread: nothing ever joins it, so a worker that the
// program gives up on (there is no TerminateThread) simply runs on, and the
// process may exit while it is blocked. The handle and the thread share one
// PlatformEndState; each holds a reference, so closing the handle while the
// thread runs frees nothing the thread still uses, and the state goes when
// the last of the two lets go.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>

#include "platform/linux/handles.h"
#include "platform/linux/kernel32.h"

namespace {

// Handed from CreateThread to the new thread. It lives on CreateThread's
// stack, which waits until the thread has taken what it needs and published
// its id.
struct ThreadStart {
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
    std::shared_ptr<PlatformEndState> state;

    std::mutex mutex;
    std::condition_variable started;
    bool hasStarted = false;
    DWORD id = 0;
};

void* ThreadMain(void* argument) {
    auto* start = static_cast<ThreadStart*>(argument);
    LPTHREAD_START_ROUTINE routine = start->routine;
    LPVOID parameter = start->parameter;
    std::shared_ptr<PlatformEndState> state = start->state;
    {
        std::lock_guard<std::mutex> lock(start->mutex);
        start->id = GetCurrentThreadId();
        start->hasStarted = true;
        start->started.notify_one();
    }
    // start is gone from here on.
    state->End(routine(parameter));
    return nullptr;
}

// The stack: at least what was asked for, never less than the system's
// default (Windows also reserves at least its default for a commit size).
size_t StackSize(SIZE_T wanted, const pthread_attr_t& attributes) {
    size_t standard = 0;
    pthread_attr_getstacksize(&attributes, &standard);
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t size = std::max<size_t>(size_t(wanted), standard);
    return (size + page - 1) / page * page;
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId) {
    if (!startAddress || (creationFlags & ~DWORD(STACK_SIZE_PARAM_IS_A_RESERVATION)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ThreadStart start;
    start.routine = startAddress;
    start.parameter = parameter;
    std::shared_ptr<PlatformWaitable> object;
    try {
        start.state = std::make_shared<PlatformEndState>();
        object = std::make_shared<PlatformWaitable>(HandleKind::Thread, start.state);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Listed before the thread exists, so that a failure here leaves no
    // thread running without a handle.
    HANDLE handle = PlatformRegisterHandle(object);
    if (!handle) return nullptr;

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    int err = pthread_attr_setstacksize(&attributes, StackSize(stackSize, attributes));
    pthread_t thread;
    if (err == 0) err = pthread_create(&thread, &attributes, ThreadMain, &start);
    pthread_attr_destroy(&attributes);
    if (err != 0) {
        PlatformReleaseHandle(handle, HandleKind::Thread);
        SetLastError(err == EINVAL ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::unique_lock<std::mutex> lock(start.mutex);
    start.started.wait(lock, [&start] { return start.hasStarted; });
    if (threadId) *threadId = start.id;
    return handle;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    return PlatformGetExitCode(thread, HandleKind::Thread, exitCode);
}

DWORD GetCurrentThreadId(void) {
    // Linux thread ids are process-wide and small; the main thread's is the
    // process id, as a child's dwThreadId from CreateProcessA is.
    return DWORD(syscall(SYS_gettid));
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<PlatformWaitable> object = PlatformLookupWaitable(handle);
    if (!object) return WAIT_FAILED;
    return object->state->Wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}
