// The one way the program ends.
#include <cstdlib>

#include "alerts/event_log.h"
#include "app/app.h"
#include "app/monitor.h"
#include "engine/engine.h"
#include "keyfile/keyfile.h"
#include "net/connection.h"
#include "tessil/tessil.h"

void ShutdownCleanup()
{
    // The window procedure may be asked to close while the clean-up pumps
    // nothing; a second call has nothing left to do.
    static bool running = false;
    if (running)
        std::exit(0);
    running = true;
    StopConnectionBeeper();
    if (liveMenu)
        DestroyMenu(liveMenu);
    if (greyedMenu)
        DestroyMenu(greyedMenu);
    liveMenu = greyedMenu = nullptr;
    CloseConnections();
    CloseFileRecords();
    CloseEventLog();
    KfStop();
    WSACleanup();
    tessil::ReleaseScreenResources();
    std::exit(0);
}
