// Fuzzes the screen loader with damaged screen files: the first byte picks
// the load mode (0..4), the rest is the file, split into 3200-byte records
// (its chains, follow-ups and fields all come from the input). No input may
// read or write outside the record, the field area or the field table.
//
// The screen is the smallest (80 x 60), so that the loader's clearing and
// drawing, which fuzz_dispatch covers at full size, do not dominate a run.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "tessil/screen_program.h"
#include "tessil/state.h"
#include "tessil/tessil.h"
#include "tests/fuzz/fuzz_screen.h"

using namespace tessil;

namespace {

bool SetUp()
{
    fuzz::MakeScratchFolder("screens");
    fuzz::OpenScreen(80, 60);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = SetUp();
    (void)ready;
    if (size < 2 || size > 8 * 3200)
        return 0;
    std::ofstream("f.plt", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
    fuzz::ResetDrawing();
    CloseScreenFiles(); // the file changed under the kept handle
    OpenBook("f.plt", 1, data[0] % 5);
    // Every field the loader made lies inside the field area.
    for (uint16_t i = 0; i < fieldCount; ++i) {
        if (fieldTable[i] < dyn->fieldArea || fieldTable[i] >= dyn->fieldArea + sizeof dyn->fieldArea)
            __builtin_trap();
    }
    return 0;
}
