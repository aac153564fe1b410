// The program's entry: the window, the command line, the data folder, then
// the monitoring driver until the program ends.
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "app/command_line.h"
#include "sites/data_files.h"
#include "app/monitor.h"
#include "records/record_file.h"
#include "app/resources.h"
#include "sites/site_list.h"
#include "net/connection.h"
#include "net/file_names.h"
#include "screens/screens.h"
#include "tessil/input.h"
#include "tessil/tessil.h"

namespace {

constexpr int kMaxWords = 64;
constexpr int kMenuBarAllowance = 19;

HWND CreateMainWindow(HINSTANCE instance, int screenWidth, int screenHeight)
{
    DWORD style = WS_OVERLAPPEDWINDOW;
    RECT r = {0, 0, 640, 480};
    int extraHeight = kMenuBarAllowance;
    if (screenWidth == 640 && screenHeight == 480) {
        // On a 640 x 480 display the window fills the work area.
        int width = GetSystemMetrics(SM_CXFULLSCREEN);
        int height = GetSystemMetrics(SM_CYFULLSCREEN);
        r = {0, 0, width, height};
        screenMaxX = width - 1;
        screenMaxY = height - GetSystemMetrics(SM_CYMENU) - 6;
        extraHeight = GetSystemMetrics(SM_CYMENU) + 6;
    }
    AdjustWindowRect(&r, style, FALSE);
    return CreateWindowExA(0, kWindowClass, kWindowTitle, style, CW_USEDEFAULT, 0, r.right - r.left,
                           r.bottom - r.top + extraHeight, nullptr, nullptr, instance, nullptr);
}

void ApplyPriority(const char* rawLine)
{
    if (const PriorityWord* p = FindPriorityWord(rawLine)) {
        SetPriorityClass(GetCurrentProcess(), p->priorityClass);
        SetThreadPriority(GetCurrentThread(), p->threadPriority);
    }
}

int ProgramMain(int count, char** words)
{
    SetCurrentDirectoryA(kDataFolder);
    StartupInit();
    if (count >= 1)
        std::snprintf(commandWord, sizeof commandWord, "%s", words[0]);
    SiteListPathFromCommandWord(commandWord, siteListPath, kSiteListPathSize);
    RemoveScratchFilesOfAllSites(siteListPath); // downloads a killed run left half done
    RECT client;
    GetClientRect(tessil::mainWindow, &client);
    tessil::SetScreenMode(client.right - client.left, client.bottom - client.top);
    tessil::CreateScreenBitmap();
    FillDriverEntryPoints();
    internetListener = ActOnInternetNews;
    MonitorMain();
    ShutdownCleanup();
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR rawLine, int show)
{
    RegisterResources();
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (!previous) {
        WNDCLASSA wc = {};
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = MainWindowProc;
        wc.hInstance = instance;
        wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(KV_ICON_MAIN));
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszMenuName = MAKEINTRESOURCEA(KV_MENU_BUSY);
        wc.lpszClassName = kWindowClass;
        RegisterClassA(&wc);
    }
    HWND window = CreateMainWindow(instance, screenWidth, screenHeight);
    tessil::AttachWindow(window, screenWidth, screenHeight, [] { ShutdownCleanup(); });
    ShowWindow(window, show);
    const char* line = rawLine ? rawLine : "";
    ApplyPriority(line);
    if (WantsMinimizedStart(line))
        ShowWindow(window, SW_MINIMIZE);

    static char split[4096];
    std::snprintf(split, sizeof split, "%s", line);
    char* words[kMaxWords];
    int count = 0;
    SplitCommandLine(count, words, kMaxWords, split);
    SetFocus(window);

    tessil::FontRecord font{};
    if (ReadRecord(kFontRecordFile, &font, 1, kFontRecordSize) != kFontRecordSize)
        font = tessil::FontRecord{};
    tessil::SetFontRecord(font);
    return ProgramMain(count, words);
}
