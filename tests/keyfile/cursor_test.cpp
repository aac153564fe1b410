// Cursors of other handles follow their entries while one handle inserts and
// deletes: through shifts within a node, moves into neighbours, splits and
// merges; a cursor whose entry is deleted moves to the entry after it.
#include <random>
#include <set>

#include "keyfile_fixture.h"

namespace {

using Model = std::set<std::pair<std::string, uint32_t>>;

struct Watcher {
    KfHandle handle = 0;
    int state = kKfNotPositioned;
    std::pair<std::string, uint32_t> at;
};

void Place(Watcher& w, const Model& model, std::mt19937& rng) {
    if (model.empty()) return;
    auto it = model.begin();
    std::advance(it, std::uniform_int_distribution<size_t>(0, model.size() - 1)(rng));
    // Find lands on the first entry of a key; step on to the chosen tag.
    uint32_t tag = 0;
    ASSERT_EQ(Find(w.handle, it->first, &tag), 2);
    while (tag != it->second) ASSERT_EQ(KfNext(w.handle, &tag), 1);
    w.state = kKfPositioned;
    w.at = *it;
}

void Expect(const Watcher& w, int step) {
    if (w.state != kKfPositioned) {
        int length = 0;
        ASSERT_EQ(KfKeyLength(w.handle, &length), w.state) << "step " << step;
        return;
    }
    ASSERT_EQ(KeyAtCursor(w.handle), w.at.first) << "step " << step;
}

TEST_F(KeyfileTest, CursorsFollowTheirEntries) {
    ASSERT_EQ(KfStop(), 1);
    ASSERT_EQ(KfStart(0, 4), 1);
    KfHandle writer = KfCreate("cursor.kf", nullptr, 64);
    ASSERT_NE(writer, 0);
    Watcher watchers[3];
    for (Watcher& w : watchers) {
        w.handle = KfOpen("cursor.kf", nullptr);
        ASSERT_NE(w.handle, 0);
    }
    Model model;
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> percent(0, 99);
    for (int step = 0; step < 20000; ++step) {
        const bool growing = (step / 2500) % 2 == 0;
        if (percent(rng) < (growing ? 65 : 30) || model.empty()) {
            std::string key(size_t(std::uniform_int_distribution<int>(1, 30)(rng)), 'a');
            for (char& c : key) c = char('a' + percent(rng) % 4);
            const uint32_t tag = uint32_t(percent(rng) % 3);
            if (model.insert({key, tag}).second) {
                ASSERT_EQ(Insert(writer, key, tag), 1);
            }
        } else {
            auto it = model.begin();
            std::advance(it, std::uniform_int_distribution<size_t>(0, model.size() - 1)(rng));
            const auto gone = *it;
            auto after = std::next(it);
            for (Watcher& w : watchers) {
                if (w.state != kKfPositioned || w.at != gone) continue;
                if (after == model.end())
                    w.state = kKfBeyondEnd;
                else
                    w.at = *after;
            }
            ASSERT_EQ(Delete(writer, gone.first, gone.second), 1)
                << "step " << step << " error " << kfError << " at " << kfErrorLocation;
            model.erase(gone);
        }
        for (Watcher& w : watchers) {
            Expect(w, step);
            if (HasFatalFailure()) return;
        }
        if (step % 97 == 0) {
            // Reposition one watcher; step another along the chain.
            Place(watchers[step % 3], model, rng);
            Watcher& w = watchers[(step + 1) % 3];
            if (w.state == kKfPositioned) {
                uint32_t tag = 0;
                auto next = std::next(model.find(w.at));
                if (next == model.end()) {
                    ASSERT_EQ(KfNext(w.handle, &tag), kKfBeyondEnd);
                    w.state = kKfBeyondEnd;
                } else {
                    ASSERT_EQ(KfNext(w.handle, &tag), 1);
                    ASSERT_EQ(tag, next->second);
                    w.at = *next;
                }
            }
        }
    }
    // Emptying the tree leaves every cursor beyond the end.
    while (!model.empty()) {
        ASSERT_EQ(Delete(writer, model.begin()->first, model.begin()->second), 1);
        model.erase(model.begin());
    }
    for (Watcher& w : watchers) {
        int length = 0;
        if (w.state == kKfPositioned) {
            EXPECT_EQ(KfKeyLength(w.handle, &length), kKfBeyondEnd);
        }
        EXPECT_EQ(KfClose(w.handle), 1);
    }
    EXPECT_EQ(KfClose(writer), 1);
    EXPECT_EQ(CheckProblems("cursor.kf"), "");
}

TEST_F(KeyfileTest, InsertShiftsCursorsAtAndAfterTheInsertionPoint) {
    KfHandle a = KfCreate("shift.kf", nullptr, 0);
    KfHandle b = KfOpen("shift.kf", nullptr);
    ASSERT_EQ(Insert(a, "b"), 1);
    ASSERT_EQ(Insert(a, "d"), 1);
    ASSERT_EQ(Find(b, "d"), 2);
    ASSERT_EQ(Find(a, "b"), 2);
    ASSERT_EQ(Insert(a, "c"), 1);  // between them: b's cursor moves, a's stays
    EXPECT_EQ(KeyAtCursor(b), "d");
    EXPECT_EQ(KeyAtCursor(a), "b");
    ASSERT_EQ(Insert(a, "a"), 1);
    EXPECT_EQ(KeyAtCursor(a), "b");
    ASSERT_EQ(Delete(a, "d"), 1);  // the last entry: beyond the end
    int length = 0;
    EXPECT_EQ(KfKeyLength(b, &length), kKfBeyondEnd);
    uint32_t tag = 0;
    EXPECT_EQ(KfNext(b, &tag), kKfBeyondEnd);
    EXPECT_EQ(KfClose(a), 1);
    EXPECT_EQ(KfClose(b), 1);
}

}  // namespace
