// Randomised inserts, deletes and finds against a std::set, with the
// structure checker run on the file after every batch. Keys come from a small
// alphabet with many shared prefixes, many tags per key and lengths up to the
// file's limit, so shifts, splits, merges and root changes all happen often.
//
// KV_KEYFILE_MODEL_OPS scales the number of operations per configuration.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>

#include "keyfile_fixture.h"

namespace {

struct Config {
    int nodeSize;
    int buffers;
    int longKeyPercent;  // share of keys drawn up to the file's limit
};

int OperationsPerConfig() {
    if (const char* text = std::getenv("KV_KEYFILE_MODEL_OPS")) {
        int n = std::atoi(text);
        if (n > 0) return n;
    }
    return 150000;
}

class ModelTest : public KeyfileTest, public ::testing::WithParamInterface<Config> {};

std::string RandomKey(std::mt19937& rng, int limit, int longPercent) {
    std::uniform_int_distribution<int> percent(0, 99);
    int length;
    if (percent(rng) < longPercent)
        length = std::uniform_int_distribution<int>(0, limit)(rng);
    else
        length = std::uniform_int_distribution<int>(1, std::min(limit, 12))(rng);
    std::string key(size_t(length), 'a');
    for (char& c : key) {
        int pick = percent(rng);
        // Mostly three letters, sometimes the extreme byte values.
        c = pick < 96 ? char('a' + pick % 3) : (pick < 98 ? '\0' : char(0xFF));
    }
    return key;
}

TEST_P(ModelTest, MatchesSetAndStaysSound) {
    const Config config = GetParam();
    ASSERT_EQ(KfStop(), 1);
    ASSERT_EQ(KfStart(512, config.buffers), 1);
    const char* path = "model.kf";
    KfHandle h = KfCreate(path, nullptr, config.nodeSize);
    ASSERT_NE(h, 0);
    const int limit = config.nodeSize - 28;

    std::set<std::pair<std::string, uint32_t>> model;
    std::mt19937 rng(uint32_t(config.nodeSize * 7919 + config.buffers));
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<uint32_t> tags(0, 3);
    const int total = OperationsPerConfig();
    const int batch = 4000;

    for (int done = 0; done < total; done += batch) {
        // Phases that grow and shrink the tree, so that it also empties.
        const int insertShare = (done / batch) % 4 == 3 ? 25 : 60;
        for (int k = 0; k < batch; ++k) {
            const int what = percent(rng);
            std::string key = RandomKey(rng, limit, config.longKeyPercent);
            uint32_t tag = tags(rng);
            if (what < insertShare) {
                const bool present = model.count({key, tag}) != 0;
                const int r = Insert(h, key, tag);
                if (present) {
                    ASSERT_EQ(r, -1);
                    ASSERT_EQ(kfError, kKfErrDuplicateEntry);
                } else {
                    ASSERT_EQ(r, 1) << "error " << kfError << " at " << kfErrorLocation;
                    model.insert({key, tag});
                }
            } else if (what < 90) {
                // Delete mostly what exists.
                if (!model.empty() && percent(rng) < 80) {
                    auto it = model.lower_bound({key, 0});
                    if (it == model.end()) it = model.begin();
                    key = it->first;
                    tag = it->second;
                }
                const bool present = model.count({key, tag}) != 0;
                const int r = Delete(h, key, tag);
                if (present) {
                    ASSERT_EQ(r, 1) << "error " << kfError << " at " << kfErrorLocation;
                    model.erase({key, tag});
                } else {
                    ASSERT_EQ(r, -1);
                    ASSERT_EQ(kfError, model.empty() ? kKfErrEmptyTree : kKfErrNoEntry);
                }
            } else {
                uint32_t found = 99;
                const int r = Find(h, key, &found);
                auto it = model.lower_bound({key, 0});
                if (it == model.end()) {
                    ASSERT_EQ(r, kKfBeyondEnd);
                } else {
                    ASSERT_EQ(r, it->first == key ? 2 : 3);
                    ASSERT_EQ(found, it->second);
                    ASSERT_EQ(KeyAtCursor(h), it->first);
                }
            }
        }
        ASSERT_EQ(KfFlush(h), 1);
        KfCheckReport report = KfCheckFile(path);
        ASSERT_TRUE(report.sound) << CheckProblems(path);
        ASSERT_EQ(report.entries, model.size());
        if ((done / batch) % 5 == 4) {
            // The file alone carries the tree: reopen and compare all of it.
            ASSERT_EQ(KfClose(h), 1);
            h = KfOpen(path, nullptr);
            ASSERT_NE(h, 0);
            Entries scanned = Scan(h);
            ASSERT_EQ(scanned, Entries(model.begin(), model.end()));
        }
    }
    // With duplicates refused, any key of the model is refused with 17 or 18.
    if (!model.empty()) {
        auto it = model.begin();
        EXPECT_EQ(Insert(h, it->first, it->second + 100, 0), -1);
        EXPECT_EQ(kfError, kKfErrDuplicateKey);
    }
    EXPECT_EQ(KfClose(h), 1);
}

INSTANTIATE_TEST_SUITE_P(NodeSizes, ModelTest,
                         ::testing::Values(Config{37, 4, 50}, Config{64, 5, 30},
                                           Config{512, 4, 5}, Config{512, 200, 5}),
                         [](const ::testing::TestParamInfo<Config>& p) {
                             return "node" + std::to_string(p.param.nodeSize) + "_buffers" +
                                    std::to_string(p.param.buffers);
                         });

// Ascending and descending runs: the shapes the engine's listings produce,
// where shifting into neighbours matters most.
TEST_F(KeyfileTest, SortedRunsFillAndEmpty) {
    const char* path = "sorted.kf";
    KfHandle h = KfCreate(path, nullptr, 128);
    ASSERT_NE(h, 0);
    char key[32];
    for (int i = 0; i < 3000; ++i) {
        int n = std::snprintf(key, sizeof key, "file%05d.html*1-2-0-%d", i, i * 7);
        ASSERT_EQ(KfInsert(h, key, n, 1, 0), 1) << i;
    }
    for (int i = 5999; i >= 3000; --i) {
        int n = std::snprintf(key, sizeof key, "file%05d.html*1-2-0-%d", i, i * 7);
        ASSERT_EQ(KfInsert(h, key, n, 1, 0), 1) << i;
    }
    ASSERT_EQ(KfFlush(h), 1);
    KfCheckReport full = KfCheckFile(path);
    ASSERT_TRUE(full.sound) << CheckProblems(path);
    EXPECT_EQ(full.entries, 6000u);
    for (int i = 0; i < 6000; ++i) {
        int n = std::snprintf(key, sizeof key, "file%05d.html*1-2-0-%d", i, i * 7);
        ASSERT_EQ(KfDelete(h, key, n, 1), 1) << i;
    }
    ASSERT_EQ(KfClose(h), 1);
    KfCheckReport empty = KfCheckFile(path);
    ASSERT_TRUE(empty.sound) << CheckProblems(path);
    EXPECT_EQ(empty.header.root, 0u);
    EXPECT_EQ(empty.freeNodes, empty.header.highest);
}

}  // namespace
