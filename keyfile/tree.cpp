#include "keyfile/tree.h"

#include "keyfile/status.h"

namespace kf {

int LowerBound(KfCompare compare, const Node& node, const SearchKey& key) {
    int lo = 0;
    int hi = node.Count();
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (CompareEntry(compare, key, node, mid) > 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

int ChildSlot(KfCompare compare, const Node& node, const SearchKey& key) {
    // The last entry not greater than key; before the first, the leftmost child.
    int lo = 0;
    int hi = node.Count();
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (CompareEntry(compare, key, node, mid) >= 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo - 1;
}

bool Descend(Handle& handle, const SearchKey& key, std::vector<PathStep>& path, NodeRef& leaf) {
    SharedFile& file = *handle.file;
    const int height = file.header.height;
    path.resize(size_t(height));
    uint32_t node = file.header.root;
    int slot = -1;
    for (int depth = 0; depth < height; ++depth) {
        const bool bottom = depth == height - 1;
        if (!leaf.Pin(file, node, bottom ? Expect::kLeaf : Expect::kBranch)) return false;
        path[size_t(depth)] = {node, slot};
        if (bottom) return true;
        slot = ChildSlot(handle.compare, leaf.node(), key);
        node = leaf->Child(slot);
    }
    return false;  // height 0: the caller handles the empty tree
}

bool NewNode(SharedFile& file, NodeRef& out) {
    Header& h = file.header;
    if (h.freeHead != 0) {
        if (!out.Pin(file, h.freeHead, Expect::kFree)) return Fail(kKfErrDamaged, kLocFreeListEntry);
        h.freeHead = out->Prev();
        file.headerModified = true;
        return true;
    }
    if (h.highest == 0xFFFFFFFFu) return Fail(kKfErrNewNode, kLocNewNodeFull);
    ++h.highest;
    file.headerModified = true;
    if (!out.PinAppended(file, h.highest)) {
        --h.highest;
        return false;
    }
    return true;
}

bool FreeNode(SharedFile& file, NodeRef& node) {
    Header& h = file.header;
    const bool leaf = node->IsLeaf();
    const Expect kind = leaf ? Expect::kLeaf : Expect::kBranch;
    const uint32_t prev = node->Prev();
    const uint32_t next = node->Next();
    if (prev != 0) {
        NodeRef p;
        if (!p.Pin(file, prev, kind)) return false;
        p->SetNext(next);
        p.Touch();
    } else if (leaf) {
        h.firstLeaf = next;
    }
    if (next != 0) {
        NodeRef n;
        if (!n.Pin(file, next, kind)) return false;
        n->SetPrev(prev);
        n.Touch();
    } else if (leaf) {
        h.lastLeaf = prev;
    }
    node->InitFree(h.freeHead);
    node.Touch();
    h.freeHead = node.number();
    file.headerModified = true;
    return true;
}

void MoveCursors(SharedFile& file, uint32_t node, int from, int to, uint32_t newNode, int delta) {
    for (auto& h : lib.handles) {
        if (h->file != &file || h->state != kKfPositioned || h->node != node) continue;
        if (h->index < from || h->index >= to) continue;
        h->node = newNode;
        h->index += delta;
    }
}

void CursorsRemoved(SharedFile& file, uint32_t node, int index, int count, uint32_t nextLeaf) {
    for (auto& h : lib.handles) {
        if (h->file != &file || h->state != kKfPositioned || h->node != node) continue;
        if (h->index > index) {
            --h->index;
        } else if (h->index == index && index >= count) {
            if (nextLeaf != 0) {
                h->node = nextLeaf;
                h->index = 0;
            } else {
                h->state = kKfBeyondEnd;
            }
        }
    }
}

}  // namespace kf
