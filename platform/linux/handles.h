// Kernel-object handles of the Linux implementation.
//
// A HANDLE is the address of a small heap object that begins with a magic
// word and is listed in a registry. A value that is not listed (never made,
// already closed, or garbage) gives ERROR_INVALID_HANDLE instead of a crash;
// objects are shared_ptr-owned so a handle closed by one thread while another
// is inside ReadFile stays alive until that call returns.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/linux/win32_types.h"

enum class HandleKind : uint32_t {
    File = 1,  // a release asked for File also takes Thread and Process (below)
    Find = 2,  // closed with FindClose, not CloseHandle
    Thread = 3,
    Process = 4,
};

struct PlatformObject {
    static constexpr uint32_t kMagic = 0x4B56484Eu;  // "KVHN"
    explicit PlatformObject(HandleKind k) : kind(k) {}
    virtual ~PlatformObject() { magic = 0; }
    PlatformObject(const PlatformObject&) = delete;
    PlatformObject& operator=(const PlatformObject&) = delete;

    uint32_t magic = kMagic;
    const HandleKind kind;
};

// Lists object and returns its handle; NULL with ERROR_NOT_ENOUGH_MEMORY when
// the registry cannot grow.
HANDLE PlatformRegisterHandle(std::shared_ptr<PlatformObject> object);

// The object behind handle if it is listed and of the wanted kind; otherwise
// nullptr with ERROR_INVALID_HANDLE.
std::shared_ptr<PlatformObject> PlatformLookupHandle(HANDLE handle, HandleKind kind);

// Unlists handle (the object dies with its last user). False with
// ERROR_INVALID_HANDLE when it is not listed with that kind. CloseHandle
// releases with HandleKind::File; threads and processes are closed by
// CloseHandle too, so that release also takes them.
bool PlatformReleaseHandle(HANDLE handle, HandleKind kind);

template <class T>
std::shared_ptr<T> PlatformLookup(HANDLE handle) {
    return std::static_pointer_cast<T>(PlatformLookupHandle(handle, T::kKind));
}

// Threads and processes: the moment they end, with their exit code, shared by
// everyone who may wait for it. A thread holds its own reference, so the
// state outlives a handle closed while the thread runs, and the other way
// round.
class PlatformEndState {
public:
    void End(DWORD exitCode);
    // True once ended; exitCode (may be NULL) receives the code then.
    bool Ended(DWORD* exitCode);
    // Waits until ended or milliseconds have passed (INFINITE, 0xFFFFFFFF:
    // for good). True when ended.
    bool Wait(DWORD milliseconds);

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool hasEnded_ = false;
    DWORD exitCode_ = 0;
};

// A thread or process handle: an object of kind Thread or Process.
struct PlatformWaitable final : PlatformObject {
    PlatformWaitable(HandleKind k, std::shared_ptr<PlatformEndState> s)
        : PlatformObject(k), state(std::move(s)) {}
    const std::shared_ptr<PlatformEndState> state;
};

// The thread or process behind handle; otherwise nullptr with
// ERROR_INVALID_HANDLE.
std::shared_ptr<PlatformWaitable> PlatformLookupWaitable(HANDLE handle);

// GetExitCodeThread / GetExitCodeProcess: the exit code of a handle of that
// kind, STILL_ACTIVE while it runs.
BOOL PlatformGetExitCode(HANDLE handle, HandleKind kind, LPDWORD exitCode);
