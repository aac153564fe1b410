// What insert, delete and find share: key order, descent from the root,
// getting and freeing nodes, and keeping cursors on their entries.
//
// Tree invariants (the structure checker verifies them on a file):
//   T1. Every leaf lies at depth height; every node above is a branch.
//   T2. Entries are in strictly increasing (key, tag) order within a node and
//       along each level from left to right.
//   T3. Branch entry i's key and tag are <= every entry under its child and
//       > every entry under the child before it (the leftmost child for i = 0).
//   T4. Each level is one chain through fields 4 and 8 in key order; the
//       header names the first and last leaf.
//   T5. Every node 1..highest is in the tree or on the free list, never both.
//   T6. No node but the root is empty; a root branch has at least one entry.
//
// What a cursor checks of a file that may break them (KfNext):
//   C1. Each step moves to an entry strictly greater in (key, tag) order than
//       the one it leaves, within a leaf and from a leaf to the next; a step
//       that would not is damage (error 20). So a scan visits every entry at
//       most once and ends on any file: a chain that loops, or leads back
//       into keys out of order, must return to an entry no greater than one
//       passed. No count of leaves bounds a scan instead, since entries
//       inserted ahead of a cursor may lengthen a sound one without limit.
#pragma once

#include <cstdint>
#include <vector>

#include "keyfile/cache.h"
#include "keyfile/library.h"

namespace kf {

struct SearchKey {
    const uint8_t* bytes;
    int length;
    uint32_t tag;
};

inline int CompareKey(KfCompare compare, const void* a, int alen, const void* b, int blen) {
    return compare ? compare(a, alen, b, blen) : DefaultCompare(a, alen, b, blen);
}

// key against entry i of node, by key then tag.
inline int CompareEntry(KfCompare compare, const SearchKey& key, const Node& node, int i) {
    int c = CompareKey(compare, key.bytes, key.length, node.Key(i), node.KeyLength(i));
    if (c != 0) return c;
    uint32_t tag = node.Tag(i);
    return key.tag < tag ? -1 : (key.tag > tag ? 1 : 0);
}

// First index whose entry is not less than key (count when none).
int LowerBound(KfCompare compare, const Node& node, const SearchKey& key);
// In a branch: the entry whose child covers key, -1 for the leftmost child.
int ChildSlot(KfCompare compare, const Node& node, const SearchKey& key);

// One step of the way down: the node and the slot in its parent that points
// to it (-1 the leftmost child; unused for the root).
struct PathStep {
    uint32_t node;
    int slot;
};

// Descends from the root to the leaf that covers key; path[0] is the root and
// path[height - 1] the leaf, which stays pinned in leaf. The header's height
// bounds the descent and fixes at which depth leaves lie, so a link that
// loops or skips a level is caught (error 20).
bool Descend(Handle& handle, const SearchKey& key, std::vector<PathStep>& path, NodeRef& leaf);

// Gets a node from the free list or appends one; it is pinned, its contents
// for the caller to initialise. Error 7 when the file cannot grow, 20 when
// the free list names a node that is not free.
bool NewNode(SharedFile& file, NodeRef& out);

// Unlinks a pinned node from its level chain (and for a leaf from the header's
// first and last leaf) and puts it at the head of the free list. Pins its two
// neighbours in turn, so the caller may hold at most one other node.
bool FreeNode(SharedFile& file, NodeRef& node);

// Cursor upkeep, over every handle on file.
// Cursors on node at indexes [from, to) move to newNode at index + delta.
void MoveCursors(SharedFile& file, uint32_t node, int from, int to, uint32_t newNode, int delta);
// An entry was inserted at index.
inline void CursorsInserted(SharedFile& file, uint32_t node, int index) {
    MoveCursors(file, node, index, 0x10000, node, 1);
}
// The entry at index of a leaf was removed; count is what the leaf holds now.
// A cursor on it moves to the next entry: in this leaf, or the first of the
// next leaf, or beyond the end.
void CursorsRemoved(SharedFile& file, uint32_t node, int index, int count, uint32_t nextLeaf);

}  // namespace kf
