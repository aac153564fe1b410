// Internals shared by files.cpp, find.cpp and extensions.cpp.
#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/linux/win32_types.h"

// CreateFileA with the mode for a new file given explicitly (before the
// umask). With narrowExisting an existing file's permission bits are reduced
// to those of newFileMode (for files that must stay private).
HANDLE PlatformOpenFile(LPCSTR fileName, DWORD desiredAccess, DWORD creationDisposition,
                        mode_t newFileMode, bool narrowExisting);

// The Windows attribute word for an entry: FILE_ATTRIBUTE_DIRECTORY or
// FILE_ATTRIBUTE_ARCHIVE, + READONLY when the owner may not write,
// + HIDDEN when the name begins with "." (other than "." and "..").
DWORD PlatformAttributesFromStat(const struct stat& st, const std::string& name);

// The last component of a native path.
std::string PlatformLeafName(const std::string& native);
