// Writes the fuzzing seeds into the folder named on the command line: small
// keyed files of several node sizes, from empty to a few levels, one with a
// free list.
#include <cstdio>
#include <string>

#include "keyfile/keyfile.h"

namespace {

bool Make(const std::string& folder, int nodeSize, int keys, int deleted) {
    const std::string path =
        folder + "/seed-" + std::to_string(nodeSize) + "-" + std::to_string(keys) + "-" +
        std::to_string(deleted) + ".kf";
    KfHandle h = KfCreate(path.c_str(), nullptr, nodeSize);
    if (!h) return false;
    const int limit = nodeSize - 28;
    for (int i = 0; i < keys; ++i) {
        std::string key = "f" + std::to_string(i * 37 % 1000) + ".htm*1-" + std::to_string(i);
        if (int(key.size()) > limit) key.resize(size_t(limit));
        if (KfInsert(h, key.data(), int(key.size()), uint32_t(i % 2), 1) != 1) return false;
    }
    for (int i = 0; i < deleted; ++i) {
        std::string key = "f" + std::to_string(i * 37 % 1000) + ".htm*1-" + std::to_string(i);
        if (int(key.size()) > limit) key.resize(size_t(limit));
        KfDelete(h, key.data(), int(key.size()), uint32_t(i % 2));
    }
    return KfClose(h) == 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_keyfile_seeds FOLDER\n");
        return 2;
    }
    if (KfStart(1024, 0) != 1) return 1;
    const std::string folder = argv[1];
    bool ok = Make(folder, 37, 0, 0) && Make(folder, 37, 12, 0) && Make(folder, 64, 30, 10) &&
              Make(folder, 128, 40, 0) && Make(folder, 128, 60, 45) && Make(folder, 512, 60, 0) &&
              Make(folder, 256, 3, 0);
    KfStop();
    if (!ok) std::fprintf(stderr, "make_keyfile_seeds: error %u at %u\n", kfError, kfErrorLocation);
    return ok ? 0 : 1;
}
