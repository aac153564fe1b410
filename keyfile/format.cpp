#include "keyfile/format.h"

#include <algorithm>
#include <cassert>

namespace kf {

uint16_t HeaderCheckWord(const uint8_t* bytes) {
    uint16_t word = 0;
    for (int i = 0; i < 24; i += 2) word ^= Get16(bytes + i);
    return word;
}

void EncodeHeader(const Header& h, uint8_t* bytes) {
    Put16(bytes + 0, h.nodeSize);
    Put32(bytes + 2, h.root);
    Put32(bytes + 6, h.highest);
    Put32(bytes + 10, h.firstLeaf);
    Put32(bytes + 14, h.lastLeaf);
    Put32(bytes + 18, h.freeHead);
    Put16(bytes + 22, h.height);
    Put16(bytes + 24, HeaderCheckWord(bytes));
}

bool DecodeHeader(const uint8_t* bytes, Header& h) {
    h.nodeSize = Get16(bytes + 0);
    h.root = Get32(bytes + 2);
    h.highest = Get32(bytes + 6);
    h.firstLeaf = Get32(bytes + 10);
    h.lastLeaf = Get32(bytes + 14);
    h.freeHead = Get32(bytes + 18);
    h.height = Get16(bytes + 22);
    return Get16(bytes + 24) == HeaderCheckWord(bytes);
}

HeaderFault CheckHeaderFields(const Header& h) {
    if (h.nodeSize < kMinNodeSize) return HeaderFault::kNodeSize;
    if (h.root > h.highest || h.firstLeaf > h.highest || h.lastLeaf > h.highest ||
        h.freeHead > h.highest)
        return HeaderFault::kLink;
    if ((h.root == 0) != (h.height == 0)) return HeaderFault::kLink;
    if (h.root == 0 && (h.firstLeaf != 0 || h.lastLeaf != 0)) return HeaderFault::kLink;
    if (h.root != 0 && (h.firstLeaf == 0 || h.lastLeaf == 0)) return HeaderFault::kLink;
    if (h.height > h.highest) return HeaderFault::kLink;
    return HeaderFault::kNone;
}

int Node::Used() const {
    return kNodeHeaderSize + Count() * EntrySize() + (size_ - Lowest());
}

int Node::RangeBytes(int from, int to) const {
    if (from >= to) return 0;
    int end = to < Count() ? KeyOffset(to) : size_;
    return (to - from) * EntrySize() + (end - KeyOffset(from));
}

void Node::InitLeaf() {
    std::memset(p_, 0, size_);
    Put32(p_, kLeafMark);
    SetLowest(size_);
}

void Node::InitBranch(uint32_t leftmost) {
    std::memset(p_, 0, size_);
    Put32(p_, leftmost);
    SetLowest(size_);
}

void Node::InitFree(uint32_t nextFree) {
    std::memset(p_, 0, size_);
    Put32(p_ + 4, nextFree);
}

void Node::InsertEntry(int i, const uint8_t* key, uint16_t length, uint32_t tag, uint32_t child) {
    const int n = Count();
    const int es = EntrySize();
    const int low = Lowest();
    assert(i >= 0 && i <= n && Fits(length));
    // Keys of entries [0, i) occupy [low, at); they move down to make room.
    const int at = i < n ? KeyOffset(i) : size_;
    if (length > 0) {
        std::memmove(p_ + low - length, p_ + low, size_t(at - low));
        for (int j = 0; j < i; ++j) Put16(Entry(j), uint16_t(KeyOffset(j) - length));
    }
    std::memmove(Entry(i + 1), Entry(i), size_t((n - i) * es));
    uint8_t* e = Entry(i);
    Put16(e, uint16_t(at - length));
    Put16(e + 2, length);
    Put32(e + 4, tag);
    if (es == kBranchEntrySize) Put32(e + 8, child);
    if (length > 0) std::memcpy(p_ + at - length, key, length);
    SetCount(uint16_t(n + 1));
    SetLowest(uint16_t(low - length));
}

void Node::RemoveEntry(int i) {
    const int n = Count();
    const int es = EntrySize();
    const int low = Lowest();
    assert(i >= 0 && i < n);
    const int at = KeyOffset(i);
    const int length = KeyLength(i);
    if (length > 0) {
        std::memmove(p_ + low + length, p_ + low, size_t(at - low));
        std::memset(p_ + low, 0, size_t(length));
        for (int j = 0; j < i; ++j) Put16(Entry(j), uint16_t(KeyOffset(j) + length));
    }
    std::memmove(Entry(i), Entry(i + 1), size_t((n - i - 1) * es));
    std::memset(Entry(n - 1), 0, size_t(es));
    SetCount(uint16_t(n - 1));
    SetLowest(uint16_t(low + length));
}

void Node::MoveTailTo(int from, Node& dst) {
    const int n = Count();
    const int m = n - from;
    if (m <= 0) return;
    const int es = EntrySize();
    const int low = Lowest();
    const int start = KeyOffset(from);
    const int moved = size_ - start;  // key bytes of [from, n), at the top of the area
    assert(dst.p_ != p_ && dst.EntrySize() == es && dst.FreeSpace() >= m * es + moved);

    // dst: the moved keys go just below its own, which stay where they are.
    const int dn = dst.Count();
    const int dlow = dst.Lowest();
    std::memcpy(dst.p_ + dlow - moved, p_ + start, size_t(moved));
    std::memmove(dst.Entry(m), dst.Entry(0), size_t(dn * es));
    for (int k = 0; k < m; ++k) {
        std::memcpy(dst.Entry(k), Entry(from + k), size_t(es));
        Put16(dst.Entry(k), uint16_t(dlow - moved + (KeyOffset(from + k) - start)));
    }
    dst.SetCount(uint16_t(dn + m));
    dst.SetLowest(uint16_t(dlow - moved));

    // this: the remaining keys move up to end at the node's end again.
    if (moved > 0) {
        std::memmove(p_ + low + moved, p_ + low, size_t(start - low));
        std::memset(p_ + low, 0, size_t(moved));
        for (int j = 0; j < from; ++j) Put16(Entry(j), uint16_t(KeyOffset(j) + moved));
    }
    std::memset(Entry(from), 0, size_t(m * es));
    SetCount(uint16_t(from));
    SetLowest(uint16_t(low + moved));
}

void Node::MoveHeadTo(int m, Node& dst) {
    const int n = Count();
    if (m <= 0) return;
    assert(m <= n);
    const int es = EntrySize();
    const int low = Lowest();
    const int end = m < n ? KeyOffset(m) : size_;
    const int moved = end - low;  // key bytes of [0, m), at the bottom of the area
    assert(dst.p_ != p_ && dst.EntrySize() == es && dst.FreeSpace() >= m * es + moved);

    // dst: its keys move down; the moved keys take the top of the area.
    const int dn = dst.Count();
    const int dlow = dst.Lowest();
    if (moved > 0) {
        std::memmove(dst.p_ + dlow - moved, dst.p_ + dlow, size_t(size_ - dlow));
        for (int j = 0; j < dn; ++j) Put16(dst.Entry(j), uint16_t(dst.KeyOffset(j) - moved));
        std::memcpy(dst.p_ + size_ - moved, p_ + low, size_t(moved));
    }
    for (int k = 0; k < m; ++k) {
        std::memcpy(dst.Entry(dn + k), Entry(k), size_t(es));
        Put16(dst.Entry(dn + k), uint16_t(size_ - moved + (KeyOffset(k) - low)));
    }
    dst.SetCount(uint16_t(dn + m));
    dst.SetLowest(uint16_t(dlow - moved));

    // this: the remaining keys stay; only the slots move down.
    std::memmove(Entry(0), Entry(m), size_t((n - m) * es));
    std::memset(Entry(n - m), 0, size_t(m * es));
    std::memset(p_ + low, 0, size_t(moved));
    SetCount(uint16_t(n - m));
    SetLowest(uint16_t(low + moved));
}

namespace {

bool BadLink(uint32_t node, uint32_t highest, uint32_t self) {
    return node != 0 && (node > highest || node == self);
}

// Scratch for rearranging a node's keys; a node never exceeds 65535 bytes.
uint8_t keyScratch[kMaxNodeSize];
uint16_t orderScratch[kMaxNodeSize / kLeafEntrySize];

}  // namespace

NodeFault ValidateTreeNode(uint8_t* bytes, uint16_t size, uint32_t highest, uint32_t self) {
    Node node(bytes, size);
    const uint32_t first = node.Leftmost();
    const bool leaf = first == kLeafMark;
    if (!leaf && (first == 0 || BadLink(first, highest, self))) return NodeFault::kLink;
    if (BadLink(node.Prev(), highest, self) || BadLink(node.Next(), highest, self))
        return NodeFault::kLink;
    const int n = node.Count();
    if (!leaf && n == kNoChild) return NodeFault::kLink;
    const int es = leaf ? kLeafEntrySize : kBranchEntrySize;
    const int low = node.Lowest();
    if (low > size || kNodeHeaderSize + n * es > low) return NodeFault::kLayout;

    bool inOrder = true;
    int at = low;
    for (int i = 0; i < n; ++i) {
        const int off = node.KeyOffset(i);
        const int len = node.KeyLength(i);
        if (off < low || off + len > size) return NodeFault::kLayout;
        if (off != at) inOrder = false;
        at = off + len;
        if (!leaf) {
            uint32_t child = node.Child(i);
            if (child == 0 || BadLink(child, highest, self)) return NodeFault::kLink;
        }
    }
    if (inOrder && at == size) return NodeFault::kNone;

    // Another arrangement is accepted when the keys are disjoint and fill the
    // area exactly; anything else could make two entries share bytes.
    int total = 0;
    for (int i = 0; i < n; ++i) {
        total += node.KeyLength(i);
        orderScratch[i] = uint16_t(i);
    }
    if (total != size - low) return NodeFault::kLayout;
    std::sort(orderScratch, orderScratch + n, [&](uint16_t a, uint16_t b) {
        if (node.KeyOffset(a) != node.KeyOffset(b)) return node.KeyOffset(a) < node.KeyOffset(b);
        return node.KeyLength(a) < node.KeyLength(b);  // an empty key may share a start
    });
    int end = low;
    for (int k = 0; k < n; ++k) {
        const int i = orderScratch[k];
        if (node.KeyOffset(i) < end) return NodeFault::kLayout;
        end = node.KeyOffset(i) + node.KeyLength(i);
    }
    at = 0;
    for (int i = 0; i < n; ++i) {
        const int len = node.KeyLength(i);
        std::memcpy(keyScratch + at, bytes + node.KeyOffset(i), size_t(len));
        Put16(node.Entry(i), uint16_t(low + at));
        at += len;
    }
    std::memcpy(bytes + low, keyScratch, size_t(at));
    return NodeFault::kNone;
}

NodeFault ValidateFreeNode(const uint8_t* bytes, uint32_t highest, uint32_t self) {
    if (Get32(bytes) != 0) return NodeFault::kLink;
    if (BadLink(Get32(bytes + 4), highest, self)) return NodeFault::kLink;
    return NodeFault::kNone;
}

}  // namespace kf
