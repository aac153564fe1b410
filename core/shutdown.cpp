// The one way the program ends.
#include <cstdlib>

#include "alerts/event_log.h"
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
    CloseEventLog();
    WSACleanup();
    tessil::ReleaseScreenResources();
    std::exit(0);
}
