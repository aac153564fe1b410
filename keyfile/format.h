// The keyed file on disk: header and node layout, byte for byte.
//
// The file is an array of nodes of one size (37 to 65535 bytes, fixed at
// create). Node n starts at byte n * node size. Every integer is little-endian.
//   F1. The file holds node 0 whole (create writes it so); a file shorter
//       than one node does not open (error 6).
//
// Node 0, header (26 bytes; the rest of node 0 is unused):
//
//   offset size  field
//   0      u16   node size in bytes
//   2      u32   root node (0 = empty tree)
//   6      u32   highest node number in use; new nodes are appended as this + 1
//   10     u32   first (leftmost) leaf
//   14     u32   last (rightmost) leaf
//   18     u32   head of the free-node list (0 = none)
//   22     u16   height in levels (0 empty, 1 when the root is a leaf)
//   24     u16   check word: XOR of the twelve u16 words at offsets 0..22
//
// Tree node (every node but 0), 16-byte node header:
//
//   offset size  field
//   0      u32   0xFFFFFFFF in a leaf; in a branch its leftmost child;
//                0 in a free node
//   4      u32   previous node on the same level (0 = none);
//                in a free node the next free node (0 = end of list)
//   8      u32   next node on the same level (0 = none)
//   12     u16   entry count; a branch with count 0 has only its leftmost
//                child (0xFFFF, no child at all, exists only in memory while
//                the branch is being freed)
//   14     u16   offset of the lowest key byte (node size when no key bytes)
//   16     ...   entry array, in key order
//
// Leaf entry (8 bytes) and branch entry (12 bytes):
//
//   offset size  field
//   0      u16   offset of the key bytes within the node
//   2      u16   key length
//   4      u32   tag
//   8      u32   branch only: child holding the keys at or after this entry
//
// Key bytes form one contiguous area [lowest key offset, node size) with the
// first entry's key lowest. Space used by a node is
//   16 + count * entry size + (node size - lowest key offset).
//
// Invariants of a node as this library keeps it in memory (ValidateTreeNode
// establishes them for every node read from disk, or rejects the node):
//   N1. 16 + count * entry size <= lowest key offset <= node size.
//   N2. Entry i's key starts where entry i-1's key ends; the first starts at
//       the lowest key offset and the last ends at the node's end.
//   N3. Every child and level link is 0 or names a node in 1..highest other
//       than the node itself; a branch's children are never 0.
// Files written elsewhere may keep key bytes in another order; a node whose
// keys are disjoint and fill the area exactly is accepted and rearranged into
// N2 in the buffer (the disk copy is only rewritten if the node changes).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace kf {

constexpr int kHeaderSize = 26;
constexpr int kNodeHeaderSize = 16;
constexpr int kLeafEntrySize = 8;
constexpr int kBranchEntrySize = 12;
constexpr int kMinNodeSize = 37;
constexpr int kMaxNodeSize = 65535;  // offsets within a node are u16
constexpr int kDefaultNodeSize = 512;
// Room a key needs beyond its own bytes in a branch: node header and entry.
constexpr int kKeyOverhead = kNodeHeaderSize + kBranchEntrySize;

constexpr uint32_t kLeafMark = 0xFFFFFFFFu;
constexpr uint16_t kNoChild = 0xFFFF;

static_assert(kHeaderSize <= kMinNodeSize);
static_assert(kKeyOverhead == 28);

inline uint16_t Get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
           (uint32_t(p[3]) << 24);
}
inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

struct Header {
    uint16_t nodeSize = 0;
    uint32_t root = 0;
    uint32_t highest = 0;
    uint32_t firstLeaf = 0;
    uint32_t lastLeaf = 0;
    uint32_t freeHead = 0;
    uint16_t height = 0;
};

// XOR of the twelve words before the check word.
uint16_t HeaderCheckWord(const uint8_t* bytes);
// Writes the 26 header bytes, check word included.
void EncodeHeader(const Header& header, uint8_t* bytes);
// Reads the fields; returns false when the stored check word does not match.
bool DecodeHeader(const uint8_t* bytes, Header& header);

enum class HeaderFault { kNone, kNodeSize, kLink };
// Consistency of the fields among themselves (the node size against the
// library's maximum is the caller's check): node size at least 37, every node
// number within 1..highest, root and height either both 0 or both set, first
// and last leaf set exactly when the tree is not empty, height no larger than
// the number of nodes.
HeaderFault CheckHeaderFields(const Header& header);

// Read and write access to one node held in a buffer. Assumes the node
// satisfies N1-N3 (established when the node was read); mutators keep them.
class Node {
public:
    Node(uint8_t* bytes, uint16_t size) : p_(bytes), size_(size) {}

    uint8_t* bytes() const { return p_; }
    uint16_t size() const { return size_; }

    bool IsLeaf() const { return Get32(p_) == kLeafMark; }
    int EntrySize() const { return IsLeaf() ? kLeafEntrySize : kBranchEntrySize; }
    uint32_t Leftmost() const { return Get32(p_); }
    uint32_t Prev() const { return Get32(p_ + 4); }
    uint32_t Next() const { return Get32(p_ + 8); }
    uint16_t Count() const { return Get16(p_ + 12); }
    uint16_t Lowest() const { return Get16(p_ + 14); }

    void SetLeftmost(uint32_t v) { Put32(p_, v); }
    void SetPrev(uint32_t v) { Put32(p_ + 4, v); }
    void SetNext(uint32_t v) { Put32(p_ + 8, v); }
    void SetCount(uint16_t v) { Put16(p_ + 12, v); }
    void SetLowest(uint16_t v) { Put16(p_ + 14, v); }

    uint8_t* Entry(int i) const { return p_ + kNodeHeaderSize + i * EntrySize(); }
    uint16_t KeyOffset(int i) const { return Get16(Entry(i)); }
    uint16_t KeyLength(int i) const { return Get16(Entry(i) + 2); }
    const uint8_t* Key(int i) const { return p_ + KeyOffset(i); }
    uint32_t Tag(int i) const { return Get32(Entry(i) + 4); }
    // Branch: child of entry i; i == -1 names the leftmost child.
    uint32_t Child(int i) const { return i < 0 ? Leftmost() : Get32(Entry(i) + 8); }
    void SetChild(int i, uint32_t v) {
        if (i < 0)
            SetLeftmost(v);
        else
            Put32(Entry(i) + 8, v);
    }

    int Used() const;
    int FreeSpace() const { return size_ - Used(); }
    // Bytes entry i takes: its slot and its key.
    int EntryBytes(int i) const { return EntrySize() + KeyLength(i); }
    bool Fits(int keyLength) const { return EntrySize() + keyLength <= FreeSpace(); }

    // An empty leaf or a branch with only its leftmost child; the level links
    // are cleared.
    void InitLeaf();
    void InitBranch(uint32_t leftmost);
    // A free node: first field 0, field 4 the next free node.
    void InitFree(uint32_t nextFree);

    // Inserts at index i (0..count); the caller has checked Fits(length).
    void InsertEntry(int i, const uint8_t* key, uint16_t length, uint32_t tag, uint32_t child);
    void RemoveEntry(int i);
    // Moves entries [from, count) to the front of dst, which has the same
    // kind and room for them.
    void MoveTailTo(int from, Node& dst);
    // Moves entries [0, n) to the end of dst, which has the same kind and
    // room for them.
    void MoveHeadTo(int n, Node& dst);
    // Bytes entries [from, to) take.
    int RangeBytes(int from, int to) const;

private:
    uint8_t* p_;
    uint16_t size_;
};

enum class NodeFault {
    kNone,
    kLayout,  // counts, offsets or key areas do not fit the node
    kLink,    // wrong kind, or a node number out of range or pointing at itself
};

// Checks a node just read as a leaf or branch (N1-N3) and rearranges keys
// stored in another order. self is the node's own number.
NodeFault ValidateTreeNode(uint8_t* bytes, uint16_t nodeSize, uint32_t highest, uint32_t self);
// Checks a node just read from the free list: first field 0 and a next link
// within range.
NodeFault ValidateFreeNode(const uint8_t* bytes, uint32_t highest, uint32_t self);

// Order of keys: the file's comparison (or the default), then the tag.
using CompareFn = int (*)(const void*, int, const void*, int);
// Unsigned bytes over the shorter length, then the shorter key first; the
// empty key first of all. Compares eight bytes at a time: most keys differ
// within their first few bytes, and a library call per comparison costs more
// than the comparison.
inline int DefaultCompare(const void* key1, int length1, const void* key2, int length2) {
    const uint8_t* a = static_cast<const uint8_t*>(key1);
    const uint8_t* b = static_cast<const uint8_t*>(key2);
    const int common = length1 < length2 ? length1 : length2;
    int i = 0;
    for (; i + 8 <= common; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) {
            static_assert(std::endian::native == std::endian::little);
            x = __builtin_bswap64(x);  // the first byte becomes the most significant
            y = __builtin_bswap64(y);
            return x < y ? -1 : 1;
        }
    }
    for (; i < common; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return length1 < length2 ? -1 : (length1 > length2 ? 1 : 0);
}

}  // namespace kf
