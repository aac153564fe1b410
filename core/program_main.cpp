// The program's entry: the window, the command line, the data folder, and
// (until the monitoring driver takes over) the monitor screen with the first
// active site's events, live until the window is closed.
#include <cstdio>
#include <cstring>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "core/app.h"
#include "core/command_line.h"
#include "core/data_files.h"
#include "records/record_file.h"
#include "core/resources.h"
#include "core/site_files.h"
#include "core/site_list.h"
#include "net/file_names.h"
#include "tessil/input.h"
#include "tessil/prompts.h"
#include "tessil/screen_program.h"
#include "tessil/tessil.h"

char commandWord[260];

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

// The status line and the site line around the event lines.
void ShowStatus()
{
    char text[200];
    std::snprintf(text, sizeof text, "MONITOR - PAGE %d STATUS: SUSPENDED UPDATE: %d MINUTES, EMAIL ALERTS: %s",
                  int(eventPage), int(updatePeriodSeconds / 60), currentSite.emailAlerts ? "ON" : "OFF");
    ShowScreenLine(1, text);
    if (currentSite.remoteFolder[0])
        std::snprintf(text, sizeof text, "%.99s/%.49s/%.49s", currentSite.ftpHost, currentSite.remoteFolder,
                      currentSite.fileMask);
    else
        std::snprintf(text, sizeof text, "%.99s/%.49s", currentSite.ftpHost, currentSite.fileMask);
    ShowScreenLine(27, currentSite.ftpHost[0] ? text : siteListPath);
    tessil::RefreshFields();
}

// The first active site of the list becomes the current site.
void TakeFirstActiveSite()
{
    std::memset(&currentSite, 0, sizeof currentSite);
    SiteRecord site;
    for (int32_t n = 1; ReadSiteRecord(siteListPath, site, n); ++n) {
        if (site.active && !SiteIsDeleted(site)) {
            currentSite = site;
            currentRecordNumber = n;
            SiteFileNames(site);
            return;
        }
    }
}

// Until the monitoring driver lands: the monitor screen, live until closed;
// its page buttons (codes 90 and 91) page through the site's events.
void ShowMonitorScreen()
{
    RECT client;
    GetClientRect(tessil::mainWindow, &client);
    tessil::SetScreenMode(client.right - client.left, client.bottom - client.top);
    tessil::CreateScreenBitmap();
    liveMenu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(KV_MENU_LIVE));
    greyedMenu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(KV_MENU_BUSY));
    if (liveMenu)
        SetMenu(tessil::mainWindow, liveMenu);
    updatePeriodSeconds = 300;
    eventPage = 1;
    tessil::OpenBook("\\kestrovane\\kestrvane.bk", 1, 0);
    TakeFirstActiveSite();
    if (currentSite.ftpHost[0])
        ShowEvents(2);
    ShowStatus();
    while (!tessil::shutdownRequested) {
        uint16_t field = 0;
        if (tessil::WaitForChoice(field, 255, 0) != tessil::kChoiceButton)
            continue;
        uint8_t code = tessil::ButtonCode(field);
        if ((code == 90 && eventPage > 1) || code == 91) {
            eventPage = uint16_t(code == 90 ? eventPage - 1 : eventPage + 1);
            if (currentSite.ftpHost[0])
                ShowEvents(2);
            ShowStatus();
        }
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
    ShowMonitorScreen();
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
    tessil::focusState = 1;
    tessil::screenMode = 1;
    tessil::displayWidth = screenWidth;
    tessil::displayHeight = screenHeight;
    tessil::screenHost.exitProgram = [] { ShutdownCleanup(); };

    HWND window = CreateMainWindow(instance, screenWidth, screenHeight);
    tessil::mainWindow = window;
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
