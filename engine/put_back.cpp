#include "engine/put_back.h"

#include <cstdio>

#include "engine/remote_listing.h"
#include "net/connection.h"
#include "net/timed_transfers.h"
#include "platform/extensions.h"

namespace engine {

bool ReplaceRemoteFile(const char* localPath, const char* name, bool nameIsLink)
{
    if (!ftpConnection)
        return false;
    if (UploadFile(ftpConnection, localPath, kScratchUpload)) {
        if (FtpRenameFileA(ftpConnection, kScratchUpload, name))
            return true;
        FtpDeleteFileA(ftpConnection, kScratchUpload);
    }
    if (!ftpConnection)
        return false;
    // No rename here (or no room for a second copy): the target is written
    // directly, after a link of its name is removed so that STOR cannot
    // follow it into the file it points at.
    if (nameIsLink && !FtpDeleteFileA(ftpConnection, name))
        return false;
    return UploadFile(ftpConnection, localPath, name) != 0;
}

bool SetRemoteMode(const char* name, DWORD mode)
{
    if (!ftpConnection)
        return false;
    char command[MAX_PATH + 32];
    const int length = std::snprintf(command, sizeof command, "SITE CHMOD %04o %s", unsigned(mode & kFindDataModeBits),
                                     name);
    if (length < 0 || size_t(length) >= sizeof command)
        return false;
    return FtpCommandA(ftpConnection, FALSE, FTP_TRANSFER_TYPE_ASCII, command, 0, nullptr) != FALSE;
}

} // namespace engine
