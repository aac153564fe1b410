// Fuzzes the screen loader with damaged screen files: the first byte picks
// the load mode (0..4), the rest is the file, split into 3200-byte records
// (its chains, follow-ups and fields all come from the input). No input may
// read or write outside the record, the field area or the field table.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tessil/screen_program.h"
#include "tessil/state.h"
#include "tessil/tessil.h"

using namespace tessil;

namespace {

std::filesystem::path folder;

bool SetUp()
{
    folder = std::filesystem::temp_directory_path() / ("kvfuzz-screens-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    PlatformSetDriveRoot(folder.string().c_str());
    std::string library(21 * 3200, char(255));
    std::ofstream(folder / "screens.lib", std::ios::binary).write(library.data(), std::streamsize(library.size()));
    CreateDynamicBuffers();
    SetScreenLibraryPath("screens.lib");
    screenMode = 1;
    SetScreenMode(640, 480);
    CreateScreenBitmap();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = SetUp();
    (void)ready;
    if (size < 2 || size > 8 * 3200)
        return 0;
    std::ofstream(folder / "f.plt", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
    draw = DrawingState{};
    CloseScreenFiles(); // the file changed under the kept handle
    OpenBook("f.plt", 1, data[0] % 5);
    // Every field the loader made lies inside the field area.
    for (uint16_t i = 0; i < fieldCount; ++i) {
        if (fieldTable[i] < dyn->fieldArea || fieldTable[i] >= dyn->fieldArea + sizeof dyn->fieldArea)
            __builtin_trap();
    }
    return 0;
}
