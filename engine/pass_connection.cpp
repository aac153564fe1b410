// A pass's screen lines, account and connection: the outage events of a
// connection that fails, and the recovery event once it connects again.
#include "engine/pass_connection.h"

#include <cstdio>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "sites/site_files.h"
#include "sites/site_record.h"
#include "engine/engine.h"
#include "net/connection.h"
#include "tessil/input.h"
#include "tessil/tessil.h"

int reconnectPauseMilliseconds = 5000;
int reconnectRounds = 12;

namespace engine {

void ShowPassTitle(const char* program, const char* status)
{
    char text[300];
    std::snprintf(text, sizeof text, "KESTROVANE %s - PAGE %d STATUS: %s", program, int(eventPage), status);
    ShowScreenLine(kTitleLine, text);
    tessil::RefreshFields();
}

void ShowPass(const char* program, const char* status, const char* host, const char* remoteFolder,
              const char* fileMask)
{
    ShowPassTitle(program, status);
    ShowScreenLine(kSiteLine, SiteLine(host, remoteFolder, fileMask).c_str());
    tessil::RefreshFields();
}

void StartPass(const char* host, const char* user, const char* password, const char* remoteFolder,
               const char* fileMask)
{
    SetConnectionAccount(host, user, password);
    SiteFileNames(host, remoteFolder, fileMask);
}

namespace {

void ShowOutageTitle(const OutageEvents& events, const char* status)
{
    if (events.paged) {
        ShowPassTitle(events.program, status);
        return;
    }
    char title[300];
    std::snprintf(title, sizeof title, "KESTROVANE %s - STATUS: %s", events.program, status);
    ShowScreenLine(kTitleLine, title);
    tessil::RefreshFields();
}

} // namespace

bool ConnectWithRetry(const OutageEvents& events)
{
    for (int failures = 0;; ++failures) {
        if (tessil::shutdownRequested)
            return false;
        if (ConnectSite(kOpenConnection))
            return true;
        if (lostConnection == kNoOutage) {
            LogConnectionEvent(events.lostType, LocalNow(), connectionFailureReason);
            ShowEvents(kMailEvents);
            lostConnection = events.flag;
        }
        if (connectionFailureReason[0]) {
            const std::string status = std::string("UNABLE TO CONNECT: ") + connectionFailureReason;
            ShowOutageTitle(events, status.c_str());
            return false;
        }
        if (failures + 1 >= reconnectRounds)
            return false;
        ShowOutageTitle(events, events.status);
        tessil::SystemRequest(1);
        tessil::PauseLive(reconnectPauseMilliseconds);
    }
}

bool EndOutage(uint8_t backType, AfterRecovery after)
{
    if (lostConnection == kNoOutage)
        return false;
    if (after == AfterRecovery::kEndPass)
        ConnectSite(kCloseConnection);
    LogConnectionEvent(backType, LocalNow());
    lostConnection = kNoOutage;
    return true;
}

EnterResult EnterRemoteFolder(const char* remoteFolder, std::string& path)
{
    if (!ftpConnection)
        return EnterResult::kNoCurrentFolder;
    if (path.empty()) {
        char current[MAX_PATH] = {};
        DWORD length = sizeof current;
        if (!FtpGetCurrentDirectoryA(ftpConnection, current, &length))
            return EnterResult::kNoCurrentFolder;
        path = current;
        if (path.empty() || path.back() != '/')
            path += '/';
        path += remoteFolder;
    }
    return FtpSetCurrentDirectoryA(ftpConnection, path.c_str()) ? EnterResult::kEntered : EnterResult::kNotEntered;
}

} // namespace engine
