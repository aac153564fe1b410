// The one way the program ends.
#include <cstdlib>

#include "alerts/event_log.h"
#include "core/app.h"
#include "keyfile/keyfile.h"
#include "net/connection.h"
#include "tessil/tessil.h"

void ShutdownCleanup()
{
    if (liveMenu)
        DestroyMenu(liveMenu);
    if (greyedMenu)
        DestroyMenu(greyedMenu);
    liveMenu = greyedMenu = nullptr;
    CloseConnections();
    KfStop();
    CloseEventLog();
    WSACleanup();
    tessil::ReleaseScreenResources();
    std::exit(0);
}
