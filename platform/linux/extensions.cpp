// The services declared in platform/extensions.h, Linux side.
// PlatformSetDriveRoot lives in paths.cpp beside the root it sets.
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/win32.h"

#include "platform/linux/errors.h"
#include "platform/linux/files.h"
#include "platform/linux/paths.h"

HANDLE PlatformCreatePrivateFile(LPCSTR path, DWORD access, DWORD disposition) {
    return PlatformOpenFile(path, access, disposition, 0600, true);
}

namespace {

// A Windows path as a native absolute one that a desktop entry may hold:
// UTF-8 without control characters (a line feed would end the entry's line).
bool EntryPath(LPCSTR path, std::string& native) {
    if (!PlatformTranslatePath(path, native)) return false;
    if (native[0] != '/') {
        char* cwd = g_get_current_dir();
        native = std::string(cwd) + "/" + native;
        g_free(cwd);
    }
    for (unsigned char c : native)
        if (c < 0x20 || c == 0x7F) {
            SetLastError(ERROR_INVALID_NAME);
            return false;
        }
    if (!g_utf8_validate(native.c_str(), -1, nullptr)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return true;
}

// A value of string type: a backslash is written "\\".
std::string EntryString(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// The program as the one word of an Exec line: always double-quoted, with
// '"', '`', '$' and '\' escaped inside the quotes, '%' doubled (a field code
// otherwise), and then the string-type escaping over it all.
std::string ExecWord(const std::string& program) {
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return EntryString(quoted + "\"");
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

BOOL PlatformWriteDesktopEntry(LPCSTR folder, LPCSTR program, LPCSTR icon) {
    std::string where, exec, image;
    if (!EntryPath(folder, where) || !EntryPath(program, exec) || !EntryPath(icon, image))
        return FALSE;
    // Desktop Entry Specification 1.5 (the keys are those of 1.0, so no
    // Version key narrows which desktops read it).
    std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Kestrovane\n"
        "Comment=Keeps web sites clean: puts back changed files and reports them\n"
        "Exec=" + ExecWord(exec) + "\n"
        "Icon=" + EntryString(image) + "\n"
        "Terminal=false\n"
        "Categories=Network;\n";
    std::string target = where + "/kestrovane.desktop";
    std::string scratch = where + "/.kestrovane.desktop.XXXXXX";
    int fd = mkstemp(scratch.data());
    if (fd < 0) {
        PlatformSetLastErrno(errno, &where);
        return FALSE;
    }
    bool written = WriteAll(fd, entry) && fchmod(fd, 0755) == 0 && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && written) {
        written = false;
        err = errno;
    }
    if (written && rename(scratch.c_str(), target.c_str()) == 0) return TRUE;
    if (written) err = errno;
    unlink(scratch.c_str());
    PlatformSetLastErrno(err, &target);
    return FALSE;
}
