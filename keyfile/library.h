// The library's state: the node cache, the open files (one per path) and the
// handles (one per open call), all chained in plain lists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "keyfile/cache.h"
#include "keyfile/format.h"
#include "keyfile/keyfile.h"
#include "platform/win32.h"

namespace kf {

// An open file, shared by every handle opened on its path.
struct SharedFile {
    uint32_t id = 0;  // names the file in cache keys; never reused
    std::string path;
    HANDLE descriptor = INVALID_HANDLE_VALUE;
    bool writable = false;
    int openCount = 0;
    Header header;  // the authority while the file is open
    bool headerModified = false;
};

struct Handle {
    KfHandle id = 0;
    SharedFile* file = nullptr;
    KfCompare compare = nullptr;  // nullptr: the default order
    bool writable = false;
    // Cursor. While positioned it names an existing entry of a leaf: every
    // routine that moves, removes or inserts entries keeps it so.
    int state = kKfNotPositioned;
    uint32_t node = 0;
    int index = 0;
};

struct Library {
    bool started = false;
    int maxNodeSize = 0;
    Cache cache;
    std::vector<std::unique_ptr<SharedFile>> files;
    std::vector<std::unique_ptr<Handle>> handles;
    KfHandle nextHandle = 1;
    uint32_t nextFileId = 1;
    // Key copies that must survive changes to their node: [0] and [1] hold
    // the separators in flight while a split climbs the tree, [2] a leaf
    // separator while entries move.
    std::vector<uint8_t> scratch[3];
};

extern Library lib;

// The handle with this id, or nullptr with error 15 set.
Handle* FindHandle(KfHandle id);
// Same, and also error 8 when the handle may not modify its file.
Handle* FindWritableHandle(KfHandle id);

// Reads or writes count bytes at a byte position of the file, in one
// positional transfer (no seek); a short transfer is a failure.
bool ReadAt(SharedFile& file, uint64_t position, void* bytes, uint32_t count);
bool WriteAt(SharedFile& file, uint64_t position, const void* bytes, uint32_t count);

// Writes the header when it changed. Error 8 on failure.
bool WriteHeader(SharedFile& file);

// KfClose without the operation code: flushes, forgets the handle and, with
// the file's last handle, the file. Keeps the first error.
bool CloseOne(Handle* handle);

}  // namespace kf
