// The library's contract as a caller sees it: lifecycle and status codes,
// sizes and limits, duplicates, the free list, sharing and open modes.
#include <cstring>

#include "keyfile/format.h"
#include "keyfile_fixture.h"

namespace {

using kf::Get16;
using kf::Get32;

std::string Bytes(const char* path) {
    return ReadWholeFile(path);
}

kf::Header HeaderOf(const char* path) {
    kf::Header h;
    std::string bytes = Bytes(path);
    if (bytes.size() >= 26) kf::DecodeHeader(reinterpret_cast<const uint8_t*>(bytes.data()), h);
    return h;
}

// Fills a file with numbered keys; returns the handle.
KfHandle Filled(const char* path, int nodeSize, int count) {
    KfHandle h = KfCreate(path, nullptr, nodeSize);
    char key[40];
    for (int i = 0; i < count; ++i) {
        int n = std::snprintf(key, sizeof key, "page%04d.htm*1-%d-0-0", i, i);
        if (KfInsert(h, key, n, 1, 0) != 1) return 0;
    }
    return h;
}

TEST(KeyfileStopped, EveryOperationFailsWithError3) {
    ASSERT_EQ(KfStop(), -1);
    EXPECT_EQ(kfOperation, kKfOpStop);
    EXPECT_EQ(kfError, kKfErrNotStarted);

    struct Call {
        const char* name;
        uint16_t operation;
        int (*run)();
        int failure;
    } calls[] = {
        {"create", kKfOpCreate, [] { return KfCreate("x.kf", nullptr, 0); }, 0},
        {"open", kKfOpOpen, [] { return KfOpen("x.kf", nullptr); }, 0},
        {"close", kKfOpClose, [] { return KfClose(1); }, -1},
        {"flush", kKfOpFlush, [] { return KfFlush(1); }, -1},
        {"insert", kKfOpInsert, [] { return KfInsert(1, "a", 1, 1, 1); }, -1},
        {"delete", kKfOpDelete, [] { return KfDelete(1, "a", 1, 1); }, -1},
        {"find", kKfOpFind, [] { return KfFind(1, "a", 1, nullptr); }, -1},
        {"first", kKfOpFirst, [] { return KfFirst(1, nullptr); }, -1},
        {"next", kKfOpNext, [] { return KfNext(1, nullptr); }, -1},
        {"length", kKfOpKeyLength, [] { int n; return KfKeyLength(1, &n); }, -1},
        {"read", kKfOpReadKey, [] { char b[4]; return KfReadKey(1, b, 4); }, -1},
        {"add", kKfOpAddBuffers, [] { return KfAddBuffers(3); }, -1},
        {"remove", kKfOpRemoveBuffers, [] { return KfRemoveBuffers(3); }, -1},
    };
    for (const Call& c : calls) {
        kfError = 0;
        EXPECT_EQ(c.run(), c.failure) << c.name;
        EXPECT_EQ(kfOperation, c.operation) << c.name;
        EXPECT_EQ(kfError, kKfErrNotStarted) << c.name;
    }
    EXPECT_EQ(KfMaxNodeSize(), 0);
    EXPECT_EQ(kfOperation, kKfOpMaxNodeSize);
    EXPECT_EQ(KfBufferCount(), 0);
    EXPECT_EQ(kfOperation, kKfOpBufferCount);
}

TEST(KeyfileStart, SizesAreNormalisedAndStartTwiceFails) {
    struct {
        int nodeSize, buffers, wantSize, wantBuffers;
    } cases[] = {{0, 0, 512, 5}, {20, 2, 512, 4}, {26, -1, 26, 4}, {1000, 12, 1000, 12},
                 {100000, 4, 65535, 4}};
    for (const auto& c : cases) {
        ASSERT_EQ(KfStart(c.nodeSize, c.buffers), 1);
        EXPECT_EQ(kfOperation, kKfOpStart);
        EXPECT_EQ(KfMaxNodeSize(), c.wantSize) << c.nodeSize;
        EXPECT_EQ(KfBufferCount(), c.wantBuffers) << c.buffers;
        EXPECT_EQ(KfStart(0, 0), -1);
        EXPECT_EQ(kfError, kKfErrStarted);
        ASSERT_EQ(KfStop(), 1);
    }
}

TEST_F(KeyfileTest, BuffersAreAddedAndRemovedDownToFour) {
    EXPECT_EQ(KfAddBuffers(10), 10);
    EXPECT_EQ(kfOperation, kKfOpAddBuffers);
    EXPECT_EQ(KfBufferCount(), 15);
    KfHandle h = Filled("buffers.kf", 64, 300);
    ASSERT_NE(h, 0);
    // Modified buffers are written back before they go.
    EXPECT_EQ(KfRemoveBuffers(100), 11);
    EXPECT_EQ(kfOperation, kKfOpRemoveBuffers);
    EXPECT_EQ(KfBufferCount(), 4);
    EXPECT_EQ(KfAddBuffers(-3), 0);
    ASSERT_EQ(KfClose(h), 1);
    KfCheckReport report = KfCheckFile("buffers.kf");
    EXPECT_TRUE(report.sound) << CheckProblems("buffers.kf");
    EXPECT_EQ(report.entries, 300u);
}

TEST_F(KeyfileTest, CreateNormalisesTheNodeSize) {
    KfHandle h = KfCreate("small.kf", nullptr, 20);
    ASSERT_NE(h, 0);
    EXPECT_EQ(kfOperation, kKfOpCreate);
    ASSERT_EQ(KfClose(h), 1);
    // A new file is node 0 alone: the header, zeros, the check word.
    std::string bytes = Bytes("small.kf");
    ASSERT_EQ(bytes.size(), 37u);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    EXPECT_EQ(Get16(p), 37);
    for (int i = 2; i < 24; ++i) EXPECT_EQ(p[i], 0) << i;
    EXPECT_EQ(Get16(p + 24), 37);  // the XOR of one non-zero word
    for (size_t i = 26; i < bytes.size(); ++i) EXPECT_EQ(p[i], 0) << i;

    h = KfCreate("default.kf", nullptr, 0);
    ASSERT_NE(h, 0);
    ASSERT_EQ(KfClose(h), 1);
    EXPECT_EQ(Bytes("default.kf").size(), 512u);

    EXPECT_EQ(KfCreate("big.kf", nullptr, 513), 0);
    EXPECT_EQ(kfError, kKfErrNodeSize);
}

TEST_F(KeyfileTest, KeyLengthLimitFollowsTheSmallerNodeSize) {
    KfHandle h = KfCreate("limit.kf", nullptr, 0);
    ASSERT_NE(h, 0);
    std::string key484(484, 'k'), key485(485, 'k');
    EXPECT_EQ(Insert(h, key484), 1);
    EXPECT_EQ(Insert(h, key485), -1);
    EXPECT_EQ(kfError, kKfErrKeyLength);
    // Long keys still split and shift correctly.
    for (char c = 'a'; c <= 'z'; ++c) ASSERT_EQ(Insert(h, std::string(480, c)), 1) << c;
    EXPECT_EQ(KfInsert(h, "x", -1, 1, 1), -1);
    EXPECT_EQ(kfError, kKfErrKeyLength);

    KfHandle small = KfCreate("limit64.kf", nullptr, 64);
    ASSERT_NE(small, 0);
    EXPECT_EQ(Insert(small, std::string(36, 'k')), 1);
    EXPECT_EQ(Insert(small, std::string(37, 'k')), -1);
    EXPECT_EQ(kfError, kKfErrKeyLength);
    ASSERT_EQ(KfClose(h), 1);
    ASSERT_EQ(KfClose(small), 1);
    EXPECT_EQ(CheckProblems("limit.kf"), "");
}

TEST_F(KeyfileTest, FindReportsEqualGreaterAndBeyond) {
    KfHandle h = KfCreate("find.kf", nullptr, 0);
    ASSERT_NE(h, 0);
    int length = 0;
    EXPECT_EQ(KfKeyLength(h, &length), kKfNotPositioned);
    EXPECT_EQ(Find(h, "anything"), kKfBeyondEnd);
    EXPECT_EQ(kfOperation, kKfOpFind);
    EXPECT_EQ(kfError, 0);
    EXPECT_EQ(KfKeyLength(h, &length), kKfBeyondEnd);
    EXPECT_EQ(KfFirst(h, nullptr), kKfBeyondEnd);

    ASSERT_EQ(Insert(h, "contact.htm*1-2-0-5", 7), 1);
    ASSERT_EQ(Insert(h, "", 3), 1);
    uint32_t tag = 0;
    EXPECT_EQ(Find(h, "about.htm*", &tag), 3);
    EXPECT_EQ(tag, 7u);
    EXPECT_EQ(KeyAtCursor(h), "contact.htm*1-2-0-5");
    EXPECT_EQ(Find(h, "contact.htm*1-2-0-5", &tag), 2);
    EXPECT_EQ(Find(h, "zzz"), kKfBeyondEnd);
    // The empty key sorts first and equals only itself.
    EXPECT_EQ(Find(h, "", &tag), 2);
    EXPECT_EQ(tag, 3u);

    // The read copies at most the buffer and ends a shorter key with a NUL.
    ASSERT_EQ(Find(h, "c"), 3);
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(KfReadKey(h, buffer, 4), 1);
    EXPECT_EQ(std::string(buffer, 5), "cont#");
    EXPECT_EQ(KfReadKey(h, buffer, 0), 1);
    EXPECT_EQ(kfOperation, kKfOpReadKey);
    char whole[32];
    EXPECT_EQ(KfReadKey(h, whole, sizeof whole), 1);
    EXPECT_STREQ(whole, "contact.htm*1-2-0-5");
    ASSERT_EQ(KfClose(h), 1);
}

TEST_F(KeyfileTest, DuplicatesAreRefusedAndLeaveTheTreeUnchanged) {
    KfHandle h = Filled("dup.kf", 64, 200);
    ASSERT_NE(h, 0);
    ASSERT_EQ(KfFlush(h), 1);
    const std::string before = Bytes("dup.kf");

    EXPECT_EQ(Insert(h, "page0100.htm*1-100-0-0", 1, 1), -1);
    EXPECT_EQ(kfError, kKfErrDuplicateEntry);
    EXPECT_EQ(kfOperation, kKfOpInsert);
    EXPECT_EQ(Insert(h, "page0100.htm*1-100-0-0", 1, 0), -1);
    EXPECT_EQ(kfError, kKfErrDuplicateEntry);
    EXPECT_EQ(Insert(h, "page0100.htm*1-100-0-0", 2, 0), -1);
    EXPECT_EQ(kfError, kKfErrDuplicateKey);
    ASSERT_EQ(KfFlush(h), 1);
    EXPECT_EQ(Bytes("dup.kf"), before);

    EXPECT_EQ(Insert(h, "page0100.htm*1-100-0-0", 2, 1), 1);
    EXPECT_EQ(Insert(h, "page0100.htm*1-100-0-0", 0, 1), 1);
    uint32_t tag = 9;
    EXPECT_EQ(Find(h, "page0100.htm*1-100-0-0", &tag), 2);
    EXPECT_EQ(tag, 0u);
    ASSERT_EQ(KfClose(h), 1);
    EXPECT_EQ(CheckProblems("dup.kf"), "");
}

// The equal key may sit in the neighbouring leaf: the first key of a leaf,
// inserted again with a smaller tag, lands at the end of the leaf before.
TEST_F(KeyfileTest, DuplicateKeyIsFoundAcrossALeafBoundary) {
    KfHandle h = Filled("edge.kf", 64, 100);
    ASSERT_NE(h, 0);
    ASSERT_EQ(KfFlush(h), 1);
    KfCheckReport report = KfCheckFile("edge.kf");
    ASSERT_GE(report.leaves, 2u);
    std::string bytes = Bytes("edge.kf");
    auto* base = reinterpret_cast<uint8_t*>(bytes.data());
    const uint32_t first = report.header.firstLeaf;
    kf::Node leaf(base + first * 64, 64);
    kf::Node second(base + leaf.Next() * 64, 64);
    const std::string key(reinterpret_cast<const char*>(second.Key(0)), second.KeyLength(0));

    EXPECT_EQ(Insert(h, key, 0, 0), -1);
    EXPECT_EQ(kfError, kKfErrDuplicateKey);
    // And on the other side: the last key of a leaf with a larger tag.
    const std::string last(reinterpret_cast<const char*>(leaf.Key(leaf.Count() - 1)),
                           leaf.KeyLength(leaf.Count() - 1));
    EXPECT_EQ(Insert(h, last, 5, 0), -1);
    EXPECT_EQ(kfError, kKfErrDuplicateKey);
    ASSERT_EQ(KfClose(h), 1);
}

TEST_F(KeyfileTest, DeletingTheOnlyKeyFreesTheLeafForReuse) {
    KfHandle h = KfCreate("only.kf", nullptr, 0);
    ASSERT_NE(h, 0);
    EXPECT_EQ(Delete(h, "x"), -1);
    EXPECT_EQ(kfError, kKfErrEmptyTree);
    EXPECT_EQ(kfOperation, kKfOpDelete);
    ASSERT_EQ(Insert(h, "index.html*30000000-5-0-1234"), 1);
    EXPECT_EQ(Delete(h, "index.html*30000000-5-0-1234", 2), -1);
    EXPECT_EQ(kfError, kKfErrNoEntry);
    ASSERT_EQ(Delete(h, "index.html*30000000-5-0-1234"), 1);
    ASSERT_EQ(KfFlush(h), 1);
    kf::Header header = HeaderOf("only.kf");
    EXPECT_EQ(header.root, 0u);
    EXPECT_EQ(header.height, 0);
    EXPECT_EQ(header.freeHead, 1u);
    EXPECT_EQ(header.highest, 1u);
    EXPECT_EQ(CheckProblems("only.kf"), "");

    ASSERT_EQ(Insert(h, "images*30000000-5-0-0"), 1);
    ASSERT_EQ(KfClose(h), 1);
    header = HeaderOf("only.kf");
    EXPECT_EQ(header.root, 1u);
    EXPECT_EQ(header.highest, 1u);
    EXPECT_EQ(header.freeHead, 0u);
    EXPECT_EQ(CheckProblems("only.kf"), "");
}

TEST_F(KeyfileTest, WrongCheckWordFailsEveryOpen) {
    KfHandle h = Filled("word.kf", 0, 10);
    ASSERT_NE(h, 0);
    ASSERT_EQ(KfClose(h), 1);
    for (int bit = 0; bit < 16; bit += 5) {
        std::string bytes = Bytes("word.kf");
        bytes[24 + bit / 8] = char(bytes[24 + bit / 8] ^ (1 << (bit % 8)));
        WriteWholeFile("bad.kf", bytes);
        for (KfOpenMode mode : {kKfOpenReadWrite, kKfOpenShared, kKfOpenReadOnly, kKfOpenShared}) {
            EXPECT_EQ(KfOpen("bad.kf", nullptr, mode), 0);
            EXPECT_EQ(kfOperation, kKfOpOpen);
            EXPECT_EQ(kfError, kKfErrCheckWord);
        }
    }
    // Nothing was left open: the path can be created afresh.
    h = KfCreate("bad.kf", nullptr, 0);
    EXPECT_NE(h, 0);
    EXPECT_EQ(KfClose(h), 1);
    EXPECT_EQ(KfOpen("missing.kf", nullptr), 0);
    EXPECT_EQ(kfError, kKfErrFile);
}

TEST_F(KeyfileTest, OpensOfOnePathShareTheFile) {
    KfHandle a = Filled("shared.kf", 128, 50);
    ASSERT_NE(a, 0);
    KfHandle b = KfOpen("shared.kf", nullptr);
    ASSERT_NE(b, 0);
    EXPECT_NE(a, b);
    // Creating over an open file would pull it from under its handles.
    EXPECT_EQ(KfCreate("shared.kf", nullptr, 0), 0);
    EXPECT_EQ(kfError, kKfErrFile);

    ASSERT_EQ(Insert(a, "new.htm*1-1-0-1"), 1);
    EXPECT_EQ(Find(b, "new.htm*1-1-0-1"), 2);
    ASSERT_EQ(KfClose(a), 1);
    EXPECT_EQ(KfClose(a), -1);
    EXPECT_EQ(kfError, kKfErrUnknownHandle);
    EXPECT_EQ(Find(b, "page0049.htm"), 3);
    EXPECT_EQ(Insert(b, "other.htm*1-1-0-1"), 1);

    KfHandle reader = KfOpen("shared.kf", nullptr, kKfOpenReadOnly);
    ASSERT_NE(reader, 0);
    EXPECT_EQ(Insert(reader, "refused"), -1);
    EXPECT_EQ(kfError, kKfErrWrite);
    EXPECT_EQ(Delete(reader, "new.htm*1-1-0-1"), -1);
    EXPECT_EQ(kfError, kKfErrWrite);
    EXPECT_EQ(Scan(reader).size(), 52u);
    ASSERT_EQ(KfClose(b), 1);
    ASSERT_EQ(KfClose(reader), 1);

    // Opened read-only first, the file has no descriptor to write with.
    reader = KfOpen("shared.kf", nullptr, kKfOpenReadOnly);
    ASSERT_NE(reader, 0);
    EXPECT_EQ(KfOpen("shared.kf", nullptr, kKfOpenShared), 0);
    EXPECT_EQ(kfError, kKfErrFile);
    ASSERT_EQ(KfClose(reader), 1);
    EXPECT_EQ(CheckProblems("shared.kf"), "");
}

TEST_F(KeyfileTest, StopClosesEveryHandleAndKeepsTheData) {
    KfHandle a = Filled("one.kf", 0, 400);
    KfHandle b = Filled("two.kf", 64, 100);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    ASSERT_EQ(KfStop(), 1);
    ASSERT_EQ(KfStart(0, 0), 1);
    EXPECT_EQ(Find(a, "page"), -1);
    EXPECT_EQ(kfError, kKfErrUnknownHandle);
    EXPECT_EQ(CheckProblems("one.kf"), "");
    EXPECT_EQ(CheckProblems("two.kf"), "");
    KfHandle again = KfOpen("one.kf", nullptr);
    ASSERT_NE(again, 0);
    EXPECT_EQ(Scan(again).size(), 400u);
    KfHandle other = KfOpen("two.kf", nullptr);
    ASSERT_NE(other, 0);
    EXPECT_EQ(Scan(other).size(), 100u);
}

int Reverse(const void* a, int alen, const void* b, int blen) {
    return kf::DefaultCompare(b, blen, a, alen);
}

TEST_F(KeyfileTest, CallerSuppliedOrderIsUsedThroughout) {
    KfHandle h = KfCreate("reverse.kf", Reverse, 64);
    ASSERT_NE(h, 0);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(Insert(h, std::to_string(i * 37 % 1000)), 1);
    Entries scanned = Scan(h);
    ASSERT_EQ(scanned.size(), 300u);
    for (size_t k = 1; k < scanned.size(); ++k) EXPECT_GT(scanned[k - 1].first, scanned[k].first);
    // In reverse order the first key not below "5" is the largest one up to "5".
    std::string expected;
    for (const auto& e : scanned)
        if (e.first <= "5") {
            expected = e.first;
            break;
        }
    EXPECT_EQ(Find(h, "5"), 3);
    EXPECT_EQ(KeyAtCursor(h), expected);
    ASSERT_EQ(KfClose(h), 1);
    EXPECT_EQ(CheckProblems("reverse.kf", Reverse), "");
    EXPECT_NE(CheckProblems("reverse.kf"), "");
}

}  // namespace
