// The table through which the screens reach the driver, with the defaults of
// a program that has none.
#include "screens/screens.h"

namespace {

uint8_t ownSyncWebSwitch = 0;
uint8_t ownMirrorSwitch = 0;

} // namespace

DriverEntryPoints driverEntryPoints = {
    [] { return int32_t(0); },
    [] {},
    [](const char*) {},
    &ownSyncWebSwitch,
    &ownMirrorSwitch,
};
