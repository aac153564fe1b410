// The few services the program needs that Win32 does not name, declared once
// for both systems. Each has a Windows and a Linux implementation in platform/.
#pragma once

// Creates (or opens) a file whose contents must stay private to the user,
// such as the site list, which holds passwords. On Linux a new file gets mode
// 0600 and an existing one is narrowed to it; on Windows it is CreateFileA
// with the default security of the folder. Arguments and result are those of
// CreateFileA with share mode 0 and no template.
HANDLE PlatformCreatePrivateFile(LPCSTR path, DWORD access, DWORD disposition);

// Makes an existing native folder the root of the current drive, for every
// later path that begins with "\" or a drive letter. On Linux this overrides
// KESTROVANE_DRIVE (tests use it to work in a fresh folder); NULL goes back to
// KESTROVANE_DRIVE / $HOME. Fails with ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND for a missing folder and ERROR_DIRECTORY for a file,
// keeping the earlier root. On Windows the drive root cannot be moved and the
// call returns FALSE with ERROR_NOT_SUPPORTED.
BOOL PlatformSetDriveRoot(LPCSTR nativeFolder);
