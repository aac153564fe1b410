// The structure checker: reads a keyed file straight from disk (not through
// the node cache, so flush or close handles on it first) and checks all of
// it against the tree invariants of keyfile/tree.h:
//   - the header: length, check word, node size, fields consistent, the file
//     long enough for the highest node;
//   - every node reached from the root: within its size (counts, offsets,
//     disjoint key areas), the right kind for its depth (leaves exactly at the
//     header's height), reached once only, not empty;
//   - keys in strictly increasing (key, tag) order within each node and along
//     the leaf chain, and every separator bounding its subtrees;
//   - each level's chain of previous/next links in tree order, ending in 0,
//     and the header's first and last leaf;
//   - the free list: free nodes only, no cycle, no node of the tree;
//   - every node 1..highest either in the tree or free;
//   - no key longer than the node size - 28 bytes (its separator would not
//     fit a branch, so the tree could not grow past it).
// Safe on any input: it never follows a link twice and never reads outside
// the file's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "keyfile/format.h"
#include "keyfile/keyfile.h"

struct KfCheckReport {
    bool sound = false;                 // no problem found
    std::vector<std::string> problems;  // the first problems, in the order found
    bool headerRead = false;            // header holds 26 bytes and its check word matches
    kf::Header header;
    uint64_t entries = 0;  // entries in the leaves
    uint32_t leaves = 0;
    uint32_t branches = 0;
    uint32_t freeNodes = 0;
};

// Checks the keyed file at path with the key order compare (nullptr: the
// default order). Works whether or not the library is started.
KfCheckReport KfCheckFile(const char* path, KfCompare compare = nullptr);
