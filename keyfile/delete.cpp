// KfDelete: remove the entry from its leaf, then climb: a node left empty is
// freed and its pointer removed from the parent; a node that fell below
// (3 * node size - 48) / 4 used bytes is merged with a neighbour under the
// same parent when the two fit below that bound together; a root branch left
// with only its leftmost child hands the root to that child.
//
// Neighbour rule: the previous node is tried first (the node's entries move
// to its end), then the next node (its entries move to the node's end). The
// right node of the pair is always the one freed.
#include "keyfile/keyfile.h"
#include "keyfile/status.h"
#include "keyfile/tree.h"

namespace kf {

namespace {

int MergeBound(int nodeSize) {
    return (3 * nodeSize - 48) / 4;
}

// Removes the parent's pointer to the child in slot. A branch that loses its
// last child is left with count 0xFFFF, to be freed by the caller.
void RemoveChild(Node& parent, int slot) {
    if (slot >= 0) {
        parent.RemoveEntry(slot);
    } else if (parent.Count() == 0) {
        parent.SetCount(kNoChild);
    } else {
        parent.SetLeftmost(parent.Child(0));
        parent.RemoveEntry(0);
    }
}

// Merges right into left (both pinned, neighbours under parent, whose entry
// sep points to right), frees right and removes that entry. Releases left
// and right.
bool Merge(SharedFile& file, NodeRef& parent, int sep, NodeRef& left, NodeRef& right) {
    Node& l = left.node();
    Node& r = right.node();
    Node& p = parent.node();
    const bool leaf = l.IsLeaf();
    if (leaf) {
        MoveCursors(file, right.number(), 0, 0x10000, left.number(), l.Count());
    } else {
        l.InsertEntry(l.Count(), p.Key(sep), p.KeyLength(sep), p.Tag(sep), r.Leftmost());
    }
    r.MoveHeadTo(r.Count(), l);
    left.Touch();
    right.Touch();
    left.Release();
    // right is empty now; freeing it unlinks it between left and its next.
    if (!FreeNode(file, right)) return false;
    right.Release();
    p.RemoveEntry(sep);
    parent.Touch();
    return true;
}

// Restores the tree above a leaf that just lost an entry. node is pinned at
// path level `level`.
bool Rebalance(SharedFile& file, std::vector<PathStep>& path, int level, NodeRef& node) {
    Header& h = file.header;
    const int bound = MergeBound(h.nodeSize);
    for (;;) {
        Node& n = node.node();
        const bool leaf = n.IsLeaf();
        if (level == 0) {
            if (leaf && n.Count() == 0) {
                if (!FreeNode(file, node)) return false;
                h.root = h.firstLeaf = h.lastLeaf = 0;
                h.height = 0;
                file.headerModified = true;
                return true;
            }
            // A root branch with only its leftmost child hands the root down;
            // that child may itself be a branch with only its leftmost child.
            while (!node->IsLeaf() && node->Count() == 0) {
                const uint32_t child = node->Leftmost();
                if (!FreeNode(file, node)) return false;
                h.root = child;
                --h.height;
                file.headerModified = true;
                if (h.height == 0 ||
                    !node.Pin(file, child, h.height == 1 ? Expect::kLeaf : Expect::kBranch))
                    return Fail(kKfErrDamaged, kLocDeleteRoot);
            }
            if (!node->IsLeaf() && node->Count() == kNoChild) return Fail(kKfErrDamaged, kLocDeleteRoot);
            return true;
        }

        const int slot = path[size_t(level)].slot;
        NodeRef parent;
        const bool empty = leaf ? n.Count() == 0 : n.Count() == kNoChild;
        if (empty) {
            if (!FreeNode(file, node)) return false;
            node.Release();
            if (!parent.Pin(file, path[size_t(level - 1)].node, Expect::kBranch)) return false;
            RemoveChild(parent.node(), slot);
            parent.Touch();
        } else {
            if (n.Used() >= bound) return true;
            if (!parent.Pin(file, path[size_t(level - 1)].node, Expect::kBranch)) return false;
            Node& p = parent.node();
            const Expect kind = leaf ? Expect::kLeaf : Expect::kBranch;
            // Bytes of the merged node: both nodes under one header, and in
            // a branch the separator that comes down between them.
            auto merged = [&](const Node& a, const Node& b, int sep) {
                int bytes = a.Used() + b.Used() - kNodeHeaderSize;
                if (!leaf) bytes += kBranchEntrySize + p.KeyLength(sep);
                return bytes;
            };
            bool done = false;
            if (slot >= 0) {
                const uint32_t leftNumber = p.Child(slot - 1);
                if (leftNumber == node.number() || n.Prev() != leftNumber)
                    return Fail(kKfErrDamaged, kLocDeleteSibling);
                NodeRef left;
                if (!left.Pin(file, leftNumber, kind)) return false;
                if (merged(left.node(), n, slot) < bound) {
                    if (!Merge(file, parent, slot, left, node)) return false;
                    done = true;
                }
            }
            if (!done && slot + 1 < p.Count()) {
                const uint32_t rightNumber = p.Child(slot + 1);
                if (rightNumber == node.number() || n.Next() != rightNumber)
                    return Fail(kKfErrDamaged, kLocDeleteSibling);
                NodeRef right;
                if (!right.Pin(file, rightNumber, kind)) return false;
                if (merged(n, right.node(), slot + 1) < bound) {
                    if (!Merge(file, parent, slot + 1, node, right)) return false;
                    done = true;
                }
            }
            if (!done) return true;
        }
        // The parent lost an entry; it is the node to look at next.
        node.TakeFrom(parent);
        --level;
    }
}

}  // namespace

}  // namespace kf

using namespace kf;

int KfDelete(KfHandle id, const void* key, int length, uint32_t tag) {
    if (!Enter(kKfOpDelete)) return -1;
    Handle* handle = FindWritableHandle(id);
    if (!handle) return -1;
    if (length < 0 || (length > 0 && !key)) return Fail(kKfErrKeyLength, kLocDeleteKeyLength), -1;
    SharedFile& file = *handle->file;
    if (file.header.root == 0) return Fail(kKfErrEmptyTree, kLocDeleteEmpty), -1;

    const SearchKey search{static_cast<const uint8_t*>(key), length, tag};
    static std::vector<PathStep> path;
    NodeRef leaf;
    if (!Descend(*handle, search, path, leaf)) return -1;
    const int i = LowerBound(handle->compare, leaf.node(), search);
    if (i >= leaf->Count() || CompareEntry(handle->compare, search, leaf.node(), i) != 0)
        return Fail(kKfErrNoEntry, kLocDeleteMissing), -1;

    leaf->RemoveEntry(i);
    leaf.Touch();
    CursorsRemoved(file, leaf.number(), i, leaf->Count(), leaf->Next());
    return Rebalance(file, path, file.header.height - 1, leaf) ? 1 : -1;
}
