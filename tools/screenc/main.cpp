// screenc: the screen compiler.
//
//   screenc SOURCE -o FILE        compiles a screen source into a screen file
//   screenc --dump FILE           lists a screen file's records as source
//   screenc --font-record -o FILE --face NAME [--size TENTHS] [--weight HUNDREDS]
//           [--italic 0|1] [--pitch BYTE]
//                                 writes the 60-byte font record (winfont.ini)
//
// Exit code 0 on success, 1 when the source has errors (each printed as
// FILE:LINE: message; no file is written) or a file cannot be read or
// written, 2 on usage. The language is described in screen_compiler.cpp.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/screenc/screen_compiler.h"

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: screenc SOURCE -o FILE\n"
                 "       screenc --dump FILE\n"
                 "       screenc --font-record -o FILE --face NAME [--size TENTHS] [--weight HUNDREDS]\n"
                 "               [--italic 0|1] [--pitch BYTE]\n");
    return 2;
}

bool ReadAll(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Writes the whole file, or removes what was written.
bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (out && out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size())) && out.flush())
            return true;
    }
    std::remove(path.c_str());
    std::fprintf(stderr, "screenc: cannot write %s\n", path.c_str());
    return false;
}

bool ParseInt(const char* text, int& value)
{
    char* end = nullptr;
    long v = std::strtol(text, &end, 0);
    if (!*text || *end || v < -1000000 || v > 1000000)
        return false;
    value = int(v);
    return true;
}

int FontRecord(int argc, char** argv)
{
    std::string out, face;
    int size = 0, weight = 7, italic = 0, pitch = 0x31; // fixed pitch, modern family
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const char* value = argv[++i];
        bool ok = true;
        if (arg == "-o")
            out = value;
        else if (arg == "--face")
            face = value;
        else if (arg == "--size")
            ok = ParseInt(value, size);
        else if (arg == "--weight")
            ok = ParseInt(value, weight);
        else if (arg == "--italic")
            ok = ParseInt(value, italic);
        else if (arg == "--pitch")
            ok = ParseInt(value, pitch);
        else
            return Usage();
        if (!ok)
            return Usage();
    }
    if (out.empty() || face.empty())
        return Usage();
    std::string error;
    std::vector<uint8_t> record = screenc::MakeFontRecord(size, weight, italic, pitch, face, &error);
    if (record.empty()) {
        std::fprintf(stderr, "screenc: %s\n", error.c_str());
        return 1;
    }
    return WriteAll(out, record) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--dump") == 0) {
        std::string bytes;
        if (!ReadAll(argv[2], bytes)) {
            std::fprintf(stderr, "screenc: cannot read %s\n", argv[2]);
            return 1;
        }
        std::string listing = screenc::DumpScreenFile(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        std::fwrite(listing.data(), 1, listing.size(), stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--font-record") == 0)
        return FontRecord(argc, argv);
    if (argc != 4 || std::strcmp(argv[2], "-o") != 0)
        return Usage();

    std::string source;
    if (!ReadAll(argv[1], source)) {
        std::fprintf(stderr, "screenc: cannot read %s\n", argv[1]);
        return 1;
    }
    screenc::CompileResult result = screenc::CompileScreenSource(source, argv[1]);
    for (const screenc::Diagnostic& d : result.errors)
        std::fprintf(stderr, "%s\n", d.Format().c_str());
    if (!result.ok())
        return 1;
    return WriteAll(argv[3], result.bytes) ? 0 : 1;
}
