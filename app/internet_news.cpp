// What the driver does with the connection layer's news of the internet: the
// outage and the recovery become events (mailed at once), the title line
// tells them, and the recovery runs the user's "monitor.bat".
#include <cstdio>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "app/monitor.h"
#include "net/connection.h"
#include "screens/launch_program.h"
#include "tessil/tessil.h"

namespace {

void ShowTitle(const char* text)
{
    ShowScreenLine(kTitleLine, text);
    tessil::RefreshFields();
}

} // namespace

void ActOnInternetNews(InternetNews news)
{
    char title[120];
    if (news == InternetNews::kLost) {
        LogConnectionEvent(kEventInternetLost, LocalNow());
        ShowEvents(kMailEvents);
        // The count of probe waits, always 0 when the outage is first told.
        std::snprintf(title, sizeof title, "KESTROVANE MONITOR - PAGE %d STATUS: %d LOST INTERNET CONNECTION",
                      int(eventPage), 0);
        ShowTitle(title);
        return;
    }
    LogConnectionEvent(kEventInternetBack, LocalNow());
    ShowEvents(kMailEvents);
    std::snprintf(title, sizeof title, "KESTROVANE MONITOR - PAGE %d STATUS: INTERNET CONNECTION RE-ESTABLISHED",
                  int(eventPage));
    ShowTitle(title);
    LaunchProgram(1, 1, "cmd /c \\kestrovane\\monitor.bat", "");
}
