// The one way the program ends.
#include <cstdlib>

#include "core/app.h"
#include "keyfile/keyfile.h"
#include "tessil/tessil.h"

void ShutdownCleanup()
{
    if (liveMenu)
        DestroyMenu(liveMenu);
    if (greyedMenu)
        DestroyMenu(greyedMenu);
    liveMenu = greyedMenu = nullptr;
    KfStop();
    tessil::ReleaseScreenResources();
    std::exit(0);
}
