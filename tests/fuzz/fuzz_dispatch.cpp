// Fuzzes the display-command dispatcher with damaged display lists: no input
// may read or write outside its list, the surface, or the framework's buffers.
//
// The first byte picks the dispatcher mode and a few framework settings, so
// that the bitmap-font and Windows-font text paths and viewports are all
// reached; the rest is the list. A small screen file and bitmap lie in the
// working folder for chains (161) and pictures (234) to find.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tessil/display_commands.h"
#include "tessil/state.h"
#include "tessil/tessil.h"
#include "tests/fuzz/fuzz_screen.h"

using namespace tessil;

namespace {

bool SetUp()
{
    fuzz::MakeScratchFolder("dispatch");
    std::vector<uint8_t> library(21 * 3200, 255);
    for (int i = 0; i < 2048; ++i)
        library[20 * 3200 + 1152 + size_t(i)] = uint8_t(i * 37);
    fuzz::WriteBytes("screens.lib", library);
    // s.plt: record 1 draws and chains to record 2, which chains back.
    std::vector<uint8_t> book(2 * 3200, 255);
    const uint8_t r1[] = {170, 4, 0, 0, 0, 0, 0x13, 0x88, 0x13, 0x88, 151, 3, 2, 0, 10, 0, 10, 'A', 'b', 161, 2};
    const uint8_t r2[] = {189, 5, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10, 0, 50, 161, 1};
    std::memcpy(book.data(), r1, sizeof r1);
    std::memcpy(book.data() + 3200, r2, sizeof r2);
    fuzz::WriteBytes("s.plt", book);
    // p.bmp: 2 x 2 pixels, 24 bits.
    fuzz::WriteBytes("p.bmp", {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0,
                               1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               255, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 255, 255, 255, 0, 0});

    fuzz::OpenScreen(640, 480);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = SetUp();
    (void)ready;
    if (size < 1)
        return 0;
    uint8_t settings = data[0];
    fuzz::ResetDrawing();
    std::strcpy(dyn->screenFilePath, "s.plt");
    fontSettings = FontRecord{};
    if (settings & 2) {
        fontSettings.pointSizeTenths = uint8_t(60 + (settings & 0x70));
        std::strcpy(fontSettings.faceName, "Courier New");
    }
    RestoreUserTextFont();
    // The list is copied so that reading one byte past it is caught.
    std::vector<uint8_t> list(data + 1, data + size);
    int mode = settings & 1;
    ExecuteDisplayList(list.data(), list.data() + list.size(), mode);
    return 0;
}
