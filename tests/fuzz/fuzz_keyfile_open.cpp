// libFuzzer target: the input is a keyed file. It is opened and searched,
// scanned, grown and shrunk, and closed; nothing may crash, overrun or hang.
// When the structure checker calls the input sound, every operation must also
// succeed (apart from refused duplicates and missing keys) and the file must
// still be sound afterwards.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "keyfile/check.h"
#include "keyfile/keyfile.h"

namespace {

constexpr int kMaxNodeSize = 1024;

const std::string& ScratchPath() {
    static const std::string path = [] {
        std::random_device random;
        auto name = "kf-fuzz-" + std::to_string(random()) + std::to_string(random()) + ".kf";
        return (std::filesystem::temp_directory_path() / name).string();
    }();
    static const bool cleanup = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove(ScratchPath(), ignored);
    }) == 0;
    (void)cleanup;
    return path;
}

bool Acceptable(int result, bool sound) {
    if (result != -1 || !sound) return true;
    return kfError == kKfErrDuplicateEntry || kfError == kKfErrDuplicateKey ||
           kfError == kKfErrNoEntry || kfError == kKfErrEmptyTree || kfError == kKfErrKeyLength;
}

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = KfStart(kMaxNodeSize, 4) == 1;
    Require(started);
    const std::string& path = ScratchPath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    KfCheckReport before = KfCheckFile(path.c_str());
    KfHandle h = KfOpen(path.c_str(), nullptr);
    if (!h) {
        // A sound file opens unless its nodes are larger than this library's.
        Require(!before.sound || kfError == kKfErrNodeSize);
        return 0;
    }
    const bool sound = before.sound;

    // Keys: fixed ones and slices of the input, so that some exist.
    std::string keys[12] = {"", "a", "m", "page*", "zzzz", std::string(40, 'q')};
    for (int k = 6; k < 12; ++k) {
        size_t from = size ? (size_t(k) * 131) % size : 0;
        size_t length = size ? std::min<size_t>(size - from, size_t(k) * 3) : 0;
        keys[k].assign(reinterpret_cast<const char*>(data) + from, length);
    }
    uint32_t tag = 0;
    for (const std::string& key : keys)
        Require(Acceptable(KfFind(h, key.data(), int(key.size()), &tag), sound));

    // A scan ends by itself, even over a chain that loops.
    int steps = 0;
    int r = KfFirst(h, &tag);
    while (r == 1) {
        char buffer[64];
        Require(Acceptable(KfReadKey(h, buffer, sizeof buffer), sound));
        r = KfNext(h, &tag);
        Require(++steps < 10000000);
    }
    Require(Acceptable(r, sound));
    if (sound) Require(uint64_t(steps) == before.entries);

    for (int k = 0; k < 12; ++k) {
        const std::string& key = keys[k];
        Require(Acceptable(KfInsert(h, key.data(), int(key.size()), uint32_t(k % 3), 1), sound));
    }
    for (int k = 0; k < 12; k += 2) {
        const std::string& key = keys[k];
        Require(Acceptable(KfDelete(h, key.data(), int(key.size()), uint32_t(k % 3)), sound));
    }
    const int closed = KfClose(h);
    Require(!sound || closed == 1);
    if (sound) Require(KfCheckFile(path.c_str()).sound);
    return 0;
}
