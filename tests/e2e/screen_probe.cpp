// A small window program for the end-to-end tests of the site list chooser
// and the e-mail alert screen, before the setup form reaches them: the
// program's own window and framework, then each screen named on the command
// line in turn, on the data folder's site list.
//
//   screen_probe OUT STEP...     STEP: "list", or "email:N" (record N)
//
// After each step OUT is written anew with one more line:
// "list R" (the record picked, -1 for none) or "email N" (the record
// edited, as the screen left it in memory: host, alerts flag, recipient).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "screens/email_alert_screen.h"
#include "app/app.h"
#include "app/resources.h"
#include "sites/site_list.h"
#include "screens/screens.h"
#include "tessil/input.h"
#include "tessil/tessil.h"
#include "probe_window.h"

namespace {

void Write(const char* path, const std::string& text)
{
    HANDLE out = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(out, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(out);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR line, int show)
{
    StartProbeWindow(instance, "KESTROVANE SCREEN PROBE", show);

    std::vector<std::string> words;
    for (const char* p = line ? line : ""; *p;) {
        while (*p == ' ')
            ++p;
        const char* end = p;
        while (*end && *end != ' ')
            ++end;
        if (end > p)
            words.emplace_back(p, end);
        p = end;
    }
    std::string results;
    for (size_t i = 1; i < words.size() && !tessil::shutdownRequested; ++i) {
        const std::string& step = words[i];
        char text[400];
        if (step == "list") {
            std::snprintf(text, sizeof text, "list %ld\n", long(SiteListChooser()));
        } else if (step.rfind("email:", 0) == 0) {
            int32_t number = int32_t(std::atol(step.c_str() + 6));
            SiteRecord site{};
            ReadSiteRecord(siteListPath, site, number);
            EmailAlertScreen(site, number);
            std::snprintf(text, sizeof text, "email %ld %s %d %s\n", long(number), site.ftpHost, site.emailAlerts,
                          site.alertRecipient);
        } else {
            continue;
        }
        results += text;
        Write(words[0].c_str(), results);
    }
    ShutdownCleanup();
}
