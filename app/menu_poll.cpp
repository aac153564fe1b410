// The main menu and the monitor screen's page buttons, carried out while the
// driver waits.
#include <cstdio>
#include <cstring>

#include "alerts/event_log.h"
#include "app/app.h"
#include "sites/data_files.h"
#include "screens/launch_program.h"
#include "screens/screens.h"
#include "app/monitor.h"
#include "app/resources.h"
#include "sites/site_list.h"
#include "records/record_file.h"
#include "tessil/input.h"
#include "tessil/prompts.h"
#include "tessil/tessil.h"

namespace {

// The monitor screen's page buttons.
constexpr uint8_t kPreviousPage = 90;
constexpr uint8_t kNextPage = 91;

// Which screen is loaded: 1 the monitor screen, 2 the setup, 0 a request
// screen. Anything but 1 makes the menu load the monitor screen again.
enum : uint8_t { kOtherScreen = 0, kMonitorScreen = 1, kSetupScreen = 2 };
uint8_t screenNumber = kMonitorScreen;

void TurnPage()
{
    uint16_t field = 0;
    if (tessil::WaitForChoice(field, 0, 0) == tessil::kChoiceButton) {
        uint8_t code = tessil::ButtonCode(field);
        if (code == kPreviousPage && eventPage > 1)
            --eventPage;
        else if (code == kNextPage && eventPage < 0x7FFF)
            ++eventPage;
    }
    tessil::mouseButton = 0;
    ShowMonitorPage();
}

// Flips the alerts of the site last visited and rewrites its record. The
// record is read again first: when the setup has changed or replaced it
// since the visit, only its alerts flag changes, and a record that now holds
// another site is left alone.
void SwitchEmailAlerts()
{
    if (visitedRecordNumber < 1)
        return;
    currentSite.emailAlerts = currentSite.emailAlerts ? 0 : 1;
    SiteRecord stored;
    if (!ReadSiteRecord(siteListPath, stored, visitedRecordNumber))
        return;
    if (std::memcmp(stored.ftpHost, currentSite.ftpHost, sizeof stored.ftpHost) != 0 ||
        std::memcmp(stored.remoteFolder, currentSite.remoteFolder, sizeof stored.remoteFolder) != 0 ||
        std::memcmp(stored.fileMask, currentSite.fileMask, sizeof stored.fileMask) != 0)
        return;
    stored.emailAlerts = currentSite.emailAlerts;
    WriteSiteRecord(siteListPath, stored, visitedRecordNumber);
}

// A screen that is not installed says so on the site line; nothing changes.
// Filter and Reset wake the driver, so that the next visit shows their effect.
void RequestScreen(void (*screen)(), bool wake)
{
    screen();
    screenNumber = kOtherScreen;
    if (wake)
        WakeDriver();
}

void Quit()
{
    tessil::ShowMessageLine("KESTROVANE is shutting down...PLEASE WAIT", 0, 2, 195);
    WakeDriver();
    tessil::shutdownRequested = 1;
}

void CarryOut(int32_t command)
{
    switch (command) {
    case IDM_HELP:
        LaunchProgram(1, 1, "notepad.exe", "KSVHELP.TXT");
        break;
    case IDM_SETUP:
        WebSiteSetup();
        screenNumber = kSetupScreen;
        break;
    case IDM_RATE_1:
    case IDM_RATE_5:
    case IDM_RATE_10:
    case IDM_RATE_15:
    case IDM_RATE_20:
    case IDM_RATE_30:
    case IDM_RATE_60:
        SetUpdateRate(command - IDM_RATE_BASE);
        break;
    case IDM_FILTER:
        RequestScreen(FilterFilesScreen, true);
        break;
    case IDM_RESET:
        RequestScreen(ResetScreen, true);
        break;
    case IDM_SYNC:
        RequestScreen(SyncScreen, false);
        break;
    case IDM_EMAIL_ALERT:
        SwitchEmailAlerts();
        break;
    case IDM_FORUM:
        LaunchProgram(1, 1, "explorer", kForumAddress);
        break;
    default: // Custom Rate and anything unknown
        break;
    }
}

} // namespace

void MenuPoll()
{
    tessil::SystemRequest(1);
    if (menuCommand == 0 && tessil::mouseButton == 1)
        TurnPage();
    if (menuCommand != 0) {
        int32_t command = menuCommand;
        menuCommand = 0;
        if (command == IDM_QUIT) {
            Quit();
            return;
        }
        CarryOut(command);
        if (eventPage != 1) {
            eventPage = 1;
            ShowMonitorPage();
        }
    }
    if (screenNumber != kMonitorScreen) {
        screenNumber = kMonitorScreen;
        ShowMonitorPage();
    }
}
