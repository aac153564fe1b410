// KfInsert: place the entry in its leaf; when it does not fit, shift entries
// into the neighbours under the same parent, and only then split, carrying a
// separator up the path (which may split the levels above in turn).
//
// A neighbouring leaf takes entries only while it is in the cache. Reading
// one from the disk to spare a split would cost a read, and later a
// write-back, on every insert into a full leaf, where a split costs one new
// node, written once; with random keys most leaves are not cached, and those
// reads were the larger part of an insert's I/O. Branches are few and nearly
// always cached, so a neighbouring branch is read when it is not.
//
// Pins: at most three nodes at once (the node, a neighbour or the new node,
// and the parent or the next node on the level), within the cache's minimum
// of four buffers.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "keyfile/keyfile.h"
#include "keyfile/status.h"
#include "keyfile/tree.h"

namespace kf {

namespace {

// An entry on its way into a node; child is used in branches only.
struct NewEntry {
    const uint8_t* key;
    int length;
    uint32_t tag;
    uint32_t child;
};

enum class Placed { kDone, kNotYet, kFailed };

struct Insertion {
    Handle& handle;
    SharedFile& file;
    std::vector<PathStep>& path;
};

// The parent's entry idx takes a new key and tag; its child stays. The key
// must not lie in the parent's own buffer.
void ReplaceSeparator(Node& parent, int idx, const uint8_t* key, int length, uint32_t tag) {
    uint32_t child = parent.Child(idx);
    parent.RemoveEntry(idx);
    parent.InsertEntry(idx, key, uint16_t(length), tag, child);
}

// Length of the shortest prefix of right that sorts above left under the
// default order, or -1 when the keys are equal (only the tag tells them
// apart, so the separator needs the whole key and its tag).
int ShortSeparatorLength(const uint8_t* left, int leftLength, const uint8_t* right,
                         int rightLength) {
    const int common = std::min(leftLength, rightLength);
    int d = 0;
    while (d < common && left[d] == right[d]) ++d;
    return d == rightLength ? -1 : d + 1;
}

// A key (in some node or in scratch) with its tag.
struct KeyView {
    const uint8_t* key;
    int length;
    uint32_t tag;
};

KeyView EntryKey(const Node& n, int i) {
    return KeyView{n.Key(i), n.KeyLength(i), n.Tag(i)};
}

// The separator between two neighbouring leaves, whose bytes are a prefix of
// upper's key. With the default order it is the shortest prefix of upper
// that sorts above lower, with tag 0: shorter separators make branches wider
// and the tree lower. A caller-supplied order promises nothing about
// prefixes, so there the separator is upper itself.
KeyView LeafSeparator(KfCompare compare, const KeyView& lower, const KeyView& upper) {
    if (!compare) {
        const int length = ShortSeparatorLength(lower.key, lower.length, upper.key, upper.length);
        if (length >= 0) return KeyView{upper.key, length, 0};
    }
    return upper;
}

bool SeparatorFits(const Node& parent, int idx, int length) {
    return parent.FreeSpace() + parent.KeyLength(idx) >= length;
}

void InsertInto(SharedFile& file, NodeRef& node, int i, const NewEntry& e) {
    node->InsertEntry(i, e.key, uint16_t(e.length), e.tag, e.child);
    node.Touch();
    if (node->IsLeaf()) CursorsInserted(file, node.number(), i);
}

// Pins the neighbour of node that entries would shift into: a branch read if
// need be, a leaf only when it is cached (see the top). false with no error
// set when the leaf is not cached.
bool PinNeighbour(SharedFile& file, NodeRef& neighbour, uint32_t number, NodeRef& node) {
    if (node->IsLeaf()) return neighbour.PinCached(file, number, Expect::kLeaf);
    return neighbour.Pin(file, number, Expect::kBranch);
}

// Moves the entries after index i, last first, to the front of the next node
// under the same parent while each fits there, until e fits in node; with
// every later entry gone, e itself may go to the front of the next node.
Placed ShiftRight(Insertion& in, int level, NodeRef& node, int i, const NewEntry& e) {
    if (level == 0) return Placed::kNotYet;
    NodeRef parent;
    if (!parent.Pin(in.file, in.path[size_t(level - 1)].node, Expect::kBranch)) return Placed::kFailed;
    const int sep = in.path[size_t(level)].slot + 1;
    if (sep >= parent->Count()) return Placed::kNotYet;
    const uint32_t rightNumber = parent->Child(sep);
    if (rightNumber == node.number() || node->Next() != rightNumber)
        return Fail(kKfErrDamaged, kLocInsertSibling), Placed::kFailed;
    NodeRef right;
    if (!PinNeighbour(in.file, right, rightNumber, node))
        return kfError != kKfErrNone ? Placed::kFailed : Placed::kNotYet;

    Node& n = node.node();
    Node& r = right.node();
    Node& p = parent.node();
    const bool leaf = n.IsLeaf();
    for (;;) {
        const int count = n.Count();
        if (i < count) {
            const int last = count - 1;
            if (leaf) {
                // Once e is to end the node, it bounds the separator from below.
                const KeyView lower = i == last ? KeyView{e.key, e.length, e.tag} : EntryKey(n, last - 1);
                const KeyView s = LeafSeparator(in.handle.compare, lower, EntryKey(n, last));
                if (!r.Fits(n.KeyLength(last)) || !SeparatorFits(p, sep, s.length)) break;
                MoveCursors(in.file, right.number(), 0, 0x10000, right.number(), 1);
                MoveCursors(in.file, node.number(), last, count, right.number(), -last);
                n.MoveTailTo(last, r);
                ReplaceSeparator(p, sep, r.Key(0), s.length, s.tag);
            } else {
                // Rotation: the separator comes down in front of the next
                // node, the moved entry's key goes up in its place.
                const int sepLength = p.KeyLength(sep);
                if (!r.Fits(sepLength) || !SeparatorFits(p, sep, n.KeyLength(last))) break;
                r.InsertEntry(0, p.Key(sep), uint16_t(sepLength), p.Tag(sep), r.Leftmost());
                r.SetLeftmost(n.Child(last));
                ReplaceSeparator(p, sep, n.Key(last), n.KeyLength(last), n.Tag(last));
                n.RemoveEntry(last);
            }
            node.Touch();
            right.Touch();
            parent.Touch();
            if (n.Fits(e.length)) {
                InsertInto(in.file, node, i, e);
                return Placed::kDone;
            }
        } else {
            if (leaf) {
                const KeyView s =
                    LeafSeparator(in.handle.compare, EntryKey(n, count - 1), KeyView{e.key, e.length, e.tag});
                if (!r.Fits(e.length) || !SeparatorFits(p, sep, s.length)) break;
                InsertInto(in.file, right, 0, e);
                ReplaceSeparator(p, sep, e.key, s.length, s.tag);
            } else {
                const int sepLength = p.KeyLength(sep);
                if (!r.Fits(sepLength) || !SeparatorFits(p, sep, e.length)) break;
                r.InsertEntry(0, p.Key(sep), uint16_t(sepLength), p.Tag(sep), r.Leftmost());
                r.SetLeftmost(e.child);
                right.Touch();
                ReplaceSeparator(p, sep, e.key, e.length, e.tag);
            }
            parent.Touch();
            return Placed::kDone;
        }
    }
    return Placed::kNotYet;
}

// Moves the entries before index i, first first, to the end of the previous
// node under the same parent while each fits there, until e fits in node.
Placed ShiftLeft(Insertion& in, int level, NodeRef& node, int& i, const NewEntry& e) {
    if (level == 0) return Placed::kNotYet;
    const int sep = in.path[size_t(level)].slot;
    if (sep < 0 || i == 0) return Placed::kNotYet;
    NodeRef parent;
    if (!parent.Pin(in.file, in.path[size_t(level - 1)].node, Expect::kBranch)) return Placed::kFailed;
    const uint32_t leftNumber = parent->Child(sep - 1);
    if (leftNumber == node.number() || node->Prev() != leftNumber)
        return Fail(kKfErrDamaged, kLocInsertSibling), Placed::kFailed;
    NodeRef left;
    if (!PinNeighbour(in.file, left, leftNumber, node))
        return kfError != kKfErrNone ? Placed::kFailed : Placed::kNotYet;

    Node& n = node.node();
    Node& l = left.node();
    Node& p = parent.node();
    const bool leaf = n.IsLeaf();
    while (i > 0) {
        if (leaf) {
            // The node's new first entry bounds the separator from above;
            // once e is to be first, e does (it is above everything that
            // moved left).
            const KeyView upper = i == 1 ? KeyView{e.key, e.length, e.tag} : EntryKey(n, 1);
            const KeyView s = LeafSeparator(in.handle.compare, EntryKey(n, 0), upper);
            if (!l.Fits(n.KeyLength(0)) || !SeparatorFits(p, sep, s.length)) break;
            // The separator's bytes are in the node, which changes: keep them.
            std::vector<uint8_t>& keep = lib.scratch[2];
            if (s.length > 0) std::memcpy(keep.data(), s.key, size_t(s.length));
            MoveCursors(in.file, node.number(), 0, 1, left.number(), l.Count());
            MoveCursors(in.file, node.number(), 1, 0x10000, node.number(), -1);
            n.MoveHeadTo(1, l);
            ReplaceSeparator(p, sep, keep.data(), s.length, s.tag);
        } else {
            const int sepLength = p.KeyLength(sep);
            if (!l.Fits(sepLength) || !SeparatorFits(p, sep, n.KeyLength(0))) break;
            l.InsertEntry(l.Count(), p.Key(sep), uint16_t(sepLength), p.Tag(sep), n.Leftmost());
            n.SetLeftmost(n.Child(0));
            ReplaceSeparator(p, sep, n.Key(0), n.KeyLength(0), n.Tag(0));
            n.RemoveEntry(0);
        }
        --i;
        node.Touch();
        left.Touch();
        parent.Touch();
        if (n.Fits(e.length)) {
            InsertInto(in.file, node, i, e);
            return Placed::kDone;
        }
    }
    return Placed::kNotYet;
}

// Bytes of item k of the node's entries with e inserted at index i.
int ItemBytes(const Node& n, int i, const NewEntry& e, int k) {
    if (k < i) return n.EntryBytes(k);
    if (k == i) return n.EntrySize() + e.length;
    return n.EntryBytes(k - 1);
}

// The split boundary over the node's entries with e inserted (n + 1 items):
// a leaf keeps items [0, b) and gives [b, n + 1) to the new node; a branch
// keeps [0, b), sends item b up and gives (b, n + 1). Of the boundaries where
// both halves fit, the one whose halves are closest in size, nearest the
// insertion index on a tie. -1 when none fits (only for a leaf of large keys).
int ChooseBoundary(const Node& n, int i, const NewEntry& e) {
    const int count = n.Count();
    const int room = n.size() - kNodeHeaderSize;
    const bool leaf = n.IsLeaf();
    int total = 0;
    for (int k = 0; k <= count; ++k) total += ItemBytes(n, i, e, k);
    int best = -1;
    int bestGap = 0;
    int leftBytes = 0;
    // A leaf half is never empty: b runs over 1..count there.
    for (int b = 0; b <= count; ++b) {
        const int item = ItemBytes(n, i, e, b);
        const int rightBytes = total - leftBytes - (leaf ? 0 : item);
        if ((!leaf || b >= 1) && leftBytes <= room && rightBytes <= room) {
            const int gap = std::abs(leftBytes - rightBytes);
            if (best < 0 || gap < bestGap ||
                (gap == bestGap && std::abs(b - i) < std::abs(best - i))) {
                best = b;
                bestGap = gap;
            }
        }
        leftBytes += item;
    }
    return best;
}

// Copies a key into scratch so that it survives changes to its node.
NewEntry Keep(std::vector<uint8_t>& scratch, const uint8_t* key, int length, uint32_t tag,
              uint32_t child) {
    if (length > 0) std::memcpy(scratch.data(), key, size_t(length));
    return NewEntry{scratch.data(), length, tag, child};
}

// Splits node into itself and a new right neighbour and places e in the half
// where it belongs. When no two-way split can hold e (a leaf of keys close to
// the node size), splits at the insertion index without e: took is then
// false and the caller places e again from the root. sep receives the
// separator for the new node (its key in scratch). Releases node.
bool Split(Insertion& in, NodeRef& node, int i, const NewEntry& e, std::vector<uint8_t>& scratch,
           NewEntry& sep, bool& took) {
    SharedFile& file = in.file;
    const bool leaf = node->IsLeaf();
    const int count = node->Count();
    int b = ChooseBoundary(node.node(), i, e);
    took = b >= 0;
    if (!took && (i == 0 || i == count)) return Fail(kKfErrDamaged, kLocInsertNoSplit);

    NodeRef added;
    if (!NewNode(file, added)) return false;
    if (leaf)
        added->InitLeaf();
    else
        added->InitBranch(0);
    added.Touch();
    Node& n = node.node();
    Node& m = added.node();
    const uint32_t self = node.number();
    const uint32_t other = added.number();

    if (leaf) {
        int moveFrom;
        if (!took)
            moveFrom = i;
        else
            moveFrom = i < b ? b - 1 : b;
        MoveCursors(file, self, moveFrom, count, other, -moveFrom);
        n.MoveTailTo(moveFrom, m);
        if (took) {
            if (i < b)
                InsertInto(file, node, i, e);
            else
                InsertInto(file, added, i - b, e);
        }
        const KeyView s = LeafSeparator(in.handle.compare, EntryKey(n, n.Count() - 1), EntryKey(m, 0));
        sep = Keep(scratch, s.key, s.length, s.tag, other);
    } else if (b == i) {
        n.MoveTailTo(i, m);
        m.SetLeftmost(e.child);
        sep = Keep(scratch, e.key, e.length, e.tag, other);
    } else if (b < i) {
        sep = Keep(scratch, n.Key(b), n.KeyLength(b), n.Tag(b), other);
        n.MoveTailTo(b + 1, m);
        m.SetLeftmost(n.Child(b));
        n.RemoveEntry(b);
        InsertInto(file, added, i - b - 1, e);
    } else {
        sep = Keep(scratch, n.Key(b - 1), n.KeyLength(b - 1), n.Tag(b - 1), other);
        n.MoveTailTo(b, m);
        m.SetLeftmost(n.Child(b - 1));
        n.RemoveEntry(b - 1);
        InsertInto(file, node, i, e);
    }
    node.Touch();

    // The new node joins the level's chain right after node.
    const uint32_t next = n.Next();
    m.SetPrev(self);
    m.SetNext(next);
    n.SetNext(other);
    node.Release();
    if (next != 0) {
        NodeRef after;
        if (!after.Pin(file, next, leaf ? Expect::kLeaf : Expect::kBranch)) return false;
        after->SetPrev(other);
        after.Touch();
    } else if (leaf) {
        file.header.lastLeaf = other;
        file.headerModified = true;
    }
    return true;
}

// Places e at index i of node (pinned) at the path's bottom level and carries
// separators up as far as splits go. kNotYet when e itself still has to be
// placed (after a split that could not take it).
Placed Place(Insertion& in, NodeRef& node, int i, NewEntry e) {
    Header& h = in.file.header;
    int level = h.height - 1;
    bool placed = true;
    int which = 0;
    for (;;) {
        if (node->Fits(e.length)) {
            InsertInto(in.file, node, i, e);
            break;
        }
        Placed r = ShiftRight(in, level, node, i, e);
        if (r == Placed::kNotYet) r = ShiftLeft(in, level, node, i, e);
        if (r == Placed::kFailed) return r;
        if (r == Placed::kDone) break;

        const uint32_t self = node.number();
        NewEntry sep{};
        bool took = false;
        if (!Split(in, node, i, e, lib.scratch[which], sep, took)) return Placed::kFailed;
        placed = placed && took;
        which ^= 1;
        if (level == 0) {
            // Only a key longer than this library ever stores can fail to
            // fit an empty branch.
            if (kNodeHeaderSize + kBranchEntrySize + sep.length > h.nodeSize)
                return Fail(kKfErrDamaged, kLocInsertNoSplit), Placed::kFailed;
            NodeRef root;
            if (!NewNode(in.file, root)) return Placed::kFailed;
            root->InitBranch(self);
            root->InsertEntry(0, sep.key, uint16_t(sep.length), sep.tag, sep.child);
            root.Touch();
            h.root = root.number();
            ++h.height;
            in.file.headerModified = true;
            break;
        }
        e = sep;
        i = in.path[size_t(level)].slot + 1;
        --level;
        if (!node.Pin(in.file, in.path[size_t(level)].node, Expect::kBranch)) return Placed::kFailed;
    }
    return placed ? Placed::kDone : Placed::kNotYet;
}

// With duplicates refused, a key equal to either neighbour of the insertion
// point is refused; at a leaf's edge that neighbour lies in the next or
// previous leaf.
bool EqualToNeighbour(Handle& handle, NodeRef& leaf, int i, const SearchKey& key) {
    const Node& n = leaf.node();
    auto equal = [&](const Node& node, int k) {
        return CompareKey(handle.compare, key.bytes, key.length, node.Key(k), node.KeyLength(k)) == 0;
    };
    if (i < n.Count() && equal(n, i)) return true;
    if (i > 0 && equal(n, i - 1)) return true;
    NodeRef other;
    if (i == n.Count() && n.Next() != 0) {
        if (!other.Pin(*handle.file, n.Next(), Expect::kLeaf)) return false;
        return other->Count() > 0 && equal(other.node(), 0);
    }
    if (i == 0 && n.Prev() != 0) {
        if (!other.Pin(*handle.file, n.Prev(), Expect::kLeaf)) return false;
        return other->Count() > 0 && equal(other.node(), other->Count() - 1);
    }
    return false;
}

}  // namespace

}  // namespace kf

using namespace kf;

int KfInsert(KfHandle id, const void* key, int length, uint32_t tag, int allowDuplicates) {
    if (!Enter(kKfOpInsert)) return -1;
    Handle* handle = FindWritableHandle(id);
    if (!handle) return -1;
    SharedFile& file = *handle->file;
    Header& h = file.header;
    // A key must fit a branch entry of the file's nodes, or no split could
    // ever place its separator.
    const int limit = std::min(lib.maxNodeSize, int(h.nodeSize)) - kKeyOverhead;
    if (length < 0 || length > limit || (length > 0 && !key))
        return Fail(kKfErrKeyLength, kLocInsertKeyLength), -1;
    const SearchKey search{static_cast<const uint8_t*>(key), length, tag};
    const NewEntry entry{search.bytes, length, tag, 0};

    if (h.root == 0) {
        NodeRef leaf;
        if (!NewNode(file, leaf)) return -1;
        leaf->InitLeaf();
        h.root = h.firstLeaf = h.lastLeaf = leaf.number();
        h.height = 1;
        file.headerModified = true;
        InsertInto(file, leaf, 0, entry);
        return 1;
    }

    static std::vector<PathStep> path;
    Insertion in{*handle, file, path};
    // Each restart follows a split that made room next to the insertion
    // point; two suffice, the bound only guards against a damaged tree.
    for (int attempt = 0; attempt < 4; ++attempt) {
        NodeRef leaf;
        if (!Descend(*handle, search, path, leaf)) return -1;
        const int i = LowerBound(handle->compare, leaf.node(), search);
        if (i < leaf->Count() && CompareEntry(handle->compare, search, leaf.node(), i) == 0)
            return Fail(kKfErrDuplicateEntry, kLocInsertDuplicate), -1;
        if (!allowDuplicates && attempt == 0) {
            bool equal = EqualToNeighbour(*handle, leaf, i, search);
            if (kfError != kKfErrNone) return -1;
            if (equal) return Fail(kKfErrDuplicateKey, kLocInsertDuplicateKey), -1;
        }
        Placed r = Place(in, leaf, i, entry);
        if (r == Placed::kDone) return 1;
        if (r == Placed::kFailed) return -1;
    }
    return Fail(kKfErrDamaged, kLocInsertRestarts), -1;
}
