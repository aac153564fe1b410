// The node cache: a fixed number of buffers of the maximum node size, shared
// by every open file, found by (file, node) through a hash map and reused in
// least-recently-used order. A node is pinned while a routine works on it; a
// pinned buffer is never reused. Modified buffers reach the disk when they are
// reused or when their file is flushed.
//
// Branches and leaves are kept in two recency lists and a leaf is reused
// before a branch, as long as branches hold no more than three quarters of
// the buffers: every descent passes through the branches above its leaf, so
// a branch is worth keeping far longer than a leaf used as recently.
//
// Cost: a hit is one hash lookup; a miss reads one node (and first writes the
// buffer it replaces when that one is modified) and validates it.
//
// A modified node is written together with the modified, unpinned nodes
// numbered next to it, in one positional write of up to 64 KiB: nodes split
// off one after another are appended side by side and are often still
// cached, so their write-backs come in runs.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "keyfile/format.h"

namespace kf {

struct SharedFile;

struct Buffer {
    SharedFile* file = nullptr;  // nullptr: holds nothing
    uint32_t node = 0;
    int pins = 0;
    bool modified = false;
    int list = 0;             // which least-recently-used list (Cache::kLeaves, kBranches)
    Buffer* older = nullptr;  // neighbours in that list
    Buffer* newer = nullptr;
    std::unique_ptr<uint8_t[]> bytes;
};

// (file, node) -> buffer: open addressing with linear probing, at most half
// full, so that a lookup is one or two probes however large the cache grows.
class NodeMap {
public:
    Buffer* Find(uint64_t key) const;
    // false when memory is short.
    bool Insert(uint64_t key, Buffer* buffer);
    void Erase(uint64_t key);
    void Clear();
    // Makes room for count entries; false when memory is short.
    bool Reserve(size_t count);

private:
    struct Slot {
        uint64_t key = 0;  // 0: empty (file ids start at 1)
        Buffer* buffer = nullptr;
    };
    size_t SlotOf(uint64_t key) const;

    std::vector<Slot> slots_;
    size_t used_ = 0;
};

// What a caller expects to find in a node; a node of another kind is a
// damaged tree (error 20).
enum class Expect { kLeaf, kBranch, kFree };

class Cache {
public:
    Cache();
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    // Allocates count buffers of bufferSize bytes; false when memory is short.
    bool Init(int bufferSize, int count);
    // Forgets every buffer (the caller has flushed what it needs).
    void Release();
    int Count() const { return int(buffers_.size()); }
    int BufferSize() const { return bufferSize_; }

    // Adds up to n buffers; returns how many.
    int Add(int n);
    // Removes up to n unpinned buffers, keeping at least minimum; a modified
    // one is written back first and kept when that fails (error 8 set).
    int Remove(int n, int minimum);

    // Pins node n of file: from the cache, or read and validated. nullptr on
    // failure with the error set (6 read or malformed, 20 wrong kind or link,
    // 8 writing back the buffer it would reuse, 9 every buffer pinned).
    Buffer* Pin(SharedFile& file, uint32_t node, Expect expect);
    // Pin without the read: nullptr with no error when the node is not
    // cached (error 20 when it is, but of another kind, or out of range).
    Buffer* PinCached(SharedFile& file, uint32_t node, Expect expect);
    // Pins a node just appended to the file: zero-filled, not read.
    Buffer* PinAppended(SharedFile& file, uint32_t node);
    void Unpin(Buffer* buffer, bool modified);

    // Writes every modified buffer of file, in node order and in runs of
    // neighbours; false (error 8) on the first failure, after trying the
    // others.
    bool Flush(SharedFile& file);
    // Forgets every buffer of file, modified or not.
    void Drop(SharedFile& file);

private:
    static uint64_t KeyOf(const SharedFile& file, uint32_t node);
    Buffer* Victim();
    bool WriteBack(Buffer* buffer);    // with its run of modified neighbours; error 8
    void Detach(Buffer* buffer);       // out of its list
    void MakeNewest(Buffer* buffer);   // to the most recently used end of the list its node's kind names
    void MakeOldest(Buffer* buffer);   // to the end of the leaf list that is reused first
    Buffer* OldestUnpinned(int list);
    void Forget(Buffer* buffer);       // out of the map, holding nothing
    Buffer* Take(SharedFile& file, uint32_t node);  // a buffer to hold the node

    static constexpr size_t kGatherBytes = 65536;  // the longest write-back run
    int bufferSize_ = 0;
    std::vector<std::unique_ptr<Buffer>> buffers_;
    std::vector<uint8_t> gather_;  // a run of nodes on its way to the disk
    NodeMap map_;
public:
    enum : int { kLeaves = 0, kBranches = 1 };  // leaves, free nodes and empty buffers; branches

private:
    // Sentinels: lists_[k].newer is the oldest, lists_[k].older the newest.
    Buffer lists_[2];
    int listCount_[2] = {0, 0};
};

// A pinned node for the length of a scope. Release() unpins early.
class NodeRef {
public:
    NodeRef() = default;
    ~NodeRef() { Release(); }
    NodeRef(const NodeRef&) = delete;
    NodeRef& operator=(const NodeRef&) = delete;

    bool Pin(SharedFile& file, uint32_t node, Expect expect);
    bool PinCached(SharedFile& file, uint32_t node, Expect expect);  // see Cache::PinCached
    bool PinAppended(SharedFile& file, uint32_t node);
    void Release();
    // Releases this pin and takes over other's; other is left empty.
    void TakeFrom(NodeRef& other);

    explicit operator bool() const { return buffer_ != nullptr; }
    uint32_t number() const { return number_; }
    Node& node() { return node_; }
    Node* operator->() { return &node_; }
    void Touch() { modified_ = true; }

private:
    Buffer* buffer_ = nullptr;
    uint32_t number_ = 0;
    bool modified_ = false;
    Node node_{nullptr, 0};
};

}  // namespace kf
