// kfcheck: prints a keyed file's header and nodes and runs the structure
// checker on it.
//
//   kfcheck [--header-only] [--check-only] FILE
//
// Exit code: 0 the file is sound, 1 the checker found problems, 2 usage or
// the file cannot be read. Key bytes outside printable ASCII, and the
// backslash, are shown as \xHH. Damaged nodes are shown as far as their own
// counts and offsets stay inside the node.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "keyfile/check.h"
#include "keyfile/format.h"
#include "platform/win32.h"

namespace {

using namespace kf;

bool ReadAll(const char* path, std::vector<uint8_t>& bytes) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    constexpr DWORD kChunk = 1 << 20;
    bool ok = true;
    for (;;) {
        size_t have = bytes.size();
        bytes.resize(have + kChunk);
        DWORD got = 0;
        if (!ReadFile(file, bytes.data() + have, kChunk, &got, nullptr)) {
            ok = false;
            got = 0;
        }
        bytes.resize(have + got);
        if (got == 0) break;
    }
    CloseHandle(file);
    return ok;
}

std::string Printable(const uint8_t* key, int length) {
    std::string out;
    for (int i = 0; i < length; ++i) {
        const uint8_t c = key[i];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

void DumpHeader(const uint8_t* bytes) {
    Header h;
    const bool wordOk = DecodeHeader(bytes, h);
    std::printf("header\n");
    std::printf("  node size      %u\n", h.nodeSize);
    std::printf("  root           %u\n", h.root);
    std::printf("  highest node   %u\n", h.highest);
    std::printf("  first leaf     %u\n", h.firstLeaf);
    std::printf("  last leaf      %u\n", h.lastLeaf);
    std::printf("  free list      %u\n", h.freeHead);
    std::printf("  height         %u\n", h.height);
    std::printf("  check word     %04X (%s, computed %04X)\n", Get16(bytes + 24),
                wordOk ? "matches" : "WRONG", HeaderCheckWord(bytes));
}

void DumpNode(uint32_t number, const uint8_t* bytes, uint16_t size) {
    const uint32_t first = Get32(bytes);
    if (first == 0) {
        std::printf("node %u: free, next free %u\n", number, Get32(bytes + 4));
        return;
    }
    const bool leaf = first == kLeafMark;
    const int es = leaf ? kLeafEntrySize : kBranchEntrySize;
    const int count = Get16(bytes + 12);
    const int lowest = Get16(bytes + 14);
    std::printf("node %u: %s", number, leaf ? "leaf" : "branch");
    if (!leaf) std::printf(", leftmost child %u", first);
    std::printf(", prev %u, next %u, %d entries, keys from %d\n", Get32(bytes + 4),
                Get32(bytes + 8), count, lowest);
    const int fitting = (size - kNodeHeaderSize) / es;
    if (count > fitting) std::printf("  entry count %d does not fit the node\n", count);
    for (int i = 0; i < count && i < fitting; ++i) {
        const uint8_t* e = bytes + kNodeHeaderSize + i * es;
        const int offset = Get16(e);
        const int length = Get16(e + 2);
        std::printf("  %4d  tag %u", i, Get32(e + 4));
        if (!leaf) std::printf("  child %u", Get32(e + 8));
        if (offset + length > size)
            std::printf("  key at %d length %d outside the node\n", offset, length);
        else
            std::printf("  \"%s\"\n", Printable(bytes + offset, length).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool headerOnly = false;
    bool checkOnly = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--header-only") == 0)
            headerOnly = true;
        else if (std::strcmp(argv[i], "--check-only") == 0)
            checkOnly = true;
        else if (!path && argv[i][0] != '-')
            path = argv[i];
        else
            path = nullptr, i = argc;
    }
    if (!path) {
        std::fprintf(stderr, "usage: kfcheck [--header-only] [--check-only] FILE\n");
        return 2;
    }
    std::vector<uint8_t> bytes;
    if (!ReadAll(path, bytes)) {
        std::fprintf(stderr, "kfcheck: cannot read %s\n", path);
        return 2;
    }
    if (!checkOnly) {
        std::printf("%s: %zu bytes\n", path, bytes.size());
        if (bytes.size() >= size_t(kHeaderSize)) {
            DumpHeader(bytes.data());
            const uint16_t size = Get16(bytes.data());
            if (!headerOnly && size >= kMinNodeSize) {
                const size_t nodes = bytes.size() / size;
                for (size_t n = 1; n < nodes; ++n)
                    DumpNode(uint32_t(n), bytes.data() + n * size, size);
                if (bytes.size() % size != 0)
                    std::printf("%zu bytes after the last whole node\n", bytes.size() % size);
            }
        }
    }

    KfCheckReport report = KfCheckFile(path);
    std::printf("check: %s\n", report.sound ? "sound" : "PROBLEMS");
    for (const std::string& p : report.problems) std::printf("  %s\n", p.c_str());
    std::printf("  %llu entries, %u leaves, %u branches, %u free nodes\n",
                (unsigned long long)report.entries, report.leaves, report.branches,
                report.freeNodes);
    return report.sound ? 0 : 1;
}
