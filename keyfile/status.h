// Error locations (kfErrorLocation): one number per internal step that can
// fail, grouped by the file that owns the step. For diagnosis only; callers
// decide on kfError.
#pragma once

#include <cstdint>

#include "keyfile/keyfile.h"

namespace kf {

enum Location : uint16_t {
    // library.cpp
    kLocStartTwice = 101,
    kLocStartMemory = 102,
    kLocNotStarted = 103,
    kLocAddMemory = 104,
    // files.cpp
    kLocCreateNodeSize = 201,
    kLocCreateOpenPath = 202,
    kLocCreateFile = 203,
    kLocCreateWrite = 204,
    kLocOpenFile = 205,
    kLocOpenHeaderRead = 206,
    kLocOpenCheckWord = 207,
    kLocOpenNodeSize = 208,
    kLocOpenHeaderFields = 209,
    kLocOpenMode = 210,
    kLocMemory = 211,
    kLocUnknownHandle = 212,
    kLocCloseHeader = 213,
    kLocCloseFile = 214,
    kLocReadOnly = 215,
    kLocBadPath = 216,
    kLocOpenShort = 217,
    // cache.cpp
    kLocCacheRead = 301,
    kLocCacheLayout = 303,
    kLocCacheLink = 304,
    kLocCacheKind = 305,
    kLocCacheWrite = 306,
    kLocCacheFull = 307,
    kLocCacheRange = 308,
    kLocCacheMemory = 309,
    // tree.cpp
    kLocNewNodeFull = 401,
    kLocFreeListEntry = 402,
    kLocEmptyLeaf = 404,
    // insert.cpp
    kLocInsertKeyLength = 501,
    kLocInsertDuplicate = 502,
    kLocInsertDuplicateKey = 503,
    kLocInsertSibling = 504,
    kLocInsertRestarts = 505,
    kLocInsertNoSplit = 506,
    // delete.cpp
    kLocDeleteEmpty = 601,
    kLocDeleteMissing = 602,
    kLocDeleteSibling = 603,
    kLocDeleteKeyLength = 604,
    kLocDeleteRoot = 605,
    // find.cpp
    kLocFindKeyLength = 701,
    kLocCursorIndex = 702,
    kLocChainOrder = 703,
    kLocBufferSize = 704,
    kLocScanOrder = 705,
};

// Sets the error and its location; returns false so that callers can write
// `return Fail(...)`. The first failure of a call is the one kept.
bool Fail(uint16_t error, Location where);

// Starts a call: records the operation and clears the error. Returns false
// (error 3 set) when the library is not started.
bool Enter(uint16_t operation);

}  // namespace kf
