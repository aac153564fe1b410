// Remote folder deletion: FTP removes only empty folders, so a folder is
// emptied bottom-up. Each level deletes its files, removes the sub-folders
// that are empty already, lists the others in its own "deleteresults<n>.txt"
// in the data folder, descends into them one after another and at last
// removes itself from its parent. One connection serves the whole tree.
// Every folder it changes is noted as the program's own act (own_acts.h).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "alerts/event_log.h"
#include "engine/engine.h"
#include "engine/entry_kind.h"
#include "engine/own_acts.h"
#include "engine/pass_connection.h"
#include "engine/remote_listing.h"
#include "engine/stream.h"
#include "net/connection.h"
#include "net/file_names.h"

int deleteFolderDepth = 32;

namespace {

// A line of the list file: "FOLDER - <name>\n".
constexpr char kListLine[] = "FOLDER - ";
constexpr size_t kListLineLength = sizeof kListLine - 1;

// Entries never deleted: "." and "..", and dot names of at most 2 or at
// least 35 characters (a server's own files); ".htaccess" is deleted.
bool Skipped(const std::string& name)
{
    if (ClassifyFileName(name.c_str()) == FileNameUse::kNotAFile)
        return true;
    return name[0] == '.' && (name.size() <= 2 || name.size() >= 35);
}

// A level's list file, removed when the level ends however it ends.
class ListFile {
public:
    explicit ListFile(int32_t listNumber)
    {
        std::snprintf(name_, sizeof name_, "deleteresults%d.txt", int(listNumber));
        stream_.reset(std::fopen(name_, "w+b"));
    }
    ~ListFile()
    {
        if (stream_) {
            stream_.reset();
            DeleteFileA(name_);
        }
    }
    FILE* get() const { return stream_.get(); }

private:
    char name_[32];
    engine::Stream stream_;
};

class FolderDeletion {
public:
    // Connects and reads the login folder, the root of every path below.
    bool Start()
    {
        if (!Connect())
            return false;
        char current[MAX_PATH] = {};
        DWORD length = sizeof current;
        if (!FtpGetCurrentDirectoryA(ftpConnection, current, &length))
            return false;
        login_ = current;
        return true;
    }

    // Deletes the folder `folderPath` (below the login folder, as the
    // passes name it) with everything in it. True when it is removed.
    bool Delete(const std::string& folderPath, int32_t listNumber, int depth)
    {
        std::string path = login_;
        if (path.empty() || path.back() != '/')
            path += '/';
        path += folderPath; // as the passes enter a folder
        if (depth > deleteFolderDepth || !Enter(path))
            return false; // S1: a folder not entered is another folder's listing
        std::vector<engine::ListedEntry> entries;
        switch (engine::ListRemoteFolder(nullptr, INTERNET_FLAG_NO_CACHE_WRITE, entries, true)) {
        case engine::ListResult::kListed:
            if (!DeleteEntries(folderPath, entries, listNumber, depth))
                return false;
            break;
        case engine::ListResult::kEmpty:
            break;
        case engine::ListResult::kTruncated:
        case engine::ListResult::kBroken:
            return false; // S1
        }
        // An empty listing is an empty folder on servers that list neither
        // "." nor "..": it goes too.
        const size_t slash = path.rfind('/');
        const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
        if (!Enter(parent) || !FtpRemoveDirectoryA(ftpConnection, path.c_str() + slash + 1))
            return false;
        const size_t folderSlash = folderPath.rfind('/');
        const std::string folderParent = folderPath.substr(0, folderSlash == std::string::npos ? 0 : folderSlash);
        engine::NoteOwnAct(connectionHost, folderParent.c_str());
        return true;
    }

private:
    bool Connect()
    {
        // The recovery event is the next pass's.
        gaveUp_ = !engine::ConnectWithRetry(
            {kEventUploadLost, kUploadOutageRecorded, "MONITOR", engine::kLostConnectionStatus});
        return !gaveUp_;
    }

    // Makes `path` the current folder. A refused CWD on a connection that
    // still answers PWD means the folder cannot be entered; a dead one (a
    // broken listing leaves it so) is replaced once.
    bool Enter(const std::string& path)
    {
        if (gaveUp_ || (!ftpConnection && !Connect()))
            return false;
        if (FtpSetCurrentDirectoryA(ftpConnection, path.c_str()))
            return true;
        char current[MAX_PATH] = {};
        DWORD length = sizeof current;
        if (FtpGetCurrentDirectoryA(ftpConnection, current, &length))
            return false;
        return Connect() && FtpSetCurrentDirectoryA(ftpConnection, path.c_str());
    }

    // Deletes the entries of the folder `folderPath` (the current folder),
    // then the sub-folders that were not empty. False when nothing was
    // deleted because the list file could not be made.
    bool DeleteEntries(const std::string& folderPath, const std::vector<engine::ListedEntry>& entries,
                       int32_t listNumber, int depth)
    {
        ListFile list(listNumber);
        if (!list.get())
            return false;
        bool changed = false;
        for (const engine::ListedEntry& e : entries) {
            if (Skipped(e.name))
                continue;
            // Any word with the directory bit is a folder, a read-only one
            // too; a link never has it and goes as a file, never entered.
            if (!engine::IsAnyFolder(engine::KindOf(e.attributes))) {
                // One left over keeps the folder.
                changed |= FtpDeleteFileA(ftpConnection, e.name.c_str()) != FALSE;
                continue;
            }
            if (FtpRemoveDirectoryA(ftpConnection, e.name.c_str()))
                changed = true;
            else if (e.name.find_first_of("\r\n") == std::string::npos)
                std::fprintf(list.get(), "%s%s\n", kListLine, e.name.c_str());
        }
        if (changed)
            engine::NoteOwnAct(connectionHost, folderPath.c_str());
        std::rewind(list.get());
        char line[kListLineLength + MAX_PATH + 2];
        while (!gaveUp_ && std::fgets(line, sizeof line, list.get()) &&
               std::strncmp(line, kListLine, kListLineLength) == 0) {
            line[std::strcspn(line, "\n")] = '\0';
            Delete(folderPath + '/' + (line + kListLineLength), ++listNumber, depth + 1);
        }
        return true;
    }

    std::string login_;
    bool gaveUp_ = false;
};

} // namespace

bool DeleteRemoteFolder(const char* folderPath, int32_t listNumber)
{
    ConnectSite(kCloseConnection); // a new connection starts in the login folder
    // The path names a folder below the login folder, never that folder.
    const char* last = std::strrchr(folderPath, '/');
    if (ClassifyFileName(last ? last + 1 : folderPath) == FileNameUse::kNotAFile)
        return false;
    FolderDeletion deletion;
    const bool removed = deletion.Start() && deletion.Delete(folderPath, listNumber, 1);
    ConnectSite(kCloseConnection);
    return removed;
}
