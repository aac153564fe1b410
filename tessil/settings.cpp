// The framework's settings entry points: what start-up tells the framework.
#include <cstdio>
#include <cstring>

#include "tessil/input.h"
#include "tessil/state.h"

namespace tessil {

namespace {

double ProportionOr(double value, double fallback) { return value > 0 && value < 100 ? value : fallback; }

} // namespace

void ApplySettings(const Settings& settings)
{
    double across = ProportionOr(settings.screenAcross, 1.0);
    double down = ProportionOr(settings.screenDown, 1.0);
    // The ellipse's aspect factor follows the screen's physical proportions.
    int aspect = int(1024.0 * down / across);
    screen.screenAspect = aspect < 256 ? 256 : aspect > 4096 ? 4096 : aspect;

    const char* library = settings.libraryPath ? settings.libraryPath : "";
    SetScreenLibraryPath(library);
    // The folder part, from the first backslash to the last, is the framework's folder.
    const char* first = std::strchr(library, '\\');
    const char* last = std::strrchr(library, '\\');
    if (first && dyn)
        std::snprintf(dyn->currentFolder, sizeof dyn->currentFolder, "%.*s", int(last - first + 1), first);
}

void SetFontRecord(const FontRecord& record)
{
    fontSettings = record;
    fontWorking = record;
}

void ResetState()
{
    draw = DrawingState{};
    functionKeyMode = 0;
    insertMode = 0;
    scrollOffset = 0;
}

} // namespace tessil
