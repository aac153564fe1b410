// Path translation: the one place where a path as the program spells it
// (Windows form, "\kestrovane\sites.info", "c:\kestrovane\...", "sub\name")
// becomes a native Linux path. Every file function of platform/ calls it.
//
// Rules (see also MANIFEST.md):
//  - The root of the current drive is the folder given to PlatformSetDriveRoot,
//    else $KESTROVANE_DRIVE when set and not empty, else $HOME (else the
//    password database's home folder, else "/").
//  - "\" and "/" are both separators; runs of separators collapse.
//  - A leading "\" or "X:\" / "X:/" (any drive letter) starts at the drive
//    root. "X:" alone and "X:name" start at the drive root too: Linux has one
//    current directory, not one per drive, so the drive-relative form cannot
//    mean "the current directory of drive X".
//  - A leading "/" is a native absolute path (as a folder chooser returns) and
//    is not moved under the drive root; backslashes appended to it by the
//    program still separate components.
//  - Anything else is relative to the process's current directory.
//  - "." and ".." are resolved on the text, as Windows does; ".." never climbs
//    above the drive root (or "/").
//  - A component that exists with its exact spelling is taken as it is.
//    Otherwise Windows name rules apply: trailing dots and blanks are dropped
//    from the last component (a single trailing dot from the others), the
//    name may not contain < > : " | ? * or control characters (ERROR_INVALID_NAME)
//    nor exceed 255 bytes, and it is matched without regard to ASCII case
//    against the entries of its folder. A name found nowhere is kept as spelled.
//  - The Windows text must be shorter than MAX_PATH (ERROR_FILENAME_EXCED_RANGE);
//    an empty or NULL path gives ERROR_PATH_NOT_FOUND; the native result must
//    be shorter than PATH_MAX.
#pragma once

#include <string>

#include "platform/linux/win32_types.h"

// How the last component is treated. AsSpelled is for the target name of a
// rename or copy, whose spelling the caller wants kept even when an entry of
// another case exists.
enum class LeafMatch { AnyCase, AsSpelled };

// Translates path into native. On failure returns false with the last error
// set (ERROR_PATH_NOT_FOUND, ERROR_FILENAME_EXCED_RANGE, ERROR_INVALID_NAME).
bool PlatformTranslatePath(const char* path, std::string& native,
                           LeafMatch leaf = LeafMatch::AnyCase);

// The checks of the Windows text alone (NULL, empty, length), in the order
// Windows makes them, so callers can check their other arguments after these
// and before the disk is touched. Sets the last error on failure.
bool PlatformCheckPathText(const char* path);

// The native folder that is the root of the current drive, without a trailing
// slash (unless it is "/").
std::string PlatformDriveRoot();

// Native path -> the form GetCurrentDirectoryA reports: "C:\..." when it lies
// under the drive root, the native path unchanged otherwise.
std::string PlatformNativeToWindows(const std::string& native);
