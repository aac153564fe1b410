// Hands the driver the screens of this room (core/monitor.h).
#include "core/monitor.h"
#include "setup/setup.h"

void InstallSetupScreens()
{
    monitorScreens.webSiteSetup = WebSiteSetup;
    monitorScreens.filterFiles = FilterFilesScreen;
    monitorScreens.sync = SyncScreen;
    monitorScreens.reset = ResetScreen;
}
