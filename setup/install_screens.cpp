// The driver's screen table, filled with the screens of this room.
#include "core/monitor.h"
#include "setup/setup.h"

void InstallSetupScreens()
{
    monitorScreens.filterFiles = FilterFilesScreen;
    monitorScreens.sync = SyncScreen;
    monitorScreens.reset = ResetScreen;
}
