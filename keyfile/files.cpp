// Creating, opening, flushing and closing keyed files. One open file per
// path (by exact spelling), shared by every handle opened on it.
#include <algorithm>
#include <new>

#include "keyfile/keyfile.h"
#include "keyfile/library.h"
#include "keyfile/status.h"

namespace kf {

namespace {

SharedFile* FindOpenFile(const char* path) {
    for (auto& f : lib.files)
        if (f->path == path) return f.get();
    return nullptr;
}

KfHandle NewHandle(SharedFile* file, KfCompare compare, bool writable) {
    try {
        auto h = std::make_unique<Handle>();
        h->id = lib.nextHandle++;
        h->file = file;
        h->compare = compare;
        h->writable = writable;
        lib.handles.push_back(std::move(h));
    } catch (const std::bad_alloc&) {
        Fail(kKfErrMemory, kLocMemory);
        return 0;
    }
    ++file->openCount;
    return lib.handles.back()->id;
}

// Takes ownership of descriptor; on failure closes it.
SharedFile* AddOpenFile(const char* path, HANDLE descriptor, bool writable, const Header& header) {
    try {
        auto f = std::make_unique<SharedFile>();
        f->id = lib.nextFileId++;
        f->path = path;
        f->descriptor = descriptor;
        f->writable = writable;
        f->header = header;
        lib.files.push_back(std::move(f));
    } catch (const std::bad_alloc&) {
        CloseHandle(descriptor);
        Fail(kKfErrMemory, kLocMemory);
        return nullptr;
    }
    return lib.files.back().get();
}

void RemoveOpenFile(SharedFile* file) {
    lib.cache.Drop(*file);
    auto it = std::find_if(lib.files.begin(), lib.files.end(),
                           [file](const std::unique_ptr<SharedFile>& f) { return f.get() == file; });
    lib.files.erase(it);
}

// A positional transfer's offset; the handle is synchronous, so ReadFile and
// WriteFile complete at once.
OVERLAPPED At(uint64_t position) {
    OVERLAPPED at{};
    at.Offset = DWORD(position);
    at.OffsetHigh = DWORD(position >> 32);
    return at;
}

}  // namespace

bool ReadAt(SharedFile& file, uint64_t position, void* bytes, uint32_t count) {
    OVERLAPPED at = At(position);
    DWORD got = 0;
    return ReadFile(file.descriptor, bytes, count, &got, &at) && got == count;
}

bool WriteAt(SharedFile& file, uint64_t position, const void* bytes, uint32_t count) {
    OVERLAPPED at = At(position);
    DWORD put = 0;
    return WriteFile(file.descriptor, bytes, count, &put, &at) && put == count;
}

bool WriteHeader(SharedFile& file) {
    if (!file.headerModified) return true;
    uint8_t bytes[kHeaderSize];
    EncodeHeader(file.header, bytes);
    if (!WriteAt(file, 0, bytes, kHeaderSize)) return Fail(kKfErrWrite, kLocCloseHeader);
    file.headerModified = false;
    return true;
}

bool CloseOne(Handle* handle) {
    SharedFile* file = handle->file;
    bool ok = true;
    // Nodes first: a header on disk never names nodes that are not there.
    if (file->writable) ok = lib.cache.Flush(*file) && WriteHeader(*file);
    auto it = std::find_if(lib.handles.begin(), lib.handles.end(),
                           [handle](const std::unique_ptr<Handle>& h) { return h.get() == handle; });
    lib.handles.erase(it);
    if (--file->openCount == 0) {
        if (!CloseHandle(file->descriptor)) ok = Fail(kKfErrClose, kLocCloseFile);
        RemoveOpenFile(file);
    }
    return ok;
}

}  // namespace kf

using namespace kf;

KfHandle KfCreate(const char* path, KfCompare compare, int nodeSize) {
    if (!Enter(kKfOpCreate)) return 0;
    if (nodeSize == 0) nodeSize = kDefaultNodeSize;
    if (nodeSize < kMinNodeSize) nodeSize = kMinNodeSize;
    if (nodeSize > lib.maxNodeSize) return Fail(kKfErrNodeSize, kLocCreateNodeSize), 0;
    if (!path || !*path) return Fail(kKfErrFile, kLocBadPath), 0;
    // Truncating a file that has handles would leave their cached nodes and
    // header describing a tree that is gone.
    if (FindOpenFile(path)) return Fail(kKfErrFile, kLocCreateOpenPath), 0;

    HANDLE descriptor = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (descriptor == INVALID_HANDLE_VALUE) return Fail(kKfErrFile, kLocCreateFile), 0;

    Header header;
    header.nodeSize = uint16_t(nodeSize);
    SharedFile* file = AddOpenFile(path, descriptor, true, header);
    if (!file) return 0;
    // The new file is node 0 alone: the header and zeros.
    std::vector<uint8_t>& node0 = lib.scratch[0];
    std::fill_n(node0.begin(), nodeSize, uint8_t(0));
    EncodeHeader(header, node0.data());
    if (!WriteAt(*file, 0, node0.data(), uint32_t(nodeSize))) {
        Fail(kKfErrWrite, kLocCreateWrite);
        CloseHandle(file->descriptor);
        RemoveOpenFile(file);
        return 0;
    }
    KfHandle h = NewHandle(file, compare, true);
    if (!h) {
        CloseHandle(file->descriptor);
        RemoveOpenFile(file);
    }
    return h;
}

KfHandle KfOpen(const char* path, KfCompare compare, KfOpenMode mode) {
    if (!Enter(kKfOpOpen)) return 0;
    if (!path || !*path) return Fail(kKfErrFile, kLocBadPath), 0;
    const bool writable = mode != kKfOpenReadOnly;
    if (SharedFile* file = FindOpenFile(path)) {
        if (writable && !file->writable) return Fail(kKfErrFile, kLocOpenMode), 0;
        return NewHandle(file, compare, writable);
    }

    DWORD access = writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    DWORD share = mode == kKfOpenReadWrite ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE descriptor =
        CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (descriptor == INVALID_HANDLE_VALUE) return Fail(kKfErrFile, kLocOpenFile), 0;

    uint8_t bytes[kHeaderSize];
    Header header;
    DWORD got = 0;
    bool read = ReadFile(descriptor, bytes, kHeaderSize, &got, nullptr) && got == kHeaderSize;
    LARGE_INTEGER size{};
    if (!read) {
        Fail(kKfErrRead, kLocOpenHeaderRead);
    } else if (!DecodeHeader(bytes, header)) {
        Fail(kKfErrCheckWord, kLocOpenCheckWord);
    } else if (header.nodeSize > lib.maxNodeSize) {
        Fail(kKfErrNodeSize, kLocOpenNodeSize);
    } else if (CheckHeaderFields(header) != HeaderFault::kNone) {
        Fail(kKfErrDamaged, kLocOpenHeaderFields);
    } else if (!GetFileSizeEx(descriptor, &size) || size.QuadPart < header.nodeSize) {
        // Node 0 is written whole at create; less than that is not a keyed file.
        Fail(kKfErrRead, kLocOpenShort);
    }
    if (kfError != kKfErrNone) {
        CloseHandle(descriptor);
        return 0;
    }
    SharedFile* file = AddOpenFile(path, descriptor, writable, header);
    if (!file) return 0;
    KfHandle h = NewHandle(file, compare, writable);
    if (!h) {
        CloseHandle(file->descriptor);
        RemoveOpenFile(file);
    }
    return h;
}

int KfClose(KfHandle id) {
    if (!Enter(kKfOpClose)) return -1;
    Handle* h = FindHandle(id);
    if (!h) return -1;
    return CloseOne(h) ? 1 : -1;
}

int KfFlush(KfHandle id) {
    if (!Enter(kKfOpFlush)) return -1;
    Handle* h = FindHandle(id);
    if (!h) return -1;
    SharedFile& file = *h->file;
    if (!file.writable) return 1;
    bool ok = lib.cache.Flush(file) && WriteHeader(file);
    return ok ? 1 : -1;
}
