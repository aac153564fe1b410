// The keyed-file store against SQLite and LMDB on the same keys: record
// texts like the engine's ("name*timehigh-timelow-sizehigh-sizelow", 20 to 60
// bytes), inserted in random order, then random finds of the first key not
// less than a record's name (the engine's lookup), then one ordered scan.
//
// Stores, at equal memory where the engine lets it be set:
//   keyfile-5      the program's configuration: 512-byte nodes, 5 buffers
//   keyfile-2000k  2,048,000 bytes, SQLite's page cache below: the store's
//                  64 KiB write-back run buffer and 3872 buffers of 512 bytes
//   keyfile-4k     the same memory as the run buffer and 484 buffers of
//                  4096-byte nodes, the page size SQLite and LMDB use
//   sqlite         WITHOUT ROWID table keyed by a blob, cache_size -2000
//                  (2,048,000 bytes, SQLite's default, set explicitly), one
//                  transaction, synchronous=OFF, journal_mode=OFF
//   lmdb           one write transaction, MDB_NOSYNC; it maps the whole file
//                  and leaves caching to the system, so its memory cannot be
//                  held to the same budget: shown beside the others
//
//   bench_keyfile                                   100,000 and 1,000,000 keys
//   bench_keyfile --benchmark_filter=/100000/       the quick run
//
// After the runs a table gives operations per second and the store's ratio
// to each peer.
#include <benchmark/benchmark.h>
#include <lmdb.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "keyfile/keyfile.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFinds = 200000;
constexpr int kEqualMemory = 2048000;  // SQLite's default cache: 2000 KiB
constexpr int kWriteBackRun = 65536;   // the store's own buffer besides its nodes

// Keys and probes for one size, made once.
struct KeySet {
    std::vector<std::string> keys;    // random order
    std::vector<std::string> probes;  // record names ending in '*'
};

const KeySet& Keys(int count) {
    static std::map<int, KeySet> made;
    auto it = made.find(count);
    if (it != made.end()) return it->second;
    KeySet& set = made[count];
    std::mt19937 rng{uint32_t(count)};
    std::uniform_int_distribution<int> letter(0, 25), length(3, 14), extension(0, 3);
    std::uniform_int_distribution<uint32_t> any;
    const char* extensions[] = {".html", ".htm", ".gif", ".css"};
    std::set<std::string> names;
    while (int(names.size()) < count) {
        std::string name;
        for (int n = length(rng); n > 0; --n) name += char('a' + letter(rng));
        if (any(rng) % 3 == 0) name += std::to_string(any(rng) % 1000);
        name += extensions[extension(rng)];
        names.insert(name);
    }
    for (const std::string& name : names) {
        char key[96];
        std::snprintf(key, sizeof key, "%s*%u-%u-0-%u", name.c_str(), 30000000u + any(rng) % 600000u,
                      any(rng), any(rng) % 2000000u);
        std::string text = key;
        if (text.size() > 60) text.resize(60);
        set.keys.push_back(text);
    }
    std::shuffle(set.keys.begin(), set.keys.end(), rng);
    std::uniform_int_distribution<size_t> pick(0, set.keys.size() - 1);
    for (int i = 0; i < kFinds; ++i) {
        const std::string& key = set.keys[pick(rng)];
        set.probes.push_back(key.substr(0, key.find('*') + 1));
    }
    return set;
}

const fs::path& Folder() {
    static const fs::path folder = [] {
        std::random_device random;
        fs::path p = fs::temp_directory_path() / ("kv-bench-" + std::to_string(random()));
        fs::create_directories(p);
        return p;
    }();
    return folder;
}

std::string PathOf(const std::string& store, int count) {
    return (Folder() / (store + "-" + std::to_string(count))).string();
}

// ops/s by (size, operation, store), for the table at the end.
std::map<int, std::map<std::string, std::map<std::string, double>>> results;

void Record(benchmark::State& state, int count, const char* operation, const std::string& store,
            double seconds, int items) {
    state.SetItemsProcessed(int64_t(items));
    results[count][operation][store] = items / seconds;
}

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The keyed-file store -----------------------------------------------------

struct KeyfileConfig {
    int nodeSize;
    int buffers;
};

KeyfileConfig ConfigOf(const std::string& store) {
    if (store == "keyfile-5") return {512, 5};
    if (store == "keyfile-4k") return {4096, (kEqualMemory - kWriteBackRun) / 4096};
    return {512, (kEqualMemory - kWriteBackRun) / 512};
}

struct KeyfileSession {
    explicit KeyfileSession(const std::string& store) {
        const KeyfileConfig c = ConfigOf(store);
        KfStart(c.nodeSize, 0);
        if (c.buffers > 5) KfAddBuffers(c.buffers - 5);
    }
    ~KeyfileSession() { KfStop(); }
};

bool KeyfileBuild(const std::string& store, int count) {
    const KeySet& set = Keys(count);
    const std::string path = PathOf(store, count);
    KfHandle h = KfCreate(path.c_str(), nullptr, ConfigOf(store).nodeSize);
    if (!h) return false;
    for (const std::string& key : set.keys)
        if (KfInsert(h, key.data(), int(key.size()), 1, 1) != 1) return false;
    return KfClose(h) == 1;
}

void KeyfileInsert(benchmark::State& state, std::string store, int count) {
    KeyfileSession session(store);
    for (auto _ : state) {
        auto start = Clock::now();
        if (!KeyfileBuild(store, count)) state.SkipWithError("insert failed");
        Record(state, count, "insert", store, Since(start), count);
    }
}

void KeyfileFind(benchmark::State& state, std::string store, int count) {
    const KeySet& set = Keys(count);
    KeyfileSession session(store);
    if (!fs::exists(PathOf(store, count))) KeyfileBuild(store, count);
    KfHandle h = KfOpen(PathOf(store, count).c_str(), nullptr);
    char buffer[200];
    for (auto _ : state) {
        auto start = Clock::now();
        for (const std::string& probe : set.probes) {
            uint32_t tag;
            if (KfFind(h, probe.data(), int(probe.size()), &tag) != 3 ||
                KfReadKey(h, buffer, sizeof buffer) != 1) {
                state.SkipWithError("find failed");
                break;
            }
            benchmark::DoNotOptimize(buffer[0]);
        }
        Record(state, count, "find", store, Since(start), int(set.probes.size()));
    }
    KfClose(h);
}

void KeyfileScan(benchmark::State& state, std::string store, int count) {
    KeyfileSession session(store);
    if (!fs::exists(PathOf(store, count))) KeyfileBuild(store, count);
    KfHandle h = KfOpen(PathOf(store, count).c_str(), nullptr);
    char buffer[200];
    for (auto _ : state) {
        auto start = Clock::now();
        int seen = 0;
        uint32_t tag;
        for (int r = KfFirst(h, &tag); r == 1; r = KfNext(h, &tag)) {
            KfReadKey(h, buffer, sizeof buffer);
            benchmark::DoNotOptimize(buffer[0]);
            ++seen;
        }
        if (seen != count) state.SkipWithError("scan incomplete");
        Record(state, count, "scan", store, Since(start), count);
    }
    KfClose(h);
}

// SQLite -------------------------------------------------------------------

sqlite3* SqliteOpen(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return nullptr;
    sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=OFF; PRAGMA cache_size=-2000;",
                 nullptr, nullptr, nullptr);
    return db;
}

bool SqliteBuild(int count) {
    const KeySet& set = Keys(count);
    const std::string path = PathOf("sqlite", count);
    fs::remove(path);
    sqlite3* db = SqliteOpen(path);
    if (!db) return false;
    sqlite3_exec(db, "CREATE TABLE t(k BLOB PRIMARY KEY) WITHOUT ROWID; BEGIN;", nullptr, nullptr,
                 nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t(k) VALUES(?)", -1, &insert, nullptr);
    bool ok = true;
    for (const std::string& key : set.keys) {
        sqlite3_bind_blob(insert, 1, key.data(), int(key.size()), SQLITE_STATIC);
        ok = ok && sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

void SqliteInsert(benchmark::State& state, int count) {
    for (auto _ : state) {
        auto start = Clock::now();
        if (!SqliteBuild(count)) state.SkipWithError("insert failed");
        Record(state, count, "insert", "sqlite", Since(start), count);
    }
}

void SqliteFind(benchmark::State& state, int count) {
    const KeySet& set = Keys(count);
    if (!fs::exists(PathOf("sqlite", count))) SqliteBuild(count);
    sqlite3* db = SqliteOpen(PathOf("sqlite", count));
    sqlite3_stmt* find = nullptr;
    sqlite3_prepare_v2(db, "SELECT k FROM t WHERE k >= ? ORDER BY k LIMIT 1", -1, &find, nullptr);
    char buffer[200];
    for (auto _ : state) {
        auto start = Clock::now();
        for (const std::string& probe : set.probes) {
            sqlite3_bind_blob(find, 1, probe.data(), int(probe.size()), SQLITE_STATIC);
            if (sqlite3_step(find) != SQLITE_ROW) {
                state.SkipWithError("find failed");
                break;
            }
            int n = std::min(sqlite3_column_bytes(find, 0), int(sizeof buffer));
            std::memcpy(buffer, sqlite3_column_blob(find, 0), size_t(n));
            benchmark::DoNotOptimize(buffer[0]);
            sqlite3_reset(find);
        }
        Record(state, count, "find", "sqlite", Since(start), int(set.probes.size()));
    }
    sqlite3_finalize(find);
    sqlite3_close(db);
}

void SqliteScan(benchmark::State& state, int count) {
    if (!fs::exists(PathOf("sqlite", count))) SqliteBuild(count);
    sqlite3* db = SqliteOpen(PathOf("sqlite", count));
    sqlite3_stmt* scan = nullptr;
    sqlite3_prepare_v2(db, "SELECT k FROM t ORDER BY k", -1, &scan, nullptr);
    char buffer[200];
    for (auto _ : state) {
        auto start = Clock::now();
        int seen = 0;
        while (sqlite3_step(scan) == SQLITE_ROW) {
            int n = std::min(sqlite3_column_bytes(scan, 0), int(sizeof buffer));
            std::memcpy(buffer, sqlite3_column_blob(scan, 0), size_t(n));
            benchmark::DoNotOptimize(buffer[0]);
            ++seen;
        }
        sqlite3_reset(scan);
        if (seen != count) state.SkipWithError("scan incomplete");
        Record(state, count, "scan", "sqlite", Since(start), count);
    }
    sqlite3_finalize(scan);
    sqlite3_close(db);
}

// LMDB ---------------------------------------------------------------------

MDB_env* LmdbOpen(const std::string& path) {
    MDB_env* env = nullptr;
    if (mdb_env_create(&env) != 0) return nullptr;
    mdb_env_set_mapsize(env, size_t(4) << 30);
    if (mdb_env_open(env, path.c_str(), MDB_NOSUBDIR | MDB_NOSYNC | MDB_NOLOCK, 0644) != 0) {
        mdb_env_close(env);
        return nullptr;
    }
    return env;
}

bool LmdbBuild(int count) {
    const KeySet& set = Keys(count);
    const std::string path = PathOf("lmdb", count);
    fs::remove(path);
    MDB_env* env = LmdbOpen(path);
    if (!env) return false;
    MDB_txn* txn = nullptr;
    MDB_dbi dbi;
    bool ok = mdb_txn_begin(env, nullptr, 0, &txn) == 0 && mdb_dbi_open(txn, nullptr, 0, &dbi) == 0;
    for (const std::string& key : set.keys) {
        if (!ok) break;
        MDB_val k{key.size(), const_cast<char*>(key.data())};
        MDB_val v{0, nullptr};
        ok = mdb_put(txn, dbi, &k, &v, 0) == 0;
    }
    ok = ok && mdb_txn_commit(txn) == 0;
    mdb_env_close(env);
    return ok;
}

void LmdbInsert(benchmark::State& state, int count) {
    for (auto _ : state) {
        auto start = Clock::now();
        if (!LmdbBuild(count)) state.SkipWithError("insert failed");
        Record(state, count, "insert", "lmdb", Since(start), count);
    }
}

// Runs f(cursor) in a read transaction.
template <typename F>
void LmdbRead(int count, F f) {
    if (!fs::exists(PathOf("lmdb", count))) LmdbBuild(count);
    MDB_env* env = LmdbOpen(PathOf("lmdb", count));
    MDB_txn* txn = nullptr;
    MDB_dbi dbi;
    MDB_cursor* cursor = nullptr;
    mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn);
    mdb_dbi_open(txn, nullptr, 0, &dbi);
    mdb_cursor_open(txn, dbi, &cursor);
    f(cursor);
    mdb_cursor_close(cursor);
    mdb_txn_abort(txn);
    mdb_env_close(env);
}

void LmdbFind(benchmark::State& state, int count) {
    const KeySet& set = Keys(count);
    LmdbRead(count, [&](MDB_cursor* cursor) {
        char buffer[200];
        for (auto _ : state) {
            auto start = Clock::now();
            for (const std::string& probe : set.probes) {
                MDB_val k{probe.size(), const_cast<char*>(probe.data())};
                MDB_val v;
                if (mdb_cursor_get(cursor, &k, &v, MDB_SET_RANGE) != 0) {
                    state.SkipWithError("find failed");
                    break;
                }
                std::memcpy(buffer, k.mv_data, std::min(k.mv_size, sizeof buffer));
                benchmark::DoNotOptimize(buffer[0]);
            }
            Record(state, count, "find", "lmdb", Since(start), int(set.probes.size()));
        }
    });
}

void LmdbScan(benchmark::State& state, int count) {
    LmdbRead(count, [&](MDB_cursor* cursor) {
        char buffer[200];
        for (auto _ : state) {
            auto start = Clock::now();
            int seen = 0;
            MDB_val k, v;
            for (int r = mdb_cursor_get(cursor, &k, &v, MDB_FIRST); r == 0;
                 r = mdb_cursor_get(cursor, &k, &v, MDB_NEXT)) {
                std::memcpy(buffer, k.mv_data, std::min(k.mv_size, sizeof buffer));
                benchmark::DoNotOptimize(buffer[0]);
                ++seen;
            }
            if (seen != count) state.SkipWithError("scan incomplete");
            Record(state, count, "scan", "lmdb", Since(start), count);
        }
    });
}

// Registration and the table -------------------------------------------------

// One pass each: a pass is long enough to measure, and the inserts build the
// files that the finds and scans then read.
template <typename... Args>
void Add(const std::string& name, Args&&... args) {
    benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
}

void Register() {
    for (int count : {100000, 1000000}) {
        const std::string n = "/" + std::to_string(count);
        for (const char* store : {"keyfile-5", "keyfile-2000k", "keyfile-4k"}) {
            const std::string s = store;
            Add("insert/" + s + n, KeyfileInsert, s, count);
            Add("find/" + s + n, KeyfileFind, s, count);
            Add("scan/" + s + n, KeyfileScan, s, count);
        }
        Add("insert/sqlite" + n, SqliteInsert, count);
        Add("find/sqlite" + n, SqliteFind, count);
        Add("scan/sqlite" + n, SqliteScan, count);
        Add("insert/lmdb" + n, LmdbInsert, count);
        Add("find/lmdb" + n, LmdbFind, count);
        Add("scan/lmdb" + n, LmdbScan, count);
    }
}

void PrintTable() {
    const char* stores[] = {"keyfile-5", "keyfile-2000k", "keyfile-4k", "sqlite", "lmdb"};
    std::printf("\nOperations per second, and the ratio of keyfile-2000k (keyfile-4k) to each peer\n");
    std::printf("%-8s %-7s", "keys", "op");
    for (const char* s : stores) std::printf(" %13s", s);
    std::printf(" %15s %15s\n", "vs sqlite", "vs lmdb");
    for (auto& [count, ops] : results) {
        for (const char* op : {"insert", "find", "scan"}) {
            auto it = ops.find(op);
            if (it == ops.end()) continue;
            auto& by = it->second;
            auto get = [&](const char* s) { return by.count(s) ? by[s] : 0.0; };
            std::printf("%-8d %-7s", count, op);
            for (const char* s : stores) std::printf(" %13.0f", get(s));
            for (const char* peer : {"sqlite", "lmdb"}) {
                char text[32] = "-";
                if (get(peer) > 0)
                    std::snprintf(text, sizeof text, "%.2f (%.2f)", get("keyfile-2000k") / get(peer),
                                  get("keyfile-4k") / get(peer));
                std::printf(" %15s", text);
            }
            std::printf("\n");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Register();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintTable();
    std::error_code ignored;
    fs::remove_all(Folder(), ignored);
    return 0;
}
