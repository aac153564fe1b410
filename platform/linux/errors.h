// Last-error plumbing shared by the Linux implementation.
#pragma once

#include <string>

#include "platform/linux/win32_types.h"

// The Windows error code for a failed POSIX call. For ENOENT Windows tells a
// missing file (ERROR_FILE_NOT_FOUND) from a missing folder on the way
// (ERROR_PATH_NOT_FOUND); pass the native path the call was about so the
// difference can be made, or NULL when there is none.
DWORD PlatformErrorFromErrno(int err, const std::string* native = nullptr);

// SetLastError(PlatformErrorFromErrno(err, native)).
void PlatformSetLastErrno(int err, const std::string* native = nullptr);
