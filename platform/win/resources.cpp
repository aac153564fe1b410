// PlatformSetResources on Windows: the executable carries its resources
// (app/kestrovane.rc), so there is nothing to hand over.
#include "platform/win32.h"

void PlatformSetResources(const PlatformResources*) {}
