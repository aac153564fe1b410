// The folder browser and the special folders.
//
// An item list of this layer is one item holding a native path:
//
//   offset  size  meaning
//   0       2     cb: size of the item, these two bytes included
//   2       4     "KVPL", so a foreign list is told apart
//   6       n+1   the path and its NUL
//   cb      2     0: the end of the list
//
// It is malloc'ed, so CoTaskMemFree is free().
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/errors.h"
#include "platform/linux/user32_internal.h"

namespace {

constexpr char kMagic[4] = {'K', 'V', 'P', 'L'};

LPITEMIDLIST MakeItemList(const std::string& path) {
    size_t item = 2 + sizeof kMagic + path.size() + 1;
    if (item > 0xFFFF) return nullptr;
    auto* bytes = static_cast<BYTE*>(malloc(item + 2));
    if (!bytes) return nullptr;
    auto cb = USHORT(item);
    memcpy(bytes, &cb, 2);
    memcpy(bytes + 2, kMagic, sizeof kMagic);
    memcpy(bytes + 6, path.c_str(), path.size() + 1);
    memset(bytes + item, 0, 2);
    return reinterpret_cast<LPITEMIDLIST>(bytes);
}

// The path of one of this layer's item lists, or null.
const char* PathOf(LPCITEMIDLIST list) {
    if (!list) return nullptr;
    auto* bytes = reinterpret_cast<const BYTE*>(list);
    USHORT cb;
    memcpy(&cb, bytes, 2);
    if (cb < 2 + sizeof kMagic + 1 || memcmp(bytes + 2, kMagic, sizeof kMagic) != 0) return nullptr;
    auto* path = reinterpret_cast<const char*>(bytes + 6);
    if (memchr(path, 0, cb - 6u) == nullptr) return nullptr;
    return path;
}

void OnResponse(GtkDialog*, gint response, gpointer data) {
    *static_cast<gint*>(data) = response;
    // Wakes the modal loop below, which waits for a message.
    PostMessageA(nullptr, WM_NULL, 0, 0);
}

// Copies text into a MAX_PATH buffer; false (and empty) when it does not fit.
bool CopyPath(LPSTR out, const std::string& text) {
    if (text.size() >= MAX_PATH) {
        out[0] = 0;
        return false;
    }
    memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

bool MakeFolders(const std::string& path) {
    return g_mkdir_with_parents(path.c_str(), 0700) == 0;
}

}  // namespace

LPITEMIDLIST SHBrowseForFolderA(LPBROWSEINFOA info) {
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!user32::OnUiThread()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (!user32::EnsureDisplay()) return nullptr;
    GtkWindow* parent = nullptr;
    if (user32::Window* owner = info->hwndOwner ? user32::FindWindowObject(info->hwndOwner) : nullptr)
        parent = GTK_WINDOW(owner->toplevel);
    std::string title = user32::Utf8FromAnsi(info->lpszTitle ? info->lpszTitle : "");
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        title.empty() ? "Browse for Folder" : title.c_str(), parent,
        GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel", GTK_RESPONSE_CANCEL, "_OK",
        GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    const char* root = PathOf(info->pidlRoot);
    gtk_file_chooser_set_current_folder(chooser, root ? root : g_get_home_dir());

    gint response = GTK_RESPONSE_NONE;
    gulong handler = g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), &response);
    gtk_widget_show(dialog);
    // A modal loop as Windows runs one: the program's timers and paints go on
    // while the dialog is open; its own window gets no input (GTK's modal
    // grab sees to that).
    while (response == GTK_RESPONSE_NONE) {
        MSG msg;
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) PostQuitMessage(int(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    std::string chosen;
    if (response == GTK_RESPONSE_ACCEPT) {
        if (gchar* name = gtk_file_chooser_get_filename(chooser)) {
            chosen = name;
            g_free(name);
        }
    }
    g_signal_handler_disconnect(dialog, handler);
    gtk_widget_destroy(dialog);
    if (chosen.empty()) return nullptr;

    if (info->pszDisplayName) {
        gchar* base = g_path_get_basename(chosen.c_str());
        std::string display = user32::AnsiFromUtf8(base);
        g_free(base);
        CopyPath(info->pszDisplayName, display.substr(0, MAX_PATH - 1));
    }
    LPITEMIDLIST list = MakeItemList(chosen);
    if (!list) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return list;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path) {
    if (!path) return FALSE;
    const char* native = PathOf(list);
    if (!native) {
        path[0] = 0;
        return FALSE;
    }
    return CopyPath(path, native);
}

void CoTaskMemFree(LPVOID memory) {
    free(memory);
}

BOOL SHGetSpecialFolderPathA(HWND, LPSTR path, int folder, BOOL create) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    path[0] = 0;
    if (folder & CSIDL_FLAG_CREATE) create = TRUE;
    std::string native;
    switch (folder & ~CSIDL_FLAG_CREATE) {
        case CSIDL_DESKTOPDIRECTORY: {
            // XDG_DESKTOP_DIR of user-dirs.dirs, else ~/Desktop.
            const char* desktop = g_get_user_special_dir(G_USER_DIRECTORY_DESKTOP);
            native = desktop ? desktop : std::string(g_get_home_dir()) + "/Desktop";
            break;
        }
        case CSIDL_APPDATA:
            native = g_get_user_data_dir();
            break;
        case CSIDL_PROGRAMS:
            native = std::string(g_get_user_data_dir()) + "/applications";
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
    if (native.size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    struct stat st;
    if (stat(native.c_str(), &st) != 0) {
        if (!create || !MakeFolders(native)) {
            PlatformSetLastErrno(errno, &native);
            return FALSE;
        }
    } else if (!S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return CopyPath(path, native);
}
