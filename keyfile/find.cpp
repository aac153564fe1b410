// KfFind and the cursor: positioning, moving along the leaf chain, reading
// the key under it.
#include <algorithm>
#include <cstring>

#include "keyfile/keyfile.h"
#include "keyfile/status.h"
#include "keyfile/tree.h"

namespace kf {

namespace {

void Position(Handle& h, uint32_t node, int index) {
    h.state = kKfPositioned;
    h.node = node;
    h.index = index;
}

// The first entry of a leaf reached by a link; a leaf in the tree is never
// empty.
bool PinFirstOfLeaf(SharedFile& file, uint32_t number, NodeRef& leaf) {
    if (!leaf.Pin(file, number, Expect::kLeaf)) return false;
    if (leaf->Count() == 0) return Fail(kKfErrDamaged, kLocEmptyLeaf);
    return true;
}

// Pins the leaf under a positioned cursor.
bool PinCursor(Handle& h, NodeRef& leaf) {
    if (!leaf.Pin(*h.file, h.node, Expect::kLeaf)) return false;
    if (h.index < 0 || h.index >= leaf->Count()) return Fail(kKfErrCursor, kLocCursorIndex);
    return true;
}

}  // namespace

}  // namespace kf

using namespace kf;

int KfFind(KfHandle id, const void* key, int length, uint32_t* tag) {
    if (!Enter(kKfOpFind)) return -1;
    Handle* h = FindHandle(id);
    if (!h) return -1;
    h->state = kKfNotPositioned;
    if (length < 0 || (length > 0 && !key)) return Fail(kKfErrKeyLength, kLocFindKeyLength), -1;
    SharedFile& file = *h->file;
    if (file.header.root == 0) {
        h->state = kKfBeyondEnd;
        return kKfBeyondEnd;
    }
    // Tag 0 sorts first, so this finds the first entry of the key.
    const SearchKey search{static_cast<const uint8_t*>(key), length, 0};
    static std::vector<PathStep> path;
    NodeRef leaf;
    if (!Descend(*h, search, path, leaf)) return -1;
    int i = LowerBound(h->compare, leaf.node(), search);
    if (i == leaf->Count()) {
        const uint32_t next = leaf->Next();
        if (next == 0) {
            h->state = kKfBeyondEnd;
            return kKfBeyondEnd;
        }
        if (!PinFirstOfLeaf(file, next, leaf)) return -1;
        i = 0;
    }
    Position(*h, leaf.number(), i);
    if (tag) *tag = leaf->Tag(i);
    const int c = CompareKey(h->compare, key, length, leaf->Key(i), leaf->KeyLength(i));
    return c == 0 ? 2 : 3;
}

int KfFirst(KfHandle id, uint32_t* tag) {
    if (!Enter(kKfOpFirst)) return -1;
    Handle* h = FindHandle(id);
    if (!h) return -1;
    h->state = kKfNotPositioned;
    SharedFile& file = *h->file;
    if (file.header.root == 0) {
        h->state = kKfBeyondEnd;
        return kKfBeyondEnd;
    }
    NodeRef leaf;
    if (!PinFirstOfLeaf(file, file.header.firstLeaf, leaf)) return -1;
    Position(*h, leaf.number(), 0);
    if (tag) *tag = leaf->Tag(0);
    return 1;
}

int KfNext(KfHandle id, uint32_t* tag) {
    if (!Enter(kKfOpNext)) return -1;
    Handle* h = FindHandle(id);
    if (!h) return -1;
    if (h->state != kKfPositioned) return h->state;
    NodeRef leaf;
    if (!PinCursor(*h, leaf)) return -1;
    // Rule C1: every step goes to a strictly greater entry, or the file is
    // damaged; a chain that loops cannot then be followed for ever.
    const Node& a = leaf.node();
    const SearchKey here{a.Key(h->index), a.KeyLength(h->index), a.Tag(h->index)};
    if (h->index + 1 < a.Count()) {
        if (CompareEntry(h->compare, here, a, h->index + 1) >= 0)
            return Fail(kKfErrDamaged, kLocScanOrder), -1;
        ++h->index;
        if (tag) *tag = a.Tag(h->index);
        return 1;
    }
    const uint32_t next = a.Next();
    if (next == 0) {
        h->state = kKfBeyondEnd;
        return kKfBeyondEnd;
    }
    NodeRef after;
    if (!PinFirstOfLeaf(*h->file, next, after)) return -1;
    if (CompareEntry(h->compare, here, after.node(), 0) >= 0)
        return Fail(kKfErrDamaged, kLocChainOrder), -1;
    Position(*h, next, 0);
    if (tag) *tag = after->Tag(0);
    return 1;
}

int KfKeyLength(KfHandle id, int* length) {
    if (!Enter(kKfOpKeyLength)) return -1;
    Handle* h = FindHandle(id);
    if (!h) return -1;
    if (h->state != kKfPositioned) return h->state;
    NodeRef leaf;
    if (!PinCursor(*h, leaf)) return -1;
    if (length) *length = leaf->KeyLength(h->index);
    return 1;
}

int KfReadKey(KfHandle id, void* buffer, int bufferSize) {
    if (!Enter(kKfOpReadKey)) return -1;
    Handle* h = FindHandle(id);
    if (!h) return -1;
    if (h->state != kKfPositioned) return h->state;
    if (bufferSize < 0 || (bufferSize > 0 && !buffer)) return Fail(kKfErrKeyLength, kLocBufferSize), -1;
    NodeRef leaf;
    if (!PinCursor(*h, leaf)) return -1;
    const int length = leaf->KeyLength(h->index);
    const int copied = std::min(length, bufferSize);
    if (copied > 0) std::memcpy(buffer, leaf->Key(h->index), size_t(copied));
    if (copied < bufferSize) static_cast<char*>(buffer)[copied] = '\0';
    return 1;
}
