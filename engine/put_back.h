// Replacing a web file with a clean one, and setting a web file's mode, in
// the current remote folder. Both checks put files on the web this way; the
// caller lists the folder afterwards to see what the server really holds.
// Internal to engine/.
#pragma once

#include "platform/win32.h"

namespace engine {

// Puts the local file `localPath` on the web as `name`, replacing what is
// there rather than writing into it: the bytes go to kScratchUpload, which
// is then renamed over `name` (a link of that name is so replaced, never
// written through into its target). Where the server refuses the rename,
// the scratch file is deleted, `name` too when `nameIsLink`, and the file
// is stored under `name` directly. True when the server took the bytes
// under `name`; a lost connection leaves ftpConnection null. Call with the
// FTP connection in the remote folder; `name` must be a safe local name
// (net/file_names.h), since it is sent in commands.
bool ReplaceRemoteFile(const char* localPath, const char* name, bool nameIsLink);

// Sends "SITE CHMOD <octal> <name>" for the permission bits `mode`
// (07777). True when the server took it.
bool SetRemoteMode(const char* name, DWORD mode);

} // namespace engine
