// The dynamic block: the one allocation screens, fields and the framework's
// buffers live in.
#include <cstdio>
#include <new>

#include "tessil/state.h"

namespace tessil {

DynamicBlock* dyn = nullptr;
uint8_t* fieldTable[kMaxFields];
uint16_t fieldCount = 0;
uint16_t scrollOffset = 0;

bool CreateDynamicBuffers()
{
    if (dyn)
        return true;
    dyn = new (std::nothrow) DynamicBlock();
    return dyn != nullptr;
}

void SetScreenLibraryPath(const char* path)
{
    if (!CreateDynamicBuffers())
        return;
    std::snprintf(dyn->screenLibraryPath, sizeof dyn->screenLibraryPath, "%s", path ? path : "");
}

char* LineBuffer()
{
    static char fallback[80];
    return dyn ? dyn->lineBuffer : fallback;
}

void ReleaseScreenResources()
{
    CloseScreenFiles();
    DeleteScreenFonts();
    fontsLoadedForMode = -1;
    fieldCount = 0;
    delete dyn;
    dyn = nullptr;
}

} // namespace tessil
