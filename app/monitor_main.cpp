// The monitoring driver: the start of the main loop, the visit of one site,
// the waits between sites and between cycles, the update rate and its timers.
#include "app/monitor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "app/app.h"
#include "sites/data_files.h"
#include "app/resources.h"
#include "sites/site_files.h"
#include "sites/site_list.h"
#include "engine/engine.h"
#include "keyfile/keyfile.h"
#include "net/connection.h"
#include "platform/extensions.h"
#include "records/record_file.h"
#include "screens/screens.h"
#include "tessil/input.h"
#include "tessil/screen_program.h"
#include "tessil/tessil.h"

int32_t activeSiteCount = 0;
int32_t visitedRecordNumber = 0;
uint8_t menuLive = 0;
uint8_t syncWebSwitch = 0;
uint8_t mirrorSwitch = 0;

namespace {

constexpr int kDefaultPeriodSeconds = 300;
constexpr DWORD kWaitRoundMilliseconds = 250;
// A period in minutes whose milliseconds still fit a timer (24.8 days).
constexpr int32_t kLongestPeriodMinutes = 0x7FFFFFFF / 60000;
constexpr int32_t kLongestTimeScale = 3600;
constexpr const char* kRunWord = "run";

// What the status and site lines showed last; drawing them again only when
// they change keeps a wait of hours from repainting the window four times a
// second.
std::string shownStatus, shownSiteLine;

// A notice shown on the site line for kNoticeMilliseconds.
constexpr DWORD kNoticeMilliseconds = 8000;
std::string notice;
DWORD noticeSince = 0;

bool Contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

// Runs an option text through the command interpreter and waits, with the
// window live, until it ends (or the program is told to end).
void RunOptionCommand(const std::string& text)
{
    std::string line = "cmd /c " + text;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    std::vector<char> writable(line.begin(), line.end());
    writable.push_back(0);
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return; // a missing program is the interpreter's failure, ignored
    CloseHandle(process.hThread);
    while (WaitForSingleObject(process.hProcess, kWaitRoundMilliseconds) == WAIT_TIMEOUT && !tessil::shutdownRequested)
        tessil::SystemRequest(1);
    CloseHandle(process.hProcess);
}

// A whole word of decimal digits, as the minutes of the command line.
bool ReadMinutes(const char* word, int32_t& minutes)
{
    if (!*word)
        return false;
    int64_t value = 0;
    for (const char* p = word; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        if (value <= kLongestPeriodMinutes)
            value = value * 10 + (*p - '0');
    }
    minutes = int32_t(value > kLongestPeriodMinutes ? kLongestPeriodMinutes : value);
    return true;
}

bool IsRunWord(const char* word)
{
    for (const char* r = kRunWord;; ++r, ++word) {
        char c = *word >= 'A' && *word <= 'Z' ? char(*word + 32) : *word;
        if (c != *r)
            return false;
        if (!c)
            return true;
    }
}

void SetMenuOf(HMENU menu, uint8_t live)
{
    menuLive = live;
    if (menu)
        SetMenu(tessil::mainWindow, menu);
}

void RunWebSiteSetup()
{
    WebSiteSetup();
    ShowMonitorPage();
}

} // namespace

uint32_t TimerMilliseconds(int32_t seconds)
{
    static const int32_t scale = [] {
        const char* text = PlatformSetting("KESTROVANE_TIME_SCALE");
        long value = text ? std::strtol(text, nullptr, 10) : 1;
        return int32_t(value < 1 ? 1 : value > kLongestTimeScale ? kLongestTimeScale : value);
    }();
    int64_t ms = int64_t(seconds < 0 ? 0 : seconds) * 1000 / scale;
    if (ms < 1)
        ms = 1;
    return uint32_t(ms > 0x7FFFFFFF ? 0x7FFFFFFF : ms);
}

void ArmTimers()
{
    KillTimer(tessil::mainWindow, kTimerSite);
    SetTimer(tessil::mainWindow, kTimerSite, TimerMilliseconds(siteIntervalSeconds), nullptr);
    KillTimer(tessil::mainWindow, kTimerCycle);
    SetTimer(tessil::mainWindow, kTimerCycle, TimerMilliseconds(updatePeriodSeconds), nullptr);
}

int32_t SetUpdateRate(int32_t minutes)
{
    if (minutes < 1)
        minutes = 1;
    if (minutes > kLongestPeriodMinutes)
        minutes = kLongestPeriodMinutes;
    updatePeriodSeconds = minutes * 60;
    return SpreadPeriodOverActiveSites();
}

int32_t SpreadPeriodOverActiveSites()
{
    activeSiteCount = CountActiveSites(siteListPath);
    if (activeSiteCount > 0) {
        siteIntervalSeconds = updatePeriodSeconds / activeSiteCount;
        if (siteIntervalSeconds < 1)
            siteIntervalSeconds = 1;
        ArmTimers();
    }
    return activeSiteCount;
}

void FillDriverEntryPoints()
{
    driverEntryPoints.startTimers = SpreadPeriodOverActiveSites;
    driverEntryPoints.showMonitorPage = ShowMonitorPage;
    driverEntryPoints.showNotice = ShowDriverNotice;
    driverEntryPoints.syncWebSwitch = &syncWebSwitch;
    driverEntryPoints.mirrorSwitch = &mirrorSwitch;
}

void WakeDriver()
{
    siteDue = 1;
    cycleDue = 1;
}

void ShowMonitorPage()
{
    tessil::OpenBook(kMonitorBook, 1, 0);
    if (currentSite.ftpHost[0])
        ShowEvents(kDrawEvents);
    shownStatus.clear();
    shownSiteLine.clear();
}

void ShowDriverNotice(const char* text)
{
    notice = text;
    noticeSince = GetTickCount();
    ShowDriverLines();
}

std::string DriverSiteLine()
{
    if (!notice.empty() && GetTickCount() - noticeSince < kNoticeMilliseconds)
        return notice;
    notice.clear();
    if (!currentSite.ftpHost[0])
        return siteListPath;
    return SiteTexts(currentSite).Line();
}

void ShowDriverLines()
{
    char status[160];
    std::snprintf(status, sizeof status, "MONITOR - PAGE %d STATUS: SUSPENDED UPDATE: %d MINUTES, EMAIL ALERTS: %s",
                  int(eventPage), int(updatePeriodSeconds / 60), currentSite.emailAlerts ? "ON" : "OFF");
    std::string site = DriverSiteLine();
    bool changed = false;
    if (shownStatus != status) {
        shownStatus = status;
        ShowScreenLine(kTitleLine, status);
        changed = true;
    }
    if (shownSiteLine != site) {
        shownSiteLine = site;
        ShowScreenLine(kSiteLine, site.c_str());
        changed = true;
    }
    if (changed)
        tessil::RefreshFields();
}

SiteVisit VisitSite(int32_t number)
{
    SiteRecord record;
    if (!ReadSiteRecord(siteListPath, record, number))
        return SiteVisit::kEndOfList;
    currentRecordNumber = number;
    if (!record.active || SiteIsDeleted(record))
        return SiteVisit::kSkipped;

    alertedEvents = 0;
    currentSite = record;
    visitedRecordNumber = number;
    SiteFileNames(currentSite);
    const SiteTexts t(currentSite);
    SetConnectionAccount(t.host.c_str(), t.user.c_str(), t.password.c_str());
    syncWebSwitch = currentSite.syncWeb;
    mirrorSwitch = currentSite.mirror;
    ShowMonitorPage();

    const char* host = t.host.c_str();
    const char* user = t.user.c_str();
    const char* password = t.password.c_str();
    const char* remote = t.remoteFolder.c_str();
    const char* mask = t.fileMask.c_str();
    const char* secure = t.secureFolder.c_str();
    auto checkWeb = [&] {
        int16_t result = CheckWebSite(secure, host, user, password, remote, mask, 0);
        ConnectSite(kCloseConnection);
        return result == kPassCallAgain ? kPassCallAgain : kPassDone;
    };

    CreateBaseline(host, user, password, remote, mask, "", kBaselineIfMissing);
    ConnectSite(kCloseConnection);
    ShowEvents(kDrawEvents);
    if (!mirrorSwitch) {
        RepeatPass(checkWeb);
        CheckSecureServer(secure, host, user, password, remote, mask, 0);
        ConnectSite(kCloseConnection);
        if (syncWebSwitch)
            RepeatPass([&] {
                int32_t result = SyncWebWithServer(secure, host, user, password, remote, mask);
                ConnectSite(kCloseConnection);
                return result;
            });
    } else {
        RepeatPass([&] {
            int32_t result = MirrorWebToServer(secure, host, user, password, remote, mask);
            ConnectSite(kCloseConnection);
            return result;
        });
        if (!Contains(t.remoteFolder, "trackdatafolder"))
            RepeatPass(checkWeb);
    }

    ShowEvents(kMailEvents);
    shownStatus.clear();
    shownSiteLine.clear();
    ShowDriverLines();

    if (Contains(t.optionText, "CREATE_ROADMAP")) {
        CreateRoadmap(host, secure, user, password, remote, mask);
        ConnectSite(kCloseConnection);
    } else if (alertedEvents && Contains(t.optionText, ".exe")) {
        RunOptionCommand(t.optionText);
    }
    if (Contains(t.optionText, "QUIT")) {
        tessil::shutdownRequested = 1;
        return SiteVisit::kQuit;
    }
    return SiteVisit::kWorked;
}

void MonitorMain()
{
    StartConnectionBeeper();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    liveMenu = LoadMenuA(instance, MAKEINTRESOURCEA(KV_MENU_LIVE));
    greyedMenu = LoadMenuA(instance, MAKEINTRESOURCEA(KV_MENU_BUSY));
    SetMenuOf(greyedMenu, 0);
    SetCurrentDirectoryA(kDataFolder);
    KfStart(0, 0);
    updatePeriodSeconds = kDefaultPeriodSeconds;
    eventPage = 1;
    lostConnection = 0;
    std::memset(&currentSite, 0, sizeof currentSite);
    ShowMonitorPage();

    if (!commandWord[0])
        RunWebSiteSetup();
    int32_t minutes = 0;
    if (IsRunWord(commandWord)) {
        activeSiteCount = CountActiveSites(siteListPath);
        if (activeSiteCount == 0)
            RunWebSiteSetup();
        else
            SetUpdateRate(activeSiteCount);
    } else if (ReadMinutes(commandWord, minutes)) {
        SetUpdateRate(minutes);
    } else {
        RunWebSiteSetup();
    }

    for (;;) {
        // currentRecordNumber, not a local: the setup's start command moves
        // the walk on to the record after the one it showed last.
        for (currentRecordNumber = 1; !tessil::shutdownRequested; ++currentRecordNumber) {
            SiteVisit visit = VisitSite(currentRecordNumber);
            if (visit == SiteVisit::kEndOfList || visit == SiteVisit::kQuit)
                break;
            if (visit == SiteVisit::kSkipped)
                continue;
            alertedEvents = 0;
            SetMenuOf(liveMenu, 1);
            while (!tessil::shutdownRequested && !siteDue) {
                MenuPoll();
                ShowDriverLines();
                Sleep(kWaitRoundMilliseconds);
            }
            siteDue = 0;
            SetMenuOf(greyedMenu, 0);
        }
        SetMenuOf(liveMenu, 1);
        while (!tessil::shutdownRequested && !cycleDue) {
            MenuPoll();
            ShowDriverLines();
            Sleep(kWaitRoundMilliseconds);
        }
        if (activeSiteCount > 0)
            ArmTimers();
        cycleDue = 0;
        siteDue = 0;
        SetMenuOf(greyedMenu, 0);
        if (tessil::shutdownRequested)
            ShutdownCleanup();
    }
}
