// Damaged and hostile files: every kind of damage makes the operations fail
// with its error code, promptly, and the structure checker reports it.
#include <cstring>
#include <functional>

#include "keyfile/format.h"
#include "keyfile_fixture.h"

namespace {

constexpr int kNodeSize = 128;

struct Image {
    std::string bytes;

    uint8_t* at(size_t offset) { return reinterpret_cast<uint8_t*>(bytes.data()) + offset; }
    kf::Node node(uint32_t n) { return kf::Node(at(size_t(n) * kNodeSize), kNodeSize); }
    kf::Header header() {
        kf::Header h;
        kf::DecodeHeader(at(0), h);
        return h;
    }
    void setHeader(const kf::Header& h) { kf::EncodeHeader(h, at(0)); }
};

std::string KeyOf(int i) {
    return "page" + std::to_string(i * 7919 % 1000) + ".htm*1-2-0-" + std::to_string(i);
}

// Runs finds, a whole scan, inserts, deletes and a close, and returns the
// first error met (0 when none). A scan longer than the file's entries counts
// as a loop.
uint16_t Exercise(const char* path, int keys) {
    KfHandle h = KfOpen(path, nullptr);
    if (!h) return kfError;
    uint16_t first = 0;
    auto note = [&](int r) {
        if (r == -1 && first == 0) first = kfError;
    };
    for (int i = 0; i < keys; ++i) note(Find(h, KeyOf(i)));
    uint32_t tag = 0;
    int steps = 0;
    int r = KfFirst(h, &tag);
    while (r == 1 && steps++ <= keys + 200) r = KfNext(h, &tag);
    note(r);
    if (steps > keys + 200 && first == 0) first = 0xFFFF;
    for (int i = keys; i < keys + 100; ++i) note(Insert(h, KeyOf(i)));
    for (int i = 0; i < keys + 100; i += 2) {
        int d = Delete(h, KeyOf(i));
        if (kfError != kKfErrNoEntry) note(d);
    }
    note(KfClose(h));
    return first;
}

class DamageTest : public KeyfileTest {
protected:
    void SetUp() override {
        KeyfileTest::SetUp();
        KfHandle h = KfCreate("good.kf", nullptr, kNodeSize);
        ASSERT_NE(h, 0);
        for (int i = 0; i < kKeys; ++i) ASSERT_EQ(Insert(h, KeyOf(i)), 1);
        ASSERT_EQ(KfClose(h), 1);
        good_.bytes = ReadWholeFile("good.kf");
        ASSERT_GE(good_.header().height, 3);
    }

    // Writes a damaged copy and checks both the library and the checker.
    void ExpectDamage(const std::function<void(Image&)>& damage, uint16_t error) {
        Image image = good_;
        damage(image);
        WriteWholeFile("bad.kf", image.bytes);
        EXPECT_FALSE(KfCheckFile("bad.kf").sound);
        EXPECT_EQ(Exercise("bad.kf", kKeys), error);
        // The library is still usable, and nothing of the damaged file stayed
        // open.
        KfHandle h = KfCreate("bad.kf", nullptr, kNodeSize);
        EXPECT_NE(h, 0);
        EXPECT_EQ(Insert(h, "fine"), 1);
        EXPECT_EQ(Find(h, "fine"), 2);
        EXPECT_EQ(KfClose(h), 1);
    }

    static constexpr int kKeys = 300;
    Image good_;
};

TEST_F(DamageTest, TheUndamagedFilePassesTheExercise) {
    EXPECT_EQ(Exercise("good.kf", kKeys), 0);
    EXPECT_EQ(CheckProblems("good.kf"), "");
}

TEST_F(DamageTest, HeaderDamage) {
    ExpectDamage([](Image& f) { f.bytes[24] ^= 0x01; }, kKfErrCheckWord);
    ExpectDamage([](Image& f) { f.bytes.resize(20); }, kKfErrRead);
    ExpectDamage(
        [](Image& f) {
            kf::Header h = f.header();
            h.root = h.highest + 1;
            f.setHeader(h);
        },
        kKfErrDamaged);
    ExpectDamage(
        [](Image& f) {
            kf::Header h = f.header();
            h.nodeSize = 1024;
            f.setHeader(h);
        },
        kKfErrNodeSize);
    ExpectDamage(
        [](Image& f) {
            kf::Header h = f.header();
            h.nodeSize = 30;
            f.setHeader(h);
        },
        kKfErrDamaged);
    // A height that disagrees with the tree puts a leaf or a branch where the
    // other belongs.
    ExpectDamage(
        [](Image& f) {
            kf::Header h = f.header();
            ++h.height;
            f.setHeader(h);
        },
        kKfErrDamaged);
    ExpectDamage(
        [](Image& f) {
            kf::Header h = f.header();
            h.height = 1;
            f.setHeader(h);
        },
        kKfErrDamaged);
    ExpectDamage(
        [](Image& f) {
            kf::Header h = f.header();
            h.height = 0;
            f.setHeader(h);
        },
        kKfErrDamaged);
}

TEST_F(DamageTest, BadChildLinks) {
    const uint32_t root = good_.header().root;
    const uint32_t highest = good_.header().highest;
    struct {
        const char* what;
        uint32_t child;
    } cases[] = {{"outside the file", highest + 1},
                 {"zero", 0},
                 {"its own node", 0xFFFFFFFE},
                 {"back to the root", root}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectDamage(
            [&](Image& f) {
                // Damage the leftmost child of the root's leftmost child.
                uint32_t branch = f.node(root).Leftmost();
                kf::Node n = f.node(branch);
                n.SetLeftmost(c.child == 0xFFFFFFFE ? branch : c.child);
            },
            kKfErrDamaged);
    }
    ExpectDamage(
        [&](Image& f) {
            // A free node inside the tree: the root's last child.
            kf::Node r = f.node(root);
            f.node(r.Child(r.Count() - 1)).InitFree(0);
        },
        kKfErrDamaged);
}

TEST_F(DamageTest, LeafChainThatLoops) {
    ExpectDamage(
        [](Image& f) {
            kf::Header h = f.header();
            f.node(h.lastLeaf).SetNext(h.firstLeaf);
        },
        kKfErrDamaged);
    // Back to a leaf in the middle whose first key now sorts above every
    // other: each leaf still begins above where the one before it ended, but
    // the keys fall within that leaf, and the chain would go round for ever.
    ExpectDamage(
        [](Image& f) {
            kf::Header h = f.header();
            uint32_t middle = h.firstLeaf;
            for (int i = 0; i < 10; ++i) middle = f.node(middle).Next();
            kf::Node n = f.node(middle);
            ASSERT_GE(n.Count(), 2);
            std::memset(n.bytes() + n.KeyOffset(0), 0xFF, n.KeyLength(0));
            f.node(h.lastLeaf).SetNext(middle);
        },
        kKfErrDamaged);
}

TEST_F(DamageTest, NodeLayoutThatDoesNotFit) {
    const uint32_t leaf = good_.header().firstLeaf;
    ExpectDamage([&](Image& f) { f.node(leaf).SetCount(20); }, kKfErrRead);
    ExpectDamage([&](Image& f) { f.node(leaf).SetLowest(kNodeSize + 1); }, kKfErrRead);
    ExpectDamage([&](Image& f) { kf::Put16(f.node(leaf).Entry(0), kNodeSize - 1); }, kKfErrRead);
    ExpectDamage(
        [&](Image& f) {
            // Two entries on the same key bytes.
            kf::Node n = f.node(leaf);
            kf::Put16(n.Entry(1), n.KeyOffset(0));
        },
        kKfErrRead);
    ExpectDamage([&](Image& f) { kf::Put16(f.node(leaf).Entry(0) + 2, 300); }, kKfErrRead);
}

TEST_F(DamageTest, TruncatedFile) {
    ExpectDamage([](Image& f) { f.bytes.resize(f.bytes.size() / 2); }, kKfErrRead);
}

// Less than node 0 is no keyed file, even with a sound header and no tree to
// read; the file is left as it was.
TEST_F(DamageTest, FileShorterThanOneNodeDoesNotOpen) {
    KfHandle h = KfCreate("empty.kf", nullptr, kNodeSize);
    ASSERT_NE(h, 0);
    ASSERT_EQ(KfClose(h), 1);
    const std::string whole = ReadWholeFile("empty.kf");
    for (size_t size : {size_t(kf::kHeaderSize), size_t(kNodeSize - 1)}) {
        SCOPED_TRACE(size);
        WriteWholeFile("short.kf", whole.substr(0, size));
        EXPECT_EQ(KfOpen("short.kf", nullptr), 0);
        EXPECT_EQ(kfError, kKfErrRead);
        EXPECT_EQ(ReadWholeFile("short.kf").size(), size);
    }
}

TEST_F(DamageTest, FreeListIntoTheTree) {
    ExpectDamage(
        [](Image& f) {
            kf::Header h = f.header();
            h.freeHead = h.firstLeaf;
            f.setHeader(h);
        },
        kKfErrDamaged);
}

// Key bytes in another order than the entries are still a sound node.
TEST_F(DamageTest, KeysStoredInAnotherOrderAreAccepted) {
    Image f = good_;
    kf::Node n = f.node(f.header().firstLeaf);
    ASSERT_GE(n.Count(), 2);
    // Swap the first two keys' places in the key area.
    const int a = n.KeyOffset(0), alen = n.KeyLength(0), blen = n.KeyLength(1);
    std::string first(reinterpret_cast<const char*>(n.Key(0)), size_t(alen));
    std::string second(reinterpret_cast<const char*>(n.Key(1)), size_t(blen));
    std::memcpy(n.bytes() + a, second.data(), size_t(blen));
    std::memcpy(n.bytes() + a + blen, first.data(), size_t(alen));
    kf::Put16(n.Entry(1), uint16_t(a));
    kf::Put16(n.Entry(0), uint16_t(a + blen));
    WriteWholeFile("other.kf", f.bytes);
    EXPECT_EQ(CheckProblems("other.kf"), "");
    EXPECT_EQ(Exercise("other.kf", kKeys), 0);
    EXPECT_EQ(CheckProblems("other.kf"), "");
}

}  // namespace
