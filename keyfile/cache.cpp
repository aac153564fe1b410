#include "keyfile/cache.h"

#include <algorithm>
#include <new>

#include "keyfile/library.h"
#include "keyfile/status.h"

namespace kf {

size_t NodeMap::SlotOf(uint64_t key) const {
    // Fibonacci hashing spreads consecutive node numbers over the table.
    return size_t((key * 0x9E3779B97F4A7C15ull) >> 20) & (slots_.size() - 1);
}

Buffer* NodeMap::Find(uint64_t key) const {
    if (slots_.empty()) return nullptr;
    for (size_t i = SlotOf(key);; i = (i + 1) & (slots_.size() - 1)) {
        const Slot& s = slots_[i];
        if (s.key == key) return s.buffer;
        if (s.key == 0) return nullptr;
    }
}

bool NodeMap::Reserve(size_t count) {
    size_t want = 16;
    while (want < 2 * count) want *= 2;
    if (want <= slots_.size()) return true;
    std::vector<Slot> old;
    try {
        old.swap(slots_);
        slots_.assign(want, Slot{});
    } catch (const std::bad_alloc&) {
        slots_.swap(old);
        return false;
    }
    used_ = 0;
    for (const Slot& s : old)
        if (s.key != 0) Insert(s.key, s.buffer);
    return true;
}

bool NodeMap::Insert(uint64_t key, Buffer* buffer) {
    if (2 * (used_ + 1) > slots_.size() && !Reserve(used_ + 1)) return false;
    size_t i = SlotOf(key);
    while (slots_[i].key != 0 && slots_[i].key != key) i = (i + 1) & (slots_.size() - 1);
    if (slots_[i].key == 0) ++used_;
    slots_[i] = Slot{key, buffer};
    return true;
}

void NodeMap::Erase(uint64_t key) {
    if (slots_.empty()) return;
    const size_t mask = slots_.size() - 1;
    size_t i = SlotOf(key);
    while (slots_[i].key != key) {
        if (slots_[i].key == 0) return;
        i = (i + 1) & mask;
    }
    // Backward shift: pull later entries of the probe run into the hole so
    // that no lookup stops early at it.
    for (size_t j = (i + 1) & mask; slots_[j].key != 0; j = (j + 1) & mask) {
        const size_t home = SlotOf(slots_[j].key);
        const bool between = i <= j ? (home > i && home <= j) : (home > i || home <= j);
        if (!between) {
            slots_[i] = slots_[j];
            i = j;
        }
    }
    slots_[i] = Slot{};
    --used_;
}

void NodeMap::Clear() {
    slots_.clear();
    used_ = 0;
}

Cache::Cache() {
    for (Buffer& l : lists_) l.older = l.newer = &l;
}

uint64_t Cache::KeyOf(const SharedFile& file, uint32_t node) {
    return (uint64_t(file.id) << 32) | node;
}

bool Cache::Init(int bufferSize, int count) {
    Release();
    bufferSize_ = bufferSize;
    try {
        gather_.assign(kGatherBytes, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (Add(count) != count) {
        Release();
        return false;
    }
    return true;
}

void Cache::Release() {
    map_.Clear();
    buffers_.clear();
    for (Buffer& l : lists_) l.older = l.newer = &l;
    listCount_[0] = listCount_[1] = 0;
    bufferSize_ = 0;
    std::vector<uint8_t>().swap(gather_);
}

int Cache::Add(int n) {
    int added = 0;
    try {
        if (!map_.Reserve(buffers_.size() + size_t(n > 0 ? n : 0))) return 0;
        for (; added < n; ++added) {
            auto buffer = std::make_unique<Buffer>();
            buffer->bytes = std::make_unique<uint8_t[]>(size_t(bufferSize_));
            buffers_.push_back(std::move(buffer));
            Buffer* b = buffers_.back().get();
            b->newer = b->older = nullptr;
            MakeOldest(b);
        }
    } catch (const std::bad_alloc&) {
    }
    return added;
}

int Cache::Remove(int n, int minimum) {
    int removed = 0;
    for (int list : {kLeaves, kBranches}) {
        Buffer* b = lists_[list].newer;
        while (removed < n && Count() > minimum && b != &lists_[list]) {
            Buffer* next = b->newer;
            if (b->pins == 0 && (!b->modified || WriteBack(b))) {
                Forget(b);
                Detach(b);
                auto it = std::find_if(buffers_.begin(), buffers_.end(),
                                       [b](const std::unique_ptr<Buffer>& p) { return p.get() == b; });
                std::iter_swap(it, buffers_.end() - 1);
                buffers_.pop_back();
                ++removed;
            }
            b = next;
        }
    }
    return removed;
}

void Cache::Detach(Buffer* b) {
    if (!b->older) return;
    b->older->newer = b->newer;
    b->newer->older = b->older;
    b->older = b->newer = nullptr;
    --listCount_[b->list];
}

void Cache::MakeNewest(Buffer* b) {
    const uint32_t first = Get32(b->bytes.get());
    const int list = b->file && first != kLeafMark && first != 0 ? kBranches : kLeaves;
    Buffer& l = lists_[list];
    if (l.older == b) return;  // a cursor stepping through one leaf
    Detach(b);
    b->list = list;
    b->older = l.older;
    b->newer = &l;
    l.older->newer = b;
    l.older = b;
    ++listCount_[b->list];
}

void Cache::MakeOldest(Buffer* b) {
    Detach(b);
    b->list = kLeaves;
    Buffer& l = lists_[kLeaves];
    b->newer = l.newer;
    b->older = &l;
    l.newer->older = b;
    l.newer = b;
    ++listCount_[kLeaves];
}

void Cache::Forget(Buffer* b) {
    if (b->file) map_.Erase(KeyOf(*b->file, b->node));
    b->file = nullptr;
    b->node = 0;
    b->modified = false;
}

bool Cache::WriteBack(Buffer* b) {
    SharedFile& file = *b->file;
    const uint32_t size = file.header.nodeSize;
    const uint32_t most = std::max<uint32_t>(1, uint32_t(gather_.size() / size));
    auto writable = [&](uint32_t node) {
        const Buffer* n = map_.Find(KeyOf(file, node));
        return n && n->modified && n->pins == 0;
    };
    // The run of modified nodes numbered next to b (node 0 is never cached).
    uint32_t first = b->node;
    uint32_t last = b->node;
    while (last - first + 1 < most && last < 0xFFFFFFFFu && writable(last + 1)) ++last;
    while (last - first + 1 < most && writable(first - 1)) --first;
    const uint64_t at = uint64_t(first) * size;
    if (first == last) {
        if (!WriteAt(file, at, b->bytes.get(), size)) return Fail(kKfErrWrite, kLocCacheWrite);
        b->modified = false;
        return true;
    }
    for (uint32_t n = first; n <= last; ++n)
        std::copy_n(map_.Find(KeyOf(file, n))->bytes.get(), size, &gather_[(n - first) * size]);
    if (!WriteAt(file, at, gather_.data(), (last - first + 1) * size))
        return Fail(kKfErrWrite, kLocCacheWrite);
    for (uint32_t n = first; n <= last; ++n) map_.Find(KeyOf(file, n))->modified = false;
    return true;
}

Buffer* Cache::OldestUnpinned(int list) {
    for (Buffer* b = lists_[list].newer; b != &lists_[list]; b = b->newer)
        if (b->pins == 0) return b;
    return nullptr;
}

Buffer* Cache::Victim() {
    const int first = 4 * listCount_[kBranches] > 3 * Count() ? kBranches : kLeaves;
    Buffer* b = OldestUnpinned(first);
    return b ? b : OldestUnpinned(1 - first);
}

Buffer* Cache::Take(SharedFile& file, uint32_t node) {
    Buffer* b = Victim();
    if (!b) {
        Fail(kKfErrRelease, kLocCacheFull);
        return nullptr;
    }
    if (b->modified && !WriteBack(b)) return nullptr;
    Forget(b);
    if (!map_.Insert(KeyOf(file, node), b)) {
        MakeOldest(b);
        Fail(kKfErrMemory, kLocCacheMemory);
        return nullptr;
    }
    b->file = &file;
    b->node = node;
    return b;
}

namespace {

inline bool KindMatches(const uint8_t* bytes, Expect expect) {
    const uint32_t first = Get32(bytes);
    switch (expect) {
    case Expect::kLeaf: return first == kLeafMark;
    case Expect::kBranch: return first != kLeafMark && first != 0;
    case Expect::kFree: return first == 0;
    }
    return false;
}

}  // namespace

Buffer* Cache::PinCached(SharedFile& file, uint32_t node, Expect expect) {
    const Header& h = file.header;
    if (node == 0 || node > h.highest) {
        Fail(kKfErrDamaged, kLocCacheRange);
        return nullptr;
    }
    Buffer* b = map_.Find(KeyOf(file, node));
    if (!b) return nullptr;
    // Every cached node was validated when read or built by this library;
    // only its kind can differ from what a damaged link expects.
    if (!KindMatches(b->bytes.get(), expect) ||
        (expect == Expect::kFree &&
         ValidateFreeNode(b->bytes.get(), h.highest, node) != NodeFault::kNone)) {
        Fail(kKfErrDamaged, kLocCacheKind);
        return nullptr;
    }
    ++b->pins;
    return b;
}

Buffer* Cache::Pin(SharedFile& file, uint32_t node, Expect expect) {
    if (Buffer* b = PinCached(file, node, expect)) return b;
    if (kfError != kKfErrNone) return nullptr;

    const Header& h = file.header;
    Buffer* b = Take(file, node);
    if (!b) return nullptr;
    uint8_t* bytes = b->bytes.get();
    bool ok = false;
    if (!ReadAt(file, uint64_t(node) * h.nodeSize, bytes, h.nodeSize)) {
        Fail(kKfErrRead, kLocCacheRead);
    } else if (!KindMatches(bytes, expect)) {
        Fail(kKfErrDamaged, kLocCacheKind);
    } else {
        NodeFault fault = expect == Expect::kFree
                              ? ValidateFreeNode(bytes, h.highest, node)
                              : ValidateTreeNode(bytes, h.nodeSize, h.highest, node);
        if (fault == NodeFault::kLayout) Fail(kKfErrRead, kLocCacheLayout);
        if (fault == NodeFault::kLink) Fail(kKfErrDamaged, kLocCacheLink);
        ok = fault == NodeFault::kNone;
    }
    if (!ok) {
        Forget(b);
        MakeOldest(b);
        return nullptr;
    }
    b->pins = 1;
    return b;
}

Buffer* Cache::PinAppended(SharedFile& file, uint32_t node) {
    Buffer* b = map_.Find(KeyOf(file, node));
    if (!b) b = Take(file, node);
    if (!b) return nullptr;
    std::fill_n(b->bytes.get(), file.header.nodeSize, uint8_t(0));
    ++b->pins;
    b->modified = true;
    return b;
}

void Cache::Unpin(Buffer* b, bool modified) {
    if (modified) b->modified = true;
    if (--b->pins == 0) MakeNewest(b);
}

bool Cache::Flush(SharedFile& file) {
    std::vector<Buffer*> dirty;
    for (auto& b : buffers_)
        if (b->file == &file && b->modified) dirty.push_back(b.get());
    std::sort(dirty.begin(), dirty.end(),
              [](const Buffer* a, const Buffer* b) { return a->node < b->node; });
    bool ok = true;
    for (Buffer* b : dirty)
        if (b->modified && !WriteBack(b)) ok = false;  // a run may have taken it already
    return ok;
}

void Cache::Drop(SharedFile& file) {
    for (auto& b : buffers_) {
        if (b->file == &file) {
            Forget(b.get());
            MakeOldest(b.get());
        }
    }
}

bool NodeRef::Pin(SharedFile& file, uint32_t node, Expect expect) {
    Release();
    buffer_ = lib.cache.Pin(file, node, expect);
    if (!buffer_) return false;
    number_ = node;
    node_ = Node(buffer_->bytes.get(), file.header.nodeSize);
    return true;
}

bool NodeRef::PinCached(SharedFile& file, uint32_t node, Expect expect) {
    Release();
    buffer_ = lib.cache.PinCached(file, node, expect);
    if (!buffer_) return false;
    number_ = node;
    node_ = Node(buffer_->bytes.get(), file.header.nodeSize);
    return true;
}

bool NodeRef::PinAppended(SharedFile& file, uint32_t node) {
    Release();
    buffer_ = lib.cache.PinAppended(file, node);
    if (!buffer_) return false;
    number_ = node;
    node_ = Node(buffer_->bytes.get(), file.header.nodeSize);
    return true;
}

void NodeRef::TakeFrom(NodeRef& other) {
    Release();
    buffer_ = other.buffer_;
    number_ = other.number_;
    modified_ = other.modified_;
    node_ = other.node_;
    other.buffer_ = nullptr;
    other.modified_ = false;
    other.number_ = 0;
}

void NodeRef::Release() {
    if (!buffer_) return;
    lib.cache.Unpin(buffer_, modified_);
    buffer_ = nullptr;
    modified_ = false;
    number_ = 0;
}

}  // namespace kf
