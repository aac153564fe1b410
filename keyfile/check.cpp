#include "keyfile/check.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <new>

#include "platform/win32.h"

namespace {

using namespace kf;

constexpr size_t kMaxProblems = 50;

struct Bound {
    const uint8_t* key = nullptr;  // nullptr: unbounded
    int length = 0;
    uint32_t tag = 0;
};

struct Pending {
    uint32_t node;
    int depth;
    Bound low;   // every entry >= low
    Bound high;  // every entry < high
};

class Checker {
public:
    Checker(KfCheckReport& report, KfCompare compare) : r_(report), compare_(compare) {}

    void Run(const char* path);

private:
    void Problem(const char* format, ...);

    bool ReadAll(const char* path);
    uint8_t* NodeBytes(uint32_t n) { return bytes_.data() + size_t(n) * r_.header.nodeSize; }
    int Compare(const uint8_t* a, int alen, uint32_t atag, const uint8_t* b, int blen,
                uint32_t btag) const;
    int CompareToBound(const Node& n, int i, const Bound& b) const {
        return Compare(n.Key(i), n.KeyLength(i), n.Tag(i), b.key, b.length, b.tag);
    }
    void CheckTree();
    void CheckNode(const Pending& at, std::vector<Pending>& stack);
    void CheckLevels();
    void CheckFreeList();

    KfCheckReport& r_;
    KfCompare compare_;
    std::vector<uint8_t> bytes_;
    uint32_t available_ = 0;          // whole nodes present in the file, node 0 included
    std::vector<uint8_t> seen_;       // per node: 0 unseen, 1 in the tree, 2 free
    std::vector<std::vector<uint32_t>> levels_;  // tree nodes per depth, left to right
};

void Checker::Problem(const char* format, ...) {
    if (r_.problems.size() >= kMaxProblems) return;
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    r_.problems.emplace_back(text);
}

bool Checker::ReadAll(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Problem("cannot open the file");
        return false;
    }
    // The first read asks for one byte more than the size the file reports,
    // so that a small file costs no more than its size and one that grows
    // meanwhile is still read whole.
    constexpr DWORD kChunk = 1 << 20;
    LARGE_INTEGER size{};
    DWORD chunk = kChunk;
    if (GetFileSizeEx(file, &size) && size.QuadPart < kChunk) chunk = DWORD(size.QuadPart) + 1;
    bool ok = true;
    for (;; chunk = kChunk) {
        size_t have = bytes_.size();
        bytes_.resize(have + chunk);
        DWORD got = 0;
        if (!ReadFile(file, bytes_.data() + have, chunk, &got, nullptr)) {
            Problem("read error after %llu bytes", (unsigned long long)have);
            ok = false;
            got = 0;
        }
        bytes_.resize(have + got);
        if (got < chunk) break;  // the end of the file
    }
    CloseHandle(file);
    return ok;
}

int Checker::Compare(const uint8_t* a, int alen, uint32_t atag, const uint8_t* b, int blen,
                     uint32_t btag) const {
    int c = compare_ ? compare_(a, alen, b, blen) : DefaultCompare(a, alen, b, blen);
    if (c != 0) return c;
    return atag < btag ? -1 : (atag > btag ? 1 : 0);
}

void Checker::Run(const char* path) {
    if (!ReadAll(path)) return;
    if (bytes_.size() < size_t(kHeaderSize)) {
        Problem("file of %zu bytes is shorter than the header", bytes_.size());
        return;
    }
    r_.headerRead = DecodeHeader(bytes_.data(), r_.header);
    if (!r_.headerRead) {
        Problem("header check word %04x, computed %04x", Get16(bytes_.data() + 24),
                HeaderCheckWord(bytes_.data()));
        return;
    }
    const Header& h = r_.header;
    switch (CheckHeaderFields(h)) {
    case HeaderFault::kNodeSize:
        Problem("node size %u below %d", h.nodeSize, kMinNodeSize);
        return;
    case HeaderFault::kLink:
        Problem("header fields inconsistent (root %u, highest %u, first %u, last %u, free %u, "
                "height %u)",
                h.root, h.highest, h.firstLeaf, h.lastLeaf, h.freeHead, h.height);
        return;
    case HeaderFault::kNone: break;
    }
    const uint64_t whole = bytes_.size() / h.nodeSize;
    available_ = uint32_t(std::min<uint64_t>(whole, uint64_t(h.highest) + 1));
    if (whole < uint64_t(h.highest) + 1)
        Problem("file holds %llu nodes, the header's highest node is %u", (unsigned long long)whole,
                h.highest);
    try {
        seen_.assign(available_, 0);
        CheckTree();
        CheckLevels();
        CheckFreeList();
    } catch (const std::bad_alloc&) {
        Problem("out of memory");
    }
    uint32_t leaked = 0;
    for (uint32_t n = 1; n < available_; ++n) {
        if (seen_[n] != 0) continue;
        if (leaked++ < 5) Problem("node %u is neither in the tree nor free", n);
    }
    if (leaked > 5) Problem("%u nodes in all are neither in the tree nor free", leaked);
}

void Checker::CheckTree() {
    const Header& h = r_.header;
    if (h.root == 0) return;
    levels_.assign(h.height, {});
    std::vector<Pending> stack;
    stack.push_back(Pending{h.root, 0, {}, {}});
    while (!stack.empty()) {
        Pending at = stack.back();
        stack.pop_back();
        CheckNode(at, stack);
    }
}

void Checker::CheckNode(const Pending& at, std::vector<Pending>& stack) {
    const Header& h = r_.header;
    const uint32_t n = at.node;
    if (n == 0 || n >= available_) {
        Problem("link to node %u outside the file (depth %d)", n, at.depth);
        return;
    }
    if (seen_[n] != 0) {
        Problem("node %u reached twice", n);
        return;
    }
    seen_[n] = 1;
    uint8_t* bytes = NodeBytes(n);
    switch (ValidateTreeNode(bytes, h.nodeSize, h.highest, n)) {
    case NodeFault::kLayout:
        Problem("node %u: entry count, offsets or key areas do not fit the node", n);
        return;
    case NodeFault::kLink:
        Problem("node %u: not a tree node, or a link out of range or to itself", n);
        return;
    case NodeFault::kNone: break;
    }
    Node node(bytes, h.nodeSize);
    const bool leaf = node.IsLeaf();
    const bool bottom = at.depth == h.height - 1;
    if (at.depth >= h.height) {
        Problem("node %u below the header's height %u", n, h.height);
        return;
    }
    if (leaf != bottom) {
        Problem("node %u: %s at depth %d of %u", n, leaf ? "leaf" : "branch", at.depth + 1,
                h.height);
        return;
    }
    levels_[size_t(at.depth)].push_back(n);
    const int count = node.Count();
    if (leaf) {
        ++r_.leaves;
        r_.entries += uint64_t(count);
        if (count == 0) Problem("leaf %u is empty", n);
    } else {
        ++r_.branches;
        if (count == 0 && n == h.root) Problem("root branch %u has only its leftmost child", n);
    }
    for (int i = 0; i < count; ++i) {
        // Its separator could never be placed in a branch.
        if (node.KeyLength(i) > h.nodeSize - kKeyOverhead)
            Problem("node %u: key %d of %u bytes, longer than the node size allows", n, i,
                    unsigned(node.KeyLength(i)));
        if (i > 0 && Compare(node.Key(i - 1), node.KeyLength(i - 1), node.Tag(i - 1), node.Key(i),
                             node.KeyLength(i), node.Tag(i)) >= 0)
            Problem("node %u: entry %d is not above entry %d", n, i, i - 1);
        if (at.low.key && CompareToBound(node, i, at.low) < 0)
            Problem("node %u: entry %d below its separator", n, i);
        if (at.high.key && CompareToBound(node, i, at.high) >= 0)
            Problem("node %u: entry %d not below the next separator", n, i);
    }
    if (leaf) return;
    // Children go on the stack right to left so that each level fills in
    // left-to-right order.
    for (int i = count - 1; i >= -1; --i) {
        Pending child{node.Child(i), at.depth + 1, at.low, at.high};
        if (i >= 0) child.low = Bound{node.Key(i), node.KeyLength(i), node.Tag(i)};
        if (i + 1 < count) child.high = Bound{node.Key(i + 1), node.KeyLength(i + 1), node.Tag(i + 1)};
        stack.push_back(child);
    }
}

void Checker::CheckLevels() {
    const Header& h = r_.header;
    for (size_t d = 0; d < levels_.size(); ++d) {
        const std::vector<uint32_t>& level = levels_[d];
        for (size_t k = 0; k < level.size(); ++k) {
            Node node(NodeBytes(level[k]), h.nodeSize);
            const uint32_t prev = k > 0 ? level[k - 1] : 0;
            const uint32_t next = k + 1 < level.size() ? level[k + 1] : 0;
            if (node.Prev() != prev)
                Problem("node %u: previous link %u, the level has %u", level[k], node.Prev(), prev);
            if (node.Next() != next)
                Problem("node %u: next link %u, the level has %u", level[k], node.Next(), next);
        }
    }
    if (levels_.empty()) return;
    const std::vector<uint32_t>& leaves = levels_.back();
    if (leaves.empty()) return;
    if (h.firstLeaf != leaves.front())
        Problem("header's first leaf %u, the tree's is %u", h.firstLeaf, leaves.front());
    if (h.lastLeaf != leaves.back())
        Problem("header's last leaf %u, the tree's is %u", h.lastLeaf, leaves.back());
    for (size_t k = 1; k < leaves.size(); ++k) {
        Node a(NodeBytes(leaves[k - 1]), h.nodeSize);
        Node b(NodeBytes(leaves[k]), h.nodeSize);
        if (a.Count() == 0 || b.Count() == 0) continue;
        const int last = a.Count() - 1;
        if (Compare(a.Key(last), a.KeyLength(last), a.Tag(last), b.Key(0), b.KeyLength(0),
                    b.Tag(0)) >= 0)
            Problem("leaf %u does not start above leaf %u", leaves[k], leaves[k - 1]);
    }
}

void Checker::CheckFreeList() {
    const Header& h = r_.header;
    for (uint32_t n = h.freeHead; n != 0;) {
        if (n >= available_) {
            Problem("free list links to node %u outside the file", n);
            return;
        }
        if (seen_[n] == 1) {
            Problem("free list links to node %u of the tree", n);
            return;
        }
        if (seen_[n] == 2) {
            Problem("free list loops at node %u", n);
            return;
        }
        seen_[n] = 2;
        ++r_.freeNodes;
        const uint8_t* bytes = NodeBytes(n);
        if (Get32(bytes) != 0) Problem("free node %u: first field not 0", n);
        n = Get32(bytes + 4);
    }
}

}  // namespace

KfCheckReport KfCheckFile(const char* path, KfCompare compare) {
    KfCheckReport report;
    Checker checker(report, compare);
    checker.Run(path);
    report.sound = report.problems.empty();
    return report;
}
