// GetStartupInfoA, CreateProcessA and GetExitCodeProcess on POSIX.
//
// The command line is split as the Microsoft C runtime splits it, then the
// Windows program it names is mapped to a Linux one (table in MANIFEST.md):
//
//   notepad[.exe] FILE        $KESTROVANE_EDITOR FILE, else xdg-open FILE
//   explorer[.exe] ADDRESS    $KESTROVANE_BROWSER ADDRESS, else xdg-open ADDRESS
//   cmd[.exe] /c REST         /bin/sh -c REST (command.com the same)
//   NAME.bat / NAME.cmd ARGS  /bin/sh NAME.bat ARGS
//   anything else             the program itself; a bare name from the
//                             current folder first, then from PATH
//
// Windows paths (FILE, the first word of REST, a program name with "\" or a
// drive letter) go through PlatformTranslatePath and are made absolute.
//
// Each child has a reaper: a detached thread that starts it with posix_spawn
// and then blocks in waitpid for that one process id. So no SIGCHLD handler
// is needed, no other child of the process is ever reaped by mistake, and no
// zombie is left even when the caller closes both handles at once (as
// LaunchProgram does). Starting the child on the reaper means that when the
// thread cannot be made, no child is left without one.
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/linux/errors.h"
#include "platform/linux/handles.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/paths.h"
#include "platform/linux/wininet.h"
// After the Win32 and WinINet types it is written in.
#include "platform/extensions.h"

extern char** environ;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

size_t SkipBlanks(const std::string& text, size_t pos) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    return pos;
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

bool EndsWith(const std::string& text, const char* suffix) {
    size_t n = std::strlen(suffix);
    return text.size() >= n && Lower(text.substr(text.size() - n)) == suffix;
}

// The first word of a command line as the runtime takes the program name:
// blanks end it, double quotes group and are dropped, backslashes are plain.
// *end receives the offset just after it.
std::string ProgramWord(const std::string& line, size_t start, size_t* end) {
    std::string word;
    bool quoted = false;
    size_t i = SkipBlanks(line, start);
    for (; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') quoted = !quoted;
        else if (!quoted && IsBlank(c)) break;
        else word += c;
    }
    *end = i;
    return word;
}

// The words after the program name. Blanks separate outside quotes; a double
// quote opens or closes a quoted part; inside one, "" is a literal quote.
// 2n backslashes before a quote give n backslashes and the quote still
// groups, 2n+1 give n backslashes and a literal quote; backslashes elsewhere
// are plain.
std::vector<std::string> ArgumentWords(const std::string& line, size_t pos) {
    std::vector<std::string> words;
    for (;;) {
        pos = SkipBlanks(line, pos);
        if (pos >= line.size()) break;
        std::string word;
        bool quoted = false;
        while (pos < line.size() && (quoted || !IsBlank(line[pos]))) {
            char c = line[pos];
            if (c == '\\') {
                size_t run = 0;
                while (pos + run < line.size() && line[pos + run] == '\\') ++run;
                pos += run;
                if (pos < line.size() && line[pos] == '"') {
                    word.append(run / 2, '\\');
                    if (run % 2) {
                        word += '"';
                        ++pos;
                    }
                } else {
                    word.append(run, '\\');
                }
            } else if (c == '"') {
                if (quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
                    word += '"';
                    pos += 2;
                } else {
                    quoted = !quoted;
                    ++pos;
                }
            } else {
                word += c;
                ++pos;
            }
        }
        words.push_back(word);
    }
    return words;
}

// What notepad and explorer take as their one argument: the rest of the line,
// without a pair of quotes around it ("notepad a b.txt" opens "a b.txt").
std::string RestAsOneName(const std::string& line, size_t pos) {
    std::string rest = line.substr(SkipBlanks(line, pos));
    while (!rest.empty() && IsBlank(rest.back())) rest.pop_back();
    if (!rest.empty() && rest[0] == '"') {
        size_t close = rest.find('"', 1);
        return rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return rest;
}

bool LooksLikeWindowsPath(const std::string& word) {
    bool drive = word.size() >= 2 && word[1] == ':' &&
                 ((word[0] >= 'A' && word[0] <= 'Z') || (word[0] >= 'a' && word[0] <= 'z'));
    return drive || word.find('\\') != std::string::npos;
}

bool IsBatchFile(const std::string& word) {
    return EndsWith(word, ".bat") || EndsWith(word, ".cmd");
}

// A Windows path as an absolute native one, so that a program that resolves
// names elsewhere (an editor that hands the file to an instance already
// running) finds it. A name the translation refuses is passed as written:
// the program started reports it, as on Windows.
std::string NativeAbsolute(const std::string& windows) {
    DWORD saved = GetLastError();
    std::string native;
    if (!PlatformTranslatePath(windows.c_str(), native)) native = windows;
    SetLastError(saved);
    if (!native.empty() && native[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) native = std::string(cwd) + "/" + native;
    }
    return native;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

std::string DesktopProgram(const char* variable) {
    const char* chosen = PlatformSetting(variable);
    return chosen && *chosen ? chosen : "xdg-open";
}

struct Launch {
    std::vector<std::string> argv;
    bool searchPath = false;  // argv[0] is looked up on PATH
};

// cmd's switches up to /c (or /k); the rest of the line is the command.
Launch ShellCommand(const std::string& line, size_t pos) {
    Launch launch;
    launch.argv = {"/bin/sh"};
    for (;;) {
        pos = SkipBlanks(line, pos);
        if (pos + 1 >= line.size() || line[pos] != '/') return launch;  // no command: a shell
        char c = line[pos + 1];
        if (c == 'c' || c == 'C' || c == 'k' || c == 'K') break;
        while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    }
    std::string rest = line.substr(SkipBlanks(line, pos + 2));
    size_t end = 0;
    std::string first = ProgramWord(rest, 0, &end);
    std::string script = rest;
    if (LooksLikeWindowsPath(first) || IsBatchFile(first)) {
        std::string native = ShellQuote(NativeAbsolute(first));
        script = (IsBatchFile(first) ? "/bin/sh " + native : native) + rest.substr(end);
    }
    launch.argv = {"/bin/sh", "-c", script};
    return launch;
}

// Why a program could not be started. A missing program is
// ERROR_FILE_NOT_FOUND even when its folder is missing, as CreateProcessA
// reports it.
DWORD SpawnError(int err) {
    if (err == ENOENT || err == ENOTDIR) return ERROR_FILE_NOT_FOUND;
    if (err == ENOEXEC) return ERROR_BAD_EXE_FORMAT;
    return PlatformErrorFromErrno(err);
}

// A bare program name as Windows looks it up before PATH: in the current
// folder, matched through the translation (so without regard to case).
// Only a regular file that may be executed counts; *native receives its
// absolute path.
bool ProgramInCurrentFolder(const std::string& program, std::string* native) {
    std::string found = NativeAbsolute(program);
    struct stat st;
    if (stat(found.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(found.c_str(), X_OK) != 0)
        return false;
    *native = found;
    return true;
}

// The Linux program for a Windows command line; false with the last error
// set when there is none.
bool MapCommandLine(const std::string& line, Launch& launch) {
    size_t end = 0;
    std::string program = ProgramWord(line, 0, &end);
    if (program.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    size_t separator = program.find_last_of("\\/");
    std::string base = Lower(separator == std::string::npos ? program : program.substr(separator + 1));

    if (base == "notepad" || base == "notepad.exe" || base == "explorer" ||
        base == "explorer.exe") {
        bool editor = base[0] == 'n';
        launch.argv = {DesktopProgram(editor ? "KESTROVANE_EDITOR" : "KESTROVANE_BROWSER")};
        launch.searchPath = true;
        std::string name = RestAsOneName(line, end);
        bool address = !editor && name.find("://") != std::string::npos;
        if (!name.empty())
            launch.argv.push_back(editor || (!address && LooksLikeWindowsPath(name))
                                      ? NativeAbsolute(name)
                                      : name);
        return true;
    }
    if (base == "cmd" || base == "cmd.exe" || base == "command.com") {
        launch = ShellCommand(line, end);
        return true;
    }

    std::vector<std::string> arguments = ArgumentWords(line, end);
    bool windowsPath = LooksLikeWindowsPath(program);
    std::string name = windowsPath || IsBatchFile(program) ? NativeAbsolute(program) : program;
    if (IsBatchFile(program)) {
        // As Windows starts a batch file through cmd: the shell runs it, so
        // it need not be executable, but it must be there.
        struct stat st;
        if (stat(name.c_str(), &st) != 0) {
            SetLastError(SpawnError(errno));
            return false;
        }
        launch.argv = {"/bin/sh", name};
    } else if (!windowsPath && program.find('/') == std::string::npos &&
               ProgramInCurrentFolder(program, &name)) {
        launch.argv = {name};
    } else {
        launch.argv = {name};
        launch.searchPath = !windowsPath;
    }
    launch.argv.insert(launch.argv.end(), arguments.begin(), arguments.end());
    return true;
}

// Handed from CreateProcessA to the reaper, which owns it once started.
struct Child {
    Launch launch;
    std::string directory;  // "" = the caller's current directory
    std::shared_ptr<PlatformEndState> state;

    std::mutex mutex;
    std::condition_variable spawned;
    bool hasSpawned = false;
    int error = 0;
    pid_t pid = 0;
};

// An exit status as an exit code: a program killed by signal N ends with
// 128 + N, as the shell reports it.
DWORD ExitCodeOf(int status) {
    if (WIFEXITED(status)) return DWORD(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return DWORD(128 + WTERMSIG(status));
    return 0;
}

int Spawn(const Child& child, pid_t* pid) {
    std::vector<char*> argv;
    for (const std::string& word : child.launch.argv) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // Only standard input, output and error reach the child, whether or not
    // whoever opened a descriptor asked for close-on-exec.
    int err = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (err == 0 && !child.directory.empty())
        err = posix_spawn_file_actions_addchdir_np(&actions, child.directory.c_str());
    // Signals this process ignores or blocks (SIGPIPE, for its sockets) are
    // the child's default again.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    if (err == 0) err = posix_spawnattr_setsigdefault(&attributes, &all);
    if (err == 0) err = posix_spawnattr_setsigmask(&attributes, &none);
    if (err == 0)
        err = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (err == 0) {
        // posix_spawn reports a failed exec itself (the child shares memory
        // with the parent until the exec), so a missing program is an error
        // here, not an exit code later.
        err = child.launch.searchPath
                  ? posix_spawnp(pid, argv[0], &actions, &attributes, argv.data(), environ)
                  : posix_spawn(pid, argv[0], &actions, &attributes, argv.data(), environ);
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return err;
}

void* Reaper(void* argument) {
    // The reaper's own reference: the child's record outlives CreateProcessA.
    std::unique_ptr<std::shared_ptr<Child>> own(static_cast<std::shared_ptr<Child>*>(argument));
    std::shared_ptr<Child> child = *own;
    pid_t pid = 0;
    int err = Spawn(*child, &pid);
    {
        std::lock_guard<std::mutex> lock(child->mutex);
        child->error = err;
        child->pid = pid;
        child->hasSpawned = true;
    }
    child->spawned.notify_one();
    if (err != 0) return nullptr;

    int status = 0;
    pid_t got;
    do got = waitpid(pid, &status, 0);
    while (got < 0 && errno == EINTR);
    // ECHILD: SIGCHLD is ignored and the kernel reaped the child; the code is lost.
    child->state->End(got == pid ? ExitCodeOf(status) : 0);
    return nullptr;
}

}  // namespace

void GetStartupInfoA(LPSTARTUPINFOA startupInfo) {
    // A program started from the desktop: no window position, size or show
    // command was asked for, and no standard handles were passed.
    if (!startupInfo) return;
    std::memset(startupInfo, 0, sizeof *startupInfo);
    startupInfo->cb = sizeof *startupInfo;
}

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                    LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                    DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                    LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation) {
    if (applicationName || !commandLine || creationFlags != 0 || environment || !startupInfo ||
        !processInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<Child> child;
    std::shared_ptr<PlatformWaitable> process, thread;
    try {
        child = std::make_shared<Child>();
        if (currentDirectory) {
            if (!PlatformTranslatePath(currentDirectory, child->directory)) return FALSE;
            struct stat st;
            if (stat(child->directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                SetLastError(ERROR_DIRECTORY);
                return FALSE;
            }
        }
        if (!MapCommandLine(commandLine, child->launch)) return FALSE;
        child->state = std::make_shared<PlatformEndState>();
        process = std::make_shared<PlatformWaitable>(HandleKind::Process, child->state);
        thread = std::make_shared<PlatformWaitable>(HandleKind::Thread, child->state);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }

    auto* reference = new (std::nothrow) std::shared_ptr<Child>(child);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t reaper;
    int err = reference ? pthread_create(&reaper, &attributes, Reaper, reference) : ENOMEM;
    pthread_attr_destroy(&attributes);
    if (err != 0) {
        delete reference;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    {
        std::unique_lock<std::mutex> lock(child->mutex);
        child->spawned.wait(lock, [&child] { return child->hasSpawned; });
    }
    if (child->error != 0) {
        SetLastError(SpawnError(child->error));
        return FALSE;
    }

    HANDLE processHandle = PlatformRegisterHandle(process);
    HANDLE threadHandle = processHandle ? PlatformRegisterHandle(thread) : nullptr;
    if (!threadHandle) {
        // The child runs and is reaped; only the handles could not be made.
        if (processHandle) PlatformReleaseHandle(processHandle, HandleKind::Process);
        return FALSE;
    }
    processInformation->hProcess = processHandle;
    processInformation->hThread = threadHandle;
    processInformation->dwProcessId = DWORD(child->pid);
    processInformation->dwThreadId = DWORD(child->pid);  // a main thread's id is its process's
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    return PlatformGetExitCode(process, HandleKind::Process, exitCode);
}
