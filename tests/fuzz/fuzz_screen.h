// The set-up the screen fuzzers share: a scratch folder as the current drive
// and the framework with its buffers and a screen. Done once per process;
// each run then costs only what the code under test does.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "tessil/state.h"
#include "tessil/tessil.h"

namespace fuzz {

inline std::filesystem::path& ScratchFolder()
{
    static std::filesystem::path folder;
    return folder;
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Makes a new folder, enters it and makes it the current drive; it is removed
// when the fuzzer exits normally (a crash leaves it for a look). It lies on a
// RAM disk where there is one: fuzzers that rewrite a file every run would
// otherwise wait for ext4 to flush it at each close.
inline std::filesystem::path MakeScratchFolder(const char* name)
{
    std::error_code error;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, error))
        base = std::filesystem::temp_directory_path();
    auto& folder = ScratchFolder();
    folder = base / (std::string("kvfuzz-") + name + "-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    PlatformSetDriveRoot(folder.string().c_str());
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::current_path(ScratchFolder().parent_path(), ignored);
        std::filesystem::remove_all(ScratchFolder(), ignored);
    });
    return folder;
}

// The framework's buffers and a width x height screen, with screens.lib (21
// empty records unless the caller wrote its own) as the screen library. The
// screen fits the window, so the smallest (80 x 60) keeps pixel work out of
// fuzzers that are about something else.
inline void OpenScreen(int width, int height)
{
    if (!std::filesystem::exists("screens.lib"))
        WriteBytes("screens.lib", std::vector<uint8_t>(21 * 3200, 255));
    tessil::CreateDynamicBuffers();
    tessil::SetScreenLibraryPath("screens.lib");
    tessil::screenMode = 4; // fit the window
    tessil::SetScreenMode(width, height);
    tessil::CreateScreenBitmap();
}

// Drawing state and frame as a screen starts, so that each run stands alone
// (a viewport one input leaves open must not scale the next one's drawing).
inline void ResetDrawing()
{
    tessil::draw = tessil::DrawingState{};
    tessil::screen.x0 = tessil::screen.y0 = 0;
    tessil::screen.scaleRight = tessil::screen.rightEdge;
    tessil::screen.scaleBottom = tessil::screen.bottomEdge;
    tessil::screen.aspect = tessil::screen.screenAspect;
    tessil::ResetDrawClip();
}

} // namespace fuzz
