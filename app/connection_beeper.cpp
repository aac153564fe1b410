// The connection beeper: a thread that sounds the system beep while
// connection attempts fail.
#include "app/monitor.h"
#include "net/connection.h"
#include "platform/win32.h"
#include "tessil/input.h"

volatile uint8_t exitingFlag = 0;

namespace {

constexpr DWORD kBeepMilliseconds = 1000;
// The beeper looks at the flags this often, so that the program's end does
// not wait for a whole beep period.
constexpr DWORD kLookMilliseconds = 50;

HANDLE beeper = nullptr;

bool Ending() { return exitingFlag || tessil::shutdownRequested; }

DWORD WINAPI BeeperMain(LPVOID)
{
    while (!Ending()) {
        if (connectionFailed)
            MessageBeep(UINT(-1));
        connectionFailed = 0;
        for (DWORD slept = 0; slept < kBeepMilliseconds && !Ending(); slept += kLookMilliseconds)
            Sleep(kLookMilliseconds);
    }
    return 0;
}

} // namespace

void StartConnectionBeeper()
{
    if (beeper)
        return;
    DWORD id = 0;
    beeper = CreateThread(nullptr, 0, BeeperMain, nullptr, 0, &id);
}

void StopConnectionBeeper()
{
    exitingFlag = 1;
    if (!beeper)
        return;
    WaitForSingleObject(beeper, kBeepMilliseconds);
    CloseHandle(beeper);
    beeper = nullptr;
}
