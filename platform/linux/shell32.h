// Shell subset on Linux: the folder browser (a GTK folder chooser) and the
// special folders of the XDG base-directory rules. Paths handed out are
// native Linux paths beginning with "/", which every KERNEL32 function of this
// layer takes as they are.
#pragma once

#include "platform/linux/win32_types.h"

LPITEMIDLIST SHBrowseForFolderA(LPBROWSEINFOA browseInfo);
BOOL SHGetPathFromIDListA(LPCITEMIDLIST itemList, LPSTR path);
BOOL SHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create);
void CoTaskMemFree(LPVOID memory);
