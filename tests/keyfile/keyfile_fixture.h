// Shared by the keyed-file tests: a fresh folder and a started library per
// test, and helpers that read a file back independently of the cursor code
// under test where that matters.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "keyfile/check.h"
#include "keyfile/keyfile.h"
#include "support/temp_folder.h"

class KeyfileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(KfStart(0, 0), 1); }
    void TearDown() override { KfStop(); }

    TempFolder folder_;
};

// Problems the checker found, one per line; empty when the file is sound.
inline std::string CheckProblems(const char* path, KfCompare compare = nullptr) {
    KfCheckReport report = KfCheckFile(path, compare);
    std::string text;
    for (const std::string& p : report.problems) text += p + "\n";
    return text;
}

using Entries = std::vector<std::pair<std::string, uint32_t>>;

inline std::string KeyAtCursor(KfHandle h) {
    int length = -1;
    if (KfKeyLength(h, &length) != 1) return "<no key>";
    std::string key(size_t(length) + 1, '\0');
    if (KfReadKey(h, key.data(), int(key.size())) != 1) return "<unreadable>";
    key.resize(size_t(length));
    return key;
}

// Every entry in cursor order.
inline Entries Scan(KfHandle h) {
    Entries out;
    uint32_t tag = 0;
    for (int r = KfFirst(h, &tag); r == 1; r = KfNext(h, &tag)) out.emplace_back(KeyAtCursor(h), tag);
    return out;
}

inline int Insert(KfHandle h, const std::string& key, uint32_t tag = 1, int allowDuplicates = 1) {
    return KfInsert(h, key.data(), int(key.size()), tag, allowDuplicates);
}

inline int Delete(KfHandle h, const std::string& key, uint32_t tag = 1) {
    return KfDelete(h, key.data(), int(key.size()), tag);
}

inline int Find(KfHandle h, const std::string& key, uint32_t* tag = nullptr) {
    uint32_t ignored = 0;
    return KfFind(h, key.data(), int(key.size()), tag ? tag : &ignored);
}
