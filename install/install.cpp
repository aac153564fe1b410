// install: moves an unpacked distribution into the data folder, puts copies of
// the program file where the desktop shows them, and starts the monitor.
//
// Started by the user from the folder that holds the distribution folder
// "Kestrovane", on the drive the monitor is installed on. No command line is
// read. The steps, in this order:
//
//   1. "Creating Kestrovane Folders..."; create "\Kestrovane" (an existing
//      folder is left alone).
//   2. "Installing Kestrovane Files..."; read the current folder, whole.
//   3. "Transferring Files from <current folder> to \Kestrovane Folder...";
//      move every entry of <current folder>\Kestrovane into \Kestrovane in
//      the order the file system lists them, except names that begin with
//      "." or hold "install.exe" (any case), and this program's own file:
//        - a file replaces the installed one in one step, so a move that
//          fails leaves the installed file as it was;
//        - a folder is moved whole when \Kestrovane has no entry of its name;
//          otherwise (or when it cannot be moved whole, e.g. from another
//          volume) it is merged: its entries are moved by these same rules,
//          at most kMaxDepth folders deep, and the emptied folder removed, so
//          the user's own files in an installed folder stay;
//        - nothing is moved when the distribution folder is \Kestrovane itself
//          (started from the drive root, or through a link to it), nor when
//          its path is too long for the file functions.
//   4. Copy \Kestrovane\<program file> over the desktop copy, the Quick Launch
//      copy and the Start menu copy (programs folder\Haldimark, created), for
//      each special folder that is known; a failed copy keeps the old one.
//      Beside the desktop and Start menu copies a desktop entry is written
//      (Linux desktops; nothing on Windows).
//   5. "Installation or Update is Complete...Starting Kestrovane"; wait 2 s;
//      make \Kestrovane current and start the program there without
//      arguments, with this program's start-up information; do not wait.
//   6. Exit code 0, whatever failed.
//
// Standard output holds exactly the four lines (callers may read them). Each
// move, copy or start that fails writes one line to standard error naming the
// file and the error number; nothing else is reported.
//
// The file names come from install/CMakeLists.txt: KV_PROGRAM_FILE (the
// program file as installed and copied), KV_PROGRAM_START (the command line
// that starts it) and KV_INSTALLER_FILE (this program's own file).
#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

constexpr char kDataFolder[] = "\\Kestrovane";
constexpr char kDistributionName[] = "Kestrovane";
constexpr char kIconFile[] = "\\Kestrovane\\kestrovane.png";
constexpr char kQuickLaunch[] = "\\Microsoft\\Internet Explorer\\Quick Launch";
constexpr char kStartMenuFolder[] = "\\Haldimark";
// Sub-folders merged below this depth are left where they are: the
// distribution has two levels; a deeper tree is not one of ours.
constexpr int kMaxDepth = 16;
constexpr DWORD kStartDelayMs = 2000;

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

// Dot names (the file system's own entries, hidden files, version control)
// and the installer stay behind. Compared without regard to case: a FAT or
// NTFS volume may list the installer as "INSTALL.EXE".
bool Skipped(const std::string& name) {
    std::string lower = Lower(name);
    return name.empty() || name[0] == '.' || lower.find("install.exe") != std::string::npos ||
           lower == Lower(KV_INSTALLER_FILE);
}

void ReportFailure(const char* what, const std::string& path, DWORD error) {
    std::fprintf(stderr, "install: %s %s failed (error %lu)\n", what, path.c_str(),
                 static_cast<unsigned long>(error));
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// folder + "\" + name, without doubling the separator of a drive root.
std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
    return folder + "\\" + name;
}

// The whole current folder, however long ("" when it cannot be read): a name
// cut to a buffer's size would name another folder.
std::string CurrentFolder() {
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD needed = GetCurrentDirectoryA(0, nullptr);
        if (needed == 0) return "";
        std::vector<char> buffer(needed);
        DWORD length = GetCurrentDirectoryA(needed, buffer.data());
        if (length > 0 && length < needed) return std::string(buffer.data(), length);
        // Changed between the two calls (another thread): ask again.
    }
    return "";
}

// The names in a folder, in the order the file system lists them. Read whole
// before anything moves, so the moves cannot disturb the listing.
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(Join(folder, "*.*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.emplace_back(found.cFileName);
    while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
}

// True when source and destination are one folder, found by identity: a
// file made in the destination is looked for under the source's path. Text
// cannot tell (a drive root reached through a link, subst, junctions). When
// no such file can be made the folders count as different, which is safe:
// a file moved onto itself stays, and a folder merged into itself is not
// emptied, so it is not removed.
bool SameFolder(const std::string& source, const std::string& destination) {
    for (DWORD attempt = 0; attempt < 16; ++attempt) {
        std::string name = ".kv-install-" + std::to_string(GetTickCount()) + "-" + std::to_string(attempt);
        std::string mark = Join(destination, name);
        HANDLE file = CreateFileA(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            return false;
        }
        CloseHandle(file);
        bool same = Exists(Join(source, name));
        DeleteFileA(mark.c_str());
        return same;
    }
    return false;
}

void MoveEntries(const std::string& source, const std::string& destination, int depth);

// Moves one entry of the distribution into place (rules in the header).
void MoveEntry(const std::string& from, const std::string& to, int depth) {
    if (!IsFolder(from)) {
        // Replace in one step, never delete first: when the move fails (file
        // in use, no permission, full disk) the installed file stays.
        if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
            ReportFailure("moving", from, GetLastError());
        return;
    }
    if (!Exists(to) && MoveFileExA(from.c_str(), to.c_str(), 0)) return;
    if (depth >= kMaxDepth) {
        ReportFailure("merging", from, ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    if (!CreateDirectoryA(to.c_str(), nullptr)) {
        DWORD error = GetLastError();
        if (!IsFolder(to)) {
            // A file of that name is the user's: it stays.
            ReportFailure("moving", from, error);
            return;
        }
    }
    MoveEntries(from, to, depth + 1);
    // Fails while something stayed behind (dot names, failed moves).
    RemoveDirectoryA(from.c_str());
}

void MoveEntries(const std::string& source, const std::string& destination, int depth) {
    for (const std::string& name : Entries(source)) {
        if (Skipped(name)) continue;
        std::string from = Join(source, name);
        std::string to = Join(destination, name);
        if (from.size() >= MAX_PATH || to.size() >= MAX_PATH) {
            ReportFailure("moving", from, ERROR_FILENAME_EXCED_RANGE);
            continue;
        }
        MoveEntry(from, to, depth);
    }
}

void Transfer(const std::string& current) {
    if (current.empty()) {
        std::fprintf(stderr, "install: the current folder cannot be read (error %lu); nothing moved\n",
                     static_cast<unsigned long>(GetLastError()));
        return;
    }
    std::string source = Join(current, kDistributionName);
    // The file functions take paths shorter than MAX_PATH; a cut path would
    // name another folder.
    if (Join(source, "*.*").size() >= MAX_PATH) {
        std::fprintf(stderr, "install: %s is %lu characters long, more than the file functions "
                     "take; nothing moved\n", source.c_str(), static_cast<unsigned long>(source.size()));
        return;
    }
    if (!IsFolder(source)) return;
    // Started from the drive root the distribution is the data folder: the
    // files are in place already.
    if (SameFolder(source, kDataFolder)) return;
    MoveEntries(source, kDataFolder, 0);
}

// A known special folder's path ("" when it is not known). The programs
// folder is made when missing (a fresh Linux account has no applications
// folder yet); the others are taken as they are.
std::string SpecialFolder(int csidl, BOOL create) {
    char path[MAX_PATH];
    if (!SHGetSpecialFolderPathA(nullptr, path, csidl, create)) return "";
    return path;
}

// Copies the program file into folder, overwriting: a failed copy keeps the
// copy that was there. With a desktop entry beside it when asked.
void PlaceCopy(const std::string& program, const std::string& folder, bool entry) {
    std::string copy = Join(folder, KV_PROGRAM_FILE);
    if (!CopyFileA(program.c_str(), copy.c_str(), FALSE)) ReportFailure("copying to", copy, GetLastError());
    if (entry && Exists(copy) && !PlatformWriteDesktopEntry(folder.c_str(), copy.c_str(), kIconFile))
        ReportFailure("writing the desktop entry in", folder, GetLastError());
}

void PlaceCopies() {
    std::string program = Join(kDataFolder, KV_PROGRAM_FILE);
    std::string desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY, FALSE);
    if (!desktop.empty()) PlaceCopy(program, desktop, true);
    std::string appData = SpecialFolder(CSIDL_APPDATA, FALSE);
    if (!appData.empty()) PlaceCopy(program, appData + kQuickLaunch, false);
    std::string programs = SpecialFolder(CSIDL_PROGRAMS, TRUE);
    if (!programs.empty()) {
        std::string menu = programs + kStartMenuFolder;
        CreateDirectoryA(menu.c_str(), nullptr);
        PlaceCopy(program, menu, true);
    }
}

void StartMonitor() {
    if (!SetCurrentDirectoryA(kDataFolder)) ReportFailure("entering", kDataFolder, GetLastError());
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION started{};
    char commandLine[] = KV_PROGRAM_START;
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        ReportFailure("starting", KV_PROGRAM_START, GetLastError());
        return;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
}

}  // namespace

int main() {
    std::printf("Creating Kestrovane Folders...\n");
    CreateDirectoryA(kDataFolder, nullptr);

    std::printf("Installing Kestrovane Files...\n");
    std::string current = CurrentFolder();

    std::printf("Transferring Files from %s to \\Kestrovane Folder...\n", current.c_str());
    std::fflush(stdout);
    Transfer(current);
    PlaceCopies();

    std::printf("Installation or Update is Complete...Starting Kestrovane\n");
    // Before the monitor starts: it shares this console's output.
    std::fflush(stdout);
    Sleep(kStartDelayMs);
    StartMonitor();
    return 0;
}
