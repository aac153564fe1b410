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

// FtpGetFileA (connect is the HINTERNET of an FTP connection) for a file
// whose size the caller already knows from a listing (knownSize >= 0, else
// ERROR_INVALID_PARAMETER). Linux: in binary type the transfer must deliver
// exactly knownSize bytes, as it must deliver what SIZE answers in
// FtpGetFileA, and SIZE is not asked (one exchange less per file, which a
// mirror of many small files feels). Windows: FtpGetFileA, which never asks
// SIZE; the caller checks the size it expects.
BOOL PlatformFtpGetFileOfSize(LPVOID connect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
                              DWORD flagsAndAttributes, DWORD flags, LONGLONG knownSize);

// FTP over TLS, served by the program's own FTP client on both systems.
// InternetConnectA with INTERNET_FLAG_SECURE asks for it: explicit TLS (AUTH
// TLS on the control connection before the login, then PBSZ 0 and PROT P, so
// every data connection is TLS too, resuming the control connection's TLS
// session); with PLATFORM_FLAG_IMPLICIT_TLS as well, TLS from the first byte
// (the usual port 990). The server is verified as platform/tls.h says; a
// secure connection never goes on in clear text. A failed verification fails
// InternetConnectA with ERROR_INTERNET_INVALID_CA,
// ERROR_INTERNET_SEC_CERT_DATE_INVALID or ERROR_INTERNET_SEC_CERT_CN_INVALID
// (other TLS failures ERROR_INTERNET_SECURITY_CHANNEL_ERROR), and
// InternetGetLastResponseInfoA then gives the reason as a line of text. The
// flag bit is the program's own: no WinINet call ever receives it.
#define PLATFORM_FLAG_IMPLICIT_TLS 0x00000008

// The port of FTP over implicit TLS ("ftps", by IANA): where such a
// connection goes when InternetConnectA is given no port.
inline constexpr INTERNET_PORT kImplicitTlsPort = 990;

// What the program's own FTP client tells of a listed entry beyond what
// WinINet fills in (Windows' WinINet, used for plain FTP there, leaves both
// fields 0, and so do local finds):
//  - a symbolic link (LIST's "l" type, shown "name -> target", whose name is
//    returned without the arrow and target; MLSD type=OS.unix=symlink or
//    OS.unix=slink:<target>; two names of one MLSD listing that share a
//    "unique" fact) gets FILE_ATTRIBUTE_REPARSE_POINT added to its attribute
//    word and dwReserved0 = IO_REPARSE_TAG_SYMLINK, as Windows marks a local
//    link; it is never a folder;
//  - where the listing shows permission bits (LIST's mode column, MLSD
//    UNIX.mode), dwReserved1 = kFindDataModeKnown | the bits (07777).
// The client lists hidden entries too: "LIST -a", falling back to "LIST"
// when the server refuses it or lists nothing with it. A listing whose
// closing reply says the server cut it short ("truncated", in any case)
// hands out what it holds, and InternetFindNextFileA then ends with
// ERROR_MORE_DATA instead of ERROR_NO_MORE_FILES (FtpFindFirstFileA fails
// with it when not one entry came).
inline constexpr DWORD kFindDataModeKnown = 0x80000000;
inline constexpr DWORD kFindDataModeBits = 07777;

// The trust file (platform/tls.h) that every later TLS session of the FTP
// client reads, in the program's path form; NULL for none. The program sets
// it once at start-up.
void PlatformSetFtpTrustFile(LPCSTR path);

// Makes the program appear in a Linux desktop: writes folder +
// "\kestrovane.desktop", a freedesktop desktop entry (Type=Application) that
// starts `program` with the icon `icon`. Call it for a folder the desktop
// shows entries of (the desktop folder, the programs folder or one below it)
// once `program` is there. All three are paths as the program spells them
// (translated with the drive-root rules); the entry holds their native
// absolute forms. The file is written beside its place and renamed into it, so
// an existing entry is replaced whole or kept, and gets mode 0755 (desktops
// start only launchers marked executable). FALSE with the last error set:
// ERROR_INVALID_NAME for a path with control characters or one that is not
// UTF-8 (an entry holds UTF-8 text), else the file system's error. Windows:
// nothing to do (the copies of the program file are the shortcuts), TRUE.
BOOL PlatformWriteDesktopEntry(LPCSTR folder, LPCSTR program, LPCSTR icon);

// Settings from the environment. Every one the program reads, and only
// through PlatformSetting:
//
//   Name                    Where    Meaning (default when unset or empty)
//   ----------------------  -------  ------------------------------------------
//   KESTROVANE_DRIVE        Linux    native folder that is the root of the
//                                    current drive ($HOME)
//   HOME                    Linux    the user's home folder (the password
//                                    database's entry for the user)
//   KESTROVANE_EDITOR       Linux    program started for "notepad" (xdg-open)
//   KESTROVANE_BROWSER      Linux    program started for "explorer" (xdg-open)
//   KV_INTERNET_TIMEOUT_MS  Linux    bound of each wait of the FTP client, in
//                                    ms, 1..86400000 (60000)
//   KESTROVANE_PROBE_URL    both     page opened to tell a dead server from a
//                                    dead line (http://www.example.com/)
//   KESTROVANE_TIME_SCALE   both     divides the monitoring driver's timers,
//                                    an integer 1..3600, for tests and demos
//                                    (1)
//
// The libraries under platform/ read their own (GLib the XDG folders, libcurl
// the proxy variables).

// The value of the environment setting `name`, or NULL when it is unset or
// empty. A setting is read once, at its first use, and keeps that value for
// the run (the pointer stays valid). Values are untrusted text: each caller
// checks the form it needs. Windows: GetEnvironmentVariableA.
const char* PlatformSetting(const char* name);

// Text in a Windows font, rasterised into the program's own surfaces (the
// screen framework never draws with GDI objects). Characters are
// Windows-1252 codes. A font belongs to the thread that uses it; create and
// use fonts on the UI thread.
typedef struct PlatformFont PlatformFont;

// Makes a font from a description as CreateFontIndirectA would: the face
// name (without regard to case), weight, italic, underline, strike-out, and
// the height (< 0: em height in pixels; > 0: cell height; 0: a default) and
// average width (0: natural). Escapement and orientation are ignored. A face
// that is not installed is replaced by the nearest one, so this returns NULL
// only for a NULL description or when no font at all can be loaded. Linux:
// see platform/linux/MANIFEST.md for the faces used.
PlatformFont* PlatformCreateFont(const LOGFONTA* description);

// Releases a font; NULL is ignored.
void PlatformDeleteFont(PlatformFont* font);

// The font's ascent in pixels: the baseline's distance from the top of the
// cell. 0 for NULL.
int PlatformGetFontAscent(PlatformFont* font);

// As GetTextExtentPoint32A: cx = the sum of the advances of the first count
// characters, cy = the cell height (ascent + descent). FALSE for a NULL font,
// text or size, or a negative count.
BOOL PlatformMeasureText(PlatformFont* font, LPCSTR text, int count, SIZE* size);

// Renders the first count characters as TextOutA would at (0, 0) with top
// alignment (baseline at the ascent), without antialiasing: clears the
// width x height mask (one byte a pixel, rows top first), then writes 255 for
// every foreground pixel; pixels outside the mask are dropped. FALSE (mask
// untouched) for a NULL font, text or mask, a negative count or a mask
// without pixels.
BOOL PlatformRenderText(PlatformFont* font, LPCSTR text, int count, BYTE* mask, int width,
                        int height);

// PlatformRenderText with the top left of the run at (x, y) of the mask, as
// TextOutA at (x, y): what a glyph draws above its cell (accents of capitals,
// in some faces) can be caught with y > 0.
BOOL PlatformRenderTextAt(PlatformFont* font, int x, int y, LPCSTR text, int count, BYTE* mask,
                          int width, int height);

#include <stdint.h>

// Signed client coordinates of a mouse message's lParam (windowsx.h is not
// part of the front header: its macros would take over common names).
#ifndef GET_X_LPARAM
#define GET_X_LPARAM(lp) ((int)(short)LOWORD(lp))
#endif
#ifndef GET_Y_LPARAM
#define GET_Y_LPARAM(lp) ((int)(short)HIWORD(lp))
#endif

// Copies width x height pixels (0x00RRGGBB, top row first, stride pixels
// from one row to the next) to the window's client area with the first pixel
// at (0, 0), shown at once; what falls outside the client area is dropped and
// the rest of the client keeps what it showed. FALSE with
// ERROR_INVALID_WINDOW_HANDLE for a window that is not one, and with
// ERROR_INVALID_PARAMETER for NULL pixels, a width or height below 1 or a
// stride below the width. Windows: GetDC + SetDIBitsToDevice; Linux: a backing
// image per window, painted by GTK and flushed to the display before the call
// returns.
BOOL PlatformPresentPixels(HWND window, const uint32_t* pixels, int width, int height, int stride);

// The program's resources for LoadMenuA, LoadStringA and LoadIconA. On
// Windows they are compiled into the executable from the resource script and
// PlatformSetResources does nothing; on Linux the program hands the same list
// over once, before it registers its window class, and the calls look
// resources up there for the instance of GetModuleHandleA(NULL) (or NULL).
// The tables must outlive every use (static data).
//
// A menu is its entries in menu order: a pop-up opens with
// PLATFORM_MENU_POPUP (its title) and ends with PLATFORM_MENU_END; items are
// PLATFORM_MENU_ITEM with their identifier; flags are MF_GRAYED, MF_DISABLED,
// MF_CHECKED. Texts are Windows-1252; "&" marks the access key, "&&" is a
// literal "&".
enum { PLATFORM_MENU_ITEM = 0, PLATFORM_MENU_POPUP = 1, PLATFORM_MENU_END = 2 };

typedef struct PlatformMenuEntry {
    UINT kind;
    UINT id;
    UINT flags;
    LPCSTR text;
} PlatformMenuEntry;

typedef struct PlatformMenuResource {
    UINT id;
    const PlatformMenuEntry* entries;
    UINT entryCount;
} PlatformMenuResource;

typedef struct PlatformStringResource {
    UINT id;
    LPCSTR text;
} PlatformStringResource;

// An icon is the bytes of an .ico file.
typedef struct PlatformIconResource {
    UINT id;
    const BYTE* data;
    UINT size;
} PlatformIconResource;

typedef struct PlatformResources {
    const PlatformMenuResource* menus;
    UINT menuCount;
    const PlatformStringResource* strings;
    UINT stringCount;
    const PlatformIconResource* icons;
    UINT iconCount;
} PlatformResources;

// Replaces the resource list (NULL: none). Windows: no effect.
void PlatformSetResources(const PlatformResources* resources);
