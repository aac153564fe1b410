// The services declared in platform/extensions.h, Windows side.
#include "platform/win32.h"

HANDLE PlatformCreatePrivateFile(LPCSTR path, DWORD access, DWORD disposition) {
    // The folder's default security already keeps the file to its owner's
    // profile; nothing narrower is asked for on Windows.
    return CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

BOOL PlatformSetDriveRoot(LPCSTR nativeFolder) {
    // A Windows drive root is where it is.
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL PlatformWriteDesktopEntry(LPCSTR folder, LPCSTR program, LPCSTR icon) {
    // The copies of the program file on the desktop and in the Start menu are
    // what Windows shows.
    return TRUE;
}
