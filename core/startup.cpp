// Start-up initialisation and the framework settings file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/app.h"
#include "core/data_files.h"
#include "core/site_list.h"
#include "net/file_names.h"
#include "tessil/input.h"
#include "tessil/state.h"
#include "tessil/tessil.h"

namespace {

constexpr const char* kDefaultLibrary = "c:\\kestrovane\\kvscreens.lib";
// A settings file is a line or two; more is not a settings file.
constexpr DWORD kMaxSettingsFile = 4096;

// The next white-space separated value, or an empty string.
const char* NextValue(const char*& p, char* out, size_t size)
{
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    size_t n = 0;
    while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') {
        if (n + 1 < size)
            out[n++] = *p;
        ++p;
    }
    out[n] = 0;
    return out;
}

double RealOr(const char* text, double fallback)
{
    char* end = nullptr;
    double v = std::strtod(text, &end);
    return end != text && *end == 0 && v > 0 && v < 100 ? v : fallback;
}

} // namespace

bool LoadFrameworkSettings()
{
    HANDLE file = CreateFileA(kFrameworkSettings, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char text[kMaxSettingsFile + 1];
    DWORD got = 0;
    BOOL ok = ReadFile(file, text, kMaxSettingsFile, &got, nullptr);
    CloseHandle(file);
    if (!ok)
        return false;
    text[got] = 0;

    const char* p = text;
    char value[128];
    double across = RealOr(NextValue(p, value, sizeof value), 1.0);
    double down = RealOr(NextValue(p, value, sizeof value), 1.0);
    NextValue(p, value, sizeof value); // the option byte
    for (int i = 0; i < 3; ++i)
        NextValue(p, value, sizeof value);
    char library[80];
    NextValue(p, library, sizeof library);
    if (!library[0])
        std::snprintf(library, sizeof library, "%s", kDefaultLibrary);
    // The remaining five values are read by the format and not used.

    // The ellipse's aspect factor follows the screen's physical proportions.
    int aspect = int(1024.0 * down / across);
    tessil::screen.screenAspect = aspect < 256 ? 256 : aspect > 4096 ? 4096 : aspect;
    tessil::SetScreenLibraryPath(library);
    // The folder part, from the first backslash to the last, is the framework's folder.
    const char* first = std::strchr(library, '\\');
    const char* last = std::strrchr(library, '\\');
    if (first && tessil::dyn)
        std::snprintf(tessil::dyn->currentFolder, sizeof tessil::dyn->currentFolder, "%.*s", int(last - first + 1),
                      first);
    return true;
}

void StartupInit()
{
    if (!tessil::CreateDynamicBuffers()) {
        tessil::ShowMessageLine("Unable to allocate memory for dynamic buffers", 0, 2, 195);
        tessil::WaitTicks(2);
        ShutdownCleanup();
    }
    if (!LoadFrameworkSettings()) {
        std::puts("RTTW.INI file not found, please run BRENNOX");
        std::fflush(stdout);
        ShutdownCleanup();
    }
    // The framework's start state: opaque text, default character sizes and
    // text grid, no editing, the function-key bar enabled.
    tessil::draw = tessil::DrawingState{};
    tessil::functionKeyMode = 0;
    tessil::insertMode = 0;
    tessil::scrollOffset = 0;
    RemoveScratchFilesOfAllSites(siteListPath); // downloads a killed run left half done
}
