// Fuzzes the event log reader with damaged log files: the page drawing and
// the alert's composition of the message file read every record of the input
// as the program would, and no record may read or write outside its bytes,
// the line buffers or the screen's fields.
//
// The first two bytes pick the page shown and the number of pending events;
// the rest is the site's log. Alerts are on and the mail server has no
// address, so every attempt fails at once and the retry waits are empty.
//
// The screen is the smallest (80 x 60): every refresh still draws the fields,
// and fuzz_dispatch covers drawing at full size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "sites/site_files.h"
#include "sites/site_list.h"
#include "tessil/state.h"
#include "tessil/tessil.h"
#include "tests/fuzz/fuzz_screen.h"

using namespace tessil;

namespace {

bool SetUp()
{
    fuzz::MakeScratchFolder("events");
    std::filesystem::create_directories("kestrovane");
    fuzz::OpenScreen(80, 60);
    screenHost.waitTicks = [](int) {};
    draw.charSize[0] = 2; // the 8 x 8 font the monitor screen uses at 640 x 480
    // The monitor screen's 27 lines.
    size_t used = 0;
    for (int i = 0; i < 27; ++i) {
        uint8_t* f = dyn->fieldArea + used;
        int v = 400 + i * 350;
        const uint8_t header[7] = {252, 3, 80, 0, 0, uint8_t(v >> 8), uint8_t(v)};
        std::memcpy(f, header, sizeof header);
        used += 7 + 80 + 100;
        fieldTable[fieldCount++] = f;
    }
    std::snprintf(siteEventLogFile, sizeof siteEventLogFile, "site.msg");
    CopyField(currentSite.ftpHost, "ftp.example.com");
    CopyField(currentSite.mailServer, "999.0.0.0");
    currentSite.emailAlerts = 1;
    alertRetrySeconds = 0;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = SetUp();
    (void)ready;
    if (size < 2)
        return 0;
    std::ofstream("site.msg", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 2), std::streamsize(size - 2));
    eventPage = uint16_t(1 + data[0] % 4);
    ShowEvents(kDrawEvents);
    pendingEvents = data[1];
    ShowEvents(kMailEvents);
    return 0;
}
