// The request screens of the main menu: Filter, Sync and Reset. Each works on
// the site last visited (currentSite and its file names) while the driver
// waits, and runs the same cycle: draw, wait for a choice, act on the chosen
// button's code, until the user leaves (right button, Esc, shutdown).
#include <cstdio>
#include <cstring>
#include <string>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "sites/data_files.h"
#include "sites/site_files.h"
#include "sites/site_list.h"
#include "engine/engine.h"
#include "net/connection.h"
#include "records/record_file.h"
#include "screens/screens.h"
#include "tessil/input.h"
#include "tessil/prompts.h"
#include "tessil/screen_program.h"
#include "tessil/tessil.h"

namespace {

constexpr const char* kSyncForm = "sync.tmp";
constexpr const char* kResetForm = "reset.tmp";
constexpr int kFilterPage = 2; // the event list page of the monitor book
constexpr uint8_t kTextFieldKind = 252;

// Filter page: event line n is code n; the page buttons as on the monitor.
constexpr uint8_t kPreviousPage = 90;
constexpr uint8_t kNextPage = 91;
// sync.tmp: text field 1 shows the synchronise-web switch, 2 the mirror
// switch, 3 the site.
enum SyncCode : uint8_t { kToggleSyncWeb = 1, kToggleMirror = 2, kSyncWebNow = 3, kMirrorNow = 4, kLeaveSync = 5 };
// reset.tmp: text field 1 shows the site; any other code leaves unchanged.
enum ResetCode : uint8_t { kNewBaseline = 1, kClearEventLog = 2 };

constexpr const char* kFilterTitle = "FILTER FILES FOR MONITORING - ACKNOWLEDGED REQUESTS WILL DISPLAY HERE";

// A request needs a site: before the first visit there is none, and the
// passes would dial an empty host for minutes. The site's file names are made
// again from its record, so they name its files whatever ran since the visit.
bool HaveSite(const char* what)
{
    if (!currentSite.ftpHost[0]) {
        char text[120];
        std::snprintf(text, sizeof text, "%s: NO SITE VISITED YET - START MONITORING A SITE FIRST", what);
        driverEntryPoints.showNotice(text);
        return false;
    }
    SiteFileNames(currentSite);
    return true;
}

// The clicked button's code; 0 when the user left, the program ends, or no
// input can come (no window). Other yields (an edit, a miss) wait again.
uint8_t WaitForButton()
{
    while (tessil::CanWaitForInput()) {
        uint16_t field = 0;
        uint16_t result = tessil::WaitForChoice(field, 255, 0);
        if (result == tessil::kChoiceButton)
            return tessil::ButtonCode(field);
        if (result == tessil::kChoiceCancel || tessil::shutdownRequested)
            return 0;
    }
    return 0;
}

void PutTextField(uint16_t ordinal, const char* text)
{
    tessil::SetFieldText(int16_t(tessil::FindField(kTextFieldKind, ordinal)), text, ' ');
}

// ---- Filter ---------------------------------------------------------------------------

// The event shown on line `line` (1..25) of the current page, read from the
// site's log; false when the log cannot be opened or the line is empty.
bool ReadEventOnLine(int line, EventRecord& event)
{
    bool found = ReadEventRecord(event, 1) == 1;
    for (int n = 2; found && n <= line; ++n)
        found = ReadEventRecord(event, 0) == 1;
    CloseEventLog();
    return found;
}

// Takes the file of the clicked event out of monitoring, or puts it back,
// and says which on the title line. An event that names no file (the
// connection events) changes nothing: a record of an empty name would match
// no file and could only confuse the checks.
void FilterEventLine(int line, std::string& acknowledgement)
{
    EventRecord event;
    if (!ReadEventOnLine(line, event))
        return; // no event on that line: the acknowledgement stays
    WIN32_FIND_DATAA entry;
    std::memset(&entry, 0, sizeof entry);
    std::memcpy(&entry, event.findData, sizeof event.findData);
    const std::string name(FieldText(entry.cFileName));
    char text[kMaxRecordText + 100];
    if (name.empty()) {
        std::snprintf(text, sizeof text, "LINE %d NAMES NO FILE - ONLY A FILE'S EVENT CAN BE FILTERED", line);
        acknowledgement = text;
        return;
    }

    char search[kRecordBufferSize];
    char stored[kRecordBufferSize];
    char updated[kRecordBufferSize + sizeof kMarkFiltered];
    const char* turned = "OFF";
    int32_t written = 0;
    // A name too long for a record, or a store that cannot be read, is left
    // alone: a record added blindly could stand beside the one not found.
    int32_t found = -1;
    if (std::snprintf(search, sizeof search, "%s*", name.c_str()) < int(sizeof search))
        found = GetFileRecord(search, stored);
    if (found == 1 && SameRecordName(stored, search)) {
        // The mark is looked for after the name only: "a-filtered by ksv.htm"
        // is a name, not a mark.
        const char* mark = std::strstr(stored + RecordNameLength(stored), kMarkFiltered);
        if (mark) {
            std::snprintf(updated, sizeof updated, "%.*s", int(mark - stored), stored);
            turned = "ON";
        } else {
            std::snprintf(updated, sizeof updated, "%s%s", stored, kMarkFiltered);
        }
        written = PutFileRecord(updated, stored);
    } else if (found >= 0) {
        char record[kRecordBufferSize];
        if (BuildFileRecord(entry, false, record) > 0) {
            std::snprintf(updated, sizeof updated, "%s%s", record, kMarkFiltered);
            written = PutFileRecord(updated, nullptr);
        }
    }
    CloseFileRecords();
    if (written == 1)
        std::snprintf(text, sizeof text, "%.120s - MONITOR VALUE - %s", name.c_str(), turned);
    else
        std::snprintf(text, sizeof text, "%.100s - NOT CHANGED: ITS RECORD COULD NOT BE WRITTEN", name.c_str());
    acknowledgement = text;
}

// ---- Sync ------------------------------------------------------------------------------

// Runs a pass once, now, on the monitor page, with its working switch on for
// the run and off afterwards; the pass repeats (bounded) while it asks to.
template <typename Pass>
void RunOnce(uint8_t& workingSwitch, Pass pass)
{
    const SiteTexts t(currentSite);
    SetConnectionAccount(t.host.c_str(), t.user.c_str(), t.password.c_str());
    workingSwitch = 1;
    driverEntryPoints.showMonitorPage();
    RepeatPass([&] {
        int32_t result = pass(t.secureFolder.c_str(), t.host.c_str(), t.user.c_str(), t.password.c_str(),
                              t.remoteFolder.c_str(), t.fileMask.c_str());
        ConnectSite(kCloseConnection);
        return result;
    });
    workingSwitch = 0;
}

} // namespace

void FilterFilesScreen()
{
    if (!HaveSite("FILTER"))
        return;
    const std::string siteLine = SiteTexts(currentSite).Line();
    std::string acknowledgement = kFilterTitle;
    for (;;) {
        tessil::OpenBook(kMonitorBook, kFilterPage, 0);
        ShowEvents(kDrawEvents);
        ShowScreenLine(kTitleLine, acknowledgement.c_str());
        ShowScreenLine(kSiteLine, siteLine.c_str());
        tessil::RefreshFields();
        const uint8_t code = WaitForButton();
        if (code == 0)
            return;
        if (code >= 1 && code <= kEventsPerPage)
            FilterEventLine(code, acknowledgement);
        else if (code == kPreviousPage && eventPage > 1)
            --eventPage;
        else if (code == kNextPage && eventPage < 0x7FFF)
            ++eventPage;
    }
}

void SyncScreen()
{
    if (!HaveSite("SYNC"))
        return;
    uint8_t& syncWebSwitch = *driverEntryPoints.syncWebSwitch;
    uint8_t& mirrorSwitch = *driverEntryPoints.mirrorSwitch;
    for (;;) {
        tessil::RunScreen(kSyncForm, 1, 0);
        PutTextField(1, syncWebSwitch ? "YES" : "NO");
        PutTextField(2, mirrorSwitch ? "YES" : "NO");
        PutTextField(3, SiteTexts(currentSite).Line().c_str());
        tessil::RefreshFields();
        switch (WaitForButton()) {
        case 0:
        case kLeaveSync:
            return;
        case kToggleSyncWeb:
            syncWebSwitch = syncWebSwitch ? 0 : 1;
            break;
        case kToggleMirror:
            mirrorSwitch = mirrorSwitch ? 0 : 1;
            break;
        case kSyncWebNow:
            RunOnce(syncWebSwitch, SyncWebWithServer);
            break;
        case kMirrorNow:
            RunOnce(mirrorSwitch, MirrorWebToServer);
            break;
        default:
            break;
        }
    }
}

void ResetScreen()
{
    if (!HaveSite("RESET"))
        return;
    tessil::RunScreen(kResetForm, 1, 0);
    PutTextField(1, SiteTexts(currentSite).Line().c_str());
    tessil::RefreshFields();
    const uint8_t code = WaitForButton();
    if (code != kNewBaseline && code != kClearEventLog)
        return;
    if (code == kNewBaseline)
        driverEntryPoints.showMonitorPage();
    CloseEventLog();
    CloseFileRecords();
    // A failed deletion is not reported: the store and the log are made anew
    // on their next use.
    DeleteFileA(siteEventLogFile);
    if (code == kClearEventLog)
        return;
    DeleteFileA(siteStoreFile);
    const SiteTexts t(currentSite);
    SetConnectionAccount(t.host.c_str(), t.user.c_str(), t.password.c_str());
    CreateBaseline(t.host.c_str(), t.user.c_str(), t.password.c_str(), t.remoteFolder.c_str(), t.fileMask.c_str(),
                   "", kBaselineAnew);
    ConnectSite(kCloseConnection);
}
