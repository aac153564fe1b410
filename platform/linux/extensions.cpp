// The services declared in platform/extensions.h, Linux side.
// PlatformSetDriveRoot lives in paths.cpp beside the root it sets.
#include "platform/win32.h"

#include "platform/linux/files.h"

HANDLE PlatformCreatePrivateFile(LPCSTR path, DWORD access, DWORD disposition) {
    return PlatformOpenFile(path, access, disposition, 0600, true);
}
