// Starting and stopping the library, the status codes and the cache size.
#include <algorithm>
#include <new>

#include "keyfile/keyfile.h"
#include "keyfile/library.h"
#include "keyfile/status.h"

uint16_t kfOperation = 0;
uint16_t kfError = 0;
uint16_t kfErrorLocation = 0;

namespace kf {

Library lib;

bool Fail(uint16_t error, Location where) {
    if (kfError == kKfErrNone) {
        kfError = error;
        kfErrorLocation = where;
    }
    return false;
}

bool Enter(uint16_t operation) {
    kfOperation = operation;
    kfError = kKfErrNone;
    kfErrorLocation = 0;
    if (!lib.started) return Fail(kKfErrNotStarted, kLocNotStarted);
    return true;
}

Handle* FindHandle(KfHandle id) {
    for (auto& h : lib.handles)
        if (h->id == id) return h.get();
    Fail(kKfErrUnknownHandle, kLocUnknownHandle);
    return nullptr;
}

Handle* FindWritableHandle(KfHandle id) {
    Handle* h = FindHandle(id);
    if (h && !h->writable) {
        Fail(kKfErrWrite, kLocReadOnly);
        return nullptr;
    }
    return h;
}

}  // namespace kf

using namespace kf;

int KfStart(int nodeSize, int bufferCount) {
    kfOperation = kKfOpStart;
    kfError = kKfErrNone;
    kfErrorLocation = 0;
    if (lib.started) return Fail(kKfErrStarted, kLocStartTwice), -1;
    if (nodeSize < kHeaderSize) nodeSize = kDefaultNodeSize;
    // Node sizes and offsets within a node are 16-bit on disk.
    if (nodeSize > kMaxNodeSize) nodeSize = kMaxNodeSize;
    if (bufferCount == 0) bufferCount = 5;
    if (bufferCount < 4) bufferCount = 4;
    try {
        for (auto& s : lib.scratch) s.assign(size_t(nodeSize), 0);
    } catch (const std::bad_alloc&) {
        return Fail(kKfErrMemory, kLocStartMemory), -1;
    }
    if (!lib.cache.Init(nodeSize, bufferCount)) return Fail(kKfErrMemory, kLocStartMemory), -1;
    lib.maxNodeSize = nodeSize;
    lib.started = true;
    return 1;
}

int KfStop() {
    if (!Enter(kKfOpStop)) return -1;
    while (!lib.handles.empty()) CloseOne(lib.handles.back().get());
    lib.cache.Release();
    for (auto& s : lib.scratch) std::vector<uint8_t>().swap(s);
    lib.files.clear();
    lib.maxNodeSize = 0;
    lib.started = false;
    return kfError == kKfErrNone ? 1 : -1;
}

int KfMaxNodeSize() {
    kfOperation = kKfOpMaxNodeSize;
    kfError = kKfErrNone;
    kfErrorLocation = 0;
    return lib.started ? lib.maxNodeSize : 0;
}

int KfBufferCount() {
    kfOperation = kKfOpBufferCount;
    kfError = kKfErrNone;
    kfErrorLocation = 0;
    return lib.started ? lib.cache.Count() : 0;
}

int KfAddBuffers(int n) {
    if (!Enter(kKfOpAddBuffers)) return -1;
    n = std::max(n, 0);
    int added = lib.cache.Add(n);
    if (added < n) Fail(kKfErrMemory, kLocAddMemory);
    return added;
}

int KfRemoveBuffers(int n) {
    if (!Enter(kKfOpRemoveBuffers)) return -1;
    return lib.cache.Remove(std::max(n, 0), 4);
}
