// The handle registry.
#include "platform/linux/handles.h"

#include <chrono>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/linux/kernel32.h"

namespace {

std::mutex g_mutex;

std::unordered_map<HANDLE, std::shared_ptr<PlatformObject>>& Registry() {
    static auto* registry = new std::unordered_map<HANDLE, std::shared_ptr<PlatformObject>>();
    return *registry;  // never destroyed: handles may be closed during exit
}

// Whether a release asked for kind may take an object of kind have.
bool ReleasedBy(HandleKind have, HandleKind kind) {
    if (have == kind) return true;
    return kind == HandleKind::File && (have == HandleKind::Thread || have == HandleKind::Process);
}

}  // namespace

HANDLE PlatformRegisterHandle(std::shared_ptr<PlatformObject> object) {
    HANDLE handle = object.get();
    try {
        std::lock_guard<std::mutex> lock(g_mutex);
        Registry().emplace(handle, std::move(object));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return handle;
}

std::shared_ptr<PlatformObject> PlatformLookupHandle(HANDLE handle, HandleKind kind) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = Registry().find(handle);
        if (it != Registry().end() && it->second->magic == PlatformObject::kMagic &&
            it->second->kind == kind)
            return it->second;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

bool PlatformReleaseHandle(HANDLE handle, HandleKind kind) {
    std::shared_ptr<PlatformObject> doomed;  // destroyed after the lock is dropped
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = Registry().find(handle);
        if (it != Registry().end() && ReleasedBy(it->second->kind, kind)) {
            doomed = std::move(it->second);
            Registry().erase(it);
        }
    }
    if (!doomed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

std::shared_ptr<PlatformWaitable> PlatformLookupWaitable(HANDLE handle) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = Registry().find(handle);
        if (it != Registry().end() && it->second->magic == PlatformObject::kMagic &&
            (it->second->kind == HandleKind::Thread || it->second->kind == HandleKind::Process))
            return std::static_pointer_cast<PlatformWaitable>(it->second);
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

BOOL PlatformGetExitCode(HANDLE handle, HandleKind kind, LPDWORD exitCode) {
    std::shared_ptr<PlatformWaitable> object = PlatformLookupWaitable(handle);
    if (!object || object->kind != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!exitCode) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (!object->state->Ended(exitCode)) *exitCode = STILL_ACTIVE;
    return TRUE;
}

void PlatformEndState::End(DWORD exitCode) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (hasEnded_) return;
        hasEnded_ = true;
        exitCode_ = exitCode;
    }
    ended_.notify_all();
}

bool PlatformEndState::Ended(DWORD* exitCode) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (hasEnded_ && exitCode) *exitCode = exitCode_;
    return hasEnded_;
}

bool PlatformEndState::Wait(DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (milliseconds == 0xFFFFFFFFu) {
        ended_.wait(lock, [this] { return hasEnded_; });
        return true;
    }
    return ended_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return hasEnded_; });
}
