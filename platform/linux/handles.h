// Kernel-object handles of the Linux implementation.
//
// A HANDLE is the address of a small heap object that begins with a magic
// word and is listed in a registry. A value that is not listed (never made,
// already closed, or garbage) gives ERROR_INVALID_HANDLE instead of a crash;
// objects are shared_ptr-owned so a handle closed by one thread while another
// is inside ReadFile stays alive until that call returns.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/linux/win32_types.h"

enum class HandleKind : uint32_t {
    File = 1,
    Find = 2,  // closed with FindClose, not CloseHandle
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
// ERROR_INVALID_HANDLE when it is not listed with that kind.
bool PlatformReleaseHandle(HANDLE handle, HandleKind kind);

template <class T>
std::shared_ptr<T> PlatformLookup(HANDLE handle) {
    return std::static_pointer_cast<T>(PlatformLookupHandle(handle, T::kKind));
}
