// Keyed files: ordered indexes of variable-length byte-string keys, each with
// a 32-bit tag, kept as B+-trees in fixed-size nodes of one file, with one
// node cache shared by every open file. Single-threaded; no locks.
//
// Results. Every operation returns 1 for success and -1 for failure unless
// its contract says otherwise (create and open return 0 on failure). Each call
// sets kfOperation to its operation code on entry and clears kfError; a
// failure sets kfError and kfErrorLocation (a number naming the internal step
// that failed, for diagnosis only; see keyfile/status.h).
//
// Untrusted input. A keyed file may be damaged or hostile. Every node is
// checked as it enters the cache; a file that does not hold together makes the
// operation fail with error 6 (a node's counts or offsets do not fit it, or it
// cannot be read: I/O error, file too short) or 20 (the tree's links are
// wrong: a child or link outside the file or pointing at its own node, a free
// node inside the tree, a leaf where a branch belongs or the reverse, a level
// deeper than the header's height, entries out of order along a scan (rule
// C1 in keyfile/tree.h), a free-list entry that is not free, inconsistent
// header fields). A file shorter than one node does not open (error 6). No
// operation loops without end on such a file or touches memory outside a
// node buffer.
#pragma once

#include <cstdint>

// Operation codes (kfOperation).
enum : uint16_t {
    kKfOpStart = 1,
    kKfOpStop = 2,
    kKfOpClose = 3,
    kKfOpCreate = 4,
    kKfOpOpen = 6,
    kKfOpReadKey = 12,
    kKfOpKeyLength = 13,
    kKfOpInsert = 14,
    kKfOpDelete = 15,
    kKfOpFind = 17,
    kKfOpFirst = 18,
    kKfOpNext = 19,
    kKfOpFlush = 20,
    kKfOpBufferCount = 21,
    kKfOpMaxNodeSize = 22,
    kKfOpAddBuffers = 23,
    kKfOpRemoveBuffers = 24,
};

// Error codes (kfError); 0 = none.
enum : uint16_t {
    kKfErrNone = 0,
    kKfErrFile = 2,            // the file cannot be opened or created
    kKfErrNotStarted = 3,      // the library is not started
    kKfErrStarted = 4,         // already started; or the cache could not be released
    kKfErrMemory = 5,          // out of memory; or fewer buffers added than asked
    kKfErrRead = 6,            // a node cannot be read (I/O, short file, malformed node)
    kKfErrNewNode = 7,         // a new node cannot be obtained
    kKfErrWrite = 8,           // a node cannot be written (also: handle opened read-only)
    kKfErrRelease = 9,         // a node cannot be released (no unpinned buffer)
    kKfErrKeyLength = 10,      // key longer than the file's nodes can hold, or bad length
    kKfErrClose = 11,          // the file could not be closed
    kKfErrCheckWord = 12,      // the header's check word does not match
    kKfErrNodeSize = 13,       // node size larger than the library's maximum
    kKfErrUnknownFile = 14,    // unknown open file
    kKfErrUnknownHandle = 15,  // unknown handle
    kKfErrCursor = 16,         // cursor index outside the node
    kKfErrDuplicateKey = 17,   // key already present, duplicates not allowed
    kKfErrDuplicateEntry = 18, // same key with the same tag already present
    kKfErrEmptyTree = 19,      // delete from an empty tree
    kKfErrDamaged = 20,        // damaged tree (see above)
    kKfErrNoEntry = 21,        // delete: no entry with this key and tag
};

// Cursor states, also returned by the cursor operations.
enum : int {
    kKfNotPositioned = -2,
    kKfPositioned = 1,
    kKfBeyondEnd = -3,
};

// Status of the last call.
extern uint16_t kfOperation;
extern uint16_t kfError;
extern uint16_t kfErrorLocation;

// Key order of a file: negative, zero or positive as key1 sorts before, equal
// to or after key2. Entries with equal keys are ordered by tag. The default
// (nullptr): unsigned bytes over the shorter length, then the shorter key
// first; the empty key first of all. Every handle on one file must use the
// same order.
typedef int (*KfCompare)(const void* key1, int length1, const void* key2, int length2);

// A handle names one open call: the open file, its key order and a cursor.
// Handles are small positive numbers, never reused while the library runs;
// 0 means none. A closed or unknown handle gives error 15.
typedef int KfHandle;

enum KfOpenMode {
    kKfOpenReadWrite = 0,  // read-write, not shared with other openers
    kKfOpenShared = 1,     // read-write, shared (what the program uses)
    kKfOpenReadOnly = 2,   // read-only, shared; insert and delete give error 8
};

// Creates the node cache. nodeSize is the largest node size any file may have
// (0 or below 26 gives 512; above 65535 gives 65535); bufferCount 0 gives 5
// and anything below 4 gives 4. Errors: 4 already started, 5 out of memory.
int KfStart(int nodeSize, int bufferCount);

// Closes every handle as KfClose does, releases the cache and resets the
// maximum node size and buffer count to 0. Every handle is closed even when
// one fails; the first error met is reported. Error 3 when not started.
int KfStop();

// Creates (or truncates) path as an empty keyed file and opens it read-write
// (shared). nodeSize 0 gives 512, below 37 gives 37. Returns a handle or 0.
// Errors: 3 not started, 13 node size above the maximum, 2 the file cannot be
// created or the path is open already (truncating it would pull the file from
// under its handles), 8 the header cannot be written, 5 out of memory.
KfHandle KfCreate(const char* path, KfCompare compare, int nodeSize);

// Opens an existing keyed file. Opening a path that is open already (same
// spelling) shares its open file; only the first open reads and verifies the
// header. A read-write open of a path opened read-only before fails with
// error 2. Returns a handle or 0. Errors: 3, 2, 5, 6 header unreadable or the
// file shorter than one node, 12 check word wrong, 13 node size above the maximum, 20 header fields
// inconsistent. A failed first open leaves nothing open.
KfHandle KfOpen(const char* path, KfCompare compare, KfOpenMode mode = kKfOpenShared);

// Writes every modified node of the handle's file and then its header back,
// forgets the handle and, when it was the file's last handle, closes the file.
// The handle is gone even when a write fails (error 8, or 11 when the file
// cannot be closed). Errors: 3, 15.
int KfClose(KfHandle handle);

// Writes the file's modified nodes and header back without closing anything,
// so that another reader (or the structure checker) sees the current tree.
// Operation code 20. Errors: 3, 15, 8.
int KfFlush(KfHandle handle);

// Inserts key (length bytes, 0 allowed) with tag. With allowDuplicates 0 a
// key equal under the comparison to an existing key is refused (error 17);
// the same key with the same tag is always refused (error 18). A key longer
// than the library's maximum node size - 28 or the file's node size - 28
// bytes is refused before anything is read (error 10). A failed node read or
// write part-way leaves the tree as far as it was changed. Cursors of every
// handle on the file keep pointing at their entries. Errors: 3, 15, 8 (read-only
// handle or write failure), 10, 17, 18, 6, 7, 9, 20.
int KfInsert(KfHandle handle, const void* key, int length, uint32_t tag, int allowDuplicates);

// Removes the entry with exactly this key and tag. A cursor on the removed
// entry moves to the entry after it (or beyond the end). Errors: 3, 15, 8, 10,
// 19 empty tree, 21 no such entry, 6, 9, 20.
int KfDelete(KfHandle handle, const void* key, int length, uint32_t tag);

// Positions the cursor on the first entry whose key is not less than key.
// Returns 2 when its key equals key under the comparison, 3 when it is
// greater (in both cases *tag, when tag is not null, receives its tag), -3
// when every key is smaller (cursor beyond the end), -1 on failure (cursor
// not positioned). Errors: 3, 15, 10, 6, 9, 20.
int KfFind(KfHandle handle, const void* key, int length, uint32_t* tag);

// Positions the cursor on the first entry of the file. Returns 1 (with *tag
// set when tag is not null), -3 when the file is empty, -1 on failure.
// Operation code 18. Errors: 3, 15, 6, 9, 20.
int KfFirst(KfHandle handle, uint32_t* tag);

// Moves the cursor to the next entry in key order. Returns 1 (with *tag set),
// -3 when there is none (cursor beyond the end), the cursor state (-2 or -3)
// when the cursor was not positioned, -1 on failure. Operation code 19.
// Errors: 3, 15, 16, 6, 9, 20 (also when the next entry is not greater than
// this one, so that a scan of a damaged file ends).
int KfNext(KfHandle handle, uint32_t* tag);

// Stores the length of the key at the cursor in *length. Returns 1, or the
// cursor state (-2 or -3) when the cursor is not on an entry. Errors: 3, 15,
// 16, 6, 9, 20.
int KfKeyLength(KfHandle handle, int* length);

// Copies the key at the cursor into buffer, at most bufferSize bytes, with a
// NUL after it when it is shorter than the buffer. Returns 1, or the cursor
// state as KfKeyLength. Errors as KfKeyLength.
int KfReadKey(KfHandle handle, void* buffer, int bufferSize);

// The maximum node size and the current buffer count; 0 when stopped.
int KfMaxNodeSize();
int KfBufferCount();

// Adds n buffers to the cache; returns how many were added (error 5 when
// fewer than n), -1 when stopped (error 3).
int KfAddBuffers(int n);

// Removes up to n unpinned buffers (modified ones are written back first),
// never going below 4; returns how many were removed, -1 when stopped.
int KfRemoveBuffers(int n);
